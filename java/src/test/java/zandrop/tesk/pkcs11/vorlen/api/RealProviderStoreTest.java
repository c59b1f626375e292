package zandrop.tesk.pkcs11.vorlen.api;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertInstanceOf;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assumptions.assumeTrue;

import java.io.IOException;
import java.math.BigInteger;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.security.Key;
import java.security.KeyPair;
import java.security.KeyPairGenerator;
import java.security.KeyStore;
import java.security.KeyStoreException;
import java.security.PrivateKey;
import java.security.Signature;
import java.security.UnrecoverableKeyException;
import java.security.cert.Certificate;
import java.security.cert.X509Certificate;
import java.security.interfaces.ECKey;
import java.security.interfaces.EdECKey;
import java.security.interfaces.RSAKey;
import java.security.interfaces.RSAPublicKey;
import java.security.spec.AlgorithmParameterSpec;
import java.security.spec.ECGenParameterSpec;
import java.security.spec.RSAKeyGenParameterSpec;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import java.util.jar.JarEntry;
import java.util.jar.JarOutputStream;

import javax.crypto.spec.SecretKeySpec;
import javax.security.auth.callback.PasswordCallback;

import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.MethodOrderer;
import org.junit.jupiter.api.Order;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.TestInstance;
import org.junit.jupiter.api.TestMethodOrder;

import zandrop.tesk.pkcs11.vorlen.provider.TokenKey;
import zandrop.tesk.pkcs11.vorlen.provider.VorlenProvider;
import zandrop.tesk.pkcs11.vorlen.token.Attr;
import zandrop.tesk.pkcs11.vorlen.token.AttributeValues;
import zandrop.tesk.pkcs11.vorlen.token.Pkcs11Uri;
import zandrop.tesk.pkcs11.vorlen.token.Template;
import zandrop.tesk.pkcs11.vorlen.token.TestCertificates;
import zandrop.tesk.pkcs11.vorlen.token.TokenException;

/**
 * The provider's key store writing to SoftHSM2: the PIN check of load, imported and generated
 * keys with their chains, trusted certificates, deletion, and keytool and jarsigner writing and
 * signing through the provider.
 */
@TestInstance(TestInstance.Lifecycle.PER_CLASS)
@TestMethodOrder(MethodOrderer.OrderAnnotation.class)
class RealProviderStoreTest {
    private static final String LABEL = "store";
    private static final char[] PIN = RealSoftHsmToken.USER_PIN.toCharArray();
    private static final String CA_NAME = "CN=store test CA";

    private KeyPair ca;
    private X509Certificate caCert;
    private VorlenProvider provider;
    private KeyStore store;

    @BeforeAll
    void setUp() throws Exception {
        RealSoftHsmToken.initialiseAlone(LABEL);
        ca = TestCertificates.jdkPair("secp256r1");
        caCert = TestCertificates.issued(1, ca.getPublic(), CA_NAME, ca, CA_NAME, true);
        provider = new VorlenProvider(Pkcs11Uri.builder().token(LABEL).modulePath(RealModules.softHsm2()).build().toString());
        store = KeyStore.getInstance("PKCS11", provider);
        store.load(null, PIN);
    }

    private Certificate[] chain(java.security.PublicKey key, String name, long serial) throws Exception {
        return new Certificate[] {TestCertificates.issued(serial, key, name, ca, CA_NAME, false), caCert};
    }

    private AttributeValues read(Key key, Attr<?>... attrs) {
        return provider.token().withSession(false, s -> s.read(((TokenKey) key).object(), attrs));
    }

    private int objectsWithId(byte[] id) {
        return provider.token().withSession(false, s -> s.find(Template.of(Attr.ID, id)).size());
    }

    private static void signedAndVerified(PrivateKey key, java.security.PublicKey publicKey, VorlenProvider p) throws Exception {
        String algorithm = switch (publicKey.getAlgorithm()) {
            case "RSA" -> "SHA256withRSA";
            case "EC" -> "SHA256withECDSA";
            default -> "Ed25519";
        };
        byte[] signature = RealModules.sign(Signature.getInstance(algorithm, p), key, new byte[] {1, 2, 3});
        assertTrue(RealModules.verifies(Signature.getInstance(algorithm), publicKey, new byte[] {1, 2, 3}, signature),
                "the JDK accepts the signature of " + key);
    }

