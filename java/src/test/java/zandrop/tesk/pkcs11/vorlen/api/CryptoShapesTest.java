package zandrop.tesk.pkcs11.vorlen.api;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.*;

import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;

import org.junit.jupiter.api.Test;

import zandrop.tesk.pkcs11.vorlen.testmodule.Call;

/**
 * The six shapes of the cryptographic wrappers, each checked on every member: the calls a
 * module sees, what the caller gets back, and how a module's errors and wrong lengths end.
 */
class CryptoShapesTest extends CryptoWrapperCases {

    @FunctionalInterface
    interface Transform {
        byte[] apply(long hSession, byte[] input) throws PKCS11Exception;
    }

    @FunctionalInterface
    interface Finish {
        byte[] apply(long hSession) throws PKCS11Exception;
    }

    private Map<String, Transform> transforms() {
        Map<String, Transform> m = new LinkedHashMap<>();
        m.put("C_Encrypt", pkcs11::C_Encrypt);
        m.put("C_EncryptUpdate", pkcs11::C_EncryptUpdate);
        m.put("C_Decrypt", pkcs11::C_Decrypt);
        m.put("C_DecryptUpdate", pkcs11::C_DecryptUpdate);
        m.put("C_Digest", pkcs11::C_Digest);
        m.put("C_SignRecover", pkcs11::C_SignRecover);
        m.put("C_VerifyRecover", pkcs11::C_VerifyRecover);
        m.put("C_DigestEncryptUpdate", pkcs11::C_DigestEncryptUpdate);
        m.put("C_DecryptDigestUpdate", pkcs11::C_DecryptDigestUpdate);
        m.put("C_SignEncryptUpdate", pkcs11::C_SignEncryptUpdate);
        m.put("C_DecryptVerifyUpdate", pkcs11::C_DecryptVerifyUpdate);
        return m;
    }

    private Map<String, Finish> finishes() {
        Map<String, Finish> m = new LinkedHashMap<>();
        m.put("C_EncryptFinal", pkcs11::C_EncryptFinal);
        m.put("C_DecryptFinal", pkcs11::C_DecryptFinal);
        m.put("C_DigestFinal", pkcs11::C_DigestFinal);
        m.put("C_SignFinal", pkcs11::C_SignFinal);
        return m;
    }

    private Map<String, Feed<byte[]>> feeds() {
        Map<String, Feed<byte[]>> m = new LinkedHashMap<>();
        m.put("C_DigestUpdate", pkcs11::C_DigestUpdate);
        m.put("C_SignUpdate", pkcs11::C_SignUpdate);
        m.put("C_VerifyUpdate", pkcs11::C_VerifyUpdate);
        m.put("C_VerifyFinal", pkcs11::C_VerifyFinal);
        return m;
    }

    /**
     * What C_Encrypt offers beyond its size query's answer: room for an AEAD tag that a module's
     * size query leaves out (NSS's softoken does so for AES-GCM, and ends the operation on the
     * CKR_BUFFER_TOO_SMALL that follows).
     */
    private static int extraRoom(String function) {
        return function.equals("C_Encrypt") ? 16 : 0;
    }

    @Test
    void encryptOffersRoomForATagTheSizeQueryLeftOut() throws Exception {
        // A module like NSS's softoken: the size query reports the plaintext's length, 5, and the
        // sealed output is 5 + 16 bytes; it fits.
        byte[] sealed = bytes(21, 0x30);
        module.script("C_Encrypt", "len=5 out=" + Platform.hex(sealed));
        module.script("C_Encrypt", "out=" + Platform.hex(sealed));
        assertArrayEquals(sealed, pkcs11.C_Encrypt(1, bytes(5, 1)));
        assertEquals(21, module.last("C_Encrypt").num("pulEncryptedDataLen"), "the room offered: the 5 reported and 16");
        // A module that writes less than the room it got: only what it wrote comes back.
        module.script("C_Encrypt", "out=0102 times=2");
        assertArrayEquals(new byte[] {1, 2}, pkcs11.C_Encrypt(1, bytes(5, 1)));
    }

    // ---- transform ----

