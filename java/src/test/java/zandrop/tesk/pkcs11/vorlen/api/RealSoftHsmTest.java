package zandrop.tesk.pkcs11.vorlen.api;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertInstanceOf;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertSame;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static zandrop.tesk.pkcs11.vorlen.api.ConnectedToTestModule.assertError;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.*;

import java.io.ByteArrayOutputStream;
import java.math.BigInteger;
import java.nio.ByteBuffer;
import java.nio.charset.StandardCharsets;
import java.security.KeyPair;
import java.security.MessageDigest;
import java.security.Signature;
import java.security.interfaces.ECPublicKey;
import java.security.interfaces.RSAPublicKey;
import java.security.spec.MGF1ParameterSpec;
import java.security.spec.PSSParameterSpec;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HashSet;
import java.util.List;
import java.util.Map;
import java.util.Set;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.concurrent.TimeUnit;
import java.util.stream.Collectors;
import java.util.stream.IntStream;

import javax.crypto.Cipher;
import javax.crypto.spec.IvParameterSpec;
import javax.crypto.spec.OAEPParameterSpec;
import javax.crypto.spec.PSource;
import javax.crypto.spec.SecretKeySpec;

import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;
import zandrop.tesk.pkcs11.vorlen.token.TestCertificates;

/**
 * The library against SoftHSM2, on a fresh token in a temporary folder that the suite initialises
 * through the library. Every result is checked by the JDK's own cryptography: signatures are
 * verified and ciphertexts, digests, wrapped keys and shared secrets recomputed from the public
 * values (or the extractable key values) read back through the library.
 */
class RealSoftHsmTest extends RealModules.SoftHsmSuite {
    RealSoftHsmTest() {
        super("vorlen real test");
    }

    @BeforeAll
    void theModuleIsSoftHsm() throws Exception {
        CK_INFO info = pkcs11.C_GetInfo();
        assertEquals("SoftHSM", new String(info.manufacturerID).stripTrailing());
        assertEquals(2, info.cryptokiVersion.major);
    }

    // ---- key generation on the token

    /** An RSA key pair labelled "rsa" ({@link RealModules#rsaKeyPair}): public handle, private handle. */
    private long[] rsaKeyPair(long inSession, boolean onToken) throws PKCS11Exception {
        long[] pair = RealModules.rsaKeyPair(pkcs11, inSession, onToken, "rsa");
        assertEquals(2, pair.length);
        assertEquals(CKO_PUBLIC_KEY, RealModules.read(pkcs11, inSession, pair[0], CKA_CLASS)[0].getLong());
        assertEquals(CKO_PRIVATE_KEY, RealModules.read(pkcs11, inSession, pair[1], CKA_CLASS)[0].getLong());
        return pair;
    }

    private RSAPublicKey rsaPublicKey(long publicKey) throws Exception {
        CK_ATTRIBUTE[] values = RealModules.read(pkcs11, session, publicKey, CKA_MODULUS, CKA_PUBLIC_EXPONENT,
                CKA_MODULUS_BITS, CKA_KEY_TYPE);
        assertEquals(2048L, values[2].getLong(), "CKA_MODULUS_BITS reads back as a Long");
        assertEquals(CKK_RSA, values[3].getLong());
        RSAPublicKey key = RealModules.rsaPublicKey(values[0].getByteArray(), values[1].getByteArray());
        assertEquals(2048, key.getModulus().bitLength());
        assertEquals(BigInteger.valueOf(65537), key.getPublicExponent());
        return key;
    }

    private long[] ecKeyPair() throws PKCS11Exception {
        return RealModules.signingKeyPair(pkcs11, session, CKM_EC_KEY_PAIR_GEN, RealModules.P256_PARAMS,
                new CK_ATTRIBUTE(CKA_DERIVE, true));
    }

    /** An AES key whose value can be read, so that the JDK can redo what the token did. */
    private long extractableAesKey(int bytes, String label) throws PKCS11Exception {
        long key = RealModules.readableKey(pkcs11, session, CKM_AES_KEY_GEN, CKK_AES, bytes,
                new CK_ATTRIBUTE(CKA_LABEL, label.toCharArray()));
        assertEquals((long) bytes, RealModules.read(pkcs11, session, key, CKA_VALUE_LEN)[0].getLong());
        return key;
    }

    private byte[] random(int length) throws PKCS11Exception {
        byte[] bytes = new byte[length];
        pkcs11.C_GenerateRandom(session, bytes);
        return bytes;
    }

    // ---- signatures

