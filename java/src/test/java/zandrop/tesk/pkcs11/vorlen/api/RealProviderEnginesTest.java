package zandrop.tesk.pkcs11.vorlen.api;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertInstanceOf;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.nio.ByteBuffer;
import java.nio.file.Path;
import java.security.GeneralSecurityException;
import java.security.InvalidParameterException;
import java.security.Key;
import java.security.KeyPair;
import java.security.KeyPairGenerator;
import java.security.KeyStore;
import java.security.MessageDigest;
import java.security.PrivateKey;
import java.security.spec.AlgorithmParameterSpec;
import java.security.spec.MGF1ParameterSpec;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HexFormat;
import java.util.List;
import java.util.function.IntFunction;
import java.util.stream.Stream;

import javax.crypto.AEADBadTagException;
import javax.crypto.BadPaddingException;
import javax.crypto.Cipher;
import javax.crypto.KeyAgreement;
import javax.crypto.KeyGenerator;
import javax.crypto.Mac;
import javax.crypto.SecretKey;
import javax.crypto.SecretKeyFactory;
import javax.crypto.spec.GCMParameterSpec;
import javax.crypto.spec.IvParameterSpec;
import javax.crypto.spec.OAEPParameterSpec;
import javax.crypto.spec.PSource;
import javax.crypto.spec.SecretKeySpec;

import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.TestInstance;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.MethodSource;

import zandrop.tesk.pkcs11.vorlen.provider.VorlenProvider;
import zandrop.tesk.pkcs11.vorlen.token.JdkFormats;
import zandrop.tesk.pkcs11.vorlen.token.PinSource;
import zandrop.tesk.pkcs11.vorlen.token.Pkcs11Module;
import zandrop.tesk.pkcs11.vorlen.token.Pkcs11Uri;
import zandrop.tesk.pkcs11.vorlen.token.Session;
import zandrop.tesk.pkcs11.vorlen.token.Token;
import zandrop.tesk.pkcs11.vorlen.token.TokenException;
import zandrop.tesk.pkcs11.vorlen.token.TestCertificates;

/**
 * The provider's ciphers, MACs, digests, key generators, secret key factories and key
 * agreements on SoftHSM2 and NSS's softoken, each algorithm where the token offers it, with the
 * JDK's own providers as the oracle: the token encrypts and the JDK decrypts and the reverse,
 * equal MACs, digests and agreed secrets, keys wrapped by one side unwrapped by the other. Each
 * suite prints the algorithms its token lacks.
 */
@TestInstance(TestInstance.Lifecycle.PER_CLASS)
class RealProviderEnginesTest {
    private static final String LABEL = "engines";
    private static final byte[] AES = HexFormat.of().parseHex("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4");
    private static final byte[] CHACHA = HexFormat.of().parseHex("808182838485868788898a8b8c8d8e8f909192939495969798999a9b9c9d9e9f");
    private static final byte[] PLAIN = "forty-five bytes of text for the token's use!".getBytes(java.nio.charset.StandardCharsets.UTF_8);

    /** One token behind its provider, with an RSA and an EC key of the JDK's put onto it. */
    record Side(String name, VorlenProvider provider, KeyStore store) {
        @Override
        public String toString() {
            return name;
        }
    }

    private final List<Side> sides = new ArrayList<>();
    private Pkcs11Module nss;
    private Session nssKeys;  // holds NSS's session objects
    private KeyPair rsa;
    private KeyPair ec;

    @BeforeAll
    void openTokens() throws Exception {
        rsa = TestCertificates.jdkPair("RSA");
        ec = TestCertificates.jdkPair("secp256r1");

        RealSoftHsmToken.initialiseAlone(LABEL);
        try (Pkcs11Module module = Pkcs11Module.open(RealModules.softHsm2())) {
            Token token = module.token(LABEL);
            token.login(PinSource.of(RealSoftHsmToken.USER_PIN.toCharArray()));
            token.withSession(true, s -> {
                put(s, true);
                return null;
            });
            token.logout();
        }
        sides.add(side("SoftHSM2", Pkcs11Uri.builder().token(LABEL).modulePath(RealModules.softHsm2()).build(),
                RealSoftHsmToken.USER_PIN.toCharArray()));

        // NSS's crypto slot keeps no objects: the keys are session objects of a session held open.
        nss = Pkcs11Module.open(Path.of(RealModules.nssSoftoken()), RealModules.nssParameters("engines-nssdb"));
        Token crypto = nss.tokens().get(0);
        nssKeys = crypto.openSession(true);
        put(nssKeys, false);
        sides.add(side("NSS softoken", Pkcs11Uri.builder().token(crypto.info().label()).modulePath(RealModules.nssSoftoken())
                .build(), null));
    }

