package zandrop.tesk.pkcs11.vorlen.api;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.*;

import java.security.KeyFactory;
import java.security.PublicKey;
import java.security.spec.X509EncodedKeySpec;
import java.util.Arrays;
import java.util.HexFormat;

import java.io.ByteArrayOutputStream;

import javax.crypto.Cipher;
import javax.crypto.spec.IvParameterSpec;

import org.junit.jupiter.api.Test;

/**
 * The newer mechanisms against SoftHSM2, on a fresh token in a temporary folder, with the JDK as
 * the oracle: AES-GCM, AES-CTR, AES-CMAC, AES key wrap with padding, the derivation by
 * AES-CBC encryption of data, EdDSA on Ed25519.
 */
class RealSoftHsmMechanismsTest extends RealModules.SoftHsmSuite {
    /** DER of the object identifier of Ed25519 (1.3.101.112), as CKA_EC_PARAMS holds it. */
    private static final byte[] ED25519_PARAMS = HexFormat.of().parseHex("06032b6570");

    RealSoftHsmMechanismsTest() {
        super("vorlen mechanisms");
    }

    private long readableKey(long generator, long keyType, int bytes) throws PKCS11Exception {
        return RealModules.readableKey(pkcs11, session, generator, keyType, bytes);
    }

    private byte[] value(long key) throws PKCS11Exception {
        return RealModules.bytes(pkcs11, session, key, CKA_VALUE);
    }

    private static byte[] data(int length) {
        return Platform.counting(length, 3, 7);
    }

    /** Encrypts in one part, or in parts of {@code part} bytes with the final part last. */
    private byte[] encrypt(CK_MECHANISM mechanism, long key, byte[] plain, int part) throws PKCS11Exception {
        pkcs11.C_EncryptInit(session, mechanism, key);
        return part == 0 ? pkcs11.C_Encrypt(session, plain)
                : inParts(plain, part, pkcs11::C_EncryptUpdate, pkcs11::C_EncryptFinal);
    }

    private byte[] decrypt(CK_MECHANISM mechanism, long key, byte[] cipher, int part) throws PKCS11Exception {
        pkcs11.C_DecryptInit(session, mechanism, key);
        return part == 0 ? pkcs11.C_Decrypt(session, cipher)
                : inParts(cipher, part, pkcs11::C_DecryptUpdate, pkcs11::C_DecryptFinal);
    }

    interface Update {
        byte[] apply(long session, byte[] part) throws PKCS11Exception;
    }

    interface Final {
        byte[] apply(long session) throws PKCS11Exception;
    }

    private byte[] inParts(byte[] input, int part, Update update, Final last) throws PKCS11Exception {
        ByteArrayOutputStream out = new ByteArrayOutputStream();
        for (int from = 0; from < input.length; from += part) {
            out.writeBytes(update.apply(session, Arrays.copyOfRange(input, from, Math.min(input.length, from + part))));
        }
        out.writeBytes(last.apply(session));
        return out.toByteArray();
    }

    // ---- AES-GCM

    @Test
    void aesGcmWithAndWithoutAadInOneAndManyPartsMatchesTheJdk() throws Exception {
        long key = readableKey(CKM_AES_KEY_GEN, CKK_AES, 32);
        for (byte[] aad : new byte[][] {null, data(20)}) {
            for (int tagBits : new int[] {96, 128}) {
                for (int part : new int[] {0, 16, 33}) {
                    byte[] iv = data(12);
                    iv[0] = (byte) (tagBits + part);
                    CK_MECHANISM gcm = new CK_MECHANISM(CKM_AES_GCM, new CK_GCM_PARAMS(iv, 0, aad, tagBits));
                    System.out.println("AAD " + (aad == null ? "none" : aad.length) + ", tag " + tagBits + ", parts of " + part);
                    RealModules.aeadMatchesTheJdk(RealModules.Aead.AES_GCM, value(key), iv, tagBits, aad, data(100),
                            plain -> encrypt(gcm, key, plain, part), sealed -> decrypt(gcm, key, sealed, part));
                }
            }
        }
    }

    // ---- AES-CTR

