package zandrop.tesk.pkcs11.vorlen.api;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.*;
import static zandrop.tesk.pkcs11.vorlen.api.ParameterLayout.BYTE;
import static zandrop.tesk.pkcs11.vorlen.api.ParameterLayout.POINTER;
import static zandrop.tesk.pkcs11.vorlen.api.ParameterLayout.SSL3_RANDOM_DATA;
import static zandrop.tesk.pkcs11.vorlen.api.ParameterLayout.ULONG;
import static zandrop.tesk.pkcs11.vorlen.api.ParameterLayout.bytes;
import static zandrop.tesk.pkcs11.vorlen.api.ParameterLayout.sizeof;

import java.util.Arrays;

import org.junit.jupiter.api.Test;

import zandrop.tesk.pkcs11.vorlen.testmodule.Call;
import zandrop.tesk.pkcs11.vorlen.testmodule.TestModule;

/**
 * The native record that a module receives for each of the twenty parameter classes, field by
 * field, as the test module decodes it, with the record's size on this platform.
 */
class ParameterRecordTest extends DecodedParameters {
    @Test
    void rsaOaepKeepsTheLowBitsOfItsNumbersAndCopiesTheSourceData() throws Exception {
        int size = sizeof(ULONG, ULONG, ULONG, POINTER, ULONG);
        Call call = sent("CK_RSA_PKCS_OAEP_PARAMS",
                new CK_RSA_PKCS_OAEP_PARAMS(CKM_SHA_1, HIGH | CKG_MGF1_SHA1, CKZ_DATA_SPECIFIED, run(1, 5)), size);
        assertNum(CKM_SHA_1, call, "hashAlg");
        assertNum(Platform.ulong(HIGH | CKG_MGF1_SHA1), call, "mgf");
        assertNum(CKZ_DATA_SPECIFIED, call, "source");
        assertBytes(run(1, 5), call, "pSourceData");
        assertNum(5, call, "ulSourceDataLen");

        Call none = sent("CK_RSA_PKCS_OAEP_PARAMS", new CK_RSA_PKCS_OAEP_PARAMS(CKM_SHA_1, 1, 1, null), size);
        assertTrue(none.isNull("param.pSourceData"));
        assertNum(0, none, "ulSourceDataLen");
    }

    @Test
    void keaGivesBothRandomsTheirSharedLength() throws Exception {
        int size = sizeof(BYTE, ULONG, POINTER, POINTER, ULONG, POINTER);
        Call call = sent("CK_KEA_DERIVE_PARAMS",
                new CK_KEA_DERIVE_PARAMS(true, run(0x10, 16), run(0x40, 16), run(0x70, 3)), size);
        assertNum(1, call, "isSender");
        assertNum(16, call, "ulRandomLen");
        assertBytes(run(0x10, 16), call, "pRandomA");
        assertBytes(run(0x40, 16), call, "pRandomB");
        assertBytes(run(0x70, 3), call, "pPublicData");
        assertNum(3, call, "ulPublicDataLen");

        Call notSender = sent("CK_KEA_DERIVE_PARAMS", new CK_KEA_DERIVE_PARAMS(false, null, null, null), size);
        assertNum(0, notSender, "isSender");
        assertNum(0, notSender, "ulRandomLen");
        assertTrue(notSender.isNull("param.pRandomA"));
    }

    @Test
    void arraysSharingOneLengthMustAgreeBeforeTheModule() {
        // The module reads both arrays by one length: a shorter one would be read past its end.
        byte[] sixteen = run(0, 16);
        Object[][] cases = {
            {new CK_KEA_DERIVE_PARAMS(true, run(0, 20), sixteen, null), "pRandomA and pRandomB", "20 and 16"},
            {new CK_KEA_DERIVE_PARAMS(true, run(0, 1), sixteen, null), "pRandomA and pRandomB", "1 and 16"},
            {new CK_KEA_DERIVE_PARAMS(true, null, sixteen, null), "pRandomA and pRandomB", "0 and 16"},
            {new CK_KEA_DERIVE_PARAMS(true, sixteen, new byte[0], null), "pRandomA and pRandomB", "16 and 0"},
            {new CK_SKIPJACK_PRIVATE_WRAP_PARAMS(null, null, null, run(0, 1), run(0, 64), null),
                "pPrimeP and pBaseG", "1 and 64"},
            {new CK_SKIPJACK_PRIVATE_WRAP_PARAMS(null, null, null, run(0, 12), null, null),
                "pPrimeP and pBaseG", "12 and 0"},
        };
        for (Object[] c : cases) {
            String record = c[0].getClass().getSimpleName();
            assertRejectedBeforeTheModule(IllegalArgumentException.class,
                    record + "." + c[1] + " must have the same length, not " + c[2], c[0]);
        }
    }

