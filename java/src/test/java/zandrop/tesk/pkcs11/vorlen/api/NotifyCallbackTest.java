package zandrop.tesk.pkcs11.vorlen.api;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertInstanceOf;
import static org.junit.jupiter.api.Assertions.assertNotSame;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertSame;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.*;

import java.util.List;
import java.util.concurrent.CopyOnWriteArrayList;

import org.junit.jupiter.api.Test;

import zandrop.tesk.pkcs11.vorlen.testmodule.Call;

/** Notifications of the module reaching the Java CK_NOTIFY, on the caller's thread and on the module's. */
class NotifyCallbackTest extends ConnectedToTestModule {
    /** One call of a Java CK_NOTIFY. */
    record Notification(long hSession, long event, Object application, Thread thread) {}

    /** A CK_NOTIFY that remembers every call and can answer chosen events with an exception. */
    static final class Recorder implements CK_NOTIFY {
        final List<Notification> received = new CopyOnWriteArrayList<>();
        volatile long failingEvent = -1;
        volatile Exception failure;

        @Override
        public void CK_NOTIFY(long hSession, long event, Object pApplication) throws PKCS11Exception {
            received.add(new Notification(hSession, event, pApplication, Thread.currentThread()));
            if (event == failingEvent) {
                if (failure instanceof PKCS11Exception e) {
                    throw e;
                }
                throw (RuntimeException) failure;
            }
        }

        List<Long> events() {
            return received.stream().map(Notification::event).toList();
        }
    }

    @Test
    void notificationsDuringOpenSessionArriveOnTheCallingThreadZeroExtended() throws Exception {
        Recorder notify = new Recorder();
        Object application = new Object();
        module.script("C_OpenSession", "handle=0x80000000 notify=0,0x80000001,1");
        long session = pkcs11.C_OpenSession(1, CKF_SERIAL_SESSION, application, notify);
        assertEquals(2147483648L, session);
        assertEquals(List.of(CKN_SURRENDER, 2147483649L, CKN_OTP_CHANGED), notify.events());
        for (Notification n : notify.received) {
            assertEquals(2147483648L, n.hSession());
            assertSame(application, n.application());
            assertSame(Thread.currentThread(), n.thread());
        }
        Call open = module.last("C_OpenSession");
        assertEquals("ptr", open.get("pApplication"));
        assertEquals("ptr", open.get("Notify"));
        for (Call callback : module.calls("callback")) {
            assertEquals("0", callback.get("moduleThread"));
            assertEquals(CKR_OK, callback.num("rv"));
        }

        // A handle with all 32 bits set, notified by a later call of the session.
        module.script("C_OpenSession", "handle=0xFFFFFFFF");
        long high = pkcs11.C_OpenSession(1, CKF_SERIAL_SESSION, null, notify);
        assertEquals(4294967295L, high);
        module.script("C_Login", "notify=0xFFFFFFFF");
        pkcs11.C_Login(high, CKU_USER, null);
        Notification last = notify.received.get(notify.received.size() - 1);
        assertEquals(4294967295L, last.hSession());
        assertEquals(4294967295L, last.event());
        assertNull(last.application(), "no application object gives null");
        pkcs11.C_CloseSession(session);
        pkcs11.C_CloseSession(high);
    }

    @Test
    void notificationsFromThreadsOfTheModuleAttachAndDetach() throws Exception {
        Recorder notify = new Recorder();
        String application = "app";
        long session = pkcs11.C_OpenSession(1, CKF_SERIAL_SESSION, application, notify);
        module.script("C_GetSessionInfo", "notify=0 threads=3");
        pkcs11.C_GetSessionInfo(session);
        assertEquals(3, notify.received.size());
        for (Notification n : notify.received) {
            assertEquals(session, n.hSession());
            assertSame(application, n.application());
            assertNotSame(Thread.currentThread(), n.thread());
        }
        for (Call callback : module.calls("callback")) {
            assertEquals("1", callback.get("moduleThread"));
            assertEquals(CKR_OK, callback.num("rv"));
        }
        for (Notification n : notify.received) {
            n.thread().join(5000);
            assertFalse(n.thread().isAlive(), "the module's thread is detached again");
        }

        // A notification that comes after the call has returned.
        notify.received.clear();
        module.script("C_Logout", "notify=1 async=1 sleep=100");
        pkcs11.C_Logout(session);
        module.join();
        assertEquals(List.of(CKN_OTP_CHANGED), notify.events());
        assertEquals(session, notify.received.get(0).hSession());
        pkcs11.C_CloseSession(session);
    }