    @Test
    @Order(1)
    void loadChecksThePinAlsoWhenLoggedIn() throws Exception {
        record Wrong(String name, KeyStore.LoadStoreParameter parameter) {
        }
        // The right PIN while logged in is taken as it is: a logout would void the handles of
        // private objects (SoftHSM2 drops them) and destroy private session objects.
        store.setKeyEntry("kept", new SecretKeySpec(new byte[16], "AES"), null, null);
        Key kept = store.getKey("kept", null);
        KeyStore.getInstance("PKCS11", provider).load(null, PIN.clone());
        assertEquals("kept", read(kept, Attr.LABEL).require(Attr.LABEL), "the handle read before the load still serves");
        store.deleteEntry("kept");

        char[] wrong = "not-the-pin".toCharArray();
        List<Wrong> cases = List.of(
                new Wrong("password", () -> new KeyStore.PasswordProtection(wrong)),
                new Wrong("callback", () -> new KeyStore.CallbackHandlerProtection(
                        callbacks -> ((PasswordCallback) callbacks[0]).setPassword(wrong))));
        for (Wrong c : cases) {
            KeyStore other = KeyStore.getInstance("PKCS11", provider);
            IOException e = assertThrows(IOException.class, () -> other.load(c.parameter()), c.name());
            UnrecoverableKeyException cause = assertInstanceOf(UnrecoverableKeyException.class, e.getCause(), c.name());
            assertEquals(PKCS11Constants.CKR_PIN_INCORRECT, assertInstanceOf(TokenException.class, cause.getCause()).code());
        }
        // The earlier login (the PIN of setUp's load) was restored: the private objects still show.
        KeyStore again = KeyStore.getInstance("PKCS11", provider);
        again.load(null, null);
        store.setKeyEntry("probe", new SecretKeySpec(new byte[16], "AES"), null, null);
        again.load(null, null);
        assertTrue(again.isKeyEntry("probe"), "logged in still");
        store.deleteEntry("probe");
        assertFalse(store.containsAlias("probe"));

        // A login whose PIN the layer does not keep: after a refused PIN the token is logged out.
        provider.token().logout();
        provider.token().login(PIN);
        assertThrows(IOException.class, () -> again.load(null, wrong));
        assertThrows(KeyStoreException.class, () -> store.setKeyEntry("probe", new SecretKeySpec(new byte[16], "AES"), null, null),
                "no write while logged out");
        store.load(null, PIN);
    }

    @Test
    @Order(2)
    void importedKeyWithItsChainStaysOnTheToken() throws Exception {
        KeyPair rsa = TestCertificates.jdkPair("RSA");
        Certificate[] chain = chain(rsa.getPublic(), "CN=imported", 2);
        store.setKeyEntry("imported", rsa.getPrivate(), null, chain);

        KeyStore fresh = KeyStore.getInstance("PKCS11", provider);
        fresh.load(null, PIN);
        assertTrue(fresh.entryInstanceOf("imported", KeyStore.PrivateKeyEntry.class));
        assertArrayEquals(chain, fresh.getCertificateChain("imported"), "the issuer is found again on the token");
        assertTrue(fresh.isCertificateEntry("imported-issuer-1"));
        Key key = fresh.getKey("imported", null);
        assertEquals(((RSAKey) rsa.getPrivate()).getModulus(), ((RSAKey) key).getModulus());
        AttributeValues flags = read(key, Attr.SENSITIVE, Attr.EXTRACTABLE, Attr.LABEL);
        assertEquals(Boolean.TRUE, flags.require(Attr.SENSITIVE));
        assertEquals(Boolean.FALSE, flags.require(Attr.EXTRACTABLE));
        byte[] id = ((TokenKey) key).object().id();
        assertEquals(3, objectsWithId(id), "private key, public key, certificate");
        signedAndVerified((PrivateKey) key, rsa.getPublic(), provider);

        // The same alias again: replaced, the old objects gone; the same key under another alias: refused.
        KeyPair ec = KeyPairGenerator.getInstance("EC").generateKeyPair();
        store.setKeyEntry("imported", ec.getPrivate(), null, chain(ec.getPublic(), "CN=imported", 3));
        assertInstanceOf(ECKey.class, store.getKey("imported", null));
        assertEquals(0, objectsWithId(id));
        assertEquals(1, java.util.Collections.list(store.aliases()).stream().filter(a -> a.startsWith("imported-issuer")).count(),
                "the issuer is written once");
        record Refused(String alias, Key key, Certificate[] chain) {
        }
        for (Refused r : List.of(
                new Refused("again", ec.getPrivate(), chain(ec.getPublic(), "CN=again", 4)),
                new Refused("mismatch", rsa.getPrivate(), chain(ec.getPublic(), "CN=mismatch", 5)),
                new Refused("hmac", new SecretKeySpec(new byte[32], "HmacSHA256"), null))) {
            assertThrows(KeyStoreException.class, () -> store.setKeyEntry(r.alias(), r.key(), null, r.chain()), r.alias());
            assertFalse(store.containsAlias(r.alias()), r.alias());
        }
    }