    @Test
    void transformsQueryTheSizeThenPassTheSameInputWithABufferOfThatSize() throws Exception {
        byte[] input = bytes(5, 0x40);
        byte[] output = bytes(3, 0x90);
        for (Map.Entry<String, Transform> t : transforms().entrySet()) {
            String fn = t.getKey();
            module.script(fn, "out=" + Platform.hex(output) + " times=2");
            assertArrayEquals(output, t.getValue().apply(HIGH | 9, input), fn);
            List<Call> calls = module.calls(fn);
            assertEquals(2, calls.size(), fn);
            for (Call call : calls) {
                assertEquals(Platform.ulong(HIGH | 9), call.num("hSession"), fn);
                assertEquals(List.of("hex:" + Platform.hex(input), "5"), arguments(call, 1, 2), fn + ": the same input twice");
            }
            assertEquals(List.of("null", "0"), arguments(calls.get(0), 3, 4), fn + ": the size query");
            assertEquals(List.of("ptr", String.valueOf(3 + extraRoom(fn))), arguments(calls.get(1), 3, 4),
                    fn + ": a buffer of the reported size (C_Encrypt: and room for an AEAD tag)");
        }
    }

    @Test
    void anEmptyOutputStillGetsABufferAndTheInput() throws Exception {
        byte[] shortPart = bytes(3, 1);
        for (Map.Entry<String, Transform> t : transforms().entrySet()) {
            String fn = t.getKey();
            module.script(fn, "out= times=2");
            assertArrayEquals(new byte[0], t.getValue().apply(1, shortPart), fn);
            assertEquals(List.of("hex:" + Platform.hex(shortPart), "3", "ptr", String.valueOf(extraRoom(fn))),
                    arguments(module.calls(fn).get(1), 1, 4), fn + ": the input, and a buffer: not another size query");
        }
    }

    @Test
    void aNullInputIsANullPointerOfLengthZeroInBothCalls() throws Exception {
        for (Map.Entry<String, Transform> t : transforms().entrySet()) {
            String fn = t.getKey();
            module.script(fn, "out=01 times=2");
            assertArrayEquals(new byte[] {1}, t.getValue().apply(1, null), fn);
            for (Call call : module.calls(fn)) {
                assertEquals(List.of("null", "0"), arguments(call, 1, 2), fn);
            }
        }
    }

    @Test
    void aFailingSizeQueryEndsTheCallAndAFailingSecondCallIsNotRetried() throws Exception {
        for (Map.Entry<String, Transform> t : transforms().entrySet()) {
            String fn = t.getKey();
            module.script(fn, "rv=" + CKR_DATA_LEN_RANGE);
            assertError(CKR_DATA_LEN_RANGE, () -> t.getValue().apply(1, new byte[2]), fn);
            assertEquals(1, module.count(fn), fn);

            module.clear();
            module.script(fn, "out=0102");
            module.script(fn, "rv=" + CKR_ENCRYPTED_DATA_INVALID);
            assertError(CKR_ENCRYPTED_DATA_INVALID, () -> t.getValue().apply(1, new byte[2]), fn);
            assertEquals(2, module.count(fn), fn);
            module.clear();
        }
    }

    @Test
    void aModuleReportingMoreThanTheBufferIsNotRead() throws Exception {
        for (Map.Entry<String, Transform> t : transforms().entrySet()) {
            String fn = t.getKey();
            module.script(fn, "out=01020304");
            module.script(fn, "out=01020304 len=100");
            assertRefused(fn + " reported 100 bytes but only " + (4 + extraRoom(fn)) + " were allocated",
                    () -> t.getValue().apply(1, new byte[4]));
        }
        for (Map.Entry<String, Finish> f : finishes().entrySet()) {
            String fn = f.getKey();
            module.script(fn, "out=0102");
            module.script(fn, "out=0102 len=3");
            assertRefused(fn + " reported 3 bytes but only 2 were allocated", () -> f.getValue().apply(1));
        }
    }

    // ---- finish ----

