package zandrop.tesk.pkcs11.vorlen.api;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertInstanceOf;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assumptions.assumeTrue;

import java.nio.charset.StandardCharsets;
import java.nio.file.Path;
import java.security.InvalidParameterException;
import java.security.KeyPair;
import java.security.KeyPairGenerator;
import java.security.KeyStore;
import java.security.PrivateKey;
import java.security.Signature;
import java.security.SignatureException;
import java.security.cert.X509Certificate;
import java.security.interfaces.ECKey;
import java.security.interfaces.RSAKey;
import java.security.spec.AlgorithmParameterSpec;
import java.security.spec.MGF1ParameterSpec;
import java.security.spec.PSSParameterSpec;
import java.util.ArrayList;
import java.util.Collections;
import java.util.HexFormat;
import java.util.List;
import java.util.Set;
import java.util.TreeSet;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;

import javax.crypto.AEADBadTagException;
import javax.crypto.Cipher;
import javax.crypto.SecretKey;
import javax.crypto.spec.GCMParameterSpec;
import javax.crypto.spec.SecretKeySpec;
import javax.security.auth.callback.PasswordCallback;

import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.MethodOrderer;
import org.junit.jupiter.api.Order;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.TestInstance;
import org.junit.jupiter.api.TestMethodOrder;

import zandrop.tesk.pkcs11.vorlen.provider.VorlenProvider;
import zandrop.tesk.pkcs11.vorlen.token.Attr;
import zandrop.tesk.pkcs11.vorlen.token.Template;
import zandrop.tesk.pkcs11.vorlen.token.JdkFormats;
import zandrop.tesk.pkcs11.vorlen.token.PinSource;
import zandrop.tesk.pkcs11.vorlen.token.Pkcs11Module;
import zandrop.tesk.pkcs11.vorlen.token.Pkcs11Uri;
import zandrop.tesk.pkcs11.vorlen.token.TestCertificates;
import zandrop.tesk.pkcs11.vorlen.token.Token;
import zandrop.tesk.pkcs11.vorlen.token.TokenException;

/**
 * The JCA provider on SoftHSM2, with the JDK's own providers (SunRsaSign, SunEC) and keytool as
 * the other side: the key store's entries and aliases, signatures both ways, strict ECDSA
 * signature parsing, the token's errors as causes, eight threads.
 */
@TestInstance(TestInstance.Lifecycle.PER_CLASS)
@TestMethodOrder(MethodOrderer.OrderAnnotation.class)
class RealProviderTest {
    private static final String LABEL = "jca";
    private static final char[] PIN = RealSoftHsmToken.USER_PIN.toCharArray();
    private static final byte[] AES_KEY = HexFormat.of().parseHex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");

    private KeyPair rsa;
    private KeyPair ec;
    private KeyPair ed;
    private X509Certificate rsaCert;
    private X509Certificate ecCert;
    private X509Certificate caCert;
    private String uri;
    private VorlenProvider provider;
    private KeyStore store;

    @BeforeAll
    void populate() throws Exception {
        RealSoftHsmToken.initialiseAlone(LABEL);
        rsa = TestCertificates.jdkPair("RSA");
        ec = TestCertificates.jdkPair("secp256r1");
        ed = KeyPairGenerator.getInstance("Ed25519").generateKeyPair();
        KeyPair twin1 = TestCertificates.jdkPair("secp256r1");
        KeyPair twin2 = TestCertificates.jdkPair("secp256r1");
        KeyPair unnamed = TestCertificates.jdkPair("secp256r1");
        rsaCert = TestCertificates.selfSigned(rsa, "CN=rsa");
        ecCert = TestCertificates.selfSigned(ec, "CN=ec");
        caCert = TestCertificates.selfSigned(TestCertificates.jdkPair("secp256r1"), "CN=ca");
        X509Certificate unnamedCert = TestCertificates.selfSigned(unnamed, "CN=unnamed");
        // Keys as a token holds them: sensitive, not extractable; certificates paired by CKA_ID.
        try (Pkcs11Module module = Pkcs11Module.open(RealModules.softHsm2())) {
            Token token = module.token(LABEL);
            token.login(PinSource.of(PIN));
            token.withSession(true, s -> {
                put(s, rsa.getPrivate(), "rsa", 1);
                put(s, rsaCert, "rsa", 1);
                put(s, ec.getPrivate(), "ec", 2);
                put(s, ecCert, "ec", 2);
                put(s, caCert, "ca", 9);
                put(s, ed.getPrivate(), "ed", 4);
                put(s, twin1.getPrivate(), "twin", 5);
                put(s, twin2.getPrivate(), "twin", 6);
                put(s, unnamed.getPrivate(), null, 7);
                put(s, unnamedCert, null, 7);
                s.create(Template.of(Attr.CLASS, PKCS11Constants.CKO_SECRET_KEY).with(Attr.KEY_TYPE, PKCS11Constants.CKK_AES)
                        .with(Attr.VALUE, AES_KEY).with(Attr.TOKEN, true).with(Attr.PRIVATE, true).with(Attr.LABEL, "aes")
                        .with(Attr.ID, new byte[] {3}).with(Attr.ENCRYPT, true).with(Attr.DECRYPT, true)
                        .with(Attr.SENSITIVE, true).with(Attr.EXTRACTABLE, false));
                return null;
            });
            token.logout();
        }
        uri = Pkcs11Uri.builder().token(LABEL).modulePath(RealModules.softHsm2()).build().toString();
        provider = new VorlenProvider(uri);
    }