    private void put(Session s, boolean onToken) {
        s.importObject(rsa.getPrivate(), JdkFormats.ImportOptions.defaults().label("rsa").id(new byte[] {1}).token(onToken));
        s.importObject(ec.getPrivate(), JdkFormats.ImportOptions.defaults().label("ec").id(new byte[] {2}).token(onToken));
    }

    private static Side side(String name, Pkcs11Uri uri, char[] pin) throws Exception {
        VorlenProvider provider = new VorlenProvider(uri.toString());
        KeyStore store = KeyStore.getInstance("PKCS11", provider);
        store.load(null, pin);
        return new Side(name, provider, store);
    }

    @AfterAll
    void close() {
        sides.stream().filter(side -> side.name().equals("SoftHSM2")).forEach(side -> side.provider().token().logout());
        if (nssKeys != null) {
            nssKeys.close();
        }
        if (nss != null) {
            nss.close();
        }
    }

    Stream<Side> sides() {
        return sides.stream();
    }

    /** Whether the token offers the algorithm; prints it when not. */
    private static boolean offers(Side side, String type, String algorithm) {
        boolean offered = side.provider().getService(type, algorithm) != null;
        if (!offered) {
            System.out.println("NOT OFFERED by " + side + ": " + type + "." + algorithm);
        }
        return offered;
    }

    private static SecretKey tokenKey(Side side, String algorithm, byte[] bytes) throws GeneralSecurityException {
        SecretKey key = SecretKeyFactory.getInstance(algorithm, side.provider()).generateSecret(new SecretKeySpec(bytes, algorithm));
        assertNull(key.getEncoded(), "the key stays on the token");
        return key;
    }

    /** A transformation, its key algorithm and key, the parameters for a fresh IV, the input's length. */
    private record CipherCase(String transformation, String keyAlgorithm, byte[] key, IntFunction<AlgorithmParameterSpec> params,
            int length) {
    }

    private static byte[] iv(int length, int seed) {
        byte[] iv = new byte[length];
        Arrays.fill(iv, (byte) seed);
        return iv;
    }

    private static final List<CipherCase> CIPHERS = List.of(
            new CipherCase("AES/ECB/NoPadding", "AES", AES, seed -> null, 48),
            new CipherCase("AES/CBC/NoPadding", "AES", AES, seed -> new IvParameterSpec(iv(16, seed)), 48),
            new CipherCase("AES/CBC/PKCS5Padding", "AES", AES, seed -> new IvParameterSpec(iv(16, seed)), 45),
            new CipherCase("AES/CTR/NoPadding", "AES", AES, seed -> new IvParameterSpec(iv(16, seed | 0xF0)), 45),
            new CipherCase("AES/GCM/NoPadding", "AES", AES, seed -> new GCMParameterSpec(128, iv(12, seed)), 45),
            new CipherCase("ChaCha20-Poly1305", "ChaCha20", CHACHA, seed -> new IvParameterSpec(iv(12, seed)), 45));

    private static boolean aead(CipherCase c) {
        return c.transformation().contains("GCM") || c.transformation().startsWith("ChaCha");
    }

    private static Cipher init(Cipher cipher, int mode, Key key, AlgorithmParameterSpec params, boolean aead)
            throws GeneralSecurityException {
        cipher.init(mode, key, params);
        if (aead) {
            cipher.updateAAD(new byte[] {1, 2, 3});
        }
        return cipher;
    }

