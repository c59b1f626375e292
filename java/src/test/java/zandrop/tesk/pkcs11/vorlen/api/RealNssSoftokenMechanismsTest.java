package zandrop.tesk.pkcs11.vorlen.api;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.*;

import java.nio.ByteBuffer;
import java.security.KeyPair;
import java.security.MessageDigest;
import java.security.interfaces.ECPublicKey;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;

import javax.crypto.Cipher;
import javax.crypto.spec.IvParameterSpec;

import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.EnumSource;
import zandrop.tesk.pkcs11.vorlen.token.TestCertificates;

/**
 * The newer mechanisms against NSS's softoken, on a fresh database in the test's temporary
 * folder, with the JDK as the oracle: AES-GCM in both layouts of its parameter,
 * ChaCha20-Poly1305 with additional data, AES-CTR, ECDH with a key derivation function and shared
 * data.
 */
class RealNssSoftokenMechanismsTest extends RealModules.NssSuite {
    RealNssSoftokenMechanismsTest() {
        super("nssdb-mechanisms");
    }

    private static byte[] data(int length) {
        return Platform.counting(length, 1, 5);
    }

    private static CK_ATTRIBUTE[] readableSecret(long keyType, long length) {
        return RealModules.readable(keyType, new CK_ATTRIBUTE(CKA_VALUE_LEN, length), new CK_ATTRIBUTE(CKA_ENCRYPT, true),
                new CK_ATTRIBUTE(CKA_DECRYPT, true));
    }

    // ---- ECDH with a key derivation function

    /** The key derivation function of ANSI X9.63 with SHA-256. */
    private static byte[] x963Sha256(byte[] z, byte[] sharedInfo, int length) throws Exception {
        byte[] out = new byte[length];
        for (int counter = 1, done = 0; done < length; counter++, done += 32) {
            MessageDigest sha = MessageDigest.getInstance("SHA-256");
            sha.update(z);
            sha.update(new byte[] {0, 0, 0, (byte) counter});
            sha.update(sharedInfo);
            System.arraycopy(sha.digest(), 0, out, done, Math.min(32, length - done));
        }
        return out;
    }

    @Test
    void ecdhWithKdfAndSharedDataAgreesWithTheJdk() throws Exception {
        long[] pair = pkcs11.C_GenerateKeyPair(session, new CK_MECHANISM(CKM_EC_KEY_PAIR_GEN),
                RealModules.template(CKA_TOKEN, false, CKA_EC_PARAMS, RealModules.P256_PARAMS),
                RealModules.template(CKA_TOKEN, false, CKA_PRIVATE, true, CKA_DERIVE, true));
        ECPublicKey tokenPublic = RealModules.ecPublicKey(RealModules.bytes(pkcs11, session, pair[0], CKA_EC_POINT));
        KeyPair jdkPair = TestCertificates.jdkPair("secp256r1");
        byte[] z = RealModules.jdkAgreed("ECDH", jdkPair.getPrivate(), tokenPublic);

        // 40 bytes: two rounds of the KDF, so that its counter is exercised.
        byte[] sharedInfo = data(11);
        CK_ECDH1_DERIVE_PARAMS params = new CK_ECDH1_DERIVE_PARAMS(CKD_SHA256_KDF, sharedInfo,
                RealModules.uncompressed((ECPublicKey) jdkPair.getPublic()));
        long secret = pkcs11.C_DeriveKey(session, new CK_MECHANISM(CKM_ECDH1_DERIVE, params), pair[1],
                readableSecret(CKK_GENERIC_SECRET, 40));
        assertArrayEquals(x963Sha256(z, sharedInfo, 40), RealModules.bytes(pkcs11, session, secret, CKA_VALUE));
    }

    private long readableKey(long generator, long keyType, long length) throws PKCS11Exception {
        return pkcs11.C_GenerateKey(session, new CK_MECHANISM(generator), readableSecret(keyType, length));
    }

    private byte[] value(long key) throws PKCS11Exception {
        return RealModules.bytes(pkcs11, session, key, CKA_VALUE);
    }

    private byte[] encrypt(CK_MECHANISM mechanism, long key, byte[] plain) throws PKCS11Exception {
        pkcs11.C_EncryptInit(session, mechanism, key);
        return pkcs11.C_Encrypt(session, plain);
    }

