package zandrop.tesk.pkcs11.vorlen.api;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.*;

import java.io.ByteArrayInputStream;
import java.io.ByteArrayOutputStream;
import java.math.BigInteger;
import java.nio.file.Path;
import java.security.MessageDigest;
import java.security.PublicKey;
import java.security.Signature;
import java.security.interfaces.ECPublicKey;
import java.security.spec.MGF1ParameterSpec;
import java.security.spec.PSSParameterSpec;
import java.time.Duration;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Random;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.concurrent.CyclicBarrier;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicInteger;
import java.util.stream.Stream;

import javax.crypto.Cipher;
import javax.crypto.Mac;
import javax.crypto.spec.IvParameterSpec;
import javax.crypto.spec.OAEPParameterSpec;
import javax.crypto.spec.PSource;
import javax.crypto.spec.SecretKeySpec;

import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.TestInstance;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.MethodSource;

import zandrop.tesk.pkcs11.vorlen.token.Attr;
import zandrop.tesk.pkcs11.vorlen.token.AttributeValues;
import zandrop.tesk.pkcs11.vorlen.token.Curve;
import zandrop.tesk.pkcs11.vorlen.token.JdkFormats;
import zandrop.tesk.pkcs11.vorlen.token.Pkcs11Uri;
import zandrop.tesk.pkcs11.vorlen.token.Hash;
import zandrop.tesk.pkcs11.vorlen.token.KeyObject;
import zandrop.tesk.pkcs11.vorlen.token.Mechanism;
import zandrop.tesk.pkcs11.vorlen.token.Pkcs11Module;
import zandrop.tesk.pkcs11.vorlen.token.PinSource;
import zandrop.tesk.pkcs11.vorlen.token.Session;
import zandrop.tesk.pkcs11.vorlen.token.Template;
import zandrop.tesk.pkcs11.vorlen.token.Token;
import zandrop.tesk.pkcs11.vorlen.token.TokenObject;
import zandrop.tesk.pkcs11.vorlen.token.TestCertificates;

/**
 * The session layer on SoftHSM2 and NSS's softoken: every operation checked by the JDK's own
 * providers, lenient reads and searches of real objects, and the pool under sixteen threads while
 * another connection closes every session of the token behind its back.
 */
@TestInstance(TestInstance.Lifecycle.PER_CLASS)
class RealSessionLayerTest {
    private static final String LABEL = "layer";
    private static final Random RANDOM = new Random(7);

    private Pkcs11Module softHsm;
    private Pkcs11Module nss;
    private Token softHsmToken;
    private Token nssToken;

    @BeforeAll
    void openModules() throws Exception {
        RealSoftHsmToken.initialiseAlone(LABEL);
        softHsm = Pkcs11Module.open(RealModules.softHsm2());
        softHsmToken = softHsm.token(LABEL);
        softHsmToken.login(PinSource.of(RealSoftHsmToken.USER_PIN.toCharArray()));

        nss = Pkcs11Module.open(Path.of(RealModules.nssSoftoken()), RealModules.nssParameters("layer-nssdb"));
        nssToken = nss.tokens().get(0);
    }

    @AfterAll
    void closeModules() {
        if (softHsm != null) {
            softHsm.close();
        }
        if (nss != null) {
            nss.close();
        }
    }

    Stream<Token> tokens() {
        return Stream.of(softHsmToken, nssToken);
    }

    private static byte[] random(int n) {
        byte[] b = new byte[n];
        RANDOM.nextBytes(b);
        return b;
    }

    private static Template secret(long keyType, byte[] value, String label) {
        return Template.of(Attr.CLASS, CKO_SECRET_KEY).with(Attr.KEY_TYPE, keyType).with(Attr.VALUE, value)
                .with(Attr.TOKEN, false).with(Attr.LABEL, label).with(Attr.ENCRYPT, true).with(Attr.DECRYPT, true)
                .with(Attr.SIGN, true).with(Attr.VERIFY, true).with(Attr.WRAP, true).with(Attr.UNWRAP, true)
                .with(Attr.EXTRACTABLE, true).with(Attr.SENSITIVE, false);
    }

    private static Session.KeyPair ecPair(Session s, String label) {
        return s.generateKeyPair(Mechanism.ecKeyPairGen(),
                Template.of(Attr.TOKEN, false).with(Attr.EC_PARAMS, RealModules.P256_PARAMS).with(Attr.VERIFY, true)
                        .with(Attr.LABEL, label),
                Template.of(Attr.TOKEN, false).with(Attr.SIGN, true).with(Attr.DERIVE, true).with(Attr.SENSITIVE, true)
                        .with(Attr.LABEL, label));
    }