    @Test
    void rsaPkcs1AndPssSignaturesVerifyWithTheJdk() throws Exception {
        long[] pair = rsaKeyPair(session, false);
        RSAPublicKey publicKey = rsaPublicKey(pair[0]);
        byte[] data = "a request signed on the token".getBytes(StandardCharsets.US_ASCII);

        // PKCS #1 v1.5, one part.
        pkcs11.C_SignInit(session, new CK_MECHANISM(CKM_SHA256_RSA_PKCS), pair[1]);
        byte[] signature = pkcs11.C_Sign(session, data);
        assertEquals(256, signature.length);
        assertTrue(RealModules.jdkVerifies("SHA256withRSA", publicKey, data, signature),
                "the JDK accepts the token's PKCS #1 v1.5 signature");

        // The same in three parts: PKCS #1 v1.5 is deterministic.
        pkcs11.C_SignInit(session, new CK_MECHANISM(CKM_SHA256_RSA_PKCS), pair[1]);
        pkcs11.C_SignUpdate(session, Arrays.copyOfRange(data, 0, 5));
        pkcs11.C_SignUpdate(session, new byte[0]);
        pkcs11.C_SignUpdate(session, Arrays.copyOfRange(data, 5, data.length));
        assertArrayEquals(signature, pkcs11.C_SignFinal(session), "multi-part signature equals the one-part one");

        // The token verifies its own signature, one part and several, and rejects a forged one.
        pkcs11.C_VerifyInit(session, new CK_MECHANISM(CKM_SHA256_RSA_PKCS), pair[0]);
        pkcs11.C_Verify(session, data, signature);
        pkcs11.C_VerifyInit(session, new CK_MECHANISM(CKM_SHA256_RSA_PKCS), pair[0]);
        pkcs11.C_VerifyUpdate(session, Arrays.copyOfRange(data, 0, 10));
        pkcs11.C_VerifyUpdate(session, Arrays.copyOfRange(data, 10, data.length));
        pkcs11.C_VerifyFinal(session, signature);
        byte[] forged = signature.clone();
        forged[100] ^= 0x40;
        pkcs11.C_VerifyInit(session, new CK_MECHANISM(CKM_SHA256_RSA_PKCS), pair[0]);
        assertError(CKR_SIGNATURE_INVALID, () -> pkcs11.C_Verify(session, data, forged));

        // PSS with its parameter record: SHA-256, MGF1 with SHA-256, 32 bytes of salt.
        CK_RSA_PKCS_PSS_PARAMS pss = new CK_RSA_PKCS_PSS_PARAMS(CKM_SHA256, CKG_MGF1_SHA256, 32);
        pkcs11.C_SignInit(session, new CK_MECHANISM(CKM_SHA256_RSA_PKCS_PSS, pss), pair[1]);
        byte[] pssSignature = pkcs11.C_Sign(session, data);
        Signature jdkPss = Signature.getInstance("RSASSA-PSS");
        jdkPss.setParameter(new PSSParameterSpec("SHA-256", "MGF1", MGF1ParameterSpec.SHA256, 32, 1));
        assertTrue(RealModules.verifies(jdkPss, publicKey, data, pssSignature), "the JDK accepts the token's PSS signature");
        assertFalse(RealModules.verifies(jdkPss, publicKey, "another request".getBytes(StandardCharsets.US_ASCII),
                pssSignature), "the oracle rejects other data");

        // Raw PSS over a digest the JDK made; salt length 20 this time.
        byte[] digest = MessageDigest.getInstance("SHA-256").digest(data);
        pkcs11.C_SignInit(session, new CK_MECHANISM(CKM_RSA_PKCS_PSS,
                new CK_RSA_PKCS_PSS_PARAMS(CKM_SHA256, CKG_MGF1_SHA256, 20)), pair[1]);
        byte[] rawPss = pkcs11.C_Sign(session, digest);
        jdkPss.setParameter(new PSSParameterSpec("SHA-256", "MGF1", MGF1ParameterSpec.SHA256, 20, 1));
        assertTrue(RealModules.verifies(jdkPss, publicKey, data, rawPss),
                "the salt length of the parameter record reached the module");
        pkcs11.C_VerifyInit(session, new CK_MECHANISM(CKM_RSA_PKCS_PSS,
                new CK_RSA_PKCS_PSS_PARAMS(CKM_SHA256, CKG_MGF1_SHA256, 20)), pair[0]);
        pkcs11.C_Verify(session, digest, rawPss);
    }

    @Test
    void ecdsaSignaturesVerifyWithTheJdk() throws Exception {
        long[] pair = ecKeyPair();
        CK_ATTRIBUTE[] values = RealModules.read(pkcs11, session, pair[0], CKA_EC_PARAMS, CKA_EC_POINT, CKA_KEY_TYPE);
        assertArrayEquals(RealModules.P256_PARAMS, values[0].getByteArray());
        assertEquals(CKK_EC, values[2].getLong());
        ECPublicKey publicKey = RealModules.ecPublicKey(values[1].getByteArray());

        byte[] data = new byte[3000];
        Arrays.fill(data, (byte) 'e');
        byte[] digest = MessageDigest.getInstance("SHA-256").digest(data);
        pkcs11.C_SignInit(session, new CK_MECHANISM(CKM_ECDSA), pair[1]);
        byte[] signature = pkcs11.C_Sign(session, digest);
        assertEquals(64, signature.length, "r and s of 32 bytes each");
        assertTrue(RealModules.jdkVerifies("SHA256withECDSAinP1363Format", publicKey, data, signature),
                "the JDK accepts the token's ECDSA signature");

        pkcs11.C_VerifyInit(session, new CK_MECHANISM(CKM_ECDSA), pair[0]);
        pkcs11.C_Verify(session, digest, signature);
        byte[] otherDigest = digest.clone();
        otherDigest[0] ^= 1;
        pkcs11.C_VerifyInit(session, new CK_MECHANISM(CKM_ECDSA), pair[0]);
        assertError(CKR_SIGNATURE_INVALID, () -> pkcs11.C_Verify(session, otherDigest, signature));
    }