    @Test
    void aesCtrCarriesItsCounterAcrossBytesAsTheJdkDoes() throws Exception {
        long key = readableKey(CKM_AES_KEY_GEN, CKK_AES, 16);
        // The low 64 bits of the counter block wrap after the first block: the carry runs into
        // the upper half, within the 128 counter bits.
        byte[] cb = HexFormat.of().parseHex("0011223344556677ffffffffffffffff");
        byte[] plain = data(50);
        byte[] expected = RealModules.jdkCipher("AES/CTR/NoPadding", Cipher.ENCRYPT_MODE, RealModules.aes(value(key)),
                new IvParameterSpec(cb)).doFinal(plain);
        for (int part : new int[] {0, 7}) {
            CK_MECHANISM ctr = new CK_MECHANISM(CKM_AES_CTR, new CK_AES_CTR_PARAMS(128, cb));
            assertArrayEquals(expected, encrypt(ctr, key, plain, part), "parts of " + part);
            assertArrayEquals(plain, decrypt(ctr, key, expected, part), "parts of " + part);
        }
    }

    // ---- derivation by encryption of data

    @Test
    void aesCbcEncryptDataDerivesTheJdksCiphertext() throws Exception {
        long base = readableKey(CKM_AES_KEY_GEN, CKK_AES, 32);
        byte[] iv = data(16);
        byte[] input = HexFormat.of().parseHex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");
        CK_ATTRIBUTE[] template = RealModules.readable(CKK_AES, new CK_ATTRIBUTE(CKA_VALUE_LEN, 32L));
        long derived = pkcs11.C_DeriveKey(session, new CK_MECHANISM(CKM_AES_CBC_ENCRYPT_DATA,
                new CK_AES_CBC_ENCRYPT_DATA_PARAMS(iv, input)), base, template);
        assertArrayEquals(RealModules.jdkCipher("AES/CBC/NoPadding", Cipher.ENCRYPT_MODE, RealModules.aes(value(base)),
                new IvParameterSpec(iv)).doFinal(input), value(derived));
    }

    // ---- AES-CMAC

    /** AES-CMAC of RFC 4493, computed with the JDK's AES. */
    private static byte[] cmac(byte[] key, byte[] message) throws Exception {
        Cipher aes = RealModules.jdkCipher("AES/ECB/NoPadding", Cipher.ENCRYPT_MODE, RealModules.aes(key), null);
        byte[] k1 = doubled(aes.doFinal(new byte[16]));
        byte[] k2 = doubled(k1);
        int blocks = Math.max(1, (message.length + 15) / 16);
        boolean complete = message.length > 0 && message.length % 16 == 0;
        byte[] last = new byte[16];
        int lastStart = (blocks - 1) * 16;
        System.arraycopy(message, lastStart, last, 0, message.length - lastStart);
        if (!complete) {
            last[message.length - lastStart] = (byte) 0x80;
        }
        byte[] subkey = complete ? k1 : k2;
        byte[] x = new byte[16];
        for (int b = 0; b < blocks; b++) {
            for (int i = 0; i < 16; i++) {
                x[i] ^= b == blocks - 1 ? (byte) (last[i] ^ subkey[i]) : message[b * 16 + i];
            }
            x = aes.doFinal(x);
        }
        return x;
    }

    private static byte[] doubled(byte[] block) {
        byte[] out = new byte[16];
        for (int i = 0; i < 16; i++) {
            out[i] = (byte) ((block[i] << 1) | (i < 15 ? (block[i + 1] & 0xFF) >>> 7 : 0));
        }
        if ((block[0] & 0x80) != 0) {
            out[15] ^= (byte) 0x87;
        }
        return out;
    }

    @Test
    void aesCmacInOneAndManyPartsMatchesRfc4493() throws Exception {
        // The oracle itself, on the first example of RFC 4493.
        byte[] rfcKey = HexFormat.of().parseHex("2b7e151628aed2a6abf7158809cf4f3c");
        assertArrayEquals(HexFormat.of().parseHex("bb1d6929e95937287fa37d129b756746"), cmac(rfcKey, new byte[0]));

        long key = readableKey(CKM_AES_KEY_GEN, CKK_AES, 32);
        for (int length : new int[] {0, 16, 40}) {
            byte[] message = data(length);
            byte[] expected = cmac(value(key), message);
            pkcs11.C_SignInit(session, new CK_MECHANISM(CKM_AES_CMAC), key);
            assertArrayEquals(expected, pkcs11.C_Sign(session, message), "one part, " + length + " bytes");
            pkcs11.C_SignInit(session, new CK_MECHANISM(CKM_AES_CMAC), key);
            for (int from = 0; from < length; from += 7) {
                pkcs11.C_SignUpdate(session, Arrays.copyOfRange(message, from, Math.min(length, from + 7)));
            }
            assertArrayEquals(expected, pkcs11.C_SignFinal(session), "many parts, " + length + " bytes");
        }
        pkcs11.C_VerifyInit(session, new CK_MECHANISM(CKM_AES_CMAC), key);
        byte[] wrong = cmac(value(key), data(5));
        wrong[0] ^= 1;
        ConnectedToTestModule.assertError(CKR_SIGNATURE_INVALID, () -> pkcs11.C_Verify(session, data(5), wrong));
    }

