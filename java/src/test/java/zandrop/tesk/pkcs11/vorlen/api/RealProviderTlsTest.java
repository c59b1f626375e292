package zandrop.tesk.pkcs11.vorlen.api;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assumptions.assumeTrue;

import java.io.BufferedReader;
import java.io.File;
import java.io.InputStreamReader;
import java.io.OutputStream;
import java.net.InetAddress;
import java.net.Socket;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.security.KeyPair;
import java.security.KeyPairGenerator;
import java.security.KeyStore;
import java.security.Principal;
import java.security.PrivateKey;
import java.security.cert.Certificate;
import java.security.cert.X509Certificate;
import java.util.List;
import java.util.concurrent.CopyOnWriteArrayList;
import java.util.concurrent.TimeUnit;

import javax.net.ssl.KeyManagerFactory;
import javax.net.ssl.SSLContext;
import javax.net.ssl.SSLParameters;
import javax.net.ssl.SSLServerSocket;
import javax.net.ssl.SSLSocket;
import javax.net.ssl.TrustManagerFactory;
import javax.net.ssl.X509ExtendedKeyManager;

import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.TestInstance;

import zandrop.tesk.pkcs11.vorlen.provider.TokenKey;
import zandrop.tesk.pkcs11.vorlen.provider.VorlenProvider;
import zandrop.tesk.pkcs11.vorlen.token.Attr;
import zandrop.tesk.pkcs11.vorlen.token.AttributeValues;
import zandrop.tesk.pkcs11.vorlen.token.Pkcs11Uri;
import zandrop.tesk.pkcs11.vorlen.token.TestCertificates;

/**
 * TLS with the keys on SoftHSM2, through the provider's key store and JSSE, against clients and
 * a server nobody here wrote: a JSSE server with its RSA and, separately, its EC key on the
 * token, reached by {@code openssl s_client} and {@code curl} with TLS 1.3 and 1.2; a JSSE
 * client whose key is on the token against {@code openssl s_server -Verify}. Every chain is
 * checked against the test CA, and the keys are shown sensitive and not extractable.
 */
@TestInstance(TestInstance.Lifecycle.PER_CLASS)
class RealProviderTlsTest {
    private static final String LABEL = "tls";
    private static final char[] PIN = RealSoftHsmToken.USER_PIN.toCharArray();
    private static final String CA_NAME = "CN=tls test CA";
    private static final String BODY = "served with a key on the token";

    private KeyPair ca;
    private X509Certificate caCert;
    private Path caPem;
    private VorlenProvider provider;
    private KeyStore store;

    @BeforeAll
    void setUp() throws Exception {
        RealSoftHsmToken.initialiseAlone(LABEL);
        ca = TestCertificates.jdkPair("secp256r1");
        caCert = TestCertificates.issued(1, ca.getPublic(), CA_NAME, ca, CA_NAME, true);
        caPem = RealModules.pem(RealModules.testDir().resolve("ca.pem"), "CERTIFICATE", caCert.getEncoded());
        provider = new VorlenProvider(Pkcs11Uri.builder().token(LABEL).modulePath(RealModules.softHsm2()).build().toString());
        // JSSE asks Signature.getInstance(name) for its signers: the provider must be installed.
        assertTrue(java.security.Security.addProvider(provider) > 0);
        store = KeyStore.getInstance("PKCS11", provider);
        store.load(null, PIN);
        int serial = 2;
        for (String alias : List.of("server-rsa", "server-ec", "client")) {
            KeyPairGenerator gen = KeyPairGenerator.getInstance(alias.endsWith("rsa") ? "RSA" : "EC", provider);
            KeyPair pair = gen.generateKeyPair();
            X509Certificate cert = TestCertificates.issued(serial++, pair.getPublic(), "CN=" + alias, ca, CA_NAME, false);
            store.setKeyEntry(alias, pair.getPrivate(), null, new Certificate[] {cert, caCert});
        }
    }

    @AfterAll
    void close() {
        if (provider != null) {
            java.security.Security.removeProvider(provider.getName());
            provider.token().logout();
        }
    }

    private static boolean installed(String program) {
        for (String dir : System.getenv().getOrDefault("PATH", "").split(File.pathSeparator)) {
            if (Files.isExecutable(Path.of(dir, program))) {
                return true;
            }
        }
        System.out.println("skipped: " + program + " is not installed");
        return false;
    }

