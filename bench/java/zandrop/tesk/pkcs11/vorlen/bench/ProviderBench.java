package zandrop.tesk.pkcs11.vorlen.bench;

import java.net.InetAddress;
import java.net.Socket;
import java.security.KeyStore;
import java.security.Principal;
import java.security.PrivateKey;
import java.security.Signature;
import java.security.cert.X509Certificate;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.concurrent.atomic.AtomicLong;

import javax.net.ssl.KeyManagerFactory;
import javax.net.ssl.SSLContext;
import javax.net.ssl.SSLEngine;
import javax.net.ssl.SSLServerSocket;
import javax.net.ssl.SSLSocket;
import javax.net.ssl.TrustManagerFactory;
import javax.net.ssl.X509ExtendedKeyManager;
import javax.net.ssl.X509KeyManager;

import zandrop.tesk.pkcs11.vorlen.api.CK_MECHANISM;
import zandrop.tesk.pkcs11.vorlen.api.PKCS11Impl;
import zandrop.tesk.pkcs11.vorlen.bench.ProviderSigners.Op;
import zandrop.tesk.pkcs11.vorlen.provider.VorlenProvider;
import zandrop.tesk.pkcs11.vorlen.token.CertificateBuilder;
import zandrop.tesk.pkcs11.vorlen.token.Hash;
import zandrop.tesk.pkcs11.vorlen.token.JdkFormats;
import zandrop.tesk.pkcs11.vorlen.token.Mechanism;
import zandrop.tesk.pkcs11.vorlen.token.PinSource;
import zandrop.tesk.pkcs11.vorlen.token.Pkcs11Module;
import zandrop.tesk.pkcs11.vorlen.token.Token;
import zandrop.tesk.pkcs11.vorlen.token.TokenObject;

/**
 * The JCA provider's figures on a SoftHSM2 token: signatures per second through the provider's
 * {@code KeyStore} and {@code Signature} against the same signatures made with
 * {@link PKCS11Impl} directly (one {@code C_SignInit} and {@code C_Sign} on a session of its
 * own), measured interleaved in rounds on the calling thread's CPU time and on the clock; the
 * provider with 1, 2 and 8 threads (one {@code Signature} each, on the clock); and TLS 1.3
 * handshakes per second of a JSSE server whose P-256 key is on the token against the same
 * server with the same key in a PKCS12 key store of the JDK, each handshake a full one (every
 * client connection names a host of its own, so that no session is resumed; the server's key
 * manager counts the private keys it hands out).
 *
 * <p>Usage: {@code ProviderBench <softhsm module> <token label> <pin>}, on a token made for the
 * run: the keys and certificates are put on it here.
 */
public final class ProviderBench {
    private static final int ROUNDS = 41;
    private static final long ROUND_NANOS = 100_000_000L;
    private static final long THREAD_NANOS = 3_000_000_000L;
    private static final long TLS_NANOS = 2_000_000_000L;
    private static final int TLS_ROUNDS = 6;
    private static final java.lang.management.ThreadMXBean CPU = java.lang.management.ManagementFactory.getThreadMXBean();
    private static final byte[] MESSAGE = ProviderSigners.MESSAGE;

    private ProviderBench() {
    }

    public static void main(String[] args) throws Exception {
        if (args.length != 3) {
            System.err.println("usage: ProviderBench <softhsm module> <token label> <pin>");
            System.exit(2);
        }
        char[] pin = args[2].toCharArray();
        try (ProviderSigners signers = new ProviderSigners(args[0], args[1], pin)) {
            System.out.println("Signatures of 64 bytes on SoftHSM2: the provider against PKCS11Impl directly, "
                    + ROUNDS + " rounds of " + ROUND_NANOS / 1_000_000 + " ms each, the three signers in turn in each round");
            compare("SHA256withRSA, RSA-2048", signers, "SHA256withRSA");
            compare("SHA256withECDSA, P-256", signers, "SHA256withECDSA");

            System.out.println();
            System.out.println("Signatures per second through the provider, one Signature per thread, "
                    + THREAD_NANOS / 1_000_000_000L + " s each (on the clock)");
            for (String algorithm : new String[] {"SHA256withECDSA", "SHA256withRSA"}) {
                PrivateKey key = signers.providerKey(algorithm);
                for (int threads : new int[] {1, 2, 8}) {
                    double rate = threaded(signers.provider, key, algorithm, threads);
                    System.out.printf("  %-16s %d thread%s %10.0f /s%n", algorithm, threads, threads == 1 ? " " : "s", rate);
                }
            }

            System.out.println();
            System.out.println("TLS 1.3 handshakes per second, ECDSA P-256 server key, JSSE client and server in this process, "
                    + TLS_NANOS / 1_000_000_000L + " s each, " + TLS_ROUNDS + " rounds of the two in turn");
            String alias = signers.ecAlias;
            KeyStore jdkStore = KeyStore.getInstance("PKCS12");
            jdkStore.load(null, null);
            jdkStore.setKeyEntry(alias, signers.ec.getPrivate(), pin, new X509Certificate[] {signers.ecCert});
            KeyStore trust = KeyStore.getInstance("PKCS12");
            trust.load(null, null);
            trust.setCertificateEntry(alias, signers.ecCert);
            handshakes(signers.store, alias, pin, trust, "warm-up, token");
            handshakes(jdkStore, alias, pin, trust, "warm-up, JDK key store");
            double[][] rates = new double[2][TLS_ROUNDS];
            double[][] cpu = new double[2][TLS_ROUNDS];
            for (int round = 0; round < TLS_ROUNDS; round++) {
                for (int i = 0; i < 2; i++) {
                    int which = (i + round) % 2;
                    double[] r = which == 0 ? handshakes(signers.store, alias, pin, trust, "token (Vorlen KeyStore)")
                            : handshakes(jdkStore, alias, pin, trust, "JDK PKCS12 key store");
                    rates[which][round] = r[0];
                    cpu[which][round] = r[1];
                }
            }
            System.out.printf("  token / JDK key store, handshakes per second: %s%n", ratios(rates[0], rates[1]));
            System.out.printf("  token / JDK key store, server thread CPU per handshake: %s%n", ratios(cpu[0], cpu[1]));
        }
    }