    // ---- AES key wrap with padding (RFC 5649)

    @Test
    void aesKeyWrapWithPaddingMatchesTheJdkAndUnwraps() throws Exception {
        long kek = readableKey(CKM_AES_KEY_GEN, CKK_AES, 16);
        // SoftHSM2 fills a key value up to a multiple of 8 bytes with zeros before it wraps it
        // (RFC 5649 would pad by itself), so the key wrapped here has 24 bytes: the wrap differs
        // from that of RFC 3394 in its initial value, which holds the length.
        long target = readableKey(CKM_GENERIC_SECRET_KEY_GEN, CKK_GENERIC_SECRET, 24);
        byte[] wrapped = pkcs11.C_WrapKey(session, new CK_MECHANISM(CKM_AES_KEY_WRAP_PAD), kek, target);

        assertArrayEquals(RealModules.jdkCipher("AES/KWP/NoPadding", Cipher.ENCRYPT_MODE, RealModules.aes(value(kek)), null)
                .doFinal(value(target)), wrapped, "the JDK wraps to the same bytes");

        CK_ATTRIBUTE[] template = RealModules.readable(CKK_GENERIC_SECRET);
        long unwrapped = pkcs11.C_UnwrapKey(session, new CK_MECHANISM(CKM_AES_KEY_WRAP_PAD), kek, wrapped, template);
        assertArrayEquals(value(target), value(unwrapped));
    }

    // ---- EdDSA

    /** The JDK's Ed25519 key for a CKA_EC_POINT: the 32 bytes, raw or in a DER octet string. */
    private PublicKey ed25519PublicKey(long publicKey) throws Exception {
        byte[] point = RealModules.bytes(pkcs11, session, publicKey, CKA_EC_POINT);
        if (point.length == 34 && point[0] == 0x04 && point[1] == 32) {
            point = Arrays.copyOfRange(point, 2, 34);
        }
        assertEquals(32, point.length, "an Ed25519 public key has 32 bytes");
        byte[] spki = HexFormat.of().parseHex("302a300506032b6570032100" + HexFormat.of().formatHex(point));
        return KeyFactory.getInstance("Ed25519").generatePublic(new X509EncodedKeySpec(spki));
    }

    private void assertEd25519Verifies(PublicKey key, byte[] message, byte[] signature) throws Exception {
        assertEquals(64, signature.length);
        assertTrue(RealModules.jdkVerifies("Ed25519", key, message, signature), "the JDK's Ed25519 accepts the token's signature");
    }

    @Test
    void ed25519SignaturesVerifyWithTheJdk() throws Exception {
        long[] pair = RealModules.signingKeyPair(pkcs11, session, CKM_EC_EDWARDS_KEY_PAIR_GEN, ED25519_PARAMS);
        assertEquals(CKK_EC_EDWARDS, RealModules.read(pkcs11, session, pair[0], CKA_KEY_TYPE)[0].getLong());
        PublicKey publicKey = ed25519PublicKey(pair[0]);
        byte[] message = data(1000);
        pkcs11.C_SignInit(session, new CK_MECHANISM(CKM_EDDSA), pair[1]);
        assertEd25519Verifies(publicKey, message, pkcs11.C_Sign(session, message));
        // The parameter of plain Ed25519: not pre-hashed, no context.
        pkcs11.C_SignInit(session, new CK_MECHANISM(CKM_EDDSA, new CK_EDDSA_PARAMS(false, null)), pair[1]);
        assertEd25519Verifies(publicKey, message, pkcs11.C_Sign(session, message));
    }
}