    private static void put(zandrop.tesk.pkcs11.vorlen.token.Session s, Object object, String label, int id) {
        s.importObject(object, JdkFormats.ImportOptions.defaults().label(label).id(new byte[] {(byte) id}));
    }

    @AfterAll
    void close() {
        if (provider != null && provider.isConfigured()) {
            provider.token().logout();
        }
    }

    private static Set<String> aliases(KeyStore ks) throws Exception {
        return new TreeSet<>(Collections.list(ks.aliases()));
    }

    @Test
    @Order(1)
    void configurationAndKeyStore() throws Exception {
        VorlenProvider unconfigured = new VorlenProvider();
        assertFalse(unconfigured.isConfigured());
        assertThrows(InvalidParameterException.class, () -> unconfigured.configure("pkcs11:token=" + LABEL));
        assertThrows(InvalidParameterException.class, () -> new VorlenProvider("/no/such/file"));
        assertTrue(provider.isConfigured());
        assertEquals("Vorlen", provider.getName());
        // A file holding the URI; ServiceLoader finds the class through META-INF/services.
        Path file = RealModules.testDir().resolve("vorlen.conf");
        java.nio.file.Files.writeString(file, "# the test token\n\n" + uri + "\n");
        VorlenProvider fromFile = new VorlenProvider(file.toString());
        assertEquals(provider.token(), fromFile.token(), "one token, one Token object of the layer");
        // Closing one provider leaves the module to the other, which goes on below.
        fromFile.close();
        fromFile.close();
        assertTrue(assertThrows(IllegalStateException.class, fromFile::token).getMessage().contains("closed"));
        assertThrows(IllegalStateException.class, () -> fromFile.configure(uri));
        assertTrue(java.util.ServiceLoader.load(java.security.Provider.class).stream()
                .anyMatch(p -> p.type() == VorlenProvider.class), "the service file names the provider");

        // Not logged in: only the certificates show, as trusted certificate entries.
        KeyStore anonymous = KeyStore.getInstance("PKCS11", provider);
        anonymous.load(null, null);
        assertEquals(Set.of("07", "ca", "ec", "rsa"), aliases(anonymous));
        assertTrue(anonymous.isCertificateEntry("rsa"));

        // A callback handler gives the PIN; the keys pair with their certificates by CKA_ID.
        store = KeyStore.getInstance("PKCS11", provider);
        store.load(() -> new KeyStore.CallbackHandlerProtection(callbacks -> ((PasswordCallback) callbacks[0]).setPassword(PIN)));
        assertEquals(Set.of("07", "aes", "ca", "ec", "ed", "rsa", "twin/05", "twin/06"), aliases(store));
        for (String alias : List.of("rsa", "ec", "07")) {
            assertTrue(store.isKeyEntry(alias), alias);
            KeyStore.PrivateKeyEntry entry = (KeyStore.PrivateKeyEntry) store.getEntry(alias, null);
            assertNull(entry.getPrivateKey().getEncoded(), "the key stays on the token");
            assertEquals(store.getCertificate(alias), entry.getCertificate());
            assertEquals(1, entry.getCertificateChain().length);
        }
        assertEquals(rsaCert, store.getCertificate("rsa"));
        assertEquals(ecCert, store.getCertificate("ec"));
        assertEquals(((RSAKey) rsa.getPublic()).getModulus(), ((RSAKey) store.getKey("rsa", null)).getModulus());
        assertEquals(((ECKey) ec.getPublic()).getParams().getOrder(), ((ECKey) store.getKey("ec", null)).getParams().getOrder());
        assertTrue(store.isCertificateEntry("ca"));
        assertEquals(caCert, ((KeyStore.TrustedCertificateEntry) store.getEntry("ca", null)).getTrustedCertificate());
        assertTrue(store.isKeyEntry("twin/05"));
        assertEquals("EdDSA", store.getKey("ed", null).getAlgorithm());
        assertEquals("Ed25519", ((java.security.interfaces.EdECKey) store.getKey("ed", null)).getParams().getName());
        assertNull(store.getCertificateChain("twin/05"), "a key without a certificate has no chain");
        assertEquals("ca", store.getCertificateAlias(caCert));
        assertThrows(java.security.KeyStoreException.class, () -> store.setKeyEntry("twin", ec.getPrivate(), null,
                new java.security.cert.Certificate[] {ecCert}), "the shared label of twin/05 and twin/06 names no new entry");
    }