    @Test
    void rc2CbcHoldsExactlyEightIvBytesInTheRecord() throws Exception {
        int size = sizeof(ULONG, bytes(8));
        Call call = sent("CK_RC2_CBC_PARAMS", new CK_RC2_CBC_PARAMS(HIGH | 64, run(0xA0, 8)), size);
        assertNum(Platform.ulong(HIGH | 64), call, "ulEffectiveBits");
        assertBytes(run(0xA0, 8), call, "iv");

        for (int length : new int[] {0, 7, 9, 16}) {
            assertRejectedBeforeTheModule(IllegalArgumentException.class,
                    "CK_RC2_CBC_PARAMS.iv must have 8 elements, not " + length,
                    new CK_RC2_CBC_PARAMS(64, new byte[length]));
        }
        assertRejectedBeforeTheModule(NullPointerException.class, "CK_RC2_CBC_PARAMS.iv is null",
                new CK_RC2_CBC_PARAMS(64, null));
    }

    @Test
    void rc2AndRc5NumberRecords() throws Exception {
        Call rc2Mac = sent("CK_RC2_MAC_GENERAL_PARAMS", new CK_RC2_MAC_GENERAL_PARAMS(40, HIGH | 4),
                sizeof(ULONG, ULONG));
        assertNum(40, rc2Mac, "ulEffectiveBits");
        assertNum(Platform.ulong(HIGH | 4), rc2Mac, "ulMacLength");

        Call rc5 = sent("CK_RC5_PARAMS", new CK_RC5_PARAMS(4, 12), sizeof(ULONG, ULONG));
        assertNum(4, rc5, "ulWordsize");
        assertNum(12, rc5, "ulRounds");

        Call rc5Cbc = sent("CK_RC5_CBC_PARAMS", new CK_RC5_CBC_PARAMS(8, 16, run(0x21, 8)),
                sizeof(ULONG, ULONG, POINTER, ULONG));
        assertNum(8, rc5Cbc, "ulWordsize");
        assertNum(16, rc5Cbc, "ulRounds");
        assertBytes(run(0x21, 8), rc5Cbc, "pIv");
        assertNum(8, rc5Cbc, "ulIvLen");

        Call rc5Mac = sent("CK_RC5_MAC_GENERAL_PARAMS", new CK_RC5_MAC_GENERAL_PARAMS(2, 3, 5),
                sizeof(ULONG, ULONG, ULONG));
        assertNum(2, rc5Mac, "ulWordsize");
        assertNum(3, rc5Mac, "ulRounds");
        assertNum(5, rc5Mac, "ulMacLength");
    }

    @Test
    void skipjackPrivateWrapGivesPAndGTheirSharedLength() throws Exception {
        int size = sizeof(ULONG, POINTER, ULONG, POINTER, ULONG, ULONG, ULONG, POINTER, POINTER, POINTER, POINTER);
        Call call = sent("CK_SKIPJACK_PRIVATE_WRAP_PARAMS", new CK_SKIPJACK_PRIVATE_WRAP_PARAMS(
                run(1, 4), run(0x10, 5), run(0x20, 6), run(0x30, 10), run(0x50, 10), run(0x70, 7)), size);
        assertBytes(run(1, 4), call, "pPassword");
        assertNum(4, call, "ulPasswordLen");
        assertBytes(run(0x10, 5), call, "pPublicData");
        assertNum(5, call, "ulPublicDataLen");
        assertBytes(run(0x20, 6), call, "pRandomA");
        assertNum(6, call, "ulRandomLen");
        assertNum(10, call, "ulPAndGLen");
        assertBytes(run(0x30, 10), call, "pPrimeP");
        assertBytes(run(0x50, 10), call, "pBaseG");
        assertBytes(run(0x70, 7), call, "pSubprimeQ");
        assertNum(7, call, "ulQLen");
    }

    @Test
    void skipjackRelayxPairsEveryArrayWithItsLength() throws Exception {
        int size = sizeof(ULONG, POINTER, ULONG, POINTER, ULONG, POINTER, ULONG, POINTER, ULONG, POINTER,
                ULONG, POINTER, ULONG, POINTER);
        Call call = sent("CK_SKIPJACK_RELAYX_PARAMS", new CK_SKIPJACK_RELAYX_PARAMS(run(1, 1), run(2, 2),
                run(3, 3), null, new byte[0], run(6, 6), run(7, 7)), size);
        String[] fields = {"OldWrappedX", "OldPassword", "OldPublicData", null, "NewPassword", "NewPublicData", null};
        for (int i = 0; i < fields.length; i++) {
            if (fields[i] != null) {
                assertBytes(run(i + 1, i == 4 ? 0 : i + 1), call, "p" + fields[i]);
                assertNum(i == 4 ? 0 : i + 1, call, "ul" + fields[i] + "Len");
            }
        }
        assertTrue(call.isNull("param.pOldRandomA"));
        assertNum(0, call, "ulOldRandomLen");
        assertBytes(run(7, 7), call, "pNewRandomA");
        assertNum(7, call, "ulNewRandomLen");
    }

