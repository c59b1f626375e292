package zandrop.tesk.pkcs11.vorlen.api;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.*;
import static zandrop.tesk.pkcs11.vorlen.api.ParameterLayout.POINTER;
import static zandrop.tesk.pkcs11.vorlen.api.ParameterLayout.ULONG;
import static zandrop.tesk.pkcs11.vorlen.api.ParameterLayout.bytes;
import static zandrop.tesk.pkcs11.vorlen.api.ParameterLayout.sizeof;

import org.junit.jupiter.api.Test;

import zandrop.tesk.pkcs11.vorlen.testmodule.Call;

/**
 * The records of the AEAD and counter modes (GCM in both layouts, CCM, CTR, ChaCha20,
 * ChaCha20-Poly1305) as the module receives them, member by member, and their refusals.
 */
class CipherParameterRecordTest extends DecodedParameters {
    private static final int GCM_SIZE = sizeof(POINTER, ULONG, ULONG, POINTER, ULONG, ULONG);
    private static final int GCM_WITHOUT_IV_BITS_SIZE = sizeof(POINTER, ULONG, POINTER, ULONG, ULONG);

    @Test
    void gcmPassesIvBitsAndItsZeroMeansTheWholeIv() throws Exception {
        Call call = sent("CK_GCM_PARAMS", new CK_GCM_PARAMS(run(1, 12), 0, run(0x40, 5), 96), GCM_SIZE);
        assertBytes(run(1, 12), call, "pIv");
        assertNum(12, call, "ulIvLen");
        assertNum(96, call, "ulIvBits");
        assertBytes(run(0x40, 5), call, "pAAD");
        assertNum(5, call, "ulAADLen");
        assertNum(96, call, "ulTagBits");

        Call explicit = sent("CK_GCM_PARAMS", new CK_GCM_PARAMS(run(1, 16), HIGH | 120, null, 128), GCM_SIZE);
        assertNum(Platform.ulong(HIGH | 120), explicit, "ulIvBits");
        assertTrue(explicit.isNull("param.pAAD"));
        assertNum(0, explicit, "ulAADLen");
        assertNum(128, explicit, "ulTagBits");
    }

    @Test
    void gcmWithoutIvBitsIsTheOtherLayoutChosenByItsClass() throws Exception {
        Call call = sent("CK_GCM_PARAMS_WITHOUT_IV_BITS",
                new CK_GCM_PARAMS_WITHOUT_IV_BITS(run(1, 12), run(0x40, 3), 128), GCM_WITHOUT_IV_BITS_SIZE);
        assertBytes(run(1, 12), call, "pIv");
        assertNum(12, call, "ulIvLen");
        assertBytes(run(0x40, 3), call, "pAAD");  // where the 2.40 layout has ulIvBits
        assertNum(3, call, "ulAADLen");
        assertNum(128, call, "ulTagBits");

        // Each layout has its own size: a module expecting the other one is not fed a wrong read.
        module.script("C_EncryptInit", "decode=CK_GCM_PARAMS");
        pkcs11.C_EncryptInit(1, new CK_MECHANISM(CKM_AES_GCM,
                new CK_GCM_PARAMS_WITHOUT_IV_BITS(run(1, 12), null, 128)), 7);
        assertEquals("mismatch", module.last("C_EncryptInit").get("param"));
        module.script("C_EncryptInit", "decode=CK_GCM_PARAMS_WITHOUT_IV_BITS");
        pkcs11.C_EncryptInit(1, new CK_MECHANISM(CKM_AES_GCM, new CK_GCM_PARAMS(run(1, 12), 0, null, 128)), 7);
        assertEquals("mismatch", module.last("C_EncryptInit").get("param"));
    }

    @Test
    void gcmRefusesAMissingIvAndATagOfPartBytes() {
        assertRejectedBeforeTheModule(NullPointerException.class, "CK_GCM_PARAMS.pIv is null",
                new CK_GCM_PARAMS(null, 0, null, 128));
        assertRejectedBeforeTheModule(IllegalArgumentException.class,
                "CK_GCM_PARAMS.ulTagBits must be a whole number of bytes, not 97 bits",
                new CK_GCM_PARAMS(run(1, 12), 0, null, 97));
        assertRejectedBeforeTheModule(NullPointerException.class, "CK_GCM_PARAMS_WITHOUT_IV_BITS.pIv is null",
                new CK_GCM_PARAMS_WITHOUT_IV_BITS(null, run(1, 2), 128));
        assertRejectedBeforeTheModule(IllegalArgumentException.class,
                "CK_GCM_PARAMS_WITHOUT_IV_BITS.ulTagBits must be a whole number of bytes, not 100 bits",
                new CK_GCM_PARAMS_WITHOUT_IV_BITS(run(1, 12), null, 100));
    }