    /** Algorithm, the JDK's provider, parameters, the key pair. */
    private record Case(String algorithm, String jdkProvider, AlgorithmParameterSpec params, String alias) {
    }

    private List<Case> cases() {
        return List.of(
                new Case("SHA256withRSA", "SunRsaSign", null, "rsa"),
                new Case("SHA384withRSA", "SunRsaSign", null, "rsa"),
                new Case("SHA512withRSA", "SunRsaSign", null, "rsa"),
                new Case("NONEwithRSA", "SunJCE", null, "rsa"),
                new Case("RSASSA-PSS", "SunRsaSign", new PSSParameterSpec("SHA-256", "MGF1", MGF1ParameterSpec.SHA256, 32, 1), "rsa"),
                new Case("RSASSA-PSS", "SunRsaSign", new PSSParameterSpec("SHA-384", "MGF1", MGF1ParameterSpec.SHA384, 20, 1), "rsa"),
                new Case("SHA256withECDSA", "SunEC", null, "ec"),
                new Case("SHA384withECDSA", "SunEC", null, "ec"),
                new Case("SHA512withECDSA", "SunEC", null, "ec"),
                new Case("SHA256withECDSAinP1363Format", "SunEC", null, "ec"),
                new Case("NONEwithECDSA", "SunEC", null, "ec"),
                new Case("Ed25519", "SunEC", null, "ed"),
                new Case("EdDSA", "SunEC", null, "ed"));
    }

    private Signature vorlen(Case c) throws Exception {
        return withParams(Signature.getInstance(c.algorithm(), provider), c);
    }

    private Signature jdk(Case c) throws Exception {
        return withParams(Signature.getInstance(c.algorithm(), c.jdkProvider()), c);
    }

    private static Signature withParams(Signature s, Case c) throws Exception {
        if (c.params() != null) {
            s.setParameter(c.params());
        }
        return s;
    }

    /** What a NONEwith... signature takes: the SHA-256 digest, for RSA inside its DigestInfo. */
    private static byte[] noneInput(Case c, byte[] data) throws Exception {
        byte[] digest = java.security.MessageDigest.getInstance("SHA-256").digest(data);
        if (!c.algorithm().equals("NONEwithRSA")) {
            return digest;
        }
        return Platform.concat(java.util.HexFormat.of().parseHex("3031300d060960864801650304020105000420"), digest);
    }

    @Test
    @Order(2)
    void noneWithRsaRefusesMoreThanThePaddingLeavesRoom() throws Exception {
        int room = ((java.security.interfaces.RSAKey) rsa.getPublic()).getModulus().bitLength() / 8 - 11;
        Signature signer = Signature.getInstance("NONEwithRSA", provider);
        signer.initSign((PrivateKey) store.getKey("rsa", null));
        signer.update(new byte[room + 1]);
        assertThrows(java.security.SignatureException.class, signer::sign);
        signer.update(new byte[room]);
        assertTrue(RealModules.verifies(Signature.getInstance("NONEwithRSA", "SunJCE"), rsa.getPublic(), new byte[room],
                signer.sign()), "the longest input still signs, and the engine is clean after the refusal");
        Signature verifier = Signature.getInstance("NONEwithRSA", provider);
        verifier.initVerify(rsa.getPublic());
        verifier.update(new byte[room + 1]);
        assertThrows(java.security.SignatureException.class, () -> verifier.verify(new byte[room + 11]));
    }