    @Test
    void pbeCharactersGiveTheirLowByteAndTheIvBufferHasEightBytes() throws Exception {
        int size = sizeof(POINTER, POINTER, ULONG, POINTER, ULONG, ULONG);
        Call call = sent("CK_PBE_PARAMS", new CK_PBE_PARAMS("\u0141vector".toCharArray(),
                "p\u0141ss".toCharArray(), "salt!".toCharArray(), HIGH | 1000), size);
        assertBytes("Avector\0".getBytes(java.nio.charset.StandardCharsets.ISO_8859_1), call, "pInitVector");
        assertBytes(new byte[] {'p', 0x41, 's', 's'}, call, "pPassword");
        assertNum(4, call, "ulPasswordLen");
        assertBytes("salt!".getBytes(java.nio.charset.StandardCharsets.ISO_8859_1), call, "pSalt");
        assertNum(5, call, "ulSaltLen");
        assertNum(Platform.ulong(HIGH | 1000), call, "ulIteration");

        // A shorter or empty vector array still gives the module the 8 bytes it writes.
        Call empty = sent("CK_PBE_PARAMS", new CK_PBE_PARAMS(new char[0], null, null, 1), size);
        assertBytes(new byte[8], empty, "pInitVector");
        assertTrue(empty.isNull("param.pPassword"));
        assertNum(0, empty, "ulSaltLen");
        // No array at all: the module still gets the 8 bytes it writes (nothing is copied back).
        Call none = sent("CK_PBE_PARAMS", new CK_PBE_PARAMS(null, null, null, 1), size);
        assertBytes(new byte[8], none, "pInitVector");
    }

    @Test
    void pbkd2HasNullPasswordPointers() throws Exception {
        int size = sizeof(ULONG, POINTER, ULONG, ULONG, ULONG, POINTER, ULONG, POINTER, POINTER);
        Call call = sent("CK_PKCS5_PBKD2_PARAMS", new CK_PKCS5_PBKD2_PARAMS(CKZ_SALT_SPECIFIED, run(9, 8),
                HIGH | 2048, CKP_PKCS5_PBKD2_HMAC_SHA1, run(0x30, 2)), size);
        assertNum(CKZ_SALT_SPECIFIED, call, "saltSource");
        assertBytes(run(9, 8), call, "pSaltSourceData");
        assertNum(8, call, "ulSaltSourceDataLen");
        assertNum(Platform.ulong(HIGH | 2048), call, "iterations");
        assertNum(CKP_PKCS5_PBKD2_HMAC_SHA1, call, "prf");
        assertBytes(run(0x30, 2), call, "pPrfData");
        assertNum(2, call, "ulPrfDataLen");
        assertTrue(call.isNull("param.pPassword"));
        assertTrue(call.isNull("param.ulPasswordLen"));
    }

    @Test
    void keyDerivationStringAndSetOaep() throws Exception {
        Call string = sent("CK_KEY_DERIVATION_STRING_DATA", new CK_KEY_DERIVATION_STRING_DATA(run(3, 11)),
                sizeof(POINTER, ULONG));
        assertBytes(run(3, 11), string, "pData");
        assertNum(11, string, "ulLen");
        Call empty = sent("CK_KEY_DERIVATION_STRING_DATA", new CK_KEY_DERIVATION_STRING_DATA(new byte[0]),
                sizeof(POINTER, ULONG));
        assertNotNull(empty.bytes("param.pData"), "an empty array gives a non-null pointer");
        assertNum(0, empty, "ulLen");

        Call oaep = sent("CK_KEY_WRAP_SET_OAEP_PARAMS", new CK_KEY_WRAP_SET_OAEP_PARAMS((byte) 0xC5, run(1, 6)),
                sizeof(BYTE, POINTER, ULONG));
        assertNum(0xC5, oaep, "bBC");
        assertBytes(run(1, 6), oaep, "pX");
        assertNum(6, oaep, "ulXLen");
    }