    @ParameterizedTest
    @MethodSource("sides")
    void symmetricCiphersBothWaysWithSunJce(Side side) throws Exception {
        byte[] plain = Arrays.copyOf(PLAIN, 48);
        int seed = 1;
        for (CipherCase c : CIPHERS) {
            if (!offers(side, "Cipher", c.transformation())) {
                continue;
            }
            byte[] data = Arrays.copyOf(plain, c.length());
            SecretKey token = tokenKey(side, c.keyAlgorithm(), c.key());
            SecretKeySpec jdk = new SecretKeySpec(c.key(), c.keyAlgorithm());
            boolean aead = aead(c);
            String what = side + " " + c.transformation();

            // Token encrypts in parts (a block and a half, then the rest), SunJCE decrypts.
            AlgorithmParameterSpec p = c.params().apply(seed++);
            Cipher vorlen = init(Cipher.getInstance(c.transformation(), side.provider()), Cipher.ENCRYPT_MODE, token, p, aead);
            byte[] first = vorlen.update(data, 0, 24);
            byte[] sealed = Platform.concat(first, vorlen.doFinal(data, 24, data.length - 24));
            Cipher sun = init(Cipher.getInstance(c.transformation(), "SunJCE"), Cipher.DECRYPT_MODE, jdk, p, aead);
            assertArrayEquals(data, sun.doFinal(sealed), what + ": SunJCE opens the token's ciphertext");

            // SunJCE encrypts, the token decrypts from direct and from heap buffers.
            p = c.params().apply(seed++);
            byte[] jdkSealed = init(Cipher.getInstance(c.transformation(), "SunJCE"), Cipher.ENCRYPT_MODE, jdk, p, aead)
                    .doFinal(data);
            // Direct and heap buffers; with an update of two whole blocks first, and doFinal alone.
            for (int form = 0; form < 4; form++) {
                boolean direct = form < 2;
                boolean split = form % 2 == 0 && !aead;
                ByteBuffer in = direct ? ByteBuffer.allocateDirect(jdkSealed.length) : ByteBuffer.allocate(jdkSealed.length);
                in.put(jdkSealed).flip();
                ByteBuffer out = direct ? ByteBuffer.allocateDirect(jdkSealed.length + 16) : ByteBuffer.allocate(jdkSealed.length + 16);
                Cipher decrypter = init(Cipher.getInstance(c.transformation(), side.provider()), Cipher.DECRYPT_MODE, token, p, aead);
                if (split) {
                    assertEquals(32, decrypter.update(in.limit(33), out), what);
                    in.limit(jdkSealed.length);
                }
                decrypter.doFinal(in, out);
                String how = what + (direct ? " direct" : " heap") + (split ? " in parts" : "");
                assertArrayEquals(data, bytes(out.flip()), how);
                assertEquals(jdkSealed.length, in.position(), how);
            }

            if (aead) {
                byte[] tampered = jdkSealed.clone();
                tampered[tampered.length - 1] ^= 1;
                Cipher opener = init(Cipher.getInstance(c.transformation(), side.provider()), Cipher.DECRYPT_MODE, token, p, true);
                AEADBadTagException bad = assertThrows(AEADBadTagException.class, () -> opener.doFinal(tampered), what);
                assertInstanceOf(TokenException.class, bad.getCause(), what);
                opener.updateAAD(new byte[] {1, 2, 3});
                assertArrayEquals(data, opener.doFinal(jdkSealed), what + ": the engine starts clean after a bad tag");
            }
        }
        // A last block that ends in 0 is no PKCS#5 padding: the token refuses it, and the cipher starts clean after.
        if (side.provider().getService("Cipher", "AES/CBC/PKCS5Padding") != null) {
            IvParameterSpec iv = new IvParameterSpec(iv(16, 7));
            byte[] badPadding = sunJce("AES/CBC/NoPadding", Cipher.ENCRYPT_MODE, RealModules.aes(AES), iv).doFinal(new byte[32]);
            Cipher vorlen = Cipher.getInstance("AES/CBC/PKCS5Padding", side.provider());
            vorlen.init(Cipher.DECRYPT_MODE, tokenKey(side, "AES", AES), iv);
            BadPaddingException bad = assertThrows(BadPaddingException.class, () -> vorlen.doFinal(badPadding), side.name());
            assertInstanceOf(TokenException.class, bad.getCause(), side.name());
            byte[] good = sunJce("AES/CBC/PKCS5Padding", Cipher.ENCRYPT_MODE, RealModules.aes(AES), iv).doFinal(PLAIN);
            assertArrayEquals(PLAIN, vorlen.doFinal(good), side + ": clean after the refusal");
        }
    }

