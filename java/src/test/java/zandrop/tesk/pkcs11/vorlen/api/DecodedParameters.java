package zandrop.tesk.pkcs11.vorlen.api;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKM_AES_CBC;

import zandrop.tesk.pkcs11.vorlen.testmodule.Call;

/**
 * Sends a mechanism parameter to the test module, which decodes the native record member by member
 * at the platform's offsets and records it; the helpers compare the members and the refusals that
 * happen before the module is called.
 */
abstract class DecodedParameters extends ConnectedToTestModule {
    static void assertBytes(byte[] expected, Call call, String field) {
        assertArrayEquals(expected, call.bytes("param." + field), field + " in " + call);
    }

    static void assertNum(long expected, Call call, String field) {
        assertEquals(expected, call.num("param." + field), field + " in " + call);
    }

    void assertRejectedBeforeTheModule(Class<? extends Throwable> type, String text, Object parameter) {
        int before = module.count("C_EncryptInit");
        Throwable e = assertThrows(type,
                () -> pkcs11.C_EncryptInit(1, new CK_MECHANISM(CKM_AES_CBC, parameter), 7));
        assertTrue(e.getMessage().contains(text), e.getMessage());
        assertEquals(before, module.count("C_EncryptInit"), "the module is not called");
    }
}