    @Test
    void ssl3MasterKeyDeriveEmbedsTheRandomDataAndPointsToAVersion() throws Exception {
        Call call = sent("CK_SSL3_MASTER_KEY_DERIVE_PARAMS", new CK_SSL3_MASTER_KEY_DERIVE_PARAMS(
                new CK_SSL3_RANDOM_DATA(run(0x11, 32), run(0x51, 28)), new CK_VERSION(3, 1)),
                sizeof(SSL3_RANDOM_DATA, POINTER));
        assertBytes(run(0x11, 32), call, "RandomInfo.pClientRandom");
        assertNum(32, call, "RandomInfo.ulClientRandomLen");
        assertBytes(run(0x51, 28), call, "RandomInfo.pServerRandom");
        assertNum(28, call, "RandomInfo.ulServerRandomLen");
        assertBytes(new byte[] {3, 1}, call, "pVersion");
    }

    @Test
    void ssl3KeyMaterialStartsWithTheJavaHandlesAndIvBuffersOfTheIvSize() throws Exception {
        int size = sizeof(ULONG, ULONG, ULONG, BYTE, SSL3_RANDOM_DATA, POINTER);
        CK_SSL3_KEY_MAT_OUT out = new CK_SSL3_KEY_MAT_OUT(HIGH | 1, 2, 3, 4, run(0x61, 8), run(0x71, 8));
        Call call = sent("CK_SSL3_KEY_MAT_PARAMS", new CK_SSL3_KEY_MAT_PARAMS(160, 128, 64, true,
                new CK_SSL3_RANDOM_DATA(run(1, 32), run(0x21, 32)), out), size);
        assertNum(160, call, "ulMacSizeInBits");
        assertNum(128, call, "ulKeySizeInBits");
        assertNum(64, call, "ulIVSizeInBits");
        assertNum(1, call, "bIsExport");
        assertBytes(run(1, 32), call, "RandomInfo.pClientRandom");
        assertBytes(run(0x21, 32), call, "RandomInfo.pServerRandom");
        assertEquals("ptr", call.get("param.pReturnedKeyMaterial"));
        assertNum(Platform.ulong(HIGH | 1), call, "pReturnedKeyMaterial.hClientMacSecret");
        assertNum(2, call, "pReturnedKeyMaterial.hServerMacSecret");
        assertNum(3, call, "pReturnedKeyMaterial.hClientKey");
        assertNum(4, call, "pReturnedKeyMaterial.hServerKey");
        assertBytes(run(0x61, 8), call, "pReturnedKeyMaterial.pIVClient");
        assertBytes(run(0x71, 8), call, "pReturnedKeyMaterial.pIVServer");

        // An array shorter than the IV size, or none: the module may still write all of it.
        out.pIVClient = run(0x61, 4);
        out.pIVServer = null;
        CK_SSL3_KEY_MAT_PARAMS bigIv = new CK_SSL3_KEY_MAT_PARAMS(0, 0, 128, false,
                new CK_SSL3_RANDOM_DATA(null, null), out);
        Call padded = sent("CK_SSL3_KEY_MAT_PARAMS", bigIv, size);
        assertNum(0, padded, "bIsExport");
        byte[] expected = Arrays.copyOf(run(0x61, 4), 16);
        assertBytes(expected, padded, "pReturnedKeyMaterial.pIVClient");
        assertBytes(new byte[16], padded, "pReturnedKeyMaterial.pIVServer");
        assertTrue(padded.isNull("param.RandomInfo.pClientRandom"));
    }