    /** SunJCE's cipher of a transformation, initialised; {@code params} may be null. */
    private static Cipher sunJce(String transformation, int mode, Key key, AlgorithmParameterSpec params)
            throws GeneralSecurityException {
        return RealModules.initialised(Cipher.getInstance(transformation, "SunJCE"), mode, key, params);
    }

    /** The token's cipher of a transformation, initialised with a key alone. */
    private static Cipher tokenCipher(Side side, String transformation, int mode, Key key) throws GeneralSecurityException {
        Cipher cipher = Cipher.getInstance(transformation, side.provider());
        cipher.init(mode, key);
        return cipher;
    }

    private record RsaCase(String transformation, OAEPParameterSpec params) {
    }

    private static boolean oaep(RsaCase c) {
        return c.transformation().contains("OAEP");
    }

    @ParameterizedTest
    @MethodSource("sides")
    void rsaEncryptionBothWaysWithSunJce(Side side) throws Exception {
        PrivateKey key = (PrivateKey) side.store().getKey("rsa", null);
        OAEPParameterSpec sha256 = new OAEPParameterSpec("SHA-256", "MGF1", MGF1ParameterSpec.SHA256,
                new PSource.PSpecified(new byte[] {5, 6}));
        OAEPParameterSpec sha1 = new OAEPParameterSpec("SHA-1", "MGF1", MGF1ParameterSpec.SHA1, PSource.PSpecified.DEFAULT);
        for (RsaCase c : List.of(new RsaCase("RSA/ECB/PKCS1Padding", null), new RsaCase("RSA/ECB/OAEPWithSHA-256AndMGF1Padding", null),
                new RsaCase("RSA/ECB/OAEPWithSHA-256AndMGF1Padding", sha256), new RsaCase("RSA/ECB/OAEPWithSHA-256AndMGF1Padding", sha1))) {
            if (!offers(side, "Cipher", c.transformation())) {
                continue;
            }
            String what = side + " " + c.transformation() + (c.params() == null ? "" : " " + c.params().getDigestAlgorithm()
                    + "/MGF1(" + ((MGF1ParameterSpec) c.params().getMGFParameters()).getDigestAlgorithm() + ")");
            Cipher sun = sunJce(c.transformation(), Cipher.ENCRYPT_MODE, rsa.getPublic(), c.params());
            byte[] sealed = sun.doFinal(PLAIN);
            Cipher vorlen = RealModules.initialised(Cipher.getInstance(c.transformation(), side.provider()), Cipher.DECRYPT_MODE,
                    key, c.params());
            byte[] opened;
            try {
                opened = vorlen.doFinal(sealed);
            } catch (java.security.ProviderException e) {
                // A token that lacks these OAEP parameters says so, with its error.
                assertInstanceOf(TokenException.class, e.getCause(), what);
                assertTrue(e.getMessage().contains("does not take these parameters"), e.getMessage());
                System.out.println("NOT OFFERED by " + side + ": " + what + ": " + e.getMessage());
                continue;
            }
            assertArrayEquals(PLAIN, opened, what + ": the token opens SunJCE's ciphertext");
            sealed[sealed.length / 2] ^= 1;
            try {
                byte[] other = vorlen.doFinal(sealed);
                // PKCS#1 v1.5 with implicit rejection (NSS): a stand-in text rather than an error.
                assertTrue(c.params() == null && !oaep(c) && !Arrays.equals(PLAIN, other), what);
                System.out.println(side + " " + c.transformation() + ": a damaged ciphertext gives another text, no error");
            } catch (BadPaddingException bad) {
                assertInstanceOf(TokenException.class, bad.getCause(), what);
            }

            vorlen.init(Cipher.ENCRYPT_MODE, rsa.getPublic(), c.params());
            byte[] tokenSealed = vorlen.doFinal(PLAIN);
            sun.init(Cipher.DECRYPT_MODE, rsa.getPrivate(), c.params());
            assertArrayEquals(PLAIN, sun.doFinal(tokenSealed), what + ": SunJCE opens the token's ciphertext");
            // Input beyond a modulus is counted, not kept, and refused with its whole length.
            vorlen.update(new byte[200]);
            vorlen.update(new byte[1 << 20]);
            javax.crypto.IllegalBlockSizeException tooLong = assertThrows(javax.crypto.IllegalBlockSizeException.class,
                    () -> vorlen.doFinal(new byte[1]));
            assertTrue(tooLong.getMessage().endsWith("not " + (200 + (1 << 20) + 1)), tooLong.getMessage());
            assertArrayEquals(PLAIN, sun.doFinal(vorlen.doFinal(PLAIN)), what + ": the engine is ready after the refusal");
        }
    }