    @Test
    void resultsLongerThanTheFirstOutputBufferComeBackWhole() throws Exception {
        // A 3072-bit key signs 384 bytes; an AES encryption of 64 KiB returns as much.
        long[] pair = pkcs11.C_GenerateKeyPair(session, new CK_MECHANISM(CKM_RSA_PKCS_KEY_PAIR_GEN),
                RealModules.template(CKA_TOKEN, false, CKA_MODULUS_BITS, 3072L, CKA_PUBLIC_EXPONENT, new byte[] {1, 0, 1},
                        CKA_VERIFY, true),
                RealModules.template(CKA_TOKEN, false, CKA_SIGN, true));
        byte[] data = new byte[70_000];
        Arrays.fill(data, (byte) 0x5A);
        pkcs11.C_SignInit(session, new CK_MECHANISM(CKM_SHA512_RSA_PKCS), pair[1]);
        byte[] signature = pkcs11.C_Sign(session, data);
        assertEquals(384, signature.length);
        assertTrue(RealModules.jdkVerifies("SHA512withRSA", RealModules.rsaPublicKey(pkcs11, session, pair[0]), data, signature));
        pkcs11.C_SignInit(session, new CK_MECHANISM(CKM_SHA512_RSA_PKCS), pair[1]);
        pkcs11.C_SignUpdate(session, data);
        assertArrayEquals(signature, pkcs11.C_SignFinal(session), "the final part is as long");

        long key = extractableAesKey(16, "long output");
        byte[] iv = random(16);
        byte[] plain = Arrays.copyOf(data, 65536);
        byte[] expected = RealModules.jdkCipher("AES/CBC/NoPadding", Cipher.ENCRYPT_MODE,
                RealModules.aes(RealModules.bytes(pkcs11, session, key, CKA_VALUE)), new IvParameterSpec(iv)).doFinal(plain);
        pkcs11.C_EncryptInit(session, new CK_MECHANISM(CKM_AES_CBC, iv), key);
        assertArrayEquals(expected, pkcs11.C_Encrypt(session, plain), "64 KiB in one part");
        pkcs11.C_EncryptInit(session, new CK_MECHANISM(CKM_AES_CBC, iv), key);
        byte[] first = pkcs11.C_EncryptUpdate(session, Arrays.copyOf(plain, 40_000));
        assertEquals(40_000 - 40_000 % 16, first.length);
        byte[] second = pkcs11.C_EncryptUpdate(session, Arrays.copyOfRange(plain, 40_000, plain.length));
        assertEquals(0, pkcs11.C_EncryptFinal(session).length);
        assertArrayEquals(expected, Platform.concat(first, second), "64 KiB in two parts");
        pkcs11.C_DecryptInit(session, new CK_MECHANISM(CKM_AES_CBC, iv), key);
        assertArrayEquals(plain, pkcs11.C_Decrypt(session, expected));
    }

    // ---- encryption

    @Test
    void rsaOaepEncryptionRoundTripsAndDecryptsWhatTheJdkEncrypted() throws Exception {
        long[] pair = rsaKeyPair(session, false);
        RSAPublicKey publicKey = rsaPublicKey(pair[0]);
        byte[] message = "a secret of forty-two bytes, give or take".getBytes(StandardCharsets.US_ASCII);
        // SoftHSM2 offers OAEP with SHA-1 and without a label (pSourceData null) only.
        CK_RSA_PKCS_OAEP_PARAMS oaep = new CK_RSA_PKCS_OAEP_PARAMS(CKM_SHA_1, CKG_MGF1_SHA1, CKZ_DATA_SPECIFIED, null);
        CK_MECHANISM mechanism = new CK_MECHANISM(CKM_RSA_PKCS_OAEP, oaep);

        pkcs11.C_EncryptInit(session, mechanism, pair[0]);
        byte[] ciphertext = pkcs11.C_Encrypt(session, message);
        assertEquals(256, ciphertext.length);
        pkcs11.C_EncryptInit(session, mechanism, pair[0]);
        assertFalse(Arrays.equals(ciphertext, pkcs11.C_Encrypt(session, message)), "OAEP is randomised");
        pkcs11.C_DecryptInit(session, mechanism, pair[1]);
        assertArrayEquals(message, pkcs11.C_Decrypt(session, ciphertext), "token to token");

        byte[] fromJdk = RealModules.jdkCipher("RSA/ECB/OAEPPadding", Cipher.ENCRYPT_MODE, publicKey,
                new OAEPParameterSpec("SHA-1", "MGF1", MGF1ParameterSpec.SHA1, PSource.PSpecified.DEFAULT)).doFinal(message);
        pkcs11.C_DecryptInit(session, mechanism, pair[1]);
        assertArrayEquals(message, pkcs11.C_Decrypt(session, fromJdk), "JDK to token");

        // An empty label is a valid pointer of length 0, which this module refuses as it refuses
        // any label: so the library does not turn an empty array into null.
        assertError(CKR_ARGUMENTS_BAD, () -> pkcs11.C_EncryptInit(session, new CK_MECHANISM(CKM_RSA_PKCS_OAEP,
                new CK_RSA_PKCS_OAEP_PARAMS(CKM_SHA_1, CKG_MGF1_SHA1, CKZ_DATA_SPECIFIED, new byte[0])), pair[0]));

        // A ciphertext that was altered does not decrypt.
        byte[] altered = fromJdk.clone();
        altered[200] ^= 1;
        pkcs11.C_DecryptInit(session, mechanism, pair[1]);
        PKCS11Exception invalid = assertThrows(PKCS11Exception.class, () -> pkcs11.C_Decrypt(session, altered));
        assertNotEquals(CKR_OK, invalid.getErrorCode());
    }