    @Test
    void ccmAndCtr() throws Exception {
        Call ccm = sent("CK_CCM_PARAMS", new CK_CCM_PARAMS(HIGH | 1000, run(7, 13), run(0x30, 20), 16),
                sizeof(ULONG, POINTER, ULONG, POINTER, ULONG, ULONG));
        assertNum(Platform.ulong(HIGH | 1000), ccm, "ulDataLen");
        assertBytes(run(7, 13), ccm, "pNonce");
        assertNum(13, ccm, "ulNonceLen");
        assertBytes(run(0x30, 20), ccm, "pAAD");
        assertNum(20, ccm, "ulAADLen");
        assertNum(16, ccm, "ulMACLen");
        assertRejectedBeforeTheModule(NullPointerException.class, "CK_CCM_PARAMS.pNonce is null",
                new CK_CCM_PARAMS(10, null, null, 8));

        Call ctr = sent("CK_AES_CTR_PARAMS", new CK_AES_CTR_PARAMS(32, run(0xF0, 16)), sizeof(ULONG, bytes(16)));
        assertNum(32, ctr, "ulCounterBits");
        assertBytes(run(0xF0, 16), ctr, "cb");
        assertRejectedBeforeTheModule(IllegalArgumentException.class,
                "CK_AES_CTR_PARAMS.cb must have 16 elements, not 12", new CK_AES_CTR_PARAMS(32, new byte[12]));
        assertRejectedBeforeTheModule(NullPointerException.class, "CK_AES_CTR_PARAMS.cb is null",
                new CK_AES_CTR_PARAMS(32, null));
    }

    @Test
    void chacha20ArraysHoldExactlyTheirBits() throws Exception {
        Call call = sent("CK_CHACHA20_PARAMS", new CK_CHACHA20_PARAMS(run(1, 4), 32, run(0x20, 12), 96),
                sizeof(POINTER, ULONG, POINTER, ULONG));
        assertBytes(run(1, 4), call, "pBlockCounter");
        assertNum(32, call, "blockCounterBits");
        assertBytes(run(0x20, 12), call, "pNonce");
        assertNum(96, call, "ulNonceBits");

        // The module reads bits / 8 bytes: a shorter array would be read past its end.
        assertRejectedBeforeTheModule(IllegalArgumentException.class,
                "CK_CHACHA20_PARAMS.pNonce must have ulNonceBits / 8 elements (ulNonceBits is 96), not 8",
                new CK_CHACHA20_PARAMS(run(1, 4), 32, run(0x20, 8), 96));
        assertRejectedBeforeTheModule(IllegalArgumentException.class,
                "CK_CHACHA20_PARAMS.pBlockCounter must have blockCounterBits / 8 elements (blockCounterBits is 64), not 4",
                new CK_CHACHA20_PARAMS(run(1, 4), 64, run(0x20, 8), 64));
        assertRejectedBeforeTheModule(NullPointerException.class, "CK_CHACHA20_PARAMS.pNonce is null",
                new CK_CHACHA20_PARAMS(run(1, 4), 32, null, 0));

        Call aead = sent("CK_SALSA20_CHACHA20_POLY1305_PARAMS",
                new CK_SALSA20_CHACHA20_POLY1305_PARAMS(run(3, 12), run(0x50, 7)), sizeof(POINTER, ULONG, POINTER, ULONG));
        assertBytes(run(3, 12), aead, "pNonce");
        assertNum(12, aead, "ulNonceLen");
        assertBytes(run(0x50, 7), aead, "pAAD");
        assertNum(7, aead, "ulAADLen");
        assertRejectedBeforeTheModule(NullPointerException.class, "CK_SALSA20_CHACHA20_POLY1305_PARAMS.pNonce is null",
                new CK_SALSA20_CHACHA20_POLY1305_PARAMS(null, null));
    }

    @Test
    void textShowsBytesInHexAndBitCountsInDecimal() {
        assertEquals("CK_GCM_PARAMS[pIv=010203, ulIvBits=0, pAAD=null, ulTagBits=128]",
                new CK_GCM_PARAMS(run(1, 3), 0, null, 128).toString());
        assertEquals("CK_CHACHA20_PARAMS[pBlockCounter=00000000, blockCounterBits=32, pNonce=(empty), ulNonceBits=0]",
                new CK_CHACHA20_PARAMS(new byte[4], 32, new byte[0], 0).toString());
    }
}