    @ParameterizedTest
    @MethodSource("sides")
    void macsAndDigestsEqualTheJdks(Side side) throws Exception {
        byte[] hmacKey = Platform.concat(CHACHA, AES);  // 64 bytes: SoftHSM2 wants at least the hash's length
        for (String hash : List.of("SHA-1", "SHA-224", "SHA-256", "SHA-384", "SHA-512")) {
            if (offers(side, "MessageDigest", hash)) {
                MessageDigest d = MessageDigest.getInstance(hash, side.provider());
                d.update(PLAIN, 0, 10);
                MessageDigest copy = (MessageDigest) d.clone();
                d.update(PLAIN, 10, PLAIN.length - 10);
                assertArrayEquals(MessageDigest.getInstance(hash, "SUN").digest(PLAIN), d.digest(), side + " " + hash);
                assertArrayEquals(MessageDigest.getInstance(hash, "SUN").digest(Arrays.copyOf(PLAIN, 10)), copy.digest(),
                        side + " " + hash + " clone");
            }
            String hmac = "Hmac" + hash.replace("-", "");
            if (offers(side, "Mac", hmac)) {
                Mac mac = RealModules.initialised(Mac.getInstance(hmac, side.provider()), tokenKey(side, hmac, hmacKey));
                Mac sun = RealModules.initialised(Mac.getInstance(hmac, "SunJCE"), new SecretKeySpec(hmacKey, hmac));
                assertArrayEquals(sun.doFinal(PLAIN), mac.doFinal(PLAIN), side + " " + hmac);
                assertArrayEquals(sun.doFinal(new byte[0]), mac.doFinal(), side + " " + hmac + " of nothing, after a reset");
            }
        }
        if (side.name().equals("SoftHSM2")) {
            Mac mac = Mac.getInstance("HmacSHA256", side.provider());
            SecretKey shortKey = tokenKey(side, "HmacSHA256", Arrays.copyOf(CHACHA, 20));
            java.security.InvalidKeyException e = assertThrows(java.security.InvalidKeyException.class, () -> mac.init(shortKey));
            assertTrue(e.getMessage().contains("takes keys of 32 to"), e.getMessage());
        }
        if (offers(side, "Mac", "AESCMAC")) {
            // The JDK has no AES-CMAC: RFC 4493's examples 1 and 2 are the oracle.
            Mac cmac = RealModules.initialised(Mac.getInstance("AESCMAC", side.provider()),
                    tokenKey(side, "AES", HexFormat.of().parseHex("2b7e151628aed2a6abf7158809cf4f3c")));
            assertEquals("bb1d6929e95937287fa37d129b756746", HexFormat.of().formatHex(cmac.doFinal()), side + " AESCMAC");
            assertEquals("070a16b46b4d4144f79bdd9dd04a287c", HexFormat.of().formatHex(
                    cmac.doFinal(HexFormat.of().parseHex("6bc1bee22e409f96e93d7e117393172a"))), side + " AESCMAC");
        }
    }