    @Test
    void exceptionOfTheJavaNotifyReachesTheModuleAsItsErrorCode() throws Exception {
        Recorder notify = new Recorder();
        notify.failingEvent = CKN_SURRENDER;
        notify.failure = new PKCS11Exception(CKR_CANCEL);
        long session = pkcs11.C_OpenSession(1, CKF_SERIAL_SESSION, null, notify);

        // The module answers CKR_OK after the refusal: the call succeeds.
        module.script("C_GetSessionInfo", "notify=0,1");
        CK_SESSION_INFO info = pkcs11.C_GetSessionInfo(session);
        assertEquals(1, info.slotID);
        List<Call> callbacks = module.calls("callback");
        assertEquals(CKR_CANCEL, callbacks.get(0).num("rv"));
        assertEquals(CKR_OK, callbacks.get(1).num("rv"), "the next notification runs with a clean thread");

        // The module fails: the refusal is the cause of its error.
        module.clear();
        module.script("C_GetSessionInfo", "notify=0 rv=0x5");
        PKCS11Exception e = assertError(CKR_GENERAL_ERROR, () -> pkcs11.C_GetSessionInfo(session));
        assertSame(notify.failure, e.getCause());
        assertEquals(CKR_CANCEL, module.last("callback").num("rv"));

        // On a thread of the module nobody receives the exception; the module still gets the code.
        module.clear();
        module.script("C_GetSessionInfo", "notify=0 thread=native");
        pkcs11.C_GetSessionInfo(session);
        assertEquals(CKR_CANCEL, module.last("callback").num("rv"));

        // Another throwable answers CKR_GENERAL_ERROR.
        module.clear();
        notify.failure = new IllegalStateException("not now");
        module.script("C_Logout", "notify=0 rv=0x6");
        PKCS11Exception other = assertError(CKR_FUNCTION_FAILED, () -> pkcs11.C_Logout(session));
        assertInstanceOf(IllegalStateException.class, other.getCause());
        assertEquals(CKR_GENERAL_ERROR, module.last("callback").num("rv"));
        pkcs11.C_CloseSession(session);
    }

    @Test
    void withoutNotifyTheModuleGetsNeitherPointer() throws Exception {
        long refs = PKCS11Impl.globalReferenceCount();
        long blocks = PKCS11Impl.heapBlockCount();
        module.script("C_OpenSession", "notify=0");
        long session = pkcs11.C_OpenSession(1, CKF_SERIAL_SESSION, new Object(), null);
        Call open = module.last("C_OpenSession");
        assertTrue(open.isNull("pApplication"), "the application object is not passed on");
        assertTrue(open.isNull("Notify"));
        assertEquals("1", module.last("callback").get("skipped"), "nothing for the module to call");
        assertEquals(refs, PKCS11Impl.globalReferenceCount());
        assertEquals(blocks, PKCS11Impl.heapBlockCount());
        pkcs11.C_CloseSession(session);
        assertEquals(refs, PKCS11Impl.globalReferenceCount());
    }

    @Test
    void failedOpenSessionStillNotifiedDuringTheCallButKeepsNothing() throws Exception {
        Recorder notify = new Recorder();
        long refs = PKCS11Impl.globalReferenceCount();
        long blocks = PKCS11Impl.heapBlockCount();
        module.script("C_OpenSession", "rv=0xE0 notify=0");
        assertError(CKR_TOKEN_NOT_PRESENT, () -> pkcs11.C_OpenSession(1, CKF_SERIAL_SESSION, "app", notify));
        assertEquals(1, notify.received.size(), "the binding was valid throughout the call");
        assertEquals(refs, PKCS11Impl.globalReferenceCount(), "no global reference is left");
        assertEquals(blocks, PKCS11Impl.heapBlockCount(), "the binding is freed");
    }

    @Test
    void notConnectedObjectMakesNoBinding() {
        PKCS11Impl unbound = new PKCS11Impl();
        long refs = PKCS11Impl.globalReferenceCount();
        assertNotConnected(() -> unbound.C_OpenSession(1, CKF_SERIAL_SESSION, "app", new Recorder()));
        assertEquals(refs, PKCS11Impl.globalReferenceCount());
        assertEquals(0, module.count("C_OpenSession"));
    }

    @Test
    void callsNestedDeeperThanAThreadKeepsPinsForStillLetGoOfTheBinding() throws Exception {
        // Each C_GetSessionInfo notifies, and the CK_NOTIFY calls C_GetSessionInfo again: twelve
        // calls in flight on one thread, more than it keeps pins for.
        int depth = 12;
        int[] level = {0};
        long refs = PKCS11Impl.globalReferenceCount();
        long session = pkcs11.C_OpenSession(1, CKF_SERIAL_SESSION, null, (s, event, application) -> {
            if (++level[0] < depth) {
                pkcs11.C_GetSessionInfo(s);
            }
        });
        module.script("C_GetSessionInfo", "notify=" + CKN_SURRENDER + " times=" + depth);
        pkcs11.C_GetSessionInfo(session);
        assertEquals(depth, level[0]);
        assertEquals(depth, module.count("C_GetSessionInfo"));
        module.calls("callback").forEach(callback -> assertEquals(CKR_OK, callback.num("rv"), callback.toString()));
        pkcs11.C_CloseSession(session);
        // No level left a call counted: the binding goes, and its global reference with it.
        pkcs11.disconnect();
        assertEquals(refs - 1, PKCS11Impl.globalReferenceCount());
        assertThrows(PKCS11RuntimeException.class, () -> pkcs11.C_GetSessionInfo(session));
    }
}
