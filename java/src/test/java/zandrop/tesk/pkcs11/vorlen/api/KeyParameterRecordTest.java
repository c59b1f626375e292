package zandrop.tesk.pkcs11.vorlen.api;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.*;
import static zandrop.tesk.pkcs11.vorlen.api.ParameterLayout.BYTE;
import static zandrop.tesk.pkcs11.vorlen.api.ParameterLayout.POINTER;
import static zandrop.tesk.pkcs11.vorlen.api.ParameterLayout.ULONG;
import static zandrop.tesk.pkcs11.vorlen.api.ParameterLayout.bytes;
import static zandrop.tesk.pkcs11.vorlen.api.ParameterLayout.sizeof;

import org.junit.jupiter.api.Test;

import zandrop.tesk.pkcs11.vorlen.testmodule.Call;

/**
 * The records of key derivation, key wrap and EdDSA signatures (CBC-encrypt-data, EdDSA, the AES
 * key wraps with ECDH and RSA, PBKDF2 with the password by value) as the module receives them,
 * member by member, and their refusals.
 */
class KeyParameterRecordTest extends DecodedParameters {

    @Test
    void cbcEncryptDataHoldsItsIvInTheRecord() throws Exception {
        Call aes = sent("CK_AES_CBC_ENCRYPT_DATA_PARAMS", new CK_AES_CBC_ENCRYPT_DATA_PARAMS(run(0xA0, 16), run(1, 32)),
                sizeof(bytes(16), POINTER, ULONG));
        assertBytes(run(0xA0, 16), aes, "iv");
        assertBytes(run(1, 32), aes, "pData");
        assertNum(32, aes, "length");

        Call des = sent("CK_DES_CBC_ENCRYPT_DATA_PARAMS", new CK_DES_CBC_ENCRYPT_DATA_PARAMS(run(0xB0, 8), run(2, 16)),
                sizeof(bytes(8), POINTER, ULONG));
        assertBytes(run(0xB0, 8), des, "iv");
        assertBytes(run(2, 16), des, "pData");
        assertNum(16, des, "length");

        assertRejectedBeforeTheModule(IllegalArgumentException.class,
                "CK_AES_CBC_ENCRYPT_DATA_PARAMS.iv must have 16 elements, not 8",
                new CK_AES_CBC_ENCRYPT_DATA_PARAMS(run(0, 8), run(1, 16)));
        assertRejectedBeforeTheModule(NullPointerException.class, "CK_DES_CBC_ENCRYPT_DATA_PARAMS.pData is null",
                new CK_DES_CBC_ENCRYPT_DATA_PARAMS(run(0, 8), null));
    }

    @Test
    void eddsaFlagAndContext() throws Exception {
        int size = sizeof(BYTE, ULONG, POINTER);
        Call call = sent("CK_EDDSA_PARAMS", new CK_EDDSA_PARAMS(true, run(0x61, 9)), size);
        assertNum(CK_TRUE_VALUE, call, "phFlag");
        assertNum(9, call, "ulContextDataLen");
        assertBytes(run(0x61, 9), call, "pContextData");

        Call plain = sent("CK_EDDSA_PARAMS", new CK_EDDSA_PARAMS(false, null), size);
        assertNum(0, plain, "phFlag");
        assertNum(0, plain, "ulContextDataLen");
        assertTrue(plain.isNull("param.pContextData"));
    }

    private static final long CK_TRUE_VALUE = 1;

    @Test
    void aesKeyWrapsWithEcdhAndWithANestedOaepRecord() throws Exception {
        Call ecdh = sent("CK_ECDH_AES_KEY_WRAP_PARAMS", new CK_ECDH_AES_KEY_WRAP_PARAMS(256, HIGH | CKD_SHA256_KDF, run(5, 6)),
                sizeof(ULONG, ULONG, ULONG, POINTER));
        assertNum(256, ecdh, "ulAESKeyBits");
        assertNum(Platform.ulong(HIGH | CKD_SHA256_KDF), ecdh, "kdf");
        assertNum(6, ecdh, "ulSharedDataLen");
        assertBytes(run(5, 6), ecdh, "pSharedData");

        CK_RSA_PKCS_OAEP_PARAMS oaep = new CK_RSA_PKCS_OAEP_PARAMS(CKM_SHA256, CKG_MGF1_SHA256, CKZ_DATA_SPECIFIED, run(9, 3));
        Call rsa = sent("CK_RSA_AES_KEY_WRAP_PARAMS", new CK_RSA_AES_KEY_WRAP_PARAMS(192, oaep), sizeof(ULONG, POINTER));
        assertNum(192, rsa, "ulAESKeyBits");
        assertEquals("ptr", rsa.get("param.pOAEPParams"));
        assertNum(CKM_SHA256, rsa, "pOAEPParams.hashAlg");
        assertNum(CKG_MGF1_SHA256, rsa, "pOAEPParams.mgf");
        assertNum(CKZ_DATA_SPECIFIED, rsa, "pOAEPParams.source");
        assertBytes(run(9, 3), rsa, "pOAEPParams.pSourceData");
        assertNum(3, rsa, "pOAEPParams.ulSourceDataLen");

        assertRejectedBeforeTheModule(NullPointerException.class, "CK_RSA_AES_KEY_WRAP_PARAMS.pOAEPParams is null",
                new CK_RSA_AES_KEY_WRAP_PARAMS(256, null));
    }

    @Test
    void pbkdf2Params2PassesThePasswordAndItsLengthByValue() throws Exception {
        CK_PKCS5_PBKD2_PARAMS2 params = new CK_PKCS5_PBKD2_PARAMS2(CKZ_SALT_SPECIFIED, run(0x10, 8), 1000,
                CKP_PKCS5_PBKD2_HMAC_SHA256, null, "p\u0141ss".toCharArray());
        Call call = sent("CK_PKCS5_PBKD2_PARAMS2", params, sizeof(ULONG, POINTER, ULONG, ULONG, ULONG, POINTER, ULONG,
                POINTER, ULONG));
        assertNum(CKZ_SALT_SPECIFIED, call, "saltSource");
        assertBytes(run(0x10, 8), call, "pSaltSourceData");
        assertNum(8, call, "ulSaltSourceDataLen");
        assertNum(1000, call, "iterations");
        assertNum(CKP_PKCS5_PBKD2_HMAC_SHA256, call, "prf");
        assertTrue(call.isNull("param.pPrfData"));
        assertNum(0, call, "ulPrfDataLen");
        // UTF-8, the password's encoding in the standard (U+0141 gives c5 81; it gave 0x41).
        assertBytes(new byte[] {'p', (byte) 0xc5, (byte) 0x81, 's', 's'}, call, "pPassword");
        assertNum(5, call, "ulPasswordLen");
        assertRejectedBeforeTheModule(IllegalArgumentException.class, "unpaired surrogate",
                new CK_PKCS5_PBKD2_PARAMS2(CKZ_SALT_SPECIFIED, run(0, 8), 1, CKP_PKCS5_PBKD2_HMAC_SHA1, null,
                        new char[] {'a', '\udc00'}));

        assertRejectedBeforeTheModule(NullPointerException.class, "CK_PKCS5_PBKD2_PARAMS2.pPassword is null",
                new CK_PKCS5_PBKD2_PARAMS2(CKZ_SALT_SPECIFIED, run(0, 8), 1, CKP_PKCS5_PBKD2_HMAC_SHA1, null, null));
        String text = params.toString();
        assertTrue(text.endsWith("pPassword=(4 chars, hidden)]"), text);
    }
}