    /**
     * 64 MiB in 64 KiB updates through a digest and a MAC, and 1 MiB through signatures, give
     * the JDK's results; engines dropped or reset in the middle of a stream leave no operation
     * active on the pool's sessions, and the pool's sessions all come back.
     */
    @ParameterizedTest
    @MethodSource("sides")
    void longStreamsGiveTheJdksResultsAndLeaveThePoolClean(Side side) throws Exception {
        byte[] hmacKey = Platform.concat(CHACHA, AES);
        byte[] part = new byte[64 * 1024];
        MessageDigest digest = MessageDigest.getInstance("SHA-256", side.provider());
        MessageDigest sunDigest = MessageDigest.getInstance("SHA-256", "SUN");
        Mac mac = RealModules.initialised(Mac.getInstance("HmacSHA256", side.provider()), tokenKey(side, "HmacSHA256", hmacKey));
        Mac sunMac = RealModules.initialised(Mac.getInstance("HmacSHA256", "SunJCE"), new SecretKeySpec(hmacKey, "HmacSHA256"));
        for (int i = 0; i < 1024; i++) {
            Arrays.fill(part, (byte) i);
            part[i] = (byte) ~i;
            digest.update(part);
            sunDigest.update(part);
            mac.update(part);
            sunMac.update(part);
        }
        assertArrayEquals(sunDigest.digest(), digest.digest(), side + " SHA-256 of 64 MiB");
        assertArrayEquals(sunMac.doFinal(), mac.doFinal(), side + " HmacSHA256 of 64 MiB");

        byte[] mebibyte = new byte[1 << 20];
        new java.util.Random(7).nextBytes(mebibyte);
        for (String[] c : new String[][] {{"SHA256withECDSA", "ec", "SunEC"}, {"SHA384withRSA", "rsa", "SunRsaSign"}}) {
            if (!offers(side, "Signature", c[0])) {
                continue;
            }
            java.security.Signature signer = java.security.Signature.getInstance(c[0], side.provider());
            signer.initSign((PrivateKey) side.store().getKey(c[1], null));
            KeyPair pair = c[1].equals("ec") ? ec : rsa;
            java.security.Signature jdk = java.security.Signature.getInstance(c[0], c[2]);
            jdk.initSign(pair.getPrivate());
            for (int off = 0; off < mebibyte.length; off += part.length) {
                signer.update(mebibyte, off, part.length);
                jdk.update(mebibyte, off, part.length);
            }
            byte[] jdkSignature = jdk.sign();
            assertTrue(RealModules.verifies(jdk, pair.getPublic(), mebibyte, signer.sign()),
                    side + " " + c[0] + " of 1 MiB, verified by " + c[2]);
            java.security.Signature verifier = java.security.Signature.getInstance(c[0], side.provider());
            assertTrue(RealModules.verifies(verifier, pair.getPublic(), mebibyte, jdkSignature),
                    side + " " + c[0] + " of 1 MiB, " + c[2] + "'s verified by the token");
            mebibyte[5] ^= 1;
            verifier.update(mebibyte);
            assertTrue(!verifier.verify(jdkSignature), side + " " + c[0] + " of other data");
        }

        // Engines reset, and engines dropped, in the middle of a stream: the pool lends each of
        // its sessions again (none is lost to a dropped engine), and none has an operation left.
        Token token = side.provider().token();
        int size = token.pool().maxSize();
        MessageDigest reset = MessageDigest.getInstance("SHA-256", side.provider());
        reset.update(part);
        reset.update(part);
        reset.reset();
        assertArrayEquals(sunDigest.digest(PLAIN), reset.digest(PLAIN), side + " digest after a reset in a stream");
        for (int i = 0; i < size; i++) {
            Mac dropped = RealModules.initialised(Mac.getInstance("HmacSHA256", side.provider()), tokenKey(side, "HmacSHA256", hmacKey));
            dropped.update(part);
            dropped.update(part);
        }
        List<Session> all = new ArrayList<>();
        try {
            for (int attempt = 0; all.size() < size && attempt < 60; attempt++) {
                System.gc();
                try {
                    all.add(token.pool().borrow(false, java.time.Duration.ofMillis(500)));
                } catch (zandrop.tesk.pkcs11.vorlen.token.SessionPool.PoolTimeoutException e) {
                    // The cleaner has not closed every dropped engine's session yet.
                }
            }
            assertEquals(size, all.size(), side + ": every session of the pool comes back from the dropped engines");
            for (Session s : all) {
                // An operation left active would make C_DigestInit fail with CKR_OPERATION_ACTIVE.
                assertArrayEquals(sunDigest.digest(PLAIN), s.digest(zandrop.tesk.pkcs11.vorlen.token.Mechanism.digest(
                        zandrop.tesk.pkcs11.vorlen.token.Hash.SHA256), PLAIN), side + " " + s);
            }
        } finally {
            all.forEach(Session::close);
        }
    }