    /** The key is on the token, sensitive and not extractable, and its secret value is not read. */
    private void staysOnTheToken(String alias) throws Exception {
        TokenKey key = (TokenKey) store.getKey(alias, null);
        Attr<?> secret = alias.endsWith("rsa") ? Attr.PRIVATE_EXPONENT : Attr.VALUE;
        AttributeValues v = provider.token().withSession(false, s -> s.read(key.object(), Attr.SENSITIVE, Attr.EXTRACTABLE, secret));
        assertEquals(Boolean.TRUE, v.require(Attr.SENSITIVE), alias);
        assertEquals(Boolean.FALSE, v.require(Attr.EXTRACTABLE), alias);
        assertEquals(AttributeValues.Status.SENSITIVE, v.status(secret), alias + ": " + v);
    }

    /** The key manager of a KeyManagerFactory over the provider's key store, held to one alias. */
    private X509ExtendedKeyManager keyManager(String alias) throws Exception {
        KeyManagerFactory kmf = KeyManagerFactory.getInstance("SunX509");
        kmf.init(store, null);
        X509ExtendedKeyManager km = (X509ExtendedKeyManager) kmf.getKeyManagers()[0];
        return new X509ExtendedKeyManager() {
            private String pick(String[] keyTypes, Principal[] issuers, boolean client) {
                for (String type : keyTypes) {
                    String[] aliases = client ? km.getClientAliases(type, issuers) : km.getServerAliases(type, issuers);
                    if (aliases != null && List.of(aliases).contains(alias)) {
                        return alias;
                    }
                }
                return null;
            }

            @Override
            public String[] getClientAliases(String keyType, Principal[] issuers) {
                return km.getClientAliases(keyType, issuers);
            }

            @Override
            public String chooseClientAlias(String[] keyTypes, Principal[] issuers, Socket socket) {
                return pick(keyTypes, issuers, true);
            }

            @Override
            public String[] getServerAliases(String keyType, Principal[] issuers) {
                return km.getServerAliases(keyType, issuers);
            }

            @Override
            public String chooseServerAlias(String keyType, Principal[] issuers, Socket socket) {
                return pick(new String[] {keyType}, issuers, false);
            }

            @Override
            public X509Certificate[] getCertificateChain(String a) {
                return km.getCertificateChain(a);
            }

            @Override
            public PrivateKey getPrivateKey(String a) {
                return km.getPrivateKey(a);
            }
        };
    }

    private SSLContext context(String alias) throws Exception {
        KeyStore trusted = KeyStore.getInstance("PKCS12");
        trusted.load(null, null);
        trusted.setCertificateEntry("ca", caCert);
        TrustManagerFactory tmf = TrustManagerFactory.getInstance("PKIX");
        tmf.init(trusted);
        SSLContext context = SSLContext.getInstance("TLS");
        context.init(new javax.net.ssl.KeyManager[] {keyManager(alias)}, tmf.getTrustManagers(), null);
        return context;
    }

    @Test
    void jsseServerWithItsKeyOnTheTokenServesOpensslAndCurl() throws Exception {
        assumeTrue(installed("openssl") && installed("curl"), "openssl and curl are missing");
        for (String alias : List.of("server-rsa", "server-ec")) {
            staysOnTheToken(alias);
            List<String> protocols = new CopyOnWriteArrayList<>();
            Thread serving;
            try (SSLServerSocket server = (SSLServerSocket) context(alias).getServerSocketFactory()
                    .createServerSocket(0, 16, InetAddress.getLoopbackAddress())) {
                serving = new Thread(() -> serve(server, protocols), "tls server " + alias);
                serving.start();
                String port = Integer.toString(server.getLocalPort());
                for (String version : List.of("1.3", "1.2")) {
                    String what = alias + " TLS " + version;
                    RealModules.Result s = RealModules.run("openssl", "s_client", "-brief", "-connect", "127.0.0.1:" + port,
                            "-servername", "localhost", "-CAfile", caPem.toString(), "-verify_return_error",
                            "-tls" + version.replace('.', '_'));
                    String out = s.out() + s.err();
                    assertTrue(out.contains("Verification: OK") && out.contains("Protocol version: TLSv" + version), what + ": " + out);
                    RealModules.Result c = RealModules.run("curl", "-sS", "--max-time", "60", "--cacert", caPem.toString(),
                            "--tlsv" + version, "--tls-max", version, "https://localhost:" + port + "/");
                    assertEquals(0, c.status(), what + ": " + c.err());
                    assertEquals(BODY, c.out(), what);
                }
            }
            serving.join(10_000);
            assertTrue(protocols.containsAll(List.of("TLSv1.3", "TLSv1.2")) && protocols.size() >= 4, alias + ": " + protocols);
        }
    }