    @Test
    void aesCbcInOneAndManyPartsMatchesTheJdk() throws Exception {
        long key = extractableAesKey(32, "aes-cbc");
        byte[] value = RealModules.bytes(pkcs11, session, key, CKA_VALUE);
        assertEquals(32, value.length);
        SecretKeySpec jdkKey = RealModules.aes(value);
        byte[] iv = random(16);
        byte[] plain = Platform.counting(100, 3, 7);
        byte[] expected = RealModules.jdkCipher("AES/CBC/PKCS5Padding", Cipher.ENCRYPT_MODE, jdkKey, new IvParameterSpec(iv))
                .doFinal(plain);

        CK_MECHANISM cbcPad = new CK_MECHANISM(CKM_AES_CBC_PAD, iv);
        pkcs11.C_EncryptInit(session, cbcPad, key);
        assertArrayEquals(expected, pkcs11.C_Encrypt(session, plain), "one part, with padding");
        assertSame(iv, cbcPad.pParameter, "the IV is the caller's array");

        // Many parts of awkward sizes: output comes in whole blocks, the rest at the end.
        int[] cuts = {0, 1, 15, 16, 33, 33, 64, 100};
        ByteArrayOutputStream encrypted = new ByteArrayOutputStream();
        pkcs11.C_EncryptInit(session, cbcPad, key);
        for (int i = 1; i < cuts.length; i++) {
            byte[] out = pkcs11.C_EncryptUpdate(session, Arrays.copyOfRange(plain, cuts[i - 1], cuts[i]));
            assertEquals(0, out.length % 16, "whole blocks only");
            encrypted.write(out);
        }
        encrypted.write(pkcs11.C_EncryptFinal(session));
        assertArrayEquals(expected, encrypted.toByteArray(), "many parts, with padding");

        ByteArrayOutputStream decrypted = new ByteArrayOutputStream();
        pkcs11.C_DecryptInit(session, cbcPad, key);
        for (int offset = 0; offset < expected.length; offset += 13) {
            decrypted.write(pkcs11.C_DecryptUpdate(session,
                    Arrays.copyOfRange(expected, offset, Math.min(expected.length, offset + 13))));
        }
        decrypted.write(pkcs11.C_DecryptFinal(session));
        assertArrayEquals(plain, decrypted.toByteArray(), "many parts back");

        // Without padding: 64 bytes, compared with the JDK; a length off the block fails.
        byte[] blocks = Arrays.copyOf(plain, 64);
        pkcs11.C_EncryptInit(session, new CK_MECHANISM(CKM_AES_CBC, iv), key);
        byte[] cbc = pkcs11.C_Encrypt(session, blocks);
        assertArrayEquals(RealModules.jdkCipher("AES/CBC/NoPadding", Cipher.ENCRYPT_MODE, jdkKey, new IvParameterSpec(iv))
                .doFinal(blocks), cbc);
        pkcs11.C_DecryptInit(session, new CK_MECHANISM(CKM_AES_CBC, iv), key);
        assertArrayEquals(blocks, pkcs11.C_Decrypt(session, cbc));
        pkcs11.C_EncryptInit(session, new CK_MECHANISM(CKM_AES_CBC, iv), key);
        assertError(CKR_DATA_LEN_RANGE, () -> pkcs11.C_Encrypt(session, new byte[17]));

        // An IV of the wrong length reaches the module as it is, and the module refuses it.
        PKCS11Exception badIv = assertThrows(PKCS11Exception.class,
                () -> pkcs11.C_EncryptInit(session, new CK_MECHANISM(CKM_AES_CBC, new byte[15]), key));
        assertTrue(badIv.getErrorCode() == CKR_MECHANISM_PARAM_INVALID || badIv.getErrorCode() == CKR_MECHANISM_INVALID,
                badIv.getMessage());
    }

    // ---- digests

    @Test
    void digestsInOneAndManyPartsMatchTheJdk() throws Exception {
        byte[] data = new byte[5000];
        for (int i = 0; i < data.length; i++) {
            data[i] = (byte) (i % 251);
        }
        long[][] mechanisms = {{CKM_SHA_1}, {CKM_SHA256}, {CKM_SHA512}, {CKM_MD5}};
        String[] names = {"SHA-1", "SHA-256", "SHA-512", "MD5"};
        for (int m = 0; m < names.length; m++) {
            MessageDigest jdk = MessageDigest.getInstance(names[m]);
            CK_MECHANISM mechanism = new CK_MECHANISM(mechanisms[m][0]);
            pkcs11.C_DigestInit(session, mechanism);
            assertArrayEquals(jdk.digest(data), pkcs11.C_Digest(session, data), names[m] + ", one part");
            pkcs11.C_DigestInit(session, mechanism);
            assertArrayEquals(jdk.digest(new byte[0]), pkcs11.C_Digest(session, new byte[0]), names[m] + " of nothing");
            pkcs11.C_DigestInit(session, mechanism);
            for (int offset = 0; offset < data.length; offset += 999) {
                pkcs11.C_DigestUpdate(session, Arrays.copyOfRange(data, offset, Math.min(data.length, offset + 999)));
            }
            assertArrayEquals(jdk.digest(data), pkcs11.C_DigestFinal(session), names[m] + ", many parts");
        }

        // A secret key's value digested as part of the data.
        long key = extractableAesKey(16, "digested");
        byte[] value = RealModules.bytes(pkcs11, session, key, CKA_VALUE);
        pkcs11.C_DigestInit(session, new CK_MECHANISM(CKM_SHA256));
        pkcs11.C_DigestUpdate(session, data);
        pkcs11.C_DigestKey(session, key);
        MessageDigest jdk = MessageDigest.getInstance("SHA-256");
        jdk.update(data);
        jdk.update(value);
        assertArrayEquals(jdk.digest(), pkcs11.C_DigestFinal(session), "C_DigestKey digests the key's value");
    }