    @Test
    @Order(2)
    void signaturesBothWaysWithTheJdk() throws Exception {
        byte[] data = "the data signed by the token, and by the JDK".getBytes(StandardCharsets.UTF_8);
        byte[] other = "other data".getBytes(StandardCharsets.UTF_8);
        for (Case c : cases()) {
            byte[] message = c.algorithm().startsWith("NONE") ? noneInput(c, data) : data;
            byte[] otherMessage = c.algorithm().startsWith("NONE") ? noneInput(c, other) : other;
            KeyPair pair = switch (c.alias()) {
                case "rsa" -> rsa;
                case "ec" -> ec;
                default -> ed;
            };
            java.security.PublicKey publicKey = pair.getPublic();
            if (!c.alias().equals("ed")) {
                assertEquals(publicKey, store.getCertificate(c.alias()).getPublicKey());
            }

            byte[] tokenSignature = RealModules.sign(vorlen(c), (PrivateKey) store.getKey(c.alias(), null), message);
            assertTrue(RealModules.verifies(jdk(c), publicKey, message, tokenSignature),
                    c + ": the JDK accepts the token's signature");

            byte[] jdkSignature = RealModules.sign(jdk(c), pair.getPrivate(), message);
            Signature verifier = vorlen(c);
            assertTrue(RealModules.verifies(verifier, publicKey, message, jdkSignature),
                    c + ": the token accepts the JDK's signature");
            verifier.update(otherMessage);
            assertFalse(verifier.verify(jdkSignature), c + ": not for other data");
        }
    }

    @Test
    @Order(2)
    void theJcaChoosesTheProviderByKey() throws Exception {
        assertTrue(java.security.Security.addProvider(provider) > 0);
        try {
            Signature signer = Signature.getInstance("SHA256withECDSA");
            signer.initSign((PrivateKey) store.getKey("ec", null));
            assertEquals(provider, signer.getProvider(), "a token key goes to its provider");
            Signature other = Signature.getInstance("SHA256withECDSA");
            other.initSign(ec.getPrivate());
            assertEquals("SunEC", other.getProvider().getName(), "a JDK key goes elsewhere");
            assertEquals(provider, KeyStore.getInstance("PKCS11", "Vorlen").getProvider());
        } finally {
            java.security.Security.removeProvider(provider.getName());
        }
    }

    @Test
    @Order(3)
    void malformedEcdsaSignaturesAreRefusedOnTheHost() throws Exception {
        byte[] data = "signed".getBytes(StandardCharsets.UTF_8);
        byte[] good = RealModules.sign(Signature.getInstance("SHA256withECDSA", provider),
                (PrivateKey) store.getKey("ec", null), data);
        // DER: SEQUENCE { INTEGER r, INTEGER s } with one-byte lengths for P-256.
        int rLength = good[3];
        byte[] trailing = Platform.concat(good, new byte[] {0});
        byte[] longForm = Platform.concat(new byte[] {0x30, (byte) 0x81, good[1]}, slice(good, 2, good.length));
        byte[] paddedR = Platform.concat(new byte[] {0x30, (byte) (good[1] + 1), 0x02, (byte) (rLength + 1), 0},
                slice(good, 4, good.length));
        byte[] truncated = slice(good, 0, good.length - 1);
        byte[] rawForm = JdkFormats.ecdsaFromDer(good, zandrop.tesk.pkcs11.vorlen.token.Curve.P_256);

        Signature verifier = Signature.getInstance("SHA256withECDSA", provider);
        verifier.initVerify(ecCert.getPublicKey());
        for (byte[] bad : List.of(trailing, longForm, paddedR, truncated, rawForm, new byte[0])) {
            verifier.update(data);
            SignatureException e = assertThrows(SignatureException.class, () -> verifier.verify(bad),
                    HexFormat.of().formatHex(bad));
            assertInstanceOf(IllegalArgumentException.class, e.getCause(), "the host's parser refused it: " + e);
            // The JDK's own provider refuses the same signature.
            assertThrows(SignatureException.class, () -> RealModules.verifies(Signature.getInstance("SHA256withECDSA", "SunEC"),
                    ecCert.getPublicKey(), data, bad), HexFormat.of().formatHex(bad));
        }
        verifier.update(data);
        assertTrue(verifier.verify(good), "the engine starts clean after a refusal");

        Signature p1363 = Signature.getInstance("SHA256withECDSAinP1363Format", provider);
        p1363.initVerify(ecCert.getPublicKey());
        p1363.update(data);
        assertThrows(SignatureException.class, () -> p1363.verify(Platform.concat(rawForm, new byte[] {0})));
        p1363.update(data);
        assertTrue(p1363.verify(rawForm));
    }