    /** Answers each connection with one small HTTP response, until the socket closes. */
    private static void serve(SSLServerSocket server, List<String> protocols) {
        while (!server.isClosed()) {
            try (SSLSocket s = (SSLSocket) server.accept()) {
                s.setSoTimeout(30_000);
                s.startHandshake();
                protocols.add(s.getSession().getProtocol());
                BufferedReader in = new BufferedReader(new InputStreamReader(s.getInputStream(), StandardCharsets.ISO_8859_1));
                String line = in.readLine();
                if (line == null) {
                    continue;  // openssl s_client: the handshake only
                }
                while (line != null && !line.isEmpty()) {
                    line = in.readLine();
                }
                OutputStream out = s.getOutputStream();
                out.write(("HTTP/1.1 200 OK\r\nContent-Length: " + BODY.length() + "\r\nConnection: close\r\n\r\n" + BODY)
                        .getBytes(StandardCharsets.ISO_8859_1));
                out.flush();
            } catch (java.io.IOException e) {
                if (!server.isClosed()) {
                    System.out.println("tls server: " + e);
                }
            }
        }
    }

    @Test
    void jsseClientWithItsKeyOnTheTokenPassesOpensslServerVerify() throws Exception {
        assumeTrue(installed("openssl"), "openssl is missing");
        staysOnTheToken("client");
        Path dir = RealModules.testDir();
        KeyPair serverPair = KeyPairGenerator.getInstance("EC").generateKeyPair();
        Path cert = RealModules.pem(dir.resolve("s_server.pem"), "CERTIFICATE",
                TestCertificates.issued(20, serverPair.getPublic(), "CN=localhost", ca, CA_NAME, false).getEncoded());
        Path key = RealModules.pem(dir.resolve("s_server.key"), "PRIVATE KEY", serverPair.getPrivate().getEncoded());
        for (String version : List.of("1.3", "1.2")) {
            int port;
            try (java.net.ServerSocket probe = new java.net.ServerSocket(0)) {
                port = probe.getLocalPort();
            }
            Process server = RealModules.withoutSanitizer(new ProcessBuilder("openssl", "s_server", "-accept", "127.0.0.1:" + port,
                    "-naccept", "1", "-cert", cert.toString(), "-key", key.toString(), "-CAfile", caPem.toString(), "-Verify", "2",
                    "-verify_return_error", "-www", "-tls" + version.replace('.', '_'))).redirectErrorStream(true).start();
            try {
                BufferedReader out = new BufferedReader(new InputStreamReader(server.getInputStream(), StandardCharsets.UTF_8));
                StringBuilder log = new StringBuilder();
                for (String line = out.readLine(); line != null && !line.contains("ACCEPT"); line = out.readLine()) {
                    log.append(line).append('\n');
                }
                SSLSocket socket = (SSLSocket) context("client").getSocketFactory().createSocket("localhost", port);
                SSLParameters parameters = socket.getSSLParameters();
                parameters.setEndpointIdentificationAlgorithm("HTTPS");
                socket.setSSLParameters(parameters);
                String page;
                try (socket) {
                    socket.getOutputStream().write("GET / HTTP/1.0\r\n\r\n".getBytes(StandardCharsets.US_ASCII));
                    page = new String(socket.getInputStream().readAllBytes(), StandardCharsets.ISO_8859_1);
                    assertEquals("TLSv" + version, socket.getSession().getProtocol());
                }
                assertTrue(server.waitFor(60, TimeUnit.SECONDS), "s_server ends after one connection");
                for (String line = out.readLine(); line != null; line = out.readLine()) {
                    log.append(line).append('\n');
                }
                assertTrue(page.startsWith("HTTP/1.0 200 ok"), page);
                assertTrue(page.contains("CN=client") || page.contains("CN = client") || log.toString().contains("CN = client"),
                        "s_server saw the client's certificate: " + page + log);
                assertTrue(log.toString().contains("verify return:1") || page.contains("Verify return code: 0"), log.toString() + page);
            } finally {
                server.destroy();
            }
        }
    }
}
