package zandrop.tesk.pkcs11.vorlen.api;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.*;

import java.nio.charset.StandardCharsets;
import java.util.Arrays;
import java.util.List;

import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.function.Executable;

import zandrop.tesk.pkcs11.vorlen.testmodule.Call;

/** Session information, saved operation state, login and logout, and the arguments they pass. */
class SessionFunctionsTest extends ConnectedToTestModule {

    @Test
    void openSessionPassesSlotAndFlagsAsTheyAre() throws Exception {
        long session = pkcs11.C_OpenSession(HIGH | 2, HIGH | CKF_SERIAL_SESSION | CKF_RW_SESSION, null, null);
        Call open = module.last("C_OpenSession");
        assertEquals(Platform.ulong(HIGH | 2), open.num("slotID"));
        assertEquals(Platform.ulong(HIGH | CKF_SERIAL_SESSION | CKF_RW_SESSION), open.num("flags"),
                "no flag of the library's own is added");
        assertEquals(1, session);

        module.script("C_OpenSession", "handle=0xFFFFFFFF");
        assertEquals(4294967295L, pkcs11.C_OpenSession(1, CKF_SERIAL_SESSION, null, null));
        module.script("C_OpenSession", "rv=0xB1");
        assertError(CKR_SESSION_COUNT, () -> pkcs11.C_OpenSession(1, CKF_SERIAL_SESSION, null, null));

        pkcs11.C_CloseSession(HIGH | 7);
        assertEquals(Platform.ulong(HIGH | 7), module.last("C_CloseSession").num("hSession"));
        pkcs11.C_CloseAllSessions(HIGH | 2);
        assertEquals(Platform.ulong(HIGH | 2), module.last("C_CloseAllSessions").num("slotID"));
    }

    @Test
    void sessionInfoIsReadIntoANewRecordOnlyOnSuccess() throws Exception {
        module.script("C_GetSessionInfo", "slotID=0xFFFFFFFF state=3 flags=6 ulDeviceError=0x80000000");
        CK_SESSION_INFO info = pkcs11.C_GetSessionInfo(HIGH | 4);
        assertEquals(Platform.ulong(HIGH | 4), module.last("C_GetSessionInfo").num("hSession"));
        assertEquals(4294967295L, info.slotID);
        assertEquals(CKS_RW_USER_FUNCTIONS, info.state);
        assertEquals(CKF_SERIAL_SESSION | CKF_RW_SESSION, info.flags);
        assertEquals(2147483648L, info.ulDeviceError);

        module.script("C_GetSessionInfo", "rv=0xB3");
        assertError(CKR_SESSION_HANDLE_INVALID, () -> pkcs11.C_GetSessionInfo(4));
    }

    @Test
    void operationStateRoundTripsEveryByteValue() throws Exception {
        byte[] state = Platform.counting(256, 0, 1);
        module.script("C_GetOperationState", "out=" + Platform.hex(state) + " times=2");
        byte[] saved = pkcs11.C_GetOperationState(3);
        assertArrayEquals(state, saved);
        List<Call> calls = module.calls("C_GetOperationState");
        assertEquals(2, calls.size());
        assertTrue(calls.get(0).isNull("pOperationState"), "a size query first");
        assertEquals(256, calls.get(1).num("pulOperationStateLen"), "then the length it reported");

        char[] widened = new String(saved, StandardCharsets.ISO_8859_1).toCharArray();  // each byte its char
        pkcs11.C_SetOperationState(3, widened, HIGH | 11, 12);
        Call set = module.last("C_SetOperationState");
        assertArrayEquals(state, set.bytes("pOperationState"));
        assertEquals(256, set.num("ulOperationStateLen"));
        assertEquals(Platform.ulong(HIGH | 11), set.num("hEncryptionKey"));
        assertEquals(12, set.num("hAuthenticationKey"));

        // Only the low 8 bits of each char reach the module.
        pkcs11.C_SetOperationState(3, new char[] {'\u01FF', '\u0100', 'A'}, 0, 0);
        assertArrayEquals(new byte[] {(byte) 0xFF, 0, 0x41}, module.last("C_SetOperationState").bytes("pOperationState"));
        pkcs11.C_SetOperationState(3, null, 0, 0);
        assertNullOfLengthZero(module.last("C_SetOperationState"), "pOperationState", "ulOperationStateLen");
    }

