package zandrop.tesk.pkcs11.vorlen.bench;

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

/**
 * The provider's signatures of 64 bytes on SoftHSM2 (the system property
 * {@code vorlen.bench.softhsm}, its token {@code vorlen.bench.label}, default "bench", and user
 * PIN {@code vorlen.bench.pin}) with keys put on the token for the trial: through the provider's
 * {@code Signature}, through the session layer, and with {@code PKCS11Impl} directly (the
 * binding "library", so that the ratio printed as library / this is direct / provider).
 */
@State(Scope.Benchmark)
@BenchmarkMode(Mode.AverageTime)
@OutputTimeUnit(TimeUnit.MICROSECONDS)
@Warmup(iterations = 3, time = 1)
@Measurement(iterations = 5, time = 1)
@Fork(1)
public class ProviderJmh {

    @Param({"SHA256withRSA", "SHA256withECDSA"})
    public String workload;

    @Param({"library", "provider", "layer"})
    public String binding;

    private ProviderSigners signers;
    private ProviderSigners.Op op;

    @Setup(Level.Trial)
    public void setUp() throws Exception {
        signers = new ProviderSigners(System.getProperty("vorlen.bench.softhsm"),
                System.getProperty("vorlen.bench.label", "bench"), System.getProperty("vorlen.bench.pin").toCharArray());
        op = switch (binding) {
            case "library" -> signers.direct(workload);
            case "provider" -> signers.viaProvider(workload);
            case "layer" -> signers.viaLayer(workload);
            default -> throw new IllegalArgumentException(binding);
        };
    }

    @TearDown(Level.Trial)
    public void tearDown() {
        signers.close();
    }

    @Benchmark
    public Object sign() throws Exception {
        return op.run();
    }
}