    /** The provider's signer, the direct one and the session layer's, measured in rounds taking turns. */
    private static void compare(String name, ProviderSigners signers, String algorithm) throws Exception {
        Op[] ops = {signers.viaProvider(algorithm), signers.direct(algorithm), signers.viaLayer(algorithm)};
        for (Op op : ops) {
            round(op, ROUND_NANOS);  // warm-up
        }
        double[][] cpu = new double[3][ROUNDS];
        double[][] wall = new double[3][ROUNDS];
        for (int r = 0; r < ROUNDS; r++) {
            for (int i = 0; i < 3; i++) {
                int which = (i + r) % 3;
                double[] m = round(ops[which], ROUND_NANOS);
                cpu[which][r] = m[0];
                wall[which][r] = m[1];
            }
        }
        double pc = median(cpu[0]);
        double dc = median(cpu[1]);
        double lc = median(cpu[2]);
        System.out.printf("  %-24s CPU per signature (median round): provider %.1f us, session layer %.1f us, PKCS11Impl %.1f us"
                + " [%.0f, %.0f, %.0f /s]%n", name, pc / 1e3, lc / 1e3, dc / 1e3, 1e9 / pc, 1e9 / lc, 1e9 / dc);
        System.out.printf("  %-24s provider/direct, CPU:   %s%n", "", ratios(cpu[0], cpu[1]));
        System.out.printf("  %-24s provider/direct, clock: %s%n", "", ratios(wall[0], wall[1]));
        System.out.printf("  %-24s layer/direct, CPU:      %s%n", "", ratios(cpu[2], cpu[1]));
    }

    /** The ratios of paired rounds: median (overhead in %) and quartiles. */
    private static String ratios(double[] a, double[] b) {
        double[] r = new double[a.length];
        for (int i = 0; i < r.length; i++) {
            r[i] = a[i] / b[i];
        }
        Arrays.sort(r);
        double median = r[r.length / 2];
        return String.format("median %.4f (%+.2f %%), quartiles %.4f .. %.4f", median, (median - 1) * 100,
                r[r.length / 4], r[3 * r.length / 4]);
    }

    /** Runs op for about the given time: ns per call on the thread's CPU and on the clock. */
    private static double[] round(Op op, long nanos) throws Exception {
        long cpu0 = CPU.getCurrentThreadCpuTime();
        long wall0 = System.nanoTime();
        long n = 0;
        Object sink = null;
        while (System.nanoTime() - wall0 < nanos) {
            sink = op.run();
            n++;
        }
        long wall = System.nanoTime() - wall0;
        long cpu = CPU.getCurrentThreadCpuTime() - cpu0;
        if (sink == null) {
            throw new IllegalStateException("no result");
        }
        return new double[] {(double) cpu / n, (double) wall / n};
    }

    private static double median(double[] values) {
        double[] v = values.clone();
        Arrays.sort(v);
        return v[v.length / 2];
    }

    /** Signatures per second of the provider with this many threads, each with a Signature of its own. */
    private static double threaded(VorlenProvider provider, PrivateKey key, String algorithm, int threads) throws Exception {
        AtomicLong count = new AtomicLong();
        List<Thread> started = new ArrayList<>();
        Throwable[] failure = new Throwable[1];
        long start = System.nanoTime();
        long end = start + THREAD_NANOS;
        for (int t = 0; t < threads; t++) {
            Thread thread = new Thread(() -> {
                try {
                    Signature s = Signature.getInstance(algorithm, provider);
                    s.initSign(key);
                    long n = 0;
                    while (System.nanoTime() < end) {
                        s.update(MESSAGE);
                        s.sign();
                        n++;
                    }
                    count.addAndGet(n);
                } catch (Exception | Error e) {
                    synchronized (failure) {
                        failure[0] = e;
                    }
                }
            });
            thread.start();
            started.add(thread);
        }
        for (Thread thread : started) {
            thread.join();
        }
        if (failure[0] != null) {
            throw new IllegalStateException("a signing thread failed", failure[0]);
        }
        return count.get() * 1e9 / (System.nanoTime() - start);
    }

