import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKF_SERIAL_SESSION;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKM_ECDSA;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKM_SHA256_RSA_PKCS;

import java.security.KeyPair;
import java.security.KeyPairGenerator;
import java.security.MessageDigest;
import java.security.PrivateKey;
import java.security.Signature;
import java.security.spec.ECGenParameterSpec;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.atomic.AtomicBoolean;
import java.util.concurrent.atomic.LongAdder;

import zandrop.tesk.pkcs11.vorlen.api.CK_MECHANISM;
import zandrop.tesk.pkcs11.vorlen.api.PKCS11Impl;
import zandrop.tesk.pkcs11.vorlen.provider.TokenKey;
import zandrop.tesk.pkcs11.vorlen.provider.VorlenProvider;
import zandrop.tesk.pkcs11.vorlen.token.Pkcs11Module;

/**
 * Signatures per second on a SoftHSM2 token: ECDSA P-256 (SHA256withECDSA) and RSA-2048
 * (SHA256withRSA) through the provider Vorlen, against the same signatures through PKCS11Impl
 * directly (C_SignInit and C_Sign on one session; for ECDSA the host hashes and the token signs
 * with CKM_ECDSA, as the provider does on SoftHSM2, which lacks CKM_ECDSA_SHA256), in the same
 * run, in alternating rounds; then through the provider with 1, 2 and 8 threads, one Signature
 * each. bench/provider/run.sh makes the token and runs it.
 *
 * <p>Usage: java -cp vorlen-pkcs11.jar:vorlen-pkcs11-provider.jar ProviderBench.java MODULE TOKEN PIN [SECONDS]
 */
public final class ProviderBench {
    private static double seconds;

    public static void main(String[] args) throws Exception {
        String module = args[0];
        seconds = args.length > 3 ? Double.parseDouble(args[3]) : 2;
        VorlenProvider vorlen = new VorlenProvider("pkcs11:token=" + args[1] + "?module-path=" + module + "&pin-value=" + args[2]);
        KeyPairGenerator ec = KeyPairGenerator.getInstance("EC", vorlen);
        ec.initialize(new ECGenParameterSpec("secp256r1"));
        KeyPairGenerator rsa = KeyPairGenerator.getInstance("RSA", vorlen);
        rsa.initialize(2048);
        KeyPair ecKeys = ec.generateKeyPair();
        KeyPair rsaKeys = rsa.generateKeyPair();
        byte[] data = new byte[256];
        Arrays.fill(data, (byte) 7);

        Pkcs11Module same = Pkcs11Module.open(module);
        PKCS11Impl pkcs11 = same.pkcs11();
        long session = pkcs11.C_OpenSession(vorlen.token().slotId(), CKF_SERIAL_SESSION, null, null);
        System.out.printf("%d s per round, machine: %d cores (shared; figures vary with its load)%n", (long) seconds,
                Runtime.getRuntime().availableProcessors());
        System.out.printf("%-16s %14s %14s %10s%n", "signature", "provider/s", "PKCS11Impl/s", "provider cost");
        for (String algorithm : List.of("SHA256withECDSA", "SHA256withRSA")) {
            PrivateKey key = algorithm.endsWith("ECDSA") ? ecKeys.getPrivate() : rsaKeys.getPrivate();
            long handle = ((TokenKey) key).object().handle();
            boolean ecdsa = algorithm.endsWith("ECDSA");
            Signature signature = Signature.getInstance(algorithm, vorlen);
            signature.initSign(key);
            Op provider = () -> {
                signature.update(data);
                signature.sign();
            };
            Op direct = () -> {
                if (ecdsa) {
                    pkcs11.C_SignInit(session, new CK_MECHANISM(CKM_ECDSA), handle);
                    pkcs11.C_Sign(session, MessageDigest.getInstance("SHA-256").digest(data));
                } else {
                    pkcs11.C_SignInit(session, new CK_MECHANISM(CKM_SHA256_RSA_PKCS), handle);
                    pkcs11.C_Sign(session, data);
                }
            };
            rate(provider);  // warm-up
            rate(direct);
            List<Double> p = new ArrayList<>();
            List<Double> d = new ArrayList<>();
            for (int round = 0; round < 3; round++) {
                p.add(rate(provider));
                d.add(rate(direct));
            }
            double mp = median(p);
            double md = median(d);
            System.out.printf("%-16s %14.0f %14.0f %9.1f %%%n", algorithm, mp, md, 100 * (md - mp) / md);
        }
        System.out.printf("%n%-16s %10s %10s %10s%n", "provider", "1 thread", "2 threads", "8 threads");
        for (String algorithm : List.of("SHA256withECDSA", "SHA256withRSA")) {
            PrivateKey key = algorithm.endsWith("ECDSA") ? ecKeys.getPrivate() : rsaKeys.getPrivate();
            StringBuilder line = new StringBuilder(String.format("%-16s", algorithm));
            for (int threads : new int[] {1, 2, 8}) {
                line.append(String.format(" %10.0f", threads(algorithm, key, vorlen, data, threads)));
            }
            System.out.println(line);
        }
        pkcs11.C_CloseSession(session);
        vorlen.token().logout();
    }

    interface Op {
        void run() throws Exception;
    }

    /** Operations per second of one op, run for the round's time. */
    private static double rate(Op op) throws Exception {
        long end = System.nanoTime() + (long) (seconds * 1e9);
        long start = System.nanoTime();
        long count = 0;
        long now;
        do {
            op.run();
            count++;
            now = System.nanoTime();
        } while (now < end);
        return count / ((now - start) / 1e9);
    }

    private static double threads(String algorithm, PrivateKey key, VorlenProvider vorlen, byte[] data, int n) throws Exception {
        LongAdder done = new LongAdder();
        AtomicBoolean stop = new AtomicBoolean();
        CountDownLatch ready = new CountDownLatch(n);
        List<Thread> workers = new ArrayList<>();
        for (int i = 0; i < n; i++) {
            Thread t = new Thread(() -> {
                try {
                    Signature s = Signature.getInstance(algorithm, vorlen);
                    s.initSign(key);
                    ready.countDown();
                    while (!stop.get()) {
                        s.update(data);
                        s.sign();
                        done.increment();
                    }
                } catch (Exception e) {
                    throw new IllegalStateException(e);
                }
            });
            workers.add(t);
            t.start();
        }
        ready.await();
        long start = System.nanoTime();
        long before = done.sum();
        Thread.sleep((long) (seconds * 1000));
        long count = done.sum() - before;
        double elapsed = (System.nanoTime() - start) / 1e9;
        stop.set(true);
        for (Thread t : workers) {
            t.join();
        }
        return count / elapsed;
    }

    private static double median(List<Double> values) {
        List<Double> sorted = new ArrayList<>(values);
        sorted.sort(null);
        return sorted.get(sorted.size() / 2);
    }
}