    @Test
    void byteBuffersMatchTheJdkAndAShortOutputLosesNothing() throws Exception {
        long key = extractableAesKey(16, "aes-buffers");
        byte[] iv = random(16);
        byte[] plain = random(1000);
        byte[] expected = RealModules.jdkCipher("AES/CBC/PKCS5Padding", Cipher.ENCRYPT_MODE,
                RealModules.aes(RealModules.bytes(pkcs11, session, key, CKA_VALUE)), new IvParameterSpec(iv)).doFinal(plain);
        CK_MECHANISM cbcPad = new CK_MECHANISM(CKM_AES_CBC_PAD, iv);

        ByteBuffer in = ByteBuffer.allocateDirect(plain.length).put(plain).flip();
        ByteBuffer out = ByteBuffer.allocateDirect(expected.length + 16);
        pkcs11.C_EncryptInit(session, cbcPad, key);
        ByteBuffer tight = out.duplicate().limit(100);
        assertError(CKR_BUFFER_TOO_SMALL, () -> pkcs11.C_Encrypt(session, in, tight));
        assertEquals(0, in.position(), "nothing consumed");
        assertEquals(expected.length, pkcs11.C_Encrypt(session, in, out), "the operation went on");
        byte[] encrypted = new byte[expected.length];
        out.flip().get(encrypted);
        assertArrayEquals(expected, encrypted);

        // Parts from a heap buffer into a direct one, then back from direct into heap.
        ByteBuffer heapIn = ByteBuffer.wrap(plain);
        out.clear();
        pkcs11.C_EncryptInit(session, cbcPad, key);
        for (int cut : new int[] {7, 300, 301, 1000}) {
            pkcs11.C_EncryptUpdate(session, heapIn.limit(cut), out);
        }
        pkcs11.C_EncryptFinal(session, out);
        assertEquals(expected.length, out.position());
        ByteBuffer back = ByteBuffer.allocate(expected.length);
        pkcs11.C_DecryptInit(session, cbcPad, key);
        pkcs11.C_DecryptUpdate(session, out.flip(), back);
        pkcs11.C_DecryptFinal(session, back);
        assertArrayEquals(plain, Arrays.copyOf(back.array(), back.position()));

        ByteBuffer digest = ByteBuffer.allocateDirect(32);
        pkcs11.C_DigestInit(session, new CK_MECHANISM(CKM_SHA256));
        assertEquals(32, pkcs11.C_Digest(session, in.rewind(), digest));
        byte[] sha = new byte[32];
        digest.flip().get(sha);
        assertArrayEquals(MessageDigest.getInstance("SHA-256").digest(plain), sha);
    }

    // ---- wrapping

    @Test
    void wrappedKeysMatchTheJdkAndUnwrapToTheSameValue() throws Exception {
        long wrappingKey = extractableAesKey(32, "wrapping");
        long target = extractableAesKey(16, "target");
        byte[] wrappingValue = RealModules.bytes(pkcs11, session, wrappingKey, CKA_VALUE);
        byte[] targetValue = RealModules.bytes(pkcs11, session, target, CKA_VALUE);

        byte[] wrapped = pkcs11.C_WrapKey(session, new CK_MECHANISM(CKM_AES_KEY_WRAP), wrappingKey, target);
        Cipher jdk = RealModules.jdkCipher("AESWrap", Cipher.WRAP_MODE, RealModules.aes(wrappingValue), null);
        assertArrayEquals(jdk.wrap(RealModules.aes(targetValue)), wrapped,
                "RFC 3394 wrapping as the JDK does it");

        CK_ATTRIBUTE[] template = RealModules.readable(CKK_AES, new CK_ATTRIBUTE(CKA_LABEL, "unwrapped".toCharArray()));
        long unwrapped = pkcs11.C_UnwrapKey(session, new CK_MECHANISM(CKM_AES_KEY_WRAP), wrappingKey, wrapped, template);
        assertNotEquals(target, unwrapped);
        assertArrayEquals(targetValue, RealModules.bytes(pkcs11, session, unwrapped, CKA_VALUE));
        assertArrayEquals("unwrapped".toCharArray(), RealModules.read(pkcs11, session, unwrapped, CKA_LABEL)[0].getCharArray());

        // A damaged wrapped key fails RFC 3394's integrity check.
        byte[] damaged = wrapped.clone();
        damaged[3] ^= 1;
        PKCS11Exception invalid = assertThrows(PKCS11Exception.class, () -> pkcs11.C_UnwrapKey(session,
                new CK_MECHANISM(CKM_AES_KEY_WRAP), wrappingKey, damaged, template));
        assertNotEquals(CKR_OK, invalid.getErrorCode());

        // RSA OAEP wraps with the public key; the JDK unwraps nothing here, but the token's
        // private key gets the same value back.
        long[] rsa = rsaKeyPair(session, false);
        CK_MECHANISM oaep = new CK_MECHANISM(CKM_RSA_PKCS_OAEP,
                new CK_RSA_PKCS_OAEP_PARAMS(CKM_SHA_1, CKG_MGF1_SHA1, CKZ_DATA_SPECIFIED, null));
        byte[] rsaWrapped = pkcs11.C_WrapKey(session, oaep, rsa[0], target);
        assertEquals(256, rsaWrapped.length);
        long rsaUnwrapped = pkcs11.C_UnwrapKey(session, oaep, rsa[1], rsaWrapped, template);
        assertArrayEquals(targetValue, RealModules.bytes(pkcs11, session, rsaUnwrapped, CKA_VALUE));
    }