    @Test
    @Order(3)
    void generatedKeysBecomeEntries() throws Exception {
        record Gen(String algorithm, AlgorithmParameterSpec params, int keySize, Class<?> keyClass) {
        }
        List<Gen> cases = new ArrayList<>(List.of(
                new Gen("RSA", new RSAKeyGenParameterSpec(2048, BigInteger.valueOf(65537)), 0, RSAKey.class),
                new Gen("EC", new ECGenParameterSpec("secp384r1"), 0, ECKey.class),
                new Gen("EC", null, 256, ECKey.class),
                new Gen("EdDSA", null, 255, EdECKey.class)));
        int serial = 10;
        for (Gen c : cases) {
            KeyPairGenerator gen = KeyPairGenerator.getInstance(c.algorithm(), provider);
            if (c.params() != null) {
                gen.initialize(c.params());
            } else if (c.keySize() > 0) {
                gen.initialize(c.keySize());
            }
            KeyPair pair = gen.generateKeyPair();
            assertInstanceOf(c.keyClass(), pair.getPrivate(), c.toString());
            assertInstanceOf(c.keyClass(), pair.getPublic(), c.toString());
            assertNull(pair.getPrivate().getEncoded());
            if (pair.getPublic() instanceof RSAPublicKey r) {
                assertEquals(2048, r.getModulus().bitLength());
                assertEquals(BigInteger.valueOf(65537), r.getPublicExponent());
            } else if (pair.getPublic() instanceof ECKey e) {
                assertEquals(e.getParams().getOrder(), ((ECKey) pair.getPrivate()).getParams().getOrder());
            }
            AttributeValues flags = read(pair.getPrivate(), Attr.SENSITIVE, Attr.EXTRACTABLE, Attr.TOKEN);
            assertEquals(List.of(true, false, true), List.of(flags.require(Attr.SENSITIVE), flags.require(Attr.EXTRACTABLE),
                    flags.require(Attr.TOKEN)), c.toString());
            signedAndVerified(pair.getPrivate(), pair.getPublic(), provider);

            String alias = "gen-" + serial;
            Certificate[] chain = chain(pair.getPublic(), "CN=" + alias, serial++);
            store.setKeyEntry(alias, pair.getPrivate(), null, chain);
            assertArrayEquals(chain, store.getCertificateChain(alias), c.toString());
            assertEquals(alias, read(store.getKey(alias, null), Attr.LABEL).require(Attr.LABEL));
            assertEquals(3, objectsWithId(((TokenKey) pair.getPrivate()).object().id()), "the pair and the certificate");
        }
        assertThrows(java.security.InvalidAlgorithmParameterException.class,
                () -> KeyPairGenerator.getInstance("RSA", provider).initialize(new RSAKeyGenParameterSpec(2048, BigInteger.TWO)));
        assertThrows(java.security.InvalidParameterException.class, () -> KeyPairGenerator.getInstance("EC", provider).initialize(255));
        assertThrows(java.security.InvalidAlgorithmParameterException.class,
                () -> KeyPairGenerator.getInstance("EC", provider).initialize(new ECGenParameterSpec("no-such-curve")));
        if (provider.getService("KeyPairGenerator", "X25519") == null) {
            System.out.println("X25519 key pairs: skipped, the token offers no CKM_EC_MONTGOMERY_KEY_PAIR_GEN");
        } else {
            KeyPair x = KeyPairGenerator.getInstance("X25519", provider).generateKeyPair();
            assertInstanceOf(java.security.interfaces.XECPrivateKey.class, x.getPrivate());
            assertEquals("X25519", ((java.security.spec.NamedParameterSpec) ((java.security.interfaces.XECKey) x.getPublic())
                    .getParams()).getName());
        }
    }

