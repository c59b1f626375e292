package zandrop.tesk.pkcs11.vorlen.api;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.*;

import java.util.Arrays;
import java.util.List;

import org.junit.jupiter.api.Test;

import zandrop.tesk.pkcs11.vorlen.testmodule.Call;

/**
 * Whole operations against the test module, whose transforms echo their input: multi-part
 * encryption and decryption, signing and verification, the dual-function updates, and a long
 * run of every wrapper after which the library holds no more native memory than before.
 */
class CryptoOperationsTest extends ConnectedToTestModule {
    private static final long SESSION = 5;
    private static final long KEY = 100;

    private static byte[] data(int n) {
        return Platform.counting(n, 3, 7);
    }

    @Test
    void multiPartEncryptionAndDecryptionRoundTrip() throws Exception {
        byte[] plain = data(1000);
        byte[] iv = Arrays.copyOf(data(16), 16);
        byte[] padding = data(16);
        module.setDefault("C_EncryptFinal", "out=" + Platform.hex(padding));
        module.setDefault("C_DecryptFinal", "out=");
        module.clear();  // the record starts after connecting

        pkcs11.C_EncryptInit(SESSION, new CK_MECHANISM(CKM_AES_CBC_PAD, iv), KEY);
        byte[] cipher = Platform.concat(pkcs11.C_EncryptUpdate(SESSION, Arrays.copyOfRange(plain, 0, 300)),
                pkcs11.C_EncryptUpdate(SESSION, Arrays.copyOfRange(plain, 300, 1000)),
                pkcs11.C_EncryptFinal(SESSION));
        assertArrayEquals(Platform.concat(plain, padding), cipher);

        pkcs11.C_DecryptInit(SESSION, new CK_MECHANISM(CKM_AES_CBC_PAD, iv), KEY);
        byte[] recovered = Platform.concat(pkcs11.C_DecryptUpdate(SESSION, Arrays.copyOfRange(cipher, 0, 1000)),
                pkcs11.C_DecryptFinal(SESSION));
        assertArrayEquals(plain, recovered);
        assertEquals(List.of("C_EncryptInit", "C_EncryptUpdate", "C_EncryptUpdate", "C_EncryptUpdate",
                "C_EncryptUpdate", "C_EncryptFinal", "C_EncryptFinal", "C_DecryptInit", "C_DecryptUpdate",
                "C_DecryptUpdate", "C_DecryptFinal", "C_DecryptFinal"), module.calls().stream().map(Call::function).toList());
        assertArrayEquals(iv, module.last("C_DecryptInit").bytes("pParameter"));

        byte[] single = pkcs11.C_Encrypt(SESSION, plain);
        assertArrayEquals(plain, pkcs11.C_Decrypt(SESSION, single));
    }

    @Test
    void multiPartSignatureIsVerifiedWithTheSameParts() throws Exception {
        CK_MECHANISM pss = new CK_MECHANISM(CKM_SHA256_RSA_PKCS_PSS,
                new CK_RSA_PKCS_PSS_PARAMS(CKM_SHA256, CKG_MGF1_SHA256, 32));
        byte[][] parts = {data(10), data(500), new byte[0]};
        pkcs11.C_SignInit(SESSION, pss, KEY);
        for (byte[] part : parts) {
            pkcs11.C_SignUpdate(SESSION, part);
        }
        byte[] signature = pkcs11.C_SignFinal(SESSION);
        assertEquals(64, signature.length);

        pkcs11.C_VerifyInit(SESSION, pss, KEY + 1);
        for (byte[] part : parts) {
            pkcs11.C_VerifyUpdate(SESSION, part);
        }
        pkcs11.C_VerifyFinal(SESSION, signature);
        assertArrayEquals(signature, module.last("C_VerifyFinal").bytes("pSignature"));
        List<Call> updates = module.calls("C_VerifyUpdate");
        for (int i = 0; i < parts.length; i++) {
            assertArrayEquals(parts[i], updates.get(i).bytes("pPart"));
        }
        assertArrayEquals(module.last("C_SignInit").bytes("pParameter"), module.last("C_VerifyInit").bytes("pParameter"));

        assertModuleError("C_VerifyFinal", CKR_SIGNATURE_INVALID, () -> pkcs11.C_VerifyFinal(SESSION, new byte[64]));
    }