    // ---- attribute arrays

    /** An AES key of the given length that is made to be wrapped, or not. */
    private long keyToWrap(int bytes, boolean extractable) throws PKCS11Exception {
        return pkcs11.C_GenerateKey(session, new CK_MECHANISM(CKM_AES_KEY_GEN), RealModules.template(CKA_CLASS,
                CKO_SECRET_KEY, CKA_KEY_TYPE, CKK_AES, CKA_VALUE_LEN, (long) bytes, CKA_TOKEN, false, CKA_EXTRACTABLE, extractable));
    }

    @Test
    void wrapTemplateReadsBackAsNestedAttributesAndRefusesOtherKeys() throws Exception {
        CK_ATTRIBUTE[] wrapTemplate = RealModules.template(CKA_CLASS, CKO_SECRET_KEY, CKA_KEY_TYPE, CKK_AES, CKA_VALUE_LEN, 32L);
        long wrappingKey = pkcs11.C_GenerateKey(session, new CK_MECHANISM(CKM_AES_KEY_GEN), RealModules.concat(wrapTemplate,
                RealModules.template(CKA_TOKEN, false, CKA_WRAP, true, CKA_UNWRAP, true, CKA_WRAP_TEMPLATE, wrapTemplate,
                        CKA_LABEL, "wrapping with a template".toCharArray())));

        // Read back through the nested protocol, together with plain attributes.
        CK_ATTRIBUTE[] read = RealModules.read(pkcs11, session, wrappingKey, CKA_LABEL, CKA_WRAP_TEMPLATE, CKA_WRAP);
        assertArrayEquals("wrapping with a template".toCharArray(), read[0].getCharArray());
        assertEquals(Boolean.TRUE, read[2].getBoolean());
        CK_ATTRIBUTE[] nested = assertInstanceOf(CK_ATTRIBUTE[].class, read[1].pValue);
        Map<Long, Object> values = Arrays.stream(nested)
                .collect(Collectors.toMap(attribute -> attribute.type, attribute -> attribute.pValue));
        // SoftHSM2 keeps the template as a map: the same attributes, in the order of their types.
        assertEquals(Map.of(CKA_CLASS, CKO_SECRET_KEY, CKA_KEY_TYPE, CKK_AES, CKA_VALUE_LEN, 32L), values,
                "typed values, equal to what was given");
        assertEquals(3, nested.length);

        // A key the template describes is wrapped; one it does not (16 bytes) is refused.
        long matching = keyToWrap(32, true);
        byte[] wrapped = pkcs11.C_WrapKey(session, new CK_MECHANISM(CKM_AES_KEY_WRAP), wrappingKey, matching);
        assertEquals(40, wrapped.length);
        long other = keyToWrap(16, true);
        PKCS11Exception refused = assertThrows(PKCS11Exception.class,
                () -> pkcs11.C_WrapKey(session, new CK_MECHANISM(CKM_AES_KEY_WRAP), wrappingKey, other));
        assertEquals(CKR_KEY_NOT_WRAPPABLE, refused.getErrorCode(), refused.getMessage());
    }

    @Test
    void allowedMechanismsReadBackAsLongsAndAreEnforced() throws Exception {
        long key = pkcs11.C_GenerateKey(session, new CK_MECHANISM(CKM_AES_KEY_GEN), RealModules.template(CKA_CLASS,
                CKO_SECRET_KEY, CKA_KEY_TYPE, CKK_AES, CKA_VALUE_LEN, 16L, CKA_TOKEN, false, CKA_ENCRYPT, true,
                CKA_ALLOWED_MECHANISMS, new long[] {CKM_AES_CBC_PAD, CKM_AES_ECB}));
        long[] allowed = (long[]) RealModules.read(pkcs11, session, key, CKA_ALLOWED_MECHANISMS)[0].pValue;
        assertEquals(Set.of(CKM_AES_CBC_PAD, CKM_AES_ECB), Arrays.stream(allowed).boxed().collect(Collectors.toSet()));
        assertEquals(2, allowed.length);

        pkcs11.C_EncryptInit(session, new CK_MECHANISM(CKM_AES_ECB), key);
        assertEquals(16, pkcs11.C_Encrypt(session, new byte[16]).length);
        PKCS11Exception refused = assertThrows(PKCS11Exception.class,
                () -> pkcs11.C_EncryptInit(session, new CK_MECHANISM(CKM_AES_CBC, new byte[16]), key));
        assertEquals(CKR_MECHANISM_INVALID, refused.getErrorCode(), refused.getMessage());
    }

    // ---- derivation

    @Test
    void ecdhDerivationAgreesWithTheJdk() throws Exception {
        long[] pair = ecKeyPair();
        ECPublicKey tokenPublic = RealModules.ecPublicKey(RealModules.bytes(pkcs11, session, pair[0], CKA_EC_POINT));
        KeyPair jdkPair = TestCertificates.jdkPair("secp256r1");

        byte[] peerPoint = RealModules.uncompressed((ECPublicKey) jdkPair.getPublic());
        CK_ECDH1_DERIVE_PARAMS params = new CK_ECDH1_DERIVE_PARAMS(CKD_NULL, null, peerPoint);
        long secret = pkcs11.C_DeriveKey(session, new CK_MECHANISM(CKM_ECDH1_DERIVE, params), pair[1],
                RealModules.readable(CKK_GENERIC_SECRET, new CK_ATTRIBUTE(CKA_VALUE_LEN, 32L)));
        byte[] tokenSecret = RealModules.bytes(pkcs11, session, secret, CKA_VALUE);

        assertArrayEquals(RealModules.jdkAgreed("ECDH", jdkPair.getPrivate(), tokenPublic), tokenSecret,
                "both sides agree on the shared secret");
        assertArrayEquals(peerPoint, params.pPublicData, "the parameter's arrays are left as they were");
        assertNull(params.pSharedData);
    }