    @ParameterizedTest
    @MethodSource("tokens")
    void ecdsaAndEcdhAgreeWithTheJdk(Token token) throws Exception {
        try (Session s = token.openSession(true)) {
            Session.KeyPair pair = ecPair(s, "ec");
            ECPublicKey publicKey = (ECPublicKey) s.publicKey(pair.publicKey());
            assertEquals(Curve.P_256, pair.privateKey().curve());
            byte[] data = random(1000);
            for (Hash hash : new Hash[] {Hash.SHA256, Hash.SHA384}) {
                // DER, as the JDK's SHA256withECDSA, and r||s, as its P1363 form.
                byte[] signature = s.sign(Mechanism.ecdsa(hash), pair.privateKey(), data);
                assertTrue(RealModules.jdkVerifies(hash.name() + "withECDSA", publicKey, data, signature), hash + " on " + token);
                assertTrue(s.verify(Mechanism.ecdsa(hash), pair.publicKey(), data, signature));
                byte[] raw = s.sign(Mechanism.ecdsaP1363(hash), pair.privateKey(), data);
                assertTrue(RealModules.jdkVerifies(hash.name() + "withECDSAinP1363Format", publicKey, data, raw));
                data[0] ^= 1;
                assertFalse(s.verify(Mechanism.ecdsa(hash), pair.publicKey(), data, signature));
                assertFalse(s.verify(Mechanism.ecdsaP1363(hash), pair.publicKey(), data, raw));
            }

            java.security.KeyPair other = TestCertificates.jdkPair("secp256r1");
            KeyObject shared = s.derive(Mechanism.ecdh(RealModules.uncompressed((ECPublicKey) other.getPublic())),
                    pair.privateKey(), Template.of(Attr.CLASS, CKO_SECRET_KEY).with(Attr.KEY_TYPE, CKK_GENERIC_SECRET)
                            .with(Attr.VALUE_LEN, 32L).with(Attr.TOKEN, false).with(Attr.SENSITIVE, false)
                            .with(Attr.EXTRACTABLE, true));
            assertArrayEquals(RealModules.jdkAgreed("ECDH", other.getPrivate(), publicKey), s.get(shared, Attr.VALUE).orElseThrow());
        }
    }

    @ParameterizedTest
    @MethodSource("tokens")
    void rsaSignaturesAndOaepAgreeWithTheJdk(Token token) throws Exception {
        try (Session s = token.openSession(true)) {
            Session.KeyPair pair = s.generateKeyPair(Mechanism.rsaKeyPairGen(),
                    Template.of(Attr.TOKEN, false).with(Attr.MODULUS_BITS, 2048L)
                            .with(Attr.PUBLIC_EXPONENT, BigInteger.valueOf(65537)).with(Attr.VERIFY, true),
                    Template.of(Attr.TOKEN, false).with(Attr.SIGN, true).with(Attr.DECRYPT, true));
            AttributeValues pub = s.read(pair.publicKey(), Attr.MODULUS, Attr.PUBLIC_EXPONENT);
            PublicKey publicKey = RealModules.rsaPublicKey(pub.require(Attr.MODULUS).toByteArray(),
                    pub.require(Attr.PUBLIC_EXPONENT).toByteArray());
            byte[] data = random(300);

            Signature pss = Signature.getInstance("RSASSA-PSS");
            pss.setParameter(new PSSParameterSpec("SHA-256", "MGF1", MGF1ParameterSpec.SHA256, 32, 1));
            assertTrue(RealModules.verifies(pss, publicKey, data, s.sign(Mechanism.rsaPss(Hash.SHA256), pair.privateKey(), data)));
            assertTrue(RealModules.jdkVerifies("SHA384withRSA", publicKey, data,
                    s.sign(Mechanism.rsaPkcs1(Hash.SHA384), pair.privateKey(), data)));

            // SoftHSM2 2.6 takes OAEP with SHA-1 only.
            Cipher oaep = RealModules.jdkCipher("RSA/ECB/OAEPPadding", Cipher.ENCRYPT_MODE, publicKey,
                    new OAEPParameterSpec("SHA-1", "MGF1", MGF1ParameterSpec.SHA1, PSource.PSpecified.DEFAULT));
            byte[] secret = random(32);
            assertArrayEquals(secret, s.decrypt(Mechanism.rsaOaep(Hash.SHA1), pair.privateKey(), oaep.doFinal(secret)));
        }
    }