    @Test
    @Order(4)
    void theTokensRefusalIsTheCause() throws Exception {
        Signature pss = Signature.getInstance("RSASSA-PSS", provider);
        // A salt longer than a 2048-bit key can hold.
        pss.setParameter(new PSSParameterSpec("SHA-256", "MGF1", MGF1ParameterSpec.SHA256, 300, 1));
        pss.initSign((PrivateKey) store.getKey("rsa", null));
        pss.update(new byte[] {1, 2, 3});
        SignatureException e = assertThrows(SignatureException.class, pss::sign);
        TokenException cause = assertInstanceOf(TokenException.class, e.getCause());
        assertTrue(cause.code() != 0 && cause.getMessage().contains("CKR_"), cause.getMessage());

        pss.setParameter(new PSSParameterSpec("SHA-256", "MGF1", MGF1ParameterSpec.SHA256, 32, 1));
        pss.update(new byte[] {1, 2, 3});
        byte[] signature = pss.sign();
        Signature jdk = Signature.getInstance("RSASSA-PSS", "SunRsaSign");
        jdk.setParameter(new PSSParameterSpec("SHA-256", "MGF1", MGF1ParameterSpec.SHA256, 32, 1));
        assertTrue(RealModules.verifies(jdk, rsaCert.getPublicKey(), new byte[] {1, 2, 3}, signature),
                "the next signature starts clean");

        Signature ecdsa = Signature.getInstance("SHA256withECDSA", provider);
        assertThrows(java.security.InvalidKeyException.class, () -> ecdsa.initSign(ec.getPrivate()),
                "a key that is not the token's");
        Signature ed448 = Signature.getInstance("Ed448", provider);
        assertThrows(java.security.InvalidKeyException.class, () -> ed448.initSign((PrivateKey) store.getKey("ed", null)),
                "an Ed25519 key for Ed448");
    }

    @Test
    @Order(5)
    void eightThreadsEachWithItsSignature() throws Exception {
        PrivateKey key = (PrivateKey) store.getKey("ec", null);
        ExecutorService pool = Executors.newFixedThreadPool(8);
        try {
            List<Future<Integer>> results = new ArrayList<>();
            for (int t = 0; t < 8; t++) {
                int thread = t;
                results.add(pool.submit(() -> {
                    Signature signer = Signature.getInstance("SHA256withECDSA", provider);
                    Signature checker = Signature.getInstance("SHA256withECDSA", "SunEC");
                    signer.initSign(key);
                    checker.initVerify(ecCert.getPublicKey());
                    int good = 0;
                    for (int i = 0; i < 25; i++) {
                        byte[] data = ("thread " + thread + " message " + i).getBytes(StandardCharsets.UTF_8);
                        signer.update(data);
                        byte[] signature = signer.sign();
                        checker.update(data);
                        good += checker.verify(signature) ? 1 : 0;
                    }
                    return good;
                }));
            }
            for (Future<Integer> f : results) {
                assertEquals(25, f.get());
            }
        } finally {
            pool.shutdownNow();
        }
    }