    @Test
    void emptyOperationStateTakesTwoCalls() throws Exception {
        module.script("C_GetOperationState", "out= times=2");
        assertEquals(0, pkcs11.C_GetOperationState(1).length);
        List<Call> calls = module.calls("C_GetOperationState");
        assertEquals(2, calls.size());
        assertEquals("ptr", calls.get(1).get("pOperationState"), "the second call is not another size query");
        assertEquals(0, calls.get(1).num("pulOperationStateLen"));
    }

    @Test
    void operationStateFailuresAndLyingLengths() {
        module.script("C_GetOperationState", "rv=0x180");
        assertError(CKR_STATE_UNSAVEABLE, () -> pkcs11.C_GetOperationState(1));
        assertEquals(1, module.count("C_GetOperationState"));

        // The state grew between the two calls: the module's answer, no retry.
        module.script("C_GetOperationState", "out=0102");
        module.script("C_GetOperationState", "out=010203");
        assertError(CKR_BUFFER_TOO_SMALL, () -> pkcs11.C_GetOperationState(1));
        assertEquals(3, module.count("C_GetOperationState"));

        // A module that reports more than it was given room for, with CKR_OK, is not believed.
        module.script("C_GetOperationState", "out=0102");
        module.script("C_GetOperationState", "out=0102 len=4000 rv=0");
        assertRefused("C_GetOperationState reported 4000 bytes but only 2", () -> pkcs11.C_GetOperationState(1));

        module.script("C_GetOperationState", "len=unavail");
        assertMessage(PKCS11RuntimeException.class, "C_GetOperationState", () -> pkcs11.C_GetOperationState(1));
        assertEquals(6, module.count("C_GetOperationState"), "nothing is allocated for an impossible length");
    }

    @Test
    void loginPassesOneBytePerPinCharacter() throws Exception {
        pkcs11.C_Login(HIGH | 2, HIGH | CKU_USER, new char[] {'1', '2', '\u0141', '\u00FF'});
        Call login = module.last("C_Login");
        assertEquals(Platform.ulong(HIGH | 2), login.num("hSession"));
        assertEquals(Platform.ulong(HIGH | CKU_USER), login.num("userType"));
        assertArrayEquals(new byte[] {'1', '2', 0x41, (byte) 0xFF}, login.bytes("pPin"));
        assertEquals(4, login.num("ulPinLen"));

        pkcs11.C_Login(2, CKU_SO, null);
        Call protectedPath = module.last("C_Login");
        assertNull(protectedPath.bytes("pPin"), "a null PIN for the protected authentication path");
        assertEquals(0, protectedPath.num("ulPinLen"));
        pkcs11.C_Login(2, CKU_USER, new char[0]);
        assertArrayEquals(new byte[0], module.last("C_Login").bytes("pPin"), "an empty PIN is not a null one");

        module.script("C_Login", "rv=0xA0");
        assertError(CKR_PIN_INCORRECT, () -> pkcs11.C_Login(2, CKU_USER, "0000".toCharArray()));

        pkcs11.C_Logout(HIGH | 2);
        assertEquals(Platform.ulong(HIGH | 2), module.last("C_Logout").num("hSession"));
        module.script("C_Logout", "rv=0x101");
        assertError(CKR_USER_NOT_LOGGED_IN, () -> pkcs11.C_Logout(2));
    }

    @Test
    void everyMethodOfAnUnboundObjectStopsBeforeTheModule() {
        module.clear();
        PKCS11Impl unbound = new PKCS11Impl();
        Executable[] calls = {
            () -> unbound.C_OpenSession(1, CKF_SERIAL_SESSION, null, null),
            () -> unbound.C_CloseSession(1),
            () -> unbound.C_CloseAllSessions(1),
            () -> unbound.C_GetSessionInfo(1),
            () -> unbound.C_GetOperationState(1),
            () -> unbound.C_SetOperationState(1, new char[] {1}, 0, 0),
            () -> unbound.C_Login(1, CKU_USER, new char[] {'1'}),
            () -> unbound.C_Logout(1),
        };
        Arrays.stream(calls).forEach(ConnectedToTestModule::assertNotConnected);
        assertEquals(0, module.calls().size());
    }
}