    /*
     * The softoken's (NSS 3.87) size query of C_Encrypt leaves the AEAD tag out and a buffer of
     * that size ends the operation with CKR_BUFFER_TOO_SMALL; the byte[] form of C_Encrypt offers
     * 16 bytes more than reported, so it seals all the same. The ByteBuffer forms let the caller
     * give the room itself: data plus tag to seal, the sealed length to open.
     */

    private byte[] seal(CK_MECHANISM mechanism, long key, byte[] plain, int tagBytes) throws PKCS11Exception {
        pkcs11.C_EncryptInit(session, mechanism, key);
        ByteBuffer out = ByteBuffer.allocateDirect(plain.length + tagBytes);
        int written = pkcs11.C_Encrypt(session, ByteBuffer.wrap(plain), out);
        byte[] sealed = new byte[written];
        out.flip().get(sealed);
        return sealed;
    }

    private byte[] open(CK_MECHANISM mechanism, long key, byte[] sealed) throws PKCS11Exception {
        pkcs11.C_DecryptInit(session, mechanism, key);
        ByteBuffer out = ByteBuffer.allocate(sealed.length);
        int written = pkcs11.C_Decrypt(session, ByteBuffer.wrap(sealed), out);
        return Arrays.copyOf(out.array(), written);
    }

    // ---- AES-GCM (the softoken reads either layout, told apart by the parameter's length) and
    // ChaCha20-Poly1305, both with additional data, against the JDK

    @ParameterizedTest
    @EnumSource(RealModules.Aead.class)
    void aeadMatchesTheJdk(RealModules.Aead aead) throws Exception {
        boolean gcm = aead == RealModules.Aead.AES_GCM;
        long key = readableKey(gcm ? CKM_AES_KEY_GEN : CKM_CHACHA20_KEY_GEN, aead.keyType, aead.keyLength);
        byte[] iv = data(12);
        byte[] aad = data(gcm ? 9 : 13);
        int tagBits = gcm ? 96 : 128;
        List<CK_MECHANISM> layouts = new ArrayList<>();
        if (gcm) {
            layouts.add(new CK_MECHANISM(CKM_AES_GCM, new CK_GCM_PARAMS(iv, 96, aad, tagBits)));
            // OpenSC's spy logs every CKM_AES_GCM parameter as the layout with ulIvBits: it takes the
            // older layout's ulAADLen for pAAD and dies reading it. That layout is not sent through it.
            if (!RealModules.spied("softokn")) {
                layouts.add(new CK_MECHANISM(CKM_AES_GCM, new CK_GCM_PARAMS_WITHOUT_IV_BITS(iv, aad, tagBits)));
            }
        } else {
            layouts.add(new CK_MECHANISM(CKM_CHACHA20_POLY1305, new CK_SALSA20_CHACHA20_POLY1305_PARAMS(iv, aad)));
        }
        for (CK_MECHANISM m : layouts) {
            PKCS11Exception refused = RealModules.aeadMatchesTheJdk(aead, value(key), iv, tagBits, aad, data(70),
                    plain -> seal(m, key, plain, tagBits / 8), sealed -> open(m, key, sealed));
            assertEquals(CKR_ENCRYPTED_DATA_INVALID, refused.getErrorCode(), m.toString());
        }
        // The byte[] form, its tag included.
        RealModules.aeadMatchesTheJdk(aead, value(key), iv, tagBits, aad, data(77),
                plain -> encrypt(layouts.get(0), key, plain), sealed -> open(layouts.get(0), key, sealed));
    }

    // ---- AES-CTR

    @Test
    void aesCtrMatchesTheJdk() throws Exception {
        long key = readableKey(CKM_AES_KEY_GEN, CKK_AES, 32);
        byte[] cb = data(16);
        cb[12] = cb[13] = cb[14] = 0;
        cb[15] = 1;
        byte[] plain = data(45);
        byte[] expected = RealModules.jdkCipher("AES/CTR/NoPadding", Cipher.ENCRYPT_MODE, RealModules.aes(value(key)),
                new IvParameterSpec(cb)).doFinal(plain);
        CK_MECHANISM ctr = new CK_MECHANISM(CKM_AES_CTR, new CK_AES_CTR_PARAMS(32, cb));
        assertArrayEquals(expected, encrypt(ctr, key, plain));
        pkcs11.C_DecryptInit(session, ctr, key);
        assertArrayEquals(plain, pkcs11.C_Decrypt(session, expected));
    }
}