    @Test
    void dualFunctionUpdatesCarryTheirPartsThrough() throws Exception {
        byte[] part = data(40);
        pkcs11.C_DigestInit(SESSION, new CK_MECHANISM(CKM_SHA256));
        pkcs11.C_EncryptInit(SESSION, new CK_MECHANISM(CKM_AES_ECB), KEY);
        byte[] encrypted = pkcs11.C_DigestEncryptUpdate(SESSION, part);
        assertArrayEquals(part, encrypted);
        assertEquals(32, pkcs11.C_DigestFinal(SESSION).length);

        pkcs11.C_DecryptInit(SESSION, new CK_MECHANISM(CKM_AES_ECB), KEY);
        pkcs11.C_DigestInit(SESSION, new CK_MECHANISM(CKM_SHA256));
        assertArrayEquals(part, pkcs11.C_DecryptDigestUpdate(SESSION, encrypted));

        pkcs11.C_SignInit(SESSION, new CK_MECHANISM(CKM_SHA256_HMAC), KEY);
        pkcs11.C_EncryptInit(SESSION, new CK_MECHANISM(CKM_AES_ECB), KEY);
        assertArrayEquals(part, pkcs11.C_SignEncryptUpdate(SESSION, part));

        pkcs11.C_DecryptInit(SESSION, new CK_MECHANISM(CKM_AES_ECB), KEY);
        pkcs11.C_VerifyInit(SESSION, new CK_MECHANISM(CKM_SHA256_HMAC), KEY);
        assertArrayEquals(part, pkcs11.C_DecryptVerifyUpdate(SESSION, part));
        for (String fn : List.of("C_DigestEncryptUpdate", "C_DecryptDigestUpdate", "C_SignEncryptUpdate",
                "C_DecryptVerifyUpdate")) {
            assertEquals(2, module.count(fn), fn);
        }
    }

    @Test
    void signatureRecoveryRoundTrip() throws Exception {
        byte[] message = data(20);
        pkcs11.C_SignRecoverInit(SESSION, new CK_MECHANISM(CKM_RSA_PKCS), KEY);
        byte[] signature = pkcs11.C_SignRecover(SESSION, message);
        pkcs11.C_VerifyRecoverInit(SESSION, new CK_MECHANISM(CKM_RSA_PKCS), KEY);
        assertArrayEquals(message, pkcs11.C_VerifyRecover(SESSION, signature));
    }