    @ParameterizedTest
    @MethodSource("sides")
    void generatedKeysWrappedOutAndJdkKeysUnwrappedIn(Side side) throws Exception {
        SecretKey kek = tokenKey(side, "AES", AES);
        SecretKeySpec jdkKek = new SecretKeySpec(AES, "AES");
        for (String wrap : List.of("AESWrap", "AESWrapPad")) {
            if (!offers(side, "Cipher", wrap) || !offers(side, "KeyGenerator", "AES")) {
                continue;
            }
            String what = side + " " + wrap;
            // A key the token generated, wrapped by the token, unwrapped by SunJCE: the same key.
            KeyGenerator gen = KeyGenerator.getInstance("AES", side.provider());
            gen.init(128);
            SecretKey generated = gen.generateKey();
            assertNull(generated.getEncoded(), what);
            Cipher wrapper = tokenCipher(side, wrap, Cipher.WRAP_MODE, kek);
            byte[] wrapped = wrapper.wrap(generated);  // NSS under-reports KWP's length: the library gives room
            Key out = sunJce(wrap, Cipher.UNWRAP_MODE, jdkKek, null).unwrap(wrapped, "AES", Cipher.SECRET_KEY);
            assertEquals(16, out.getEncoded().length, what);
            Cipher tokenEcb = tokenCipher(side, "AES/ECB/NoPadding", Cipher.ENCRYPT_MODE, generated);
            Cipher sunEcb = sunJce("AES/ECB/NoPadding", Cipher.DECRYPT_MODE, out, null);
            assertArrayEquals(Arrays.copyOf(PLAIN, 32), sunEcb.doFinal(tokenEcb.doFinal(Arrays.copyOf(PLAIN, 32))), what);

            // SunJCE wraps a 36-byte HMAC key (AESWrap: 40 bytes), the token unwraps it and MACs as SunJCE does.
            byte[] hmacBytes = Arrays.copyOf(Platform.concat(CHACHA, AES), wrap.equals("AESWrap") ? 40 : 36);
            byte[] jdkWrapped = sunJce(wrap, Cipher.WRAP_MODE, jdkKek, null).wrap(new SecretKeySpec(hmacBytes, "HmacSHA256"));
            wrapper.init(Cipher.UNWRAP_MODE, kek);
            Key unwrapped = wrapper.unwrap(jdkWrapped, "HmacSHA256", Cipher.SECRET_KEY);
            if (offers(side, "Mac", "HmacSHA256")) {
                Mac mac = RealModules.initialised(Mac.getInstance("HmacSHA256", side.provider()), unwrapped);
                Mac sun = RealModules.initialised(Mac.getInstance("HmacSHA256", "SunJCE"), new SecretKeySpec(hmacBytes, "HmacSHA256"));
                assertArrayEquals(sun.doFinal(PLAIN), mac.doFinal(PLAIN), what + ": the unwrapped key MACs as the JDK's");
            }
            byte[] damaged = jdkWrapped.clone();
            damaged[0] ^= 1;
            java.security.InvalidKeyException refused = assertThrows(java.security.InvalidKeyException.class,
                    () -> wrapper.unwrap(damaged, "HmacSHA256", Cipher.SECRET_KEY), what);
            assertInstanceOf(TokenException.class, refused.getCause(), what);
        }
        if (offers(side, "KeyGenerator", "HmacSHA256") && offers(side, "Cipher", "AESWrap")) {
            // An HMAC key the token generated (32 bytes), carried out wrapped: the same MACs.
            SecretKey generated = KeyGenerator.getInstance("HmacSHA256", side.provider()).generateKey();
            Cipher wrapper = tokenCipher(side, "AESWrap", Cipher.WRAP_MODE, kek);
            Key out = sunJce("AESWrap", Cipher.UNWRAP_MODE, jdkKek, null).unwrap(wrapper.wrap(generated), "HmacSHA256",
                    Cipher.SECRET_KEY);
            assertEquals(32, out.getEncoded().length, side + " HmacSHA256 key");
            Mac mac = RealModules.initialised(Mac.getInstance("HmacSHA256", side.provider()), generated);
            Mac sun = RealModules.initialised(Mac.getInstance("HmacSHA256", "SunJCE"), out);
            assertArrayEquals(sun.doFinal(PLAIN), mac.doFinal(PLAIN), side + ": the generated HMAC key");
            assertThrows(java.security.spec.InvalidKeySpecException.class, () -> SecretKeyFactory.getInstance("HmacSHA256",
                    side.provider()).getKeySpec(generated, SecretKeySpec.class), "the value does not leave the token");
        }
        if (offers(side, "KeyGenerator", "AES")) {
            KeyGenerator gen = KeyGenerator.getInstance("AES", side.provider());
            assertThrows(InvalidParameterException.class, () -> gen.init(100), side + ": no 100-bit AES keys");
        }
    }

