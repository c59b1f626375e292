package zandrop.tesk.pkcs11.vorlen.bench;

import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.*;

import java.util.concurrent.TimeUnit;
import org.openjdk.jmh.annotations.Benchmark;
import org.openjdk.jmh.annotations.BenchmarkMode;
import org.openjdk.jmh.annotations.Fork;
import org.openjdk.jmh.annotations.Level;
import org.openjdk.jmh.annotations.Measurement;
import org.openjdk.jmh.annotations.Mode;
import org.openjdk.jmh.annotations.OutputTimeUnit;
import org.openjdk.jmh.annotations.Param;
import org.openjdk.jmh.annotations.Scope;
import org.openjdk.jmh.annotations.Setup;
import org.openjdk.jmh.annotations.State;
import org.openjdk.jmh.annotations.TearDown;
import org.openjdk.jmh.annotations.Warmup;
import zandrop.tesk.pkcs11.vorlen.api.CK_C_INITIALIZE_ARGS;
import zandrop.tesk.pkcs11.vorlen.api.PKCS11Impl;

/**
 * The real-work workloads of the benchmark ({@link Workloads#REAL}) on SoftHSM2 (the system
 * property {@code vorlen.bench.softhsm}, its token's user PIN {@code vorlen.bench.pin}), with the
 * keys the library makes, through the module's own loop, this library and the JNA peer, all on
 * one session of one module instance. Each invocation is one operation, initialised and done.
 */
@State(Scope.Benchmark)
@BenchmarkMode(Mode.AverageTime)
@OutputTimeUnit(TimeUnit.MICROSECONDS)
@Warmup(iterations = 3, time = 1)
@Measurement(iterations = 5, time = 1)
@Fork(1)
public class RealWorkJmh {

    @Param({"C_Sign.RSA-2048", "C_Sign.ECDSA-P256", "C_Digest.SHA-256.1MiB", "C_Encrypt.AES-CBC.1MiB"})
    public String workload;

    @Param({"module", "library", "JNA"})
    public String binding;

    private PKCS11Impl pkcs11;
    private Harness.Loop loop;

    @Setup(Level.Trial)
    public void setUp() throws Throwable {
        String path = System.getProperty("vorlen.bench.softhsm");
        pkcs11 = new PKCS11Impl(path);
        pkcs11.C_Initialize(new CK_C_INITIALIZE_ARGS(CKF_OS_LOCKING_OK));
        Workloads.RealWork work = Workloads.RealWork.create(pkcs11, System.getProperty("vorlen.bench.pin").toCharArray());
        switch (binding) {
            case "module":
                loop = new ModuleLoop(path).real(workload, work);
                break;
            case "library":
                loop = new LibraryWorkloads(pkcs11).real(workload, work);
                break;
            case "JNA":
                JnaSoftHsm.bind(path);
                loop = new JnaWorkloads().real(workload, work);
                break;
            default:
                throw new IllegalArgumentException(binding);
        }
    }

    @TearDown(Level.Trial)
    public void tearDown() throws Exception {
        pkcs11.C_Finalize(null);
        pkcs11.disconnect();
    }

    @Benchmark
    public void operation() throws Throwable {
        loop.run(1);
    }
}