    @Test
    void finalsQueryTheSizeThenFillABufferOfThatSize() throws Exception {
        Map<String, Integer> builtIn = Map.of("C_EncryptFinal", 16, "C_DecryptFinal", 16, "C_DigestFinal", 32,
                "C_SignFinal", 64);
        for (Map.Entry<String, Finish> f : finishes().entrySet()) {
            String fn = f.getKey();
            int length = builtIn.get(fn);
            assertArrayEquals(bytes(length, 0), f.getValue().apply(HIGH | 4), fn);
            List<Call> calls = module.calls(fn);
            assertEquals(2, calls.size(), fn);
            assertEquals(Platform.ulong(HIGH | 4), calls.get(1).num("hSession"));
            assertEquals(List.of("null", "0"), arguments(calls.get(0), 1, 2), fn + ": the size query");
            assertEquals(List.of("ptr", String.valueOf(length)), arguments(calls.get(1), 1, 2), fn);

            module.script(fn, "rv=" + CKR_OPERATION_NOT_INITIALIZED);
            assertError(CKR_OPERATION_NOT_INITIALIZED, () -> f.getValue().apply(1), fn);
            assertEquals(3, module.count(fn), fn + ": no second call after a failed size query");
        }
    }

    @Test
    void digestFinalReturnsTheLengthOfTheSecondCall() throws Exception {
        module.script("C_DigestFinal", "len=48");
        module.script("C_DigestFinal", "out=" + Platform.hex(bytes(20, 0x30)));
        assertArrayEquals(bytes(20, 0x30), pkcs11.C_DigestFinal(1));
        assertEquals("48", argument(module.calls("C_DigestFinal").get(1), 2), "offered the size query's length");
    }

    // ---- sign ----

    @Test
    void signOffers256BytesAndAsksAgainOnlyForALongerSignature() throws Exception {
        byte[] data = bytes(10, 0x20);
        module.script("C_Sign", "out=" + Platform.hex(bytes(128, 0)));
        assertArrayEquals(bytes(128, 0), pkcs11.C_Sign(HIGH | 3, data));
        assertEquals(1, module.count("C_Sign"), "no size query");
        Call only = module.last("C_Sign");
        assertEquals("ptr", only.get("pSignature"));
        assertEquals(256, only.num("pulSignatureLen"));
        assertEquals(Platform.ulong(HIGH | 3), only.num("hSession"));
        assertArrayEquals(data, only.bytes("pData"));

        module.clear();
        module.script("C_Sign", "out=" + Platform.hex(bytes(512, 7)) + " times=2");
        assertArrayEquals(bytes(512, 7), pkcs11.C_Sign(1, data));
        List<Call> calls = module.calls("C_Sign");
        assertEquals(2, calls.size());
        assertEquals(CKR_BUFFER_TOO_SMALL, calls.get(0).num("rv"));
        assertEquals(256, calls.get(0).num("pulSignatureLen"));
        assertEquals(512, calls.get(1).num("pulSignatureLen"), "exactly the length the module asked for");
        assertArrayEquals(data, calls.get(1).bytes("pData"));
    }

    @Test
    void signThrowsASecondBufferTooSmallAndAnyOtherError() throws Exception {
        module.script("C_Sign", "out=" + Platform.hex(bytes(300, 0)) + " rv=" + CKR_BUFFER_TOO_SMALL + " times=2");
        assertError(CKR_BUFFER_TOO_SMALL, () -> pkcs11.C_Sign(1, new byte[1]));
        assertEquals(2, module.count("C_Sign"), "one retry only");

        module.reset();
        assertModuleError("C_Sign", CKR_OPERATION_NOT_INITIALIZED, () -> pkcs11.C_Sign(1, new byte[1]));
        assertEquals(1, module.count("C_Sign"));
    }

    @Test
    void signRefusesALengthOverTheBufferWithCkrOk() throws Exception {
        module.script("C_Sign", "out=" + Platform.hex(bytes(256, 0)) + " len=300 rv=0");
        assertRefused("C_Sign reported 300 bytes but only 256 were allocated", () -> pkcs11.C_Sign(1, null));

        module.script("C_Sign", "out=" + Platform.hex(bytes(300, 0)));
        module.script("C_Sign", "out=" + Platform.hex(bytes(300, 0)) + " len=301");
        assertRefused("C_Sign reported 301 bytes but only 300 were allocated", () -> pkcs11.C_Sign(1, null));
    }