    /** Full TLS 1.3 handshakes of a server with this key store's entry: per second, and server CPU ns per handshake. */
    private static double[] handshakes(KeyStore keys, String alias, char[] password, KeyStore trust, String name) throws Exception {
        KeyManagerFactory kmf = KeyManagerFactory.getInstance("SunX509");
        kmf.init(keys, password);
        Counting keyManager = new Counting((X509KeyManager) kmf.getKeyManagers()[0], alias);
        SSLContext server = SSLContext.getInstance("TLSv1.3");
        server.init(new javax.net.ssl.KeyManager[] {keyManager}, null, null);
        TrustManagerFactory tmf = TrustManagerFactory.getInstance("PKIX");
        tmf.init(trust);
        SSLContext client = SSLContext.getInstance("TLSv1.3");
        client.init(null, tmf.getTrustManagers(), null);
        String[] protocols = {"TLSv1.3"};
        SSLServerSocket listener = (SSLServerSocket) server.getServerSocketFactory().createServerSocket(0, 50, InetAddress.getLoopbackAddress());
        try {
            listener.setEnabledProtocols(protocols);
            int port = listener.getLocalPort();
            Throwable[] serverFailure = new Throwable[1];
            Thread acceptor = new Thread(() -> {
                while (!listener.isClosed()) {
                    try (SSLSocket s = (SSLSocket) listener.accept()) {
                        s.startHandshake();
                        s.getOutputStream().write(1);
                        s.getOutputStream().flush();
                    } catch (java.net.SocketException e) {
                        // The listener closed.
                    } catch (Exception e) {
                        serverFailure[0] = e;
                    }
                }
            });
            acceptor.start();
            long n = 0;
            long start = System.nanoTime();
            long cpu0 = CPU.getThreadCpuTime(acceptor.getId());
            while (System.nanoTime() - start < TLS_NANOS) {
                try (Socket plain = new Socket(InetAddress.getLoopbackAddress(), port);
                     SSLSocket s = (SSLSocket) client.getSocketFactory().createSocket(plain, "h" + n + ".bench.test", port, true)) {
                    s.setEnabledProtocols(protocols);
                    s.startHandshake();
                    if (s.getInputStream().read() != 1) {
                        throw new IllegalStateException("the server sent nothing");
                    }
                    if (!"TLSv1.3".equals(s.getSession().getProtocol())) {
                        throw new IllegalStateException("not TLS 1.3: " + s.getSession().getProtocol());
                    }
                }
                n++;
            }
            double seconds = (System.nanoTime() - start) / 1e9;
            long serverCpu = CPU.getThreadCpuTime(acceptor.getId()) - cpu0;
            listener.close();
            acceptor.join();
            if (serverFailure[0] != null) {
                throw new IllegalStateException(name + ": the server failed", serverFailure[0]);
            }
            System.out.printf("  %-26s %6d handshakes, %7.1f /s, server thread CPU %6.2f ms per handshake, server keys handed out %d%n",
                    name, n, n / seconds, serverCpu / 1e6 / n, keyManager.handedOut.get());
            return new double[] {n / seconds, serverCpu / (double) n};
        } finally {
            listener.close();
        }
    }

    /** A key manager that serves one alias and counts the private keys it hands out (one per full handshake). */
    private static final class Counting extends X509ExtendedKeyManager {
        private final X509KeyManager delegate;
        private final String alias;
        final AtomicLong handedOut = new AtomicLong();

        Counting(X509KeyManager delegate, String alias) {
            this.delegate = delegate;
            this.alias = alias;
        }

        @Override
        public String chooseEngineServerAlias(String keyType, Principal[] issuers, SSLEngine engine) {
            return "EC".equals(keyType) ? alias : null;
        }

        @Override
        public String chooseServerAlias(String keyType, Principal[] issuers, Socket socket) {
            return "EC".equals(keyType) ? alias : null;
        }

        @Override
        public String[] getServerAliases(String keyType, Principal[] issuers) {
            return new String[] {alias};
        }

        @Override
        public X509Certificate[] getCertificateChain(String name) {
            return delegate.getCertificateChain(name);
        }

        @Override
        public PrivateKey getPrivateKey(String name) {
            handedOut.incrementAndGet();
            return delegate.getPrivateKey(name);
        }

        @Override
        public String[] getClientAliases(String keyType, Principal[] issuers) {
            return null;
        }

        @Override
        public String chooseClientAlias(String[] keyType, Principal[] issuers, Socket socket) {
            return null;
        }
    }
}