    @ParameterizedTest
    @MethodSource("sides")
    void ecdhAgreesWithSunEc(Side side) throws Exception {
        offers(side, "KeyAgreement", "X25519");
        if (!offers(side, "KeyAgreement", "ECDH")) {
            return;
        }
        // On the token key's curve: SunEC's default size differs between JDKs (256 bits on 17, 384 on 25).
        KeyPairGenerator sunGen = KeyPairGenerator.getInstance("EC", "SunEC");
        sunGen.initialize(((java.security.interfaces.ECPublicKey) ec.getPublic()).getParams());
        KeyPair other = sunGen.generateKeyPair();
        KeyAgreement sun = KeyAgreement.getInstance("ECDH", "SunEC");
        sun.init(other.getPrivate());
        sun.doPhase(ec.getPublic(), true);
        byte[] expected = sun.generateSecret();

        KeyAgreement vorlen = KeyAgreement.getInstance("ECDH", side.provider());
        vorlen.init(side.store().getKey("ec", null));
        vorlen.doPhase(other.getPublic(), true);
        try {
            assertArrayEquals(expected, vorlen.generateSecret(), side + ": the same secret as SunEC's");
        } catch (java.security.ProviderException e) {
            System.out.println(side + " keeps the agreed secret: " + e.getMessage());
        }
        // The secret kept on the token as an AES key: it encrypts as SunJCE does with the bytes.
        vorlen.doPhase(other.getPublic(), true);
        SecretKey aes = vorlen.generateSecret("AES");
        assertNull(aes.getEncoded());
        Cipher tokenEcb = tokenCipher(side, "AES/ECB/NoPadding", Cipher.ENCRYPT_MODE, aes);
        Cipher sunEcb = sunJce("AES/ECB/NoPadding", Cipher.ENCRYPT_MODE, RealModules.aes(expected), null);
        assertArrayEquals(sunEcb.doFinal(Arrays.copyOf(PLAIN, 16)), tokenEcb.doFinal(Arrays.copyOf(PLAIN, 16)), side + " ECDH AES key");
        assertThrows(IllegalStateException.class, vorlen::generateSecret, "the agreement ended");
    }

    @ParameterizedTest
    @MethodSource("sides")
    void theJcaSendsTokenKeysHereAndOtherKeysElsewhere(Side side) throws Exception {
        // First in the list: a JDK key must still go to SunJCE.
        assertEquals(1, java.security.Security.insertProviderAt(side.provider(), 1));
        try {
            SecretKey token = tokenKey(side, "AES", AES);
            Cipher cbc = Cipher.getInstance("AES/CBC/NoPadding");
            cbc.init(Cipher.ENCRYPT_MODE, token, new IvParameterSpec(new byte[16]));
            assertEquals(side.provider(), cbc.getProvider(), side.name());
            cbc = Cipher.getInstance("AES/CBC/NoPadding");
            cbc.init(Cipher.ENCRYPT_MODE, new SecretKeySpec(AES, "AES"), new IvParameterSpec(new byte[16]));
            assertEquals("SunJCE", cbc.getProvider().getName(), side.name());
            Mac mac = RealModules.initialised(Mac.getInstance("HmacSHA256"), new SecretKeySpec(AES, "HmacSHA256"));
            assertEquals("SunJCE", mac.getProvider().getName(), side.name());
            assertThrows(java.security.InvalidKeyException.class, () -> Cipher.getInstance("AES/CBC/NoPadding", side.provider())
                    .init(Cipher.ENCRYPT_MODE, new SecretKeySpec(AES, "AES")), "a key that is not the token's");
        } finally {
            java.security.Security.removeProvider(side.provider().getName());
        }
    }

    private static byte[] bytes(ByteBuffer b) {
        byte[] out = new byte[b.remaining()];
        b.duplicate().get(out);
        return out;
    }
}
