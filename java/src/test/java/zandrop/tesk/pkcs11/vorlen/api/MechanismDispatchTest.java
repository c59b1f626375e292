package zandrop.tesk.pkcs11.vorlen.api;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.*;
import static zandrop.tesk.pkcs11.vorlen.api.ParameterLayout.ULONG;
import static zandrop.tesk.pkcs11.vorlen.api.ParameterLayout.sizeof;

import java.nio.charset.StandardCharsets;
import java.util.LinkedHashMap;
import java.util.Map;

import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.function.Executable;

import zandrop.tesk.pkcs11.vorlen.testmodule.Call;

/**
 * A Java CK_MECHANISM to what the module receives: the type's low bits, the parameter's native
 * form chosen by its Java class alone, and parameters that stop a call before the module.
 */
class MechanismDispatchTest extends ConnectedToTestModule {
    /** Starts a signature with the mechanism and returns what the module received. */
    private Call signInit(CK_MECHANISM mechanism) throws Exception {
        pkcs11.C_SignInit(1, mechanism, 2);
        return module.last("C_SignInit");
    }

    private Call signInit(Object parameter) throws Exception {
        return signInit(new CK_MECHANISM(CKM_SHA256_RSA_PKCS_PSS, parameter));
    }

    private void assertParameter(Object parameter, byte[] expected) throws Exception {
        Call call = signInit(parameter);
        assertArrayEquals(expected, call.bytes("pParameter"), "bytes of " + parameter);
        assertEquals(expected.length, call.num("ulParameterLen"), "length of " + parameter);
    }

    @Test
    void noParameterIsANullPointerOfLengthZero() throws Exception {
        assertNullOfLengthZero(signInit((Object) null), "pParameter", "ulParameterLen");
    }

    @Test
    void bytesLongsAndVersionsComeFirst() throws Exception {
        assertParameter(new byte[0], new byte[0]);  // a non-null pointer of length 0
        byte[] iv = Platform.counting(16, 0xF0, 1);
        assertParameter(iv, iv);
        assertParameter(4294967301L, Platform.ulongBytes(4294967301L));
        assertParameter(new CK_VERSION(3, 1), new byte[] {3, 1});
    }

    @Test
    void otherValuesTakeTheirAttributeValueForm() throws Exception {
        assertParameter(Integer.valueOf(-1), Platform.ulongBytes(-1L));
        assertParameter(Boolean.TRUE, new byte[] {1});
        assertParameter("abc", "abc".getBytes(StandardCharsets.US_ASCII));
        assertParameter(new char[] {'I', '\u0156'}, new byte[] {'I', 0x56});
        assertParameter(new long[] {7, 4294967297L}, Platform.ulongBytes(7, 4294967297L));
        assertParameter(new CK_DATE("2024".toCharArray(), "02".toCharArray(), "29".toCharArray()),
                "20240229".getBytes(StandardCharsets.US_ASCII));
    }

    @Test
    void theMechanismTypeKeepsTheLowBitsThatFit() throws Exception {
        assertEquals(Platform.ulong(4294967297L), signInit(new CK_MECHANISM(4294967297L)).num("mechanism"));
        assertEquals(CKM_VENDOR_DEFINED, signInit(new CK_MECHANISM(CKM_VENDOR_DEFINED)).num("mechanism"));
    }

    /** A parameter class of the package extended by the application. */
    static final class SaltedPss extends CK_RSA_PKCS_PSS_PARAMS {
        SaltedPss() {
            super(CKM_SHA256, CKG_MGF1_SHA256, 32);
        }
    }

    /** A mechanism class extended by the application. */
    static final class NamedMechanism extends CK_MECHANISM {
        NamedMechanism(long type, Object parameter) {
            super(type, parameter);
        }
    }