    @ParameterizedTest
    @MethodSource("tokens")
    void aesModesOnePartAndStreamedAgreeWithTheJdk(Token token) throws Exception {
        byte[] keyBytes = random(32);
        SecretKeySpec jdkKey = RealModules.aes(keyBytes);
        try (Session s = token.openSession(true)) {
            TokenObject key = s.create(secret(CKK_AES, keyBytes, "aes"));
            byte[] data = random(200_000 + 5);

            byte[] iv = random(12);
            byte[] aad = random(20);
            byte[] sealed = s.encrypt(Mechanism.aesGcm(iv, aad, 128), key, data);
            assertArrayEquals(RealModules.Aead.AES_GCM.jdkSeal(keyBytes, iv, 128, aad, data), sealed, "sealed as the JDK seals");
            assertArrayEquals(data, s.decrypt(Mechanism.aesGcm(iv, aad, 128), key, sealed));

            byte[] cbcIv = random(16);
            ByteArrayOutputStream out = new ByteArrayOutputStream();
            long n = s.encrypt(Mechanism.aesCbcPad(cbcIv), key, new ByteArrayInputStream(data), out);
            assertArrayEquals(RealModules.jdkCipher("AES/CBC/PKCS5Padding", Cipher.ENCRYPT_MODE, jdkKey,
                    new IvParameterSpec(cbcIv)).doFinal(data), out.toByteArray());
            assertEquals(n, out.size());
            ByteArrayOutputStream back = new ByteArrayOutputStream();
            s.decrypt(Mechanism.aesCbcPad(cbcIv), key, new ByteArrayInputStream(out.toByteArray()), back);
            assertArrayEquals(data, back.toByteArray());

            byte[] counter = random(16);
            byte[] small = Arrays.copyOf(data, 1000);
            assertArrayEquals(RealModules.jdkCipher("AES/CTR/NoPadding", Cipher.ENCRYPT_MODE, jdkKey, new IvParameterSpec(counter))
                    .doFinal(small), s.encrypt(Mechanism.aesCtr(128, counter), key, small));

            if (token.supports(CKM_CHACHA20_POLY1305)) {
                TokenObject chacha = s.create(secret(CKK_CHACHA20, keyBytes, "chacha"));
                byte[] nonce = random(12);
                byte[] sealedChacha = s.encrypt(Mechanism.chacha20Poly1305(nonce, aad), chacha, small);
                assertArrayEquals(RealModules.Aead.CHACHA20_POLY1305.jdkSeal(keyBytes, nonce, 128, aad, small), sealedChacha,
                        "sealed as the JDK seals");
            }
        }
    }

