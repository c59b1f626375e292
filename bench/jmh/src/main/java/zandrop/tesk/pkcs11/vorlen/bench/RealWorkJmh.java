package zandrop.tesk.pkcs11.vorlen.bench;

import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.*;

import java.util.Arrays;
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
import zandrop.tesk.pkcs11.vorlen.api.CK_ATTRIBUTE;
import zandrop.tesk.pkcs11.vorlen.api.CK_C_INITIALIZE_ARGS;
import zandrop.tesk.pkcs11.vorlen.api.CK_MECHANISM;
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
        long slot = pkcs11.C_GetSlotList(true)[0];
        long session = pkcs11.C_OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, null, null);
        pkcs11.C_Login(session, CKU_USER, System.getProperty("vorlen.bench.pin").toCharArray());
        long[] rsa = pkcs11.C_GenerateKeyPair(session, new CK_MECHANISM(CKM_RSA_PKCS_KEY_PAIR_GEN),
                new CK_ATTRIBUTE[] {new CK_ATTRIBUTE(CKA_MODULUS_BITS, 2048L),
                    new CK_ATTRIBUTE(CKA_PUBLIC_EXPONENT, new byte[] {1, 0, 1}), new CK_ATTRIBUTE(CKA_VERIFY, true)},
                new CK_ATTRIBUTE[] {new CK_ATTRIBUTE(CKA_SIGN, true)});
        byte[] p256 = {0x06, 0x08, 0x2a, (byte) 0x86, 0x48, (byte) 0xce, 0x3d, 0x03, 0x01, 0x07};
        long[] ec = pkcs11.C_GenerateKeyPair(session, new CK_MECHANISM(CKM_EC_KEY_PAIR_GEN),
                new CK_ATTRIBUTE[] {new CK_ATTRIBUTE(CKA_EC_PARAMS, p256), new CK_ATTRIBUTE(CKA_VERIFY, true)},
                new CK_ATTRIBUTE[] {new CK_ATTRIBUTE(CKA_SIGN, true)});
        long aes = pkcs11.C_GenerateKey(session, new CK_MECHANISM(CKM_AES_KEY_GEN),
                new CK_ATTRIBUTE[] {new CK_ATTRIBUTE(CKA_VALUE_LEN, 32L), new CK_ATTRIBUTE(CKA_ENCRYPT, true)});
        byte[] hash = new byte[32];
        hash[0] = 1;
        byte[] mebibyte = new byte[1 << 20];
        Arrays.fill(mebibyte, (byte) 0x5A);
        Workloads.RealWork work = new Workloads.RealWork(session, rsa[1], ec[1], aes, hash, mebibyte, new byte[16]);
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