    @Test
    @Order(6)
    void aesGcmBothWaysWithSunJceAndTheTokensRandom() throws Exception {
        SecretKey key = (SecretKey) store.getKey("aes", null);
        assertNull(key.getEncoded(), "the key stays on the token");
        assertTrue(store.entryInstanceOf("aes", KeyStore.SecretKeyEntry.class));
        SecretKeySpec jdkKey = new SecretKeySpec(AES_KEY, "AES");
        byte[] plain = "a message under AES-GCM with additional data".getBytes(StandardCharsets.UTF_8);
        byte[] aad = {9, 8, 7};
        GCMParameterSpec spec = new GCMParameterSpec(128, HexFormat.of().parseHex("00112233445566778899aabb"));

        Cipher token = RealModules.initialised(Cipher.getInstance("AES/GCM/NoPadding", provider), Cipher.ENCRYPT_MODE, key, spec);
        token.updateAAD(aad);
        byte[] sealed = token.doFinal(plain);
        Cipher sunJce = RealModules.initialised(Cipher.getInstance("AES/GCM/NoPadding", "SunJCE"), Cipher.DECRYPT_MODE, jdkKey, spec);
        sunJce.updateAAD(aad);
        assertArrayEquals(plain, sunJce.doFinal(sealed), "SunJCE opens the token's ciphertext");
        assertThrows(IllegalStateException.class, () -> token.doFinal(plain), "no second encryption under one IV");
        assertThrows(java.security.InvalidAlgorithmParameterException.class,
                () -> token.init(Cipher.ENCRYPT_MODE, key, spec), "the JCA's IV-reuse rule");

        GCMParameterSpec spec2 = new GCMParameterSpec(96, HexFormat.of().parseHex("0a0b0c0d0e0f"));
        Cipher sunJceSeal = Cipher.getInstance("AES/GCM/NoPadding", "SunJCE");
        sunJceSeal.init(Cipher.ENCRYPT_MODE, jdkKey, spec2);
        sunJceSeal.updateAAD(aad);
        byte[] jdkSealed = sunJceSeal.doFinal(plain);
        token.init(Cipher.DECRYPT_MODE, key, spec2);
        token.updateAAD(aad);
        assertArrayEquals(plain, token.doFinal(jdkSealed), "the token opens SunJCE's ciphertext");
        byte[] tampered = jdkSealed.clone();
        tampered[0] ^= 1;
        token.updateAAD(aad);
        AEADBadTagException bad = assertThrows(AEADBadTagException.class, () -> token.doFinal(tampered));
        assertInstanceOf(TokenException.class, bad.getCause());
        token.updateAAD(aad);
        assertArrayEquals(plain, token.doFinal(jdkSealed), "the engine starts clean after a bad tag");

        token.init(Cipher.ENCRYPT_MODE, key);
        assertEquals(12, token.getIV().length, "a random IV");
        byte[] sealed3 = token.doFinal(plain);
        sunJce.init(Cipher.DECRYPT_MODE, jdkKey, token.getParameters());
        assertArrayEquals(plain, sunJce.doFinal(sealed3));

        java.security.SecureRandom random = java.security.SecureRandom.getInstance("PKCS11", provider);
        assertEquals("true", provider.getService("SecureRandom", "PKCS11").getAttribute("ThreadSafe"));
        byte[] a = new byte[32];
        byte[] b = new byte[32];
        random.nextBytes(a);
        random.nextBytes(b);
        assertFalse(java.util.Arrays.equals(a, b), "two draws of the token's generator differ");
    }

    @Test
    @Order(7)
    void keysOutliveTheTokensSessions() throws Exception {
        PrivateKey key = (PrivateKey) store.getKey("ec", null);
        // Every session of the token closed behind the provider's back: the login and the
        // handles of SoftHSM2's token objects go with them.
        try (Pkcs11Module other = Pkcs11Module.open(RealModules.softHsm2())) {
            other.pkcs11().C_CloseAllSessions(provider.token().slotId());
        }
        byte[] signature = RealModules.sign(Signature.getInstance("SHA256withECDSA", provider), key, new byte[] {4, 5, 6});
        assertTrue(RealModules.verifies(Signature.getInstance("SHA256withECDSA", "SunEC"), ec.getPublic(),
                new byte[] {4, 5, 6}, signature), "signed by the same key after the provider found it again");
    }

    @Test
    @Order(8)
    void keytoolListsTheToken() {
        String emulator = System.getProperty("vorlen.jvm.emulator", "");
        assumeTrue(emulator.isEmpty(), "keytool of the target runs here only under " + emulator);
        RealModules.Result r = RealModules.providerToolOk(LABEL, "keytool", "-list");
        assertTrue(r.out().contains("Your keystore contains 8 entries"), r.out());
        assertTrue(r.out().contains("aes, SecretKeyEntry"), r.out());
        assertTrue(r.out().contains("rsa, PrivateKeyEntry"), r.out());
        assertTrue(r.out().contains("ca, trustedCertEntry"), r.out());
    }

    private static byte[] slice(byte[] a, int from, int to) {
        return java.util.Arrays.copyOfRange(a, from, to);
    }
}