    @ParameterizedTest
    @MethodSource("tokens")
    void digestsMacsWrappingKeysAndRandomAgreeWithTheJdk(Token token) throws Exception {
        try (Session s = token.openSession(true)) {
            byte[] data = random(100_000);
            assertArrayEquals(MessageDigest.getInstance("SHA-256").digest(data),
                    s.digest(Mechanism.digest(Hash.SHA256), data));

            byte[] macKey = random(32);
            TokenObject hmacKey = s.create(secret(CKK_GENERIC_SECRET, macKey, "hmac"));
            byte[] expected = RealModules.initialised(Mac.getInstance("HmacSHA256"), new SecretKeySpec(macKey, "HmacSHA256")).doFinal(data);
            assertArrayEquals(expected, s.mac(Mechanism.hmac(Hash.SHA256), hmacKey, data));
            assertArrayEquals(expected, s.sign(Mechanism.hmac(Hash.SHA256), hmacKey, new ByteArrayInputStream(data)));
            assertTrue(s.verify(Mechanism.hmac(Hash.SHA256), hmacKey, data, expected));

            byte[] kek = random(16);
            byte[] wrappedBytes = random(32);
            TokenObject wrapping = s.create(secret(CKK_AES, kek, "kek"));
            TokenObject wrapped = s.create(secret(CKK_AES, wrappedBytes, "wrapped"));
            byte[] blob = s.wrap(Mechanism.aesKeyWrap(), wrapping, wrapped);
            assertArrayEquals(RealModules.jdkCipher("AESWrap", Cipher.WRAP_MODE, RealModules.aes(kek), null)
                    .wrap(RealModules.aes(wrappedBytes)), blob);
            KeyObject unwrapped = s.unwrap(Mechanism.aesKeyWrap(), wrapping, blob, Template.of(Attr.CLASS, CKO_SECRET_KEY)
                    .with(Attr.KEY_TYPE, CKK_AES).with(Attr.TOKEN, false).with(Attr.ENCRYPT, true)
                    .with(Attr.SENSITIVE, false).with(Attr.EXTRACTABLE, true));
            assertArrayEquals(wrappedBytes, s.get(unwrapped, Attr.VALUE).orElseThrow());

            KeyObject generated = s.generateKey(Mechanism.aesKeyGen(), Template.of(Attr.VALUE_LEN, 32L)
                    .with(Attr.TOKEN, false).with(Attr.ENCRYPT, true).with(Attr.DECRYPT, true).with(Attr.LABEL, "gen"));
            byte[] iv = random(12);
            assertArrayEquals(data, s.decrypt(Mechanism.aesGcm(iv, null, 96), generated,
                    s.encrypt(Mechanism.aesGcm(iv, null, 96), generated, data)));

            byte[] r1 = s.random(64);
            byte[] r2 = s.random(64);
            assertEquals(64, r1.length);
            assertNotEquals(Arrays.toString(r1), Arrays.toString(r2));

            if (token.supports(CKM_HKDF_DERIVE)) {
                byte[] ikm = random(32);
                byte[] salt = random(16);
                byte[] info = "context".getBytes();
                TokenObject base = s.create(Template.of(Attr.CLASS, CKO_SECRET_KEY).with(Attr.KEY_TYPE, CKK_HKDF)
                        .with(Attr.VALUE, ikm).with(Attr.TOKEN, false).with(Attr.DERIVE, true));
                KeyObject okm = s.derive(Mechanism.hkdf(Hash.SHA256, salt, info), base, Template.of(Attr.CLASS,
                        CKO_SECRET_KEY).with(Attr.KEY_TYPE, CKK_GENERIC_SECRET).with(Attr.VALUE_LEN, 42L)
                        .with(Attr.TOKEN, false).with(Attr.SENSITIVE, false).with(Attr.EXTRACTABLE, true));
                assertArrayEquals(RealModules.hkdfExpand(RealModules.hmacSha256(salt, ikm), info, 42),
                        s.get(okm, Attr.VALUE).orElseThrow());
            }
        }
    }

    @ParameterizedTest
    @MethodSource("tokens")
    void mixedObjectsAreFoundAndReadLeniently(Token token) {
        try (Session s = token.openSession(true)) {
            Session.KeyPair pair = ecPair(s, "mixed-ec");
            TokenObject data = s.create(Template.of(Attr.CLASS, CKO_DATA).with(Attr.TOKEN, false)
                    .with(Attr.LABEL, "mixed-data").with(Attr.APPLICATION, "layer test").with(Attr.VALUE, new byte[] {1, 2}));
            List<TokenObject> found = s.find(Template.of(Attr.TOKEN, false));
            assertTrue(found.stream().anyMatch(o -> "mixed-data".equals(o.label())
                    && o instanceof zandrop.tesk.pkcs11.vorlen.token.DataObject d && "layer test".equals(d.application())),
                    found.toString());
            KeyObject key = s.findKey(Template.of(Attr.LABEL, "mixed-ec").with(Attr.CLASS, CKO_PRIVATE_KEY));
            assertEquals(pair.privateKey().handle(), key.handle());
            assertEquals(CKK_EC, key.keyType());
            try (Stream<TokenObject> objects = s.stream(Template.of(Attr.LABEL, "mixed-ec"))) {
                assertEquals(2, objects.count());
            }

            for (TokenObject o : List.of(key, pair.publicKey(), data)) {
                AttributeValues v = s.read(o, Attr.CLASS, Attr.LABEL, Attr.VALUE, Attr.MODULUS, Attr.EC_POINT);
                assertEquals(o.objectClass(), v.require(Attr.CLASS));
                assertEquals(AttributeValues.Status.UNKNOWN, v.status(Attr.MODULUS), v.toString());
                if (o == key) {
                    assertEquals(AttributeValues.Status.SENSITIVE, v.status(Attr.VALUE), v.toString());
                } else if (o == data) {
                    assertArrayEquals(new byte[] {1, 2}, v.require(Attr.VALUE));
                } else {
                    assertTrue(v.require(Attr.EC_POINT).length > 64);
                }
            }
        }
    }