    // ---- objects

    @Test
    void objectsAreCreatedCopiedSearchedReadModifiedAndDestroyed() throws Exception {
        byte[] application = "vorlen objects test".getBytes(StandardCharsets.US_ASCII);
        long original = pkcs11.C_CreateObject(session, RealModules.template(CKA_CLASS, CKO_DATA, CKA_TOKEN, true,
                CKA_PRIVATE, false, CKA_MODIFIABLE, true, CKA_LABEL, "original".toCharArray(),
                CKA_APPLICATION, "vorlen objects test".toCharArray(), CKA_VALUE, new byte[] {1, 2, 3, 4, 5}));
        long size = pkcs11.C_GetObjectSize(session, original);
        assertTrue(size == Platform.ALL_BITS || size > 0, "a size, or CK_UNAVAILABLE_INFORMATION zero-extended: " + size);

        CK_ATTRIBUTE[] read = RealModules.read(pkcs11, session, original, CKA_CLASS, CKA_TOKEN, CKA_LABEL,
                CKA_APPLICATION, CKA_VALUE, CKA_PRIVATE);
        assertEquals(CKO_DATA, read[0].getLong());
        assertEquals(Boolean.TRUE, read[1].getBoolean());
        assertArrayEquals("original".toCharArray(), read[2].getCharArray());
        assertArrayEquals(new String(application, StandardCharsets.US_ASCII).toCharArray(), read[3].getCharArray());
        assertArrayEquals(new byte[] {1, 2, 3, 4, 5}, read[4].getByteArray());
        assertEquals(Boolean.FALSE, read[5].getBoolean());

        long copy = pkcs11.C_CopyObject(session, original, RealModules.template(CKA_LABEL, "copy".toCharArray()));
        assertNotEquals(original, copy);
        assertArrayEquals(new byte[] {1, 2, 3, 4, 5}, RealModules.bytes(pkcs11, session, copy, CKA_VALUE),
                "the copy has the original's value");
        assertArrayEquals("copy".toCharArray(), RealModules.read(pkcs11, session, copy, CKA_LABEL)[0].getCharArray());
        pkcs11.C_SetAttributeValue(session, copy, RealModules.template(CKA_LABEL, "copy, renamed".toCharArray()));
        assertArrayEquals("copy, renamed".toCharArray(), RealModules.read(pkcs11, session, copy, CKA_LABEL)[0].getCharArray());
        assertArrayEquals("original".toCharArray(), RealModules.read(pkcs11, session, original, CKA_LABEL)[0].getCharArray(),
                "the original keeps its label");
        // SoftHSM2 keeps the value of a data object fixed once it is created.
        assertError(CKR_ATTRIBUTE_READ_ONLY, () -> pkcs11.C_SetAttributeValue(session, copy,
                RealModules.template(CKA_VALUE, new byte[] {9, 8, 7})));

        CK_ATTRIBUTE byApplication = new CK_ATTRIBUTE(CKA_APPLICATION, "vorlen objects test".toCharArray());
        long[] both = RealModules.find(pkcs11, session, byApplication);
        assertEquals(Set.of(original, copy), toSet(both));
        assertArrayEquals(new long[] {copy}, RealModules.find(pkcs11, session, byApplication,
                new CK_ATTRIBUTE(CKA_LABEL, "copy, renamed".toCharArray())));
        assertArrayEquals(new long[0], RealModules.find(pkcs11, session, byApplication,
                new CK_ATTRIBUTE(CKA_LABEL, "nothing of that name".toCharArray())));

        // Many objects, found in batches of three.
        List<Long> many = new ArrayList<>();
        for (int i = 0; i < 8; i++) {
            many.add(pkcs11.C_CreateObject(session, RealModules.template(CKA_CLASS, CKO_DATA, CKA_TOKEN, false,
                    CKA_LABEL, "batch".toCharArray(), CKA_VALUE, new byte[] {(byte) i})));
        }
        assertEquals(new HashSet<>(many), toSet(RealModules.find(pkcs11, session,
                new CK_ATTRIBUTE(CKA_LABEL, "batch".toCharArray()))));

        // A sensitive value is refused, and the template stays as it was.
        long sensitive = pkcs11.C_GenerateKey(session, new CK_MECHANISM(CKM_AES_KEY_GEN),
                RealModules.template(CKA_VALUE_LEN, 16L, CKA_TOKEN, false, CKA_SENSITIVE, true));
        CK_ATTRIBUTE marker = new CK_ATTRIBUTE(CKA_VALUE, "unchanged");
        CK_ATTRIBUTE[] secretTemplate = {marker};
        assertError(CKR_ATTRIBUTE_SENSITIVE, () -> pkcs11.C_GetAttributeValue(session, sensitive, secretTemplate));
        assertSame(marker, secretTemplate[0]);

        for (long handle : many) {
            pkcs11.C_DestroyObject(session, handle);
        }
        pkcs11.C_DestroyObject(session, copy);
        pkcs11.C_DestroyObject(session, original);
        assertArrayEquals(new long[0], RealModules.find(pkcs11, session, byApplication));
        assertError(CKR_OBJECT_HANDLE_INVALID, () -> RealModules.read(pkcs11, session, original, CKA_LABEL));
    }

