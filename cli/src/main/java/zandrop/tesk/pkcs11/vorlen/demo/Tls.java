package zandrop.tesk.pkcs11.vorlen.demo;

import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKO_PUBLIC_KEY;

import java.io.IOException;
import java.io.OutputStream;
import java.io.PrintStream;
import java.net.InetAddress;
import java.net.InetSocketAddress;
import java.net.Socket;
import java.nio.charset.StandardCharsets;
import java.security.GeneralSecurityException;
import java.security.KeyStore;
import java.security.MessageDigest;
import java.security.Principal;
import java.security.PrivateKey;
import java.security.PublicKey;
import java.security.Security;
import java.security.cert.Certificate;
import java.security.cert.X509Certificate;
import java.util.HexFormat;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.atomic.AtomicInteger;

import javax.net.ssl.SSLContext;
import javax.net.ssl.SSLEngine;
import javax.net.ssl.X509ExtendedKeyManager;

import com.sun.net.httpserver.HttpsConfigurator;
import com.sun.net.httpserver.HttpsServer;

import zandrop.tesk.pkcs11.vorlen.provider.VorlenProvider;
import zandrop.tesk.pkcs11.vorlen.token.CertificateBuilder;
import zandrop.tesk.pkcs11.vorlen.token.KeyObject;
import zandrop.tesk.pkcs11.vorlen.token.Pkcs11Uri;
import zandrop.tesk.pkcs11.vorlen.token.TokenException;

/**
 * The 'tls' command: an HTTPS server on localhost whose private key stays on the token, used
 * through the JCA provider Vorlen (its KeyStore and Signature) by the JDK's own TLS. A key
 * without a certificate on the token gets a self-signed one for localhost, signed by the token
 * and stored beside the key. Serves until the program is stopped.
 */
final class Tls {

    private Tls() {
    }

    static void serve(String module, String tokenLabel, String pin, String alias, int port, PrintStream out)
            throws DemoException {
        String uri = Pkcs11Uri.builder().modulePath(module).token(tokenLabel).build().toString();
        VorlenProvider provider = new VorlenProvider(uri);
        // JSSE finds its signers with Signature.getInstance(name): the provider must be installed.
        Security.addProvider(provider);
        try {
            KeyStore store = KeyStore.getInstance("PKCS11", provider);
            store.load(null, pin.toCharArray());
            if (!store.isKeyEntry(alias) || !(store.getKey(alias, null) instanceof PrivateKey key)) {
                throw new DemoException("no private key labelled \"" + alias + "\" on the token (see 'objects')");
            }
            if (store.getCertificateChain(alias) == null) {
                X509Certificate made = selfSigned(key, publicKey(provider, alias), provider);
                store.setKeyEntry(alias, key, null, new Certificate[] {made});
                out.println("Made a self-signed certificate for localhost with the key \"" + alias
                        + "\" and stored it on the token");
            }
            X509Certificate[] chain = (X509Certificate[]) store.getCertificateChain(alias);
            SSLContext context = SSLContext.getInstance("TLS");
            context.init(new javax.net.ssl.KeyManager[] {new OneKey(alias, key, chain)}, null, null);

            HttpsServer server = HttpsServer.create(new InetSocketAddress(InetAddress.getLoopbackAddress(), port), 0);
            server.setHttpsConfigurator(new HttpsConfigurator(context));
            AtomicInteger served = new AtomicInteger();
            server.createContext("/", exchange -> {
                byte[] page = ("vorlen-demo: request " + served.incrementAndGet() + ", served over TLS with the "
                        + key.getAlgorithm() + " key \"" + alias + "\", which stays on the token \"" + tokenLabel
                        + "\"\n").getBytes(StandardCharsets.UTF_8);
                exchange.getResponseHeaders().add("Content-Type", "text/plain; charset=utf-8");
                exchange.sendResponseHeaders(200, page.length);
                try (OutputStream body = exchange.getResponseBody()) {
                    body.write(page);
                }
            });
            server.start();
            CountDownLatch stopped = new CountDownLatch(1);
            Runtime.getRuntime().addShutdownHook(new Thread(() -> {
                server.stop(0);
                stopped.countDown();
            }));
            out.println("Certificate SHA-256 " + HexFormat.of().formatHex(MessageDigest.getInstance("SHA-256")
                    .digest(chain[0].getEncoded())));
            out.println("Serving https://localhost:" + server.getAddress().getPort() + "/ with the " + key.getAlgorithm()
                    + " key \"" + alias + "\" on the token; stop with Ctrl-C");
            out.flush();
            stopped.await();
        } catch (IOException | GeneralSecurityException e) {
            Throwable cause = e.getCause() instanceof TokenException t ? t : e;
            throw new DemoException("tls: " + e.getMessage() + (cause != e ? " (" + cause.getMessage() + ")" : ""));
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
    }

    private static PublicKey publicKey(VorlenProvider provider, String alias) throws DemoException {
        try {
            return provider.token().withSession(false, s -> {
                try {
                    KeyObject k = Commands.findKey(s, CKO_PUBLIC_KEY, alias);
                    return s.publicKey(k);
                } catch (DemoException e) {
                    throw new IllegalStateException(e.getMessage(), e);
                }
            });
        } catch (IllegalStateException e) {
            throw new DemoException(e.getMessage() + ": the certificate needs the public key");
        }
    }

    /** A self-signed certificate for localhost and 127.0.0.1, signed on the token. */
    static X509Certificate selfSigned(PrivateKey key, PublicKey publicKey, VorlenProvider provider)
            throws GeneralSecurityException, IOException {
        return CertificateBuilder.of(publicKey, "CN=localhost").dnsName("localhost")
                .ipAddress(InetAddress.getByAddress(new byte[] {127, 0, 0, 1})).sign(key, provider);
    }

    /** The server's one key and chain, for every key type it fits. */
    private static final class OneKey extends X509ExtendedKeyManager {
        private final String alias;
        private final PrivateKey key;
        private final X509Certificate[] chain;

        OneKey(String alias, PrivateKey key, X509Certificate[] chain) {
            this.alias = alias;
            this.key = key;
            this.chain = chain;
        }

        private String fits(String keyType) {
            String algorithm = key.getAlgorithm();
            return keyType != null && (keyType.equals(algorithm) || keyType.startsWith(algorithm + "_")) ? alias : null;
        }

        @Override
        public String[] getClientAliases(String keyType, Principal[] issuers) {
            return null;
        }

        @Override
        public String chooseClientAlias(String[] keyType, Principal[] issuers, Socket socket) {
            return null;
        }

        @Override
        public String[] getServerAliases(String keyType, Principal[] issuers) {
            return fits(keyType) == null ? null : new String[] {alias};
        }

        @Override
        public String chooseServerAlias(String keyType, Principal[] issuers, Socket socket) {
            return fits(keyType);
        }

        @Override
        public String chooseEngineServerAlias(String keyType, Principal[] issuers, SSLEngine engine) {
            return fits(keyType);
        }

        @Override
        public X509Certificate[] getCertificateChain(String name) {
            return alias.equals(name) ? chain.clone() : null;
        }

        @Override
        public PrivateKey getPrivateKey(String name) {
            return alias.equals(name) ? key : null;
        }
    }
}