    @Test
    @Order(4)
    void trustedCertificatesAndDeletion() throws Exception {
        store.setCertificateEntry("trusted", caCert);
        assertTrue(store.isCertificateEntry("trusted"));
        assertEquals(caCert, store.getCertificate("trusted"));
        assertThrows(KeyStoreException.class, () -> store.setCertificateEntry("imported", caCert), "a key entry's alias");
        store.setKeyEntry("aes", new SecretKeySpec(new byte[16], "AES"), null, null);
        assertTrue(store.entryInstanceOf("aes", KeyStore.SecretKeyEntry.class));
        assertEquals(Boolean.FALSE, read(store.getKey("aes", null), Attr.EXTRACTABLE).require(Attr.EXTRACTABLE));

        byte[] id = ((TokenKey) store.getKey("imported", null)).object().id();
        for (String alias : List.of("imported", "trusted", "aes", "never-there")) {
            store.deleteEntry(alias);
            assertFalse(store.containsAlias(alias), alias);
        }
        assertEquals(0, objectsWithId(id), "key, public key and certificate destroyed");
        KeyStore fresh = KeyStore.getInstance("PKCS11", provider);
        fresh.load(null, PIN);
        assertFalse(fresh.containsAlias("imported") || fresh.containsAlias("trusted") || fresh.containsAlias("aes"));
        assertTrue(fresh.isCertificateEntry("imported-issuer-1"), "issuers stay");
    }

    private static RealModules.Result tool(String name, String... args) {
        return RealModules.providerToolOk(LABEL, name, args);
    }

    @Test
    @Order(5)
    void keytoolAndJarsignerWriteAndSignThroughTheProvider() throws Exception {
        String emulator = System.getProperty("vorlen.jvm.emulator", "");
        assumeTrue(emulator.isEmpty(), "the tools of the target run here only under " + emulator);
        Path dir = RealModules.testDir();
        Path pem = RealModules.pem(dir.resolve("ca.pem"), "CERTIFICATE", caCert.getEncoded());
        tool("keytool", "-importcert", "-noprompt", "-alias", "tool-ca", "-file", pem.toString());
        tool("keytool", "-genkeypair", "-alias", "tool-key", "-keyalg", "EC", "-groupname", "secp256r1", "-dname", "CN=tool key");
        String list = tool("keytool", "-list").out();
        assertTrue(list.contains("tool-ca, trustedCertEntry") && list.contains("tool-key, PrivateKeyEntry"), list);
        store.load(null, PIN);
        Key generated = store.getKey("tool-key", null);
        assertEquals(Boolean.FALSE, read(generated, Attr.EXTRACTABLE).require(Attr.EXTRACTABLE), "keytool's key stays on the token");

        Path jar = dir.resolve("plain.jar");
        try (JarOutputStream out = new JarOutputStream(Files.newOutputStream(jar))) {
            out.putNextEntry(new JarEntry("hello.txt"));
            out.write("signed on the token".getBytes(StandardCharsets.UTF_8));
        }
        Path signed = dir.resolve("signed.jar");
        tool("jarsigner", "-signedjar", signed.toString(), jar.toString(), "tool-key");
        RealModules.Result verify = RealModules.run(List.of(Path.of(System.getProperty("vorlen.java", "java"))
                .resolveSibling("jarsigner").toString(), "-verify", signed.toString()), Map.of(), false);
        assertEquals(0, verify.status(), verify.out() + verify.err());
        assertTrue(verify.out().contains("jar verified."), verify.out());
    }
}