    // ---- feed, verify, scalar ----

    @Test
    void feedsPassTheirInputOnce() throws Exception {
        for (Map.Entry<String, Feed<byte[]>> f : feeds().entrySet()) {
            String fn = f.getKey();
            f.getValue().apply(HIGH | 2, bytes(6, 0x61));
            f.getValue().apply(2, null);
            List<Call> calls = module.calls(fn);
            assertEquals(2, calls.size(), fn);
            assertEquals(Platform.ulong(HIGH | 2), calls.get(0).num("hSession"), fn);
            assertEquals(List.of("hex:616263646566", "6"), arguments(calls.get(0), 1, 2), fn);
            assertEquals(List.of("null", "0"), arguments(calls.get(1), 1, 2), fn);

            module.script(fn, "rv=" + CKR_SIGNATURE_INVALID);
            assertError(CKR_SIGNATURE_INVALID, () -> f.getValue().apply(2, new byte[1]), fn);
        }
    }

    @Test
    void verifyPassesDataThenSignatureAndAWrongSignatureIsTheModulesError() throws Exception {
        byte[] data = bytes(300, 0);  // longer than the inline copy
        byte[] signature = bytes(64, 0x80);
        pkcs11.C_Verify(1, data, signature);
        Call call = module.last("C_Verify");
        assertArrayEquals(data, call.bytes("pData"));
        assertEquals(300, call.num("ulDataLen"));
        assertArrayEquals(signature, call.bytes("pSignature"));
        assertEquals(64, call.num("ulSignatureLen"));

        assertModuleError("C_Verify", CKR_SIGNATURE_INVALID, () -> pkcs11.C_Verify(1, data, new byte[64]));

        pkcs11.C_Verify(1, null, new byte[0]);
        Call empty = module.last("C_Verify");
        assertTrue(empty.isNull("pData"));
        assertArrayEquals(new byte[0], empty.bytes("pSignature"), "an empty array is a valid pointer");
    }

    @Test
    void digestKeyPassesTheLowBitsOfItsHandles() throws Exception {
        pkcs11.C_DigestKey(HIGH | 1, HIGH | 77);
        Call call = module.last("C_DigestKey");
        assertEquals(Platform.ulong(HIGH | 1), call.num("hSession"));
        assertEquals(Platform.ulong(HIGH | 77), call.num("hKey"));
        assertModuleError("C_DigestKey", CKR_KEY_HANDLE_INVALID, () -> pkcs11.C_DigestKey(1, 2));
    }

    // ---- initialise ----

    @Test
    void initialisersPassSessionMechanismAndKey() throws Exception {
        pkcs11.C_DigestInit(HIGH | 1, new CK_MECHANISM(CKM_SHA256));
        Call digest = module.last("C_DigestInit");
        assertEquals(Platform.ulong(HIGH | 1), digest.num("hSession"));
        assertEquals(CKM_SHA256, digest.num("mechanism"));
        assertNullOfLengthZero(digest, "pParameter", "ulParameterLen");
        assertFalse(digest.has("hKey"));

        pkcs11.C_VerifyRecoverInit(2, new CK_MECHANISM(CKM_RSA_PKCS), HIGH | 8);
        assertEquals(Platform.ulong(HIGH | 8), module.last("C_VerifyRecoverInit").num("hKey"));
    }

    @Test
    void theConvertedIvIsFreedAlsoWhenTheModuleRejectsTheKey() throws Exception {
        byte[] iv = bytes(16, 0xA0);
        assertModuleError("C_EncryptInit", CKR_KEY_HANDLE_INVALID,
                () -> pkcs11.C_EncryptInit(1, new CK_MECHANISM(CKM_AES_CBC, iv), 99));
        assertArrayEquals(iv, module.last("C_EncryptInit").bytes("pParameter"), "the module saw the IV");
        assertEquals(blocksBefore, PKCS11Impl.heapBlockCount(), "and it is gone");
    }
}