    @Test
    void urisSelectTokensAndObjectsAndJdkKeysAreImported() throws Exception {
        Pkcs11Uri uri = softHsmToken.uri();
        assertEquals(LABEL, uri.token());
        try (Pkcs11Module again = Pkcs11Module.open(uri.toBuilder()
                .modulePath(RealModules.softHsm2()).build())) {
            assertEquals(softHsmToken.slotId(), again.token(uri).slotId());
        }
        java.security.KeyPair jdkPair = TestCertificates.jdkPair("secp384r1");
        try (Session s = softHsmToken.openSession(true)) {
            JdkFormats.ImportOptions options = JdkFormats.ImportOptions.defaults().token(false).label("imported")
                    .id(new byte[] {7});
            KeyObject key = (KeyObject) s.importObject(jdkPair.getPrivate(), options);
            s.importObject(jdkPair.getPublic(), options);
            assertEquals(Curve.P_384, key.curve());
            List<TokenObject> found = s.find(s.uri(key));
            assertEquals(1, found.size(), s.uri(key).toString());
            assertEquals(key.handle(), found.get(0).handle());
            assertEquals(2, s.find(Pkcs11Uri.parse("pkcs11:object=imported;id=%07")).size());

            byte[] data = random(100);
            assertTrue(RealModules.jdkVerifies("SHA384withECDSA", jdkPair.getPublic(), data,
                    s.sign(Mechanism.ecdsa(Hash.SHA384), key, data)));
        }
    }

    @Test
    void thePoolServesSixteenThreadsWhileAnotherConnectionClosesEverySession() throws Exception {
        Token token = softHsmToken;
        ECPublicKey publicKey;
        try (Session s = token.openSession(true)) {
            Template common = Template.of(Attr.TOKEN, true).with(Attr.LABEL, "pooled");
            Session.KeyPair pair = s.generateKeyPair(Mechanism.ecKeyPairGen(),
                    common.with(Attr.EC_PARAMS, RealModules.P256_PARAMS).with(Attr.VERIFY, true),
                    common.with(Attr.SIGN, true).with(Attr.PRIVATE, true));
            publicKey = (ECPublicKey) s.publicKey(pair.publicKey());
        }
        token.configurePool(8, Duration.ofSeconds(60));
        // SoftHSM2 2.6 crashes when C_CloseAllSessions runs while another thread is inside one of
        // those sessions: the other connection closes them between rounds, when every session is
        // idle in the pool and only the login session and the handles are in use.
        PKCS11Impl other = new PKCS11Impl(RealModules.softHsm2());
        int rounds = 5;
        int perRound = 8;
        AtomicInteger closed = new AtomicInteger();
        CyclicBarrier barrier = new CyclicBarrier(16, () -> {
            try {
                other.C_CloseAllSessions(token.slotId());
                closed.incrementAndGet();
            } catch (PKCS11Exception e) {
                throw new IllegalStateException(e);
            }
        });
        ExecutorService threads = Executors.newFixedThreadPool(16);
        try {
            List<Future<Integer>> results = new ArrayList<>();
            for (int t = 0; t < 16; t++) {
                int thread = t;
                results.add(threads.submit(() -> {
                    Signature jdk = Signature.getInstance("SHA256withECDSA");
                    int signed = 0;
                    for (int round = 0; round < rounds; round++) {
                        for (int i = 0; i < perRound; i++) {
                            byte[] data = (thread + "/" + round + "/" + i).getBytes();
                            // Handles die with the sessions (SoftHSM2 forgets them): the key is found by its label.
                            byte[] signature = token.withSession(false, s -> s.sign(Mechanism.ecdsa(Hash.SHA256),
                                    s.findKey(Template.of(Attr.LABEL, "pooled").with(Attr.CLASS, CKO_PRIVATE_KEY)), data));
                            assertTrue(RealModules.verifies(jdk, publicKey, data, signature));
                            signed++;
                        }
                        barrier.await(60, TimeUnit.SECONDS);
                    }
                    return signed;
                }));
            }
            int signed = 0;
            for (Future<Integer> f : results) {
                signed += f.get();
            }
            assertEquals(rounds, closed.get());
            assertEquals(16 * rounds * perRound, signed);
            assertTrue(token.pool().idle() <= 8);
        } finally {
            threads.shutdownNow();
            other.disconnect();
            // The sessions of the other tests need the login that the last close took away.
            token.login(PinSource.of(RealSoftHsmToken.USER_PIN.toCharArray()));
        }
    }
}