    @Test
    void pssAndTheDiffieHellmanDerivations() throws Exception {
        Call pss = sent("CK_RSA_PKCS_PSS_PARAMS", new CK_RSA_PKCS_PSS_PARAMS(CKM_SHA256, CKG_MGF1_SHA1, HIGH | 32),
                sizeof(ULONG, ULONG, ULONG));
        assertNum(CKM_SHA256, pss, "hashAlg");
        assertNum(CKG_MGF1_SHA1, pss, "mgf");
        assertNum(Platform.ulong(HIGH | 32), pss, "sLen");

        Call ecdh1 = sent("CK_ECDH1_DERIVE_PARAMS", new CK_ECDH1_DERIVE_PARAMS(CKD_SHA1_KDF, run(1, 3), run(0x40, 65)),
                sizeof(ULONG, ULONG, POINTER, ULONG, POINTER));
        assertNum(CKD_SHA1_KDF, ecdh1, "kdf");
        assertBytes(run(1, 3), ecdh1, "pSharedData");
        assertNum(3, ecdh1, "ulSharedDataLen");
        assertBytes(run(0x40, 65), ecdh1, "pPublicData");
        assertNum(65, ecdh1, "ulPublicDataLen");

        int twoPartySize = sizeof(ULONG, ULONG, POINTER, ULONG, POINTER, ULONG, ULONG, ULONG, POINTER);
        Call ecdh2 = sent("CK_ECDH2_DERIVE_PARAMS", new CK_ECDH2_DERIVE_PARAMS(CKD_NULL, null, run(5, 4),
                HIGH | 99, HIGH | 1234, run(9, 2)), twoPartySize);
        assertNum(CKD_NULL, ecdh2, "kdf");
        assertTrue(ecdh2.isNull("param.pSharedData"));
        assertNum(0, ecdh2, "ulSharedDataLen");
        assertBytes(run(5, 4), ecdh2, "pPublicData");
        assertNum(Platform.ulong(HIGH | 99), ecdh2, "ulPrivateDataLen");  // the caller's number
        assertNum(Platform.ulong(HIGH | 1234), ecdh2, "hPrivateData");
        assertBytes(run(9, 2), ecdh2, "pPublicData2");
        assertNum(2, ecdh2, "ulPublicDataLen2");

        Call dh1 = sent("CK_X9_42_DH1_DERIVE_PARAMS", new CK_X9_42_DH1_DERIVE_PARAMS(CKD_SHA1_KDF, run(2, 5), run(3, 6)),
                sizeof(ULONG, ULONG, POINTER, ULONG, POINTER));
        assertNum(CKD_SHA1_KDF, dh1, "kdf");
        assertBytes(run(2, 5), dh1, "pOtherInfo");
        assertNum(5, dh1, "ulOtherInfoLen");
        assertBytes(run(3, 6), dh1, "pPublicData");

        Call dh2 = sent("CK_X9_42_DH2_DERIVE_PARAMS", new CK_X9_42_DH2_DERIVE_PARAMS(CKD_NULL, run(4, 1), run(5, 2),
                7, 8, null), twoPartySize);
        assertBytes(run(4, 1), dh2, "pOtherInfo");
        assertBytes(run(5, 2), dh2, "pPublicData");
        assertNum(7, dh2, "ulPrivateDataLen");
        assertNum(8, dh2, "hPrivateData");
        assertTrue(dh2.isNull("param.pPublicData2"));
        assertNum(0, dh2, "ulPublicDataLen2");
    }

    @Test
    void nullObjectFieldsAreRejectedBeforeTheModule() {
        CK_SSL3_RANDOM_DATA random = new CK_SSL3_RANDOM_DATA(run(1, 4), run(2, 4));
        assertRejectedBeforeTheModule(NullPointerException.class, "CK_SSL3_MASTER_KEY_DERIVE_PARAMS.RandomInfo is null",
                new CK_SSL3_MASTER_KEY_DERIVE_PARAMS(null, new CK_VERSION(3, 0)));
        assertRejectedBeforeTheModule(NullPointerException.class, "CK_SSL3_MASTER_KEY_DERIVE_PARAMS.pVersion is null",
                new CK_SSL3_MASTER_KEY_DERIVE_PARAMS(random, null));
        assertRejectedBeforeTheModule(NullPointerException.class, "CK_SSL3_KEY_MAT_PARAMS.RandomInfo is null",
                new CK_SSL3_KEY_MAT_PARAMS(0, 0, 0, false, null, new CK_SSL3_KEY_MAT_OUT()));
        assertRejectedBeforeTheModule(NullPointerException.class,
                "CK_SSL3_KEY_MAT_PARAMS.pReturnedKeyMaterial is null",
                new CK_SSL3_KEY_MAT_PARAMS(0, 0, 0, false, random, null));
        if (Platform.ULONG_SIZE == 8) {
            // An IV size no Java array could hold is refused rather than allocated.
            assertRejectedBeforeTheModule(IllegalArgumentException.class, "ulIVSizeInBits",
                    new CK_SSL3_KEY_MAT_PARAMS(0, 0, -8L, false, random,
                            new CK_SSL3_KEY_MAT_OUT(0, 0, 0, 0, new byte[1], null)));
        }
    }

    @Test
    void aStructureOfAnotherSizeIsNotDecoded() throws Exception {
        // The test module's own guard: a decode of the wrong structure reads nothing.
        module.script("C_EncryptInit", "decode=CK_SSL3_KEY_MAT_PARAMS");
        pkcs11.C_EncryptInit(1, new CK_MECHANISM(CKM_AES_CBC, new CK_RC5_PARAMS(1, 2)), 7);
        assertEquals("mismatch", module.last("C_EncryptInit").get("param"));
        assertNull(module.last("C_EncryptInit").fields().get("param.ulIVSizeInBits"));
    }
}