    @Test
    void theParameterClassDecidesWhateverTheMechanismType() throws Exception {
        byte[] pss = Platform.ulongBytes(CKM_SHA256, CKG_MGF1_SHA256, 32);
        for (long type : new long[] {CKM_SHA256_RSA_PKCS_PSS, CKM_AES_CBC, CKM_VENDOR_DEFINED | 5}) {
            Call call = signInit(new CK_MECHANISM(type, new CK_RSA_PKCS_PSS_PARAMS(CKM_SHA256, CKG_MGF1_SHA256, 32)));
            assertArrayEquals(pss, call.bytes("pParameter"), "under mechanism " + type);
            assertEquals(sizeof(ULONG, ULONG, ULONG), call.num("ulParameterLen"));
        }
        assertArrayEquals(pss, signInit(new SaltedPss()).bytes("pParameter"), "a subclass is its record");
        Call subclassed = signInit(new NamedMechanism(CKM_AES_CBC, new byte[] {1, 2}));
        assertEquals(CKM_AES_CBC, subclassed.num("mechanism"));
        assertArrayEquals(new byte[] {1, 2}, subclassed.bytes("pParameter"));
    }

    /** Every wrapper that converts a mechanism, called with {@code mechanism}. */
    private Map<String, Executable> mechanismWrappers(CK_MECHANISM mechanism) {
        Map<String, Executable> calls = new LinkedHashMap<>();
        calls.put("C_EncryptInit", () -> pkcs11.C_EncryptInit(1, mechanism, 2));
        calls.put("C_DecryptInit", () -> pkcs11.C_DecryptInit(1, mechanism, 2));
        calls.put("C_DigestInit", () -> pkcs11.C_DigestInit(1, mechanism));
        calls.put("C_SignInit", () -> pkcs11.C_SignInit(1, mechanism, 2));
        calls.put("C_SignRecoverInit", () -> pkcs11.C_SignRecoverInit(1, mechanism, 2));
        calls.put("C_VerifyInit", () -> pkcs11.C_VerifyInit(1, mechanism, 2));
        calls.put("C_VerifyRecoverInit", () -> pkcs11.C_VerifyRecoverInit(1, mechanism, 2));
        calls.put("C_GenerateKey", () -> pkcs11.C_GenerateKey(1, mechanism, new CK_ATTRIBUTE[0]));
        calls.put("C_GenerateKeyPair", () -> pkcs11.C_GenerateKeyPair(1, mechanism, null, null));
        calls.put("C_WrapKey", () -> pkcs11.C_WrapKey(1, mechanism, 2, 3));
        calls.put("C_UnwrapKey", () -> pkcs11.C_UnwrapKey(1, mechanism, 2, new byte[4], null));
        calls.put("C_DeriveKey", () -> pkcs11.C_DeriveKey(1, mechanism, 2, null));
        return calls;
    }

    @Test
    void anUnconvertibleParameterStopsEveryWrapperBeforeTheModule() {
        Object[][] cases = {
            {new Object(), "java.lang.Object"},
            {new short[] {1}, "[S"},
            {Double.valueOf(1), "java.lang.Double"},
        };
        for (Object[] c : cases) {
            for (Map.Entry<String, Executable> wrapper : mechanismWrappers(new CK_MECHANISM(CKM_AES_CBC, c[0])).entrySet()) {
                assertExactMessage(PKCS11RuntimeException.class, CANNOT_CONVERT + c[1], wrapper.getValue(), wrapper.getKey());
                assertEquals(0, module.count(wrapper.getKey()), wrapper.getKey() + " never reaches the module");
            }
        }
    }

    @Test
    void aNullMechanismStopsEveryWrapperBeforeTheModule() {
        for (Map.Entry<String, Executable> wrapper : mechanismWrappers(null).entrySet()) {
            NullPointerException e = assertThrows(NullPointerException.class, wrapper.getValue(), wrapper.getKey());
            assertTrue(e.getMessage().contains("CK_MECHANISM is null"), e.getMessage());
            assertEquals(0, module.count(wrapper.getKey()), wrapper.getKey());
        }
    }

    @Test
    void aRecordThatFailsHalfWayFreesWhatItConverted() {
        // The random data converts, then the missing version stops the record.
        CK_SSL3_MASTER_KEY_DERIVE_PARAMS params = new CK_SSL3_MASTER_KEY_DERIVE_PARAMS(
                new CK_SSL3_RANDOM_DATA(new byte[32], new byte[32]), null);
        assertThrows(NullPointerException.class,
                () -> pkcs11.C_DeriveKey(1, new CK_MECHANISM(CKM_SSL3_MASTER_KEY_DERIVE, params), 2, null));
        assertEquals(0, module.count("C_DeriveKey"));
        // The heap check after the test proves the random data copies are gone.
    }
}
