package zandrop.tesk.pkcs11.vorlen.bench;

import java.util.concurrent.TimeUnit;
import org.openjdk.jmh.annotations.Benchmark;
import org.openjdk.jmh.annotations.BenchmarkMode;
import org.openjdk.jmh.annotations.Fork;
import org.openjdk.jmh.annotations.Level;
import org.openjdk.jmh.annotations.Measurement;
import org.openjdk.jmh.annotations.Mode;
import org.openjdk.jmh.annotations.OperationsPerInvocation;
import org.openjdk.jmh.annotations.OutputTimeUnit;
import org.openjdk.jmh.annotations.Param;
import org.openjdk.jmh.annotations.Scope;
import org.openjdk.jmh.annotations.Setup;
import org.openjdk.jmh.annotations.State;
import org.openjdk.jmh.annotations.TearDown;
import org.openjdk.jmh.annotations.Warmup;
import zandrop.tesk.pkcs11.vorlen.api.PKCS11Impl;

/**
 * The five overhead workloads of the benchmark ({@link Workloads#OVERHEAD}) on the benchmark
 * module, through each binding: the module's own loop, this library, the floor ({@link Floor}),
 * the JNA peer and, on a JDK 22 or later, the FFM peer. The module is the system property {@code vorlen.bench.module}; the
 * module loop's helper {@code vorlen.bench.loop}. Each invocation makes 100 calls.
 */
@State(Scope.Benchmark)
@BenchmarkMode(Mode.AverageTime)
@OutputTimeUnit(TimeUnit.NANOSECONDS)
@Warmup(iterations = 3, time = 1)
@Measurement(iterations = 5, time = 1)
@Fork(1)
public class OverheadJmh {
    static final int CALLS = 100;

    @Param({"C_GetSessionInfo", "C_GenerateRandom32", "C_Sign32", "C_GetAttributeValue5", "C_FindObjects100"})
    public String workload;

    @Param({"module", "library", "floor", "JNA"})
    public String binding;

    private PKCS11Impl pkcs11;
    private Harness.Loop loop;

    @Setup(Level.Trial)
    public void setUp() throws Throwable {
        String path = System.getProperty("vorlen.bench.module");
        // The module is loaded and initialised by the library in every case, as in the
        // benchmark: the module loop and the peers use that instance.
        pkcs11 = new PKCS11Impl(path);
        pkcs11.C_Initialize(null);
        switch (binding) {
            case "module":
                loop = new ModuleLoop(path).overhead(workload);
                break;
            case "library":
                loop = new LibraryWorkloads(pkcs11).overhead(workload);
                break;
            case "floor":
                loop = new Floor(path).overhead(workload);
                break;
            case "JNA":
                JnaOverhead.bind(path);
                loop = new JnaWorkloads().overhead(workload);
                break;
            case "FFM":
                loop = ((Workloads) Class.forName("zandrop.tesk.pkcs11.vorlen.bench.FfmWorkloads")
                        .getConstructor(String.class).newInstance(path)).overhead(workload);
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
    @OperationsPerInvocation(CALLS)
    public void calls() throws Throwable {
        loop.run(CALLS);
    }
}