    private static Set<Long> toSet(long[] handles) {
        Set<Long> set = new HashSet<>();
        for (long handle : handles) {
            assertTrue(set.add(handle), "no handle twice");
        }
        return set;
    }

    // ---- random data and sessions

    @Test
    void randomDataFillsTheCallersArray() throws Exception {
        pkcs11.C_SeedRandom(session, "some seed".getBytes(StandardCharsets.US_ASCII));
        byte[] first = new byte[4096];
        pkcs11.C_GenerateRandom(session, first);
        byte[] second = random(4096);
        assertFalse(Arrays.equals(first, second), "two draws differ");
        long values = IntStream.range(0, first.length).map(i -> first[i]).distinct().count();
        assertTrue(values > 200, "4096 random bytes take most of the 256 values: " + values);
        byte[] empty = new byte[0];
        pkcs11.C_GenerateRandom(session, empty);
    }

    @Test
    void sessionInformationFollowsLoginAndClose() throws Exception {
        CK_SESSION_INFO info = pkcs11.C_GetSessionInfo(session);
        assertEquals(slot, info.slotID);
        assertEquals(CKS_RW_USER_FUNCTIONS, info.state);
        assertEquals(CKF_SERIAL_SESSION | CKF_RW_SESSION, info.flags & (CKF_SERIAL_SESSION | CKF_RW_SESSION));

        long readOnly = pkcs11.C_OpenSession(slot, CKF_SERIAL_SESSION, null, null);
        assertNotEquals(session, readOnly);
        CK_SESSION_INFO roInfo = pkcs11.C_GetSessionInfo(readOnly);
        assertEquals(CKS_RO_USER_FUNCTIONS, roInfo.state, "the login holds for every session of the token");
        assertEquals(0, roInfo.flags & CKF_RW_SESSION);
        assertError(CKR_SESSION_READ_ONLY, () -> pkcs11.C_CreateObject(readOnly,
                RealModules.template(CKA_CLASS, CKO_DATA, CKA_TOKEN, true)));
        pkcs11.C_CloseSession(readOnly);
        assertError(CKR_SESSION_HANDLE_INVALID, () -> pkcs11.C_GetSessionInfo(readOnly));

        assertError(CKR_SLOT_ID_INVALID, () -> pkcs11.C_OpenSession(0x7FFF0001L, CKF_SERIAL_SESSION, null, null));
        assertError(CKR_SESSION_PARALLEL_NOT_SUPPORTED, () -> pkcs11.C_OpenSession(slot, 0, null, null));
    }

    @Test
    void severalSessionsFromSeveralThreadsAtOnce() throws Exception {
        long[] pair = rsaKeyPair(session, true);
        RSAPublicKey publicKey = rsaPublicKey(pair[0]);
        long aes = extractableAesKey(16, "threads");
        SecretKeySpec aesValue = RealModules.aes(RealModules.bytes(pkcs11, session, aes, CKA_VALUE));
        int threads = 4;
        int rounds = 15;
        ExecutorService pool = Executors.newFixedThreadPool(threads);
        CountDownLatch start = new CountDownLatch(1);
        try {
            List<Future<Long>> results = new ArrayList<>();
            for (int t = 0; t < threads; t++) {
                int thread = t;
                results.add(pool.submit(() -> {
                    long own = pkcs11.C_OpenSession(slot, CKF_SERIAL_SESSION, null, null);
                    start.await();
                    try {
                        for (int round = 0; round < rounds; round++) {
                            byte[] data = ("thread " + thread + " round " + round).getBytes(StandardCharsets.US_ASCII);
                            pkcs11.C_SignInit(own, new CK_MECHANISM(CKM_SHA256_RSA_PKCS), pair[1]);
                            byte[] signature = pkcs11.C_Sign(own, data);
                            assertTrue(RealModules.jdkVerifies("SHA256withRSA", publicKey, data, signature),
                                    "thread " + thread + " round " + round);

                            pkcs11.C_DigestInit(own, new CK_MECHANISM(CKM_SHA256));
                            assertArrayEquals(MessageDigest.getInstance("SHA-256").digest(data), pkcs11.C_Digest(own, data));

                            byte[] iv = new byte[16];
                            iv[0] = (byte) thread;
                            iv[1] = (byte) round;
                            pkcs11.C_EncryptInit(own, new CK_MECHANISM(CKM_AES_CBC_PAD, iv), aes);
                            byte[] encrypted = pkcs11.C_Encrypt(own, data);
                            assertArrayEquals(RealModules.jdkCipher("AES/CBC/PKCS5Padding", Cipher.ENCRYPT_MODE, aesValue,
                                    new IvParameterSpec(iv)).doFinal(data), encrypted);
                        }
                        assertEquals(slot, pkcs11.C_GetSessionInfo(own).slotID);
                    } finally {
                        pkcs11.C_CloseSession(own);
                    }
                    return own;
                }));
            }
            start.countDown();
            Set<Long> sessions = new HashSet<>();
            for (Future<Long> result : results) {
                sessions.add(result.get(300, TimeUnit.SECONDS));
            }
            assertEquals(threads, sessions.size(), "each thread had a session of its own");
        } finally {
            pool.shutdownNow();
        }
        pkcs11.C_DestroyObject(session, pair[0]);
        pkcs11.C_DestroyObject(session, pair[1]);
    }
}