    /** One round of every wrapper, successful, failing in the module, and failing before it. */
    private void everyWrapper() throws Exception {
        CK_MECHANISM oaep = new CK_MECHANISM(CKM_RSA_PKCS_OAEP, new CK_RSA_PKCS_OAEP_PARAMS(CKM_SHA_1, 1, 1, data(9)));
        byte[] big = data(700);
        pkcs11.C_EncryptInit(SESSION, oaep, KEY);
        pkcs11.C_Encrypt(SESSION, big);
        pkcs11.C_EncryptUpdate(SESSION, data(3));
        pkcs11.C_EncryptFinal(SESSION);
        pkcs11.C_DecryptInit(SESSION, oaep, KEY);
        pkcs11.C_Decrypt(SESSION, big);
        pkcs11.C_DecryptUpdate(SESSION, null);
        pkcs11.C_DecryptFinal(SESSION);
        pkcs11.C_DigestInit(SESSION, new CK_MECHANISM(CKM_SHA256));
        pkcs11.C_Digest(SESSION, big);
        pkcs11.C_DigestUpdate(SESSION, big);
        pkcs11.C_DigestKey(SESSION, KEY);
        pkcs11.C_DigestFinal(SESSION);
        pkcs11.C_SignInit(SESSION, new CK_MECHANISM(CKM_SHA256_RSA_PKCS_PSS, new CK_RSA_PKCS_PSS_PARAMS(1, 2, 3)), KEY);
        module.script("C_Sign", "out=" + Platform.hex(data(400)) + " times=2");
        pkcs11.C_Sign(SESSION, big);
        pkcs11.C_SignUpdate(SESSION, big);
        pkcs11.C_SignFinal(SESSION);
        pkcs11.C_SignRecoverInit(SESSION, new CK_MECHANISM(CKM_RSA_PKCS, Long.valueOf(4)), KEY);
        pkcs11.C_SignRecover(SESSION, big);
        pkcs11.C_VerifyInit(SESSION, new CK_MECHANISM(CKM_RSA_PKCS, new CK_VERSION(1, 2)), KEY);
        pkcs11.C_Verify(SESSION, big, big);
        pkcs11.C_VerifyUpdate(SESSION, big);
        pkcs11.C_VerifyFinal(SESSION, big);
        pkcs11.C_VerifyRecoverInit(SESSION, new CK_MECHANISM(CKM_RSA_PKCS, "text"), KEY);
        pkcs11.C_VerifyRecover(SESSION, big);
        pkcs11.C_DigestEncryptUpdate(SESSION, big);
        pkcs11.C_DecryptDigestUpdate(SESSION, big);
        pkcs11.C_SignEncryptUpdate(SESSION, big);
        pkcs11.C_DecryptVerifyUpdate(SESSION, big);

        CK_ATTRIBUTE[] template = {new CK_ATTRIBUTE(CKA_LABEL, "key".toCharArray()), new CK_ATTRIBUTE(CKA_TOKEN, true)};
        module.script("C_GenerateKey", "pbeIv=0102030405060708");
        pkcs11.C_GenerateKey(SESSION, new CK_MECHANISM(CKM_PBE_MD5_DES_CBC,
                new CK_PBE_PARAMS(new char[8], "pw".toCharArray(), "salt".toCharArray(), 1000)), template);
        pkcs11.C_GenerateKeyPair(SESSION, new CK_MECHANISM(CKM_RSA_PKCS_KEY_PAIR_GEN), template, template);
        pkcs11.C_WrapKey(SESSION, new CK_MECHANISM(CKM_KEY_WRAP_SET_OAEP,
                new CK_KEY_WRAP_SET_OAEP_PARAMS((byte) 1, data(8))), KEY, KEY + 1);
        module.script("C_UnwrapKey", "oaepBC=2 oaepX=0102");
        pkcs11.C_UnwrapKey(SESSION, new CK_MECHANISM(CKM_KEY_WRAP_SET_OAEP,
                new CK_KEY_WRAP_SET_OAEP_PARAMS((byte) 1, data(8))), KEY, big, template);
        module.script("C_DeriveKey", "sslVersion=3.0");
        pkcs11.C_DeriveKey(SESSION, new CK_MECHANISM(CKM_SSL3_MASTER_KEY_DERIVE,
                new CK_SSL3_MASTER_KEY_DERIVE_PARAMS(new CK_SSL3_RANDOM_DATA(data(32), data(32)), new CK_VERSION())),
                KEY, template);
        module.script("C_DeriveKey", "sslKeyMat=1,2,3,4 sslIvClient=0102030405060708 sslIvServer=0807060504030201");
        pkcs11.C_DeriveKey(SESSION, new CK_MECHANISM(CKM_SSL3_KEY_AND_MAC_DERIVE,
                new CK_SSL3_KEY_MAT_PARAMS(128, 128, 64, false, new CK_SSL3_RANDOM_DATA(data(32), data(32)),
                        new CK_SSL3_KEY_MAT_OUT(0, 0, 0, 0, new byte[8], new byte[8]))), KEY, template);
        pkcs11.C_SeedRandom(SESSION, big);
        pkcs11.C_GenerateRandom(SESSION, new byte[64]);
        assertThrows(PKCS11Exception.class, () -> pkcs11.C_GetFunctionStatus(SESSION));
        assertThrows(PKCS11Exception.class, () -> pkcs11.C_CancelFunction(SESSION));

        // Failures in the module, after conversions that allocated.
        module.script("C_EncryptInit", "rv=" + CKR_MECHANISM_PARAM_INVALID);
        assertThrows(PKCS11Exception.class, () -> pkcs11.C_EncryptInit(SESSION, oaep, KEY));
        module.script("C_Encrypt", "out=01");
        module.script("C_Encrypt", "rv=" + CKR_DEVICE_ERROR);
        assertThrows(PKCS11Exception.class, () -> pkcs11.C_Encrypt(SESSION, big));
        module.script("C_GenerateKey", "rv=" + CKR_TEMPLATE_INCONSISTENT + " pbeIv=0102030405060708");
        assertThrows(PKCS11Exception.class, () -> pkcs11.C_GenerateKey(SESSION, new CK_MECHANISM(CKM_PBE_MD5_DES_CBC,
                new CK_PBE_PARAMS(new char[8], "pw".toCharArray(), "salt".toCharArray(), 1000)), template));
        module.script("C_GenerateKeyPair", "rv=" + CKR_TEMPLATE_INCONSISTENT);
        assertThrows(PKCS11Exception.class, () -> pkcs11.C_GenerateKeyPair(SESSION, oaep, template, template));

        // Failures before the module, halfway through a conversion.
        CK_ATTRIBUTE[] bad = {new CK_ATTRIBUTE(CKA_LABEL, "x"), new CK_ATTRIBUTE(CKA_VALUE, new Object())};
        assertThrows(PKCS11RuntimeException.class, () -> pkcs11.C_GenerateKeyPair(SESSION, oaep, template, bad));
        assertThrows(PKCS11RuntimeException.class, () -> pkcs11.C_UnwrapKey(SESSION, oaep, KEY, big, bad));
        assertThrows(NullPointerException.class, () -> pkcs11.C_DeriveKey(SESSION, new CK_MECHANISM(
                CKM_SSL3_KEY_AND_MAC_DERIVE, new CK_SSL3_KEY_MAT_PARAMS(1, 1, 64, false,
                        new CK_SSL3_RANDOM_DATA(data(32), data(32)), null)), KEY, template));
        module.clear();
    }

    @Test
    void aLongRunOfEveryWrapperLeavesNoNativeMemoryBehind() throws Exception {
        everyWrapper();  // the first round may load what stays loaded
        long blocks = PKCS11Impl.heapBlockCount();
        long references = PKCS11Impl.globalReferenceCount();
        for (int i = 0; i < 300; i++) {
            everyWrapper();
        }
        assertEquals(blocks, PKCS11Impl.heapBlockCount(), "heap blocks");
        assertEquals(references, PKCS11Impl.globalReferenceCount(), "global references");
    }
}
