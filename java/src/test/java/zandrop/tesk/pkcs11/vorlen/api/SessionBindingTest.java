package zandrop.tesk.pkcs11.vorlen.api;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertSame;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.*;

import java.util.List;
import java.util.concurrent.CopyOnWriteArrayList;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicReference;

import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;

import zandrop.tesk.pkcs11.vorlen.api.NotifyCallbackTest.Recorder;
import zandrop.tesk.pkcs11.vorlen.testmodule.TestModule;

/**
 * The notification objects of sessions: held from C_OpenSession until the module has closed the
 * session, and released for exactly the sessions it closed (of that module, handle and slot).
 */
class SessionBindingTest {
    private TestModule first;
    private TestModule second;
    private PKCS11Impl pkcs11;
    private PKCS11Impl other;
    private long refsBefore;
    private long blocksBefore;

    @BeforeEach
    void connect() throws Exception {
        PKCS11Impl.initializeLibrary();
        first = TestModules.firstModule();
        second = TestModules.secondModule();
        refsBefore = PKCS11Impl.globalReferenceCount();
        blocksBefore = PKCS11Impl.heapBlockCount();
        pkcs11 = TestModules.connected(TestModules.first());
        other = TestModules.connected(TestModules.second());
    }

    @AfterEach
    void disconnect() {
        first.join();
        second.join();
        pkcs11.disconnect();
        other.disconnect();
    }

    /** Global references of the library, less those of the two connections. */
    private long refs() {
        return PKCS11Impl.globalReferenceCount() - refsBefore - 2;
    }

    /** Makes the module notify `session` with CKN_SURRENDER during a C_GetSessionInfo. */
    private static void notifyThrough(PKCS11Impl object, TestModule module, long session) throws Exception {
        module.script("C_GetSessionInfo", "notify=0");
        object.C_GetSessionInfo(session);
    }

    @Test
    void closingASessionReleasesItsReferencesAndNothingElse() throws Exception {
        Recorder notify = new Recorder();
        long withApplication = pkcs11.C_OpenSession(1, CKF_SERIAL_SESSION, new Object(), notify);
        assertEquals(2, refs());
        long withoutApplication = pkcs11.C_OpenSession(1, CKF_SERIAL_SESSION, null, notify);
        assertEquals(3, refs());
        long plain = pkcs11.C_OpenSession(1, CKF_SERIAL_SESSION, null, null);
        assertEquals(3, refs());

        pkcs11.C_CloseSession(plain);
        assertEquals(3, refs(), "a session without notification object releases nothing");
        pkcs11.C_CloseSession(withApplication);
        assertEquals(1, refs(), "two references for a session with an application object");
        notifyThrough(pkcs11, first, withoutApplication);
        assertEquals(1, notify.received.size(), "the other session is still notified");
        pkcs11.C_CloseSession(withoutApplication);
        assertEquals(0, refs(), "every reference is gone once every session has closed");
        assertEquals(blocksBefore, PKCS11Impl.heapBlockCount());
    }

    @Test
    void failedCloseKeepsTheBindingAndALaterCloseReleasesIt() throws Exception {
        Recorder notify = new Recorder();
        Object application = new Object();
        long session = pkcs11.C_OpenSession(1, CKF_SERIAL_SESSION, application, notify);
        first.script("C_CloseSession", "rv=0x30");
        ConnectedToTestModule.assertError(CKR_DEVICE_ERROR, () -> pkcs11.C_CloseSession(session));
        assertEquals(2, refs());
        notifyThrough(pkcs11, first, session);
        assertSame(application, notify.received.get(0).application());

        // The module notifies during the close that succeeds: the binding is still valid then.
        first.script("C_CloseSession", "notify=0");
        pkcs11.C_CloseSession(session);
        assertEquals(2, notify.received.size());
        assertEquals(0, refs());

        // A failing C_CloseAllSessions releases nothing either.
        long again = pkcs11.C_OpenSession(1, CKF_SERIAL_SESSION, null, notify);
        first.script("C_CloseAllSessions", "rv=0x30");
        assertThrows(PKCS11Exception.class, () -> pkcs11.C_CloseAllSessions(1));
        assertEquals(1, refs());
        notifyThrough(pkcs11, first, again);
        assertEquals(3, notify.received.size());
        pkcs11.C_CloseAllSessions(1);
        assertEquals(0, refs());
    }

    @Test
    void closeAllSessionsOfOneSlotKeepsOtherSlotsAndModules() throws Exception {
        Recorder slotOne = new Recorder();
        Recorder slotTwo = new Recorder();
        Recorder otherModule = new Recorder();
        long a = pkcs11.C_OpenSession(1, CKF_SERIAL_SESSION, "a", slotOne);
        pkcs11.C_OpenSession(1, CKF_SERIAL_SESSION, null, slotOne);
        long c = pkcs11.C_OpenSession(2, CKF_SERIAL_SESSION, "c", slotTwo);
        long d = other.C_OpenSession(1, CKF_SERIAL_SESSION, "d", otherModule);
        assertEquals(a, d, "both modules number their sessions alike");
        assertEquals(7, refs());

        pkcs11.C_CloseAllSessions(1);
        assertEquals(4, refs(), "only the two sessions of slot 1 of the first module are released");
        notifyThrough(pkcs11, first, c);
        notifyThrough(other, second, d);
        assertEquals(List.of(CKN_SURRENDER), slotTwo.events());
        assertEquals("c", slotTwo.received.get(0).application());
        assertEquals(List.of(CKN_SURRENDER), otherModule.events());
        assertEquals("d", otherModule.received.get(0).application());

        // Notifications from threads of the modules after the close, on a slot that was not closed.
        first.script("C_GetSessionInfo", "notify=1 async=1 sleep=50");
        second.script("C_GetSessionInfo", "notify=1 async=1 sleep=50");
        pkcs11.C_GetSessionInfo(c);
        other.C_GetSessionInfo(d);
        first.join();
        second.join();
        assertEquals(List.of(CKN_SURRENDER, CKN_OTP_CHANGED), slotTwo.events());
        assertEquals(List.of(CKN_SURRENDER, CKN_OTP_CHANGED), otherModule.events());
        assertTrue(slotOne.received.isEmpty());

        pkcs11.C_CloseAllSessions(2);
        assertEquals(2, refs());
        other.C_CloseSession(d);
        assertEquals(0, refs());
    }

    @Test
    void closeSessionTakesOnlyTheEntryOfItsOwnModule() throws Exception {
        Recorder firstNotify = new Recorder();
        Recorder secondNotify = new Recorder();
        // The second module's session enters the list first, under the same handle value.
        long inSecond = other.C_OpenSession(1, CKF_SERIAL_SESSION, null, secondNotify);
        long inFirst = pkcs11.C_OpenSession(1, CKF_SERIAL_SESSION, null, firstNotify);
        assertEquals(inFirst, inSecond);
        assertEquals(2, refs());

        pkcs11.C_CloseSession(inFirst);
        assertEquals(1, refs());
        notifyThrough(other, second, inSecond);
        assertEquals(1, secondNotify.received.size());
        assertEquals(inSecond, secondNotify.received.get(0).hSession());
        assertTrue(firstNotify.received.isEmpty());
        other.C_CloseSession(inSecond);
        assertEquals(0, refs());
    }

    @Test
    void objectsOfOneModuleFileShareItsSessions() throws Exception {
        TestModules.withConnection(TestModules.first(), twin -> {
            long base = refs();  // the twin's connection
            Recorder notify = new Recorder();
            long session = pkcs11.C_OpenSession(1, CKF_SERIAL_SESSION, "x", notify);
            notifyThrough(twin, first, session);
            assertEquals(1, notify.received.size());
            twin.C_CloseSession(session);
            assertEquals(base, refs(), "closed through the other object of the same module");

            pkcs11.C_OpenSession(3, CKF_SERIAL_SESSION, null, notify);
            twin.C_OpenSession(3, CKF_SERIAL_SESSION, null, notify);
            assertEquals(base + 2, refs());
            pkcs11.C_CloseAllSessions(4);
            assertEquals(base + 2, refs(), "another slot of the same module");
            twin.C_CloseAllSessions(3);
            assertEquals(base, refs());
        });
    }

    @Test
    void handleReusedWhileACloseIsUnderWayKeepsTheNewBinding() throws Exception {
        first.script("C_OpenSession", "handle=5");
        long old = pkcs11.C_OpenSession(1, CKF_SERIAL_SESSION, null, null);
        // The module frees handle 5 at once, then keeps the close busy for a while.
        first.script("C_CloseSession", "sleep=400");
        AtomicReference<Throwable> failure = new AtomicReference<>();
        Thread closer = TestModules.start("closer", () -> pkcs11.C_CloseSession(old), failure);
        TestModules.awaitCount(first, "C_CloseSession", 1);

        Recorder notify = new Recorder();
        first.script("C_OpenSession", "handle=5");
        long reused = pkcs11.C_OpenSession(1, CKF_SERIAL_SESSION, "new", notify);
        assertEquals(5, reused);
        closer.join();
        assertNull(failure.get());

        assertEquals(2, refs(), "the close that began earlier leaves the new session's binding alone");
        notifyThrough(pkcs11, first, reused);
        assertEquals("new", notify.received.get(0).application());
        pkcs11.C_CloseSession(reused);
        assertEquals(0, refs());
    }

    @Test
    void unloadingTheModuleReleasesTheBindingsOfItsOpenSessions() throws Exception {
        String path = TestModules.path("vorlen.testmodule.unload");
        PKCS11Impl alone = TestModules.connected(path);
        alone.C_Initialize(null);
        alone.C_OpenSession(1, CKF_SERIAL_SESSION, "app", new Recorder());
        alone.C_OpenSession(2, CKF_SERIAL_SESSION, null, new Recorder());
        assertEquals(4, refs(), "a third connection and the three references of its sessions");
        alone.C_Finalize(null);
        alone.disconnect();
        assertFalse(TestModules.mapped(path), "the module file is unloaded");
        assertEquals(0, refs(), "its sessions can no longer be notified: their references are gone");
        assertEquals(blocksBefore, PKCS11Impl.heapBlockCount());
    }

    @Test
    void aModuleConnectedAgainWhileItsCloseWaitsForACallbackKeepsItsSessions() throws Exception {
        // The 3.0 module file: no other object of this class uses it.
        TestModule v3 = TestModules.v3Module();
        PKCS11Impl alone = TestModules.connected(TestModules.v3());
        CountDownLatch inCallback = new CountDownLatch(1);
        CountDownLatch release = new CountDownLatch(1);
        List<Long> events = new CopyOnWriteArrayList<>();
        long session = alone.C_OpenSession(1, CKF_SERIAL_SESSION, "kept", (s, event, application) -> {
            events.add(event);
            if (events.size() == 1) {
                inCallback.countDown();
                try {
                    release.await(60, TimeUnit.SECONDS);
                } catch (InterruptedException e) {
                    Thread.currentThread().interrupt();
                }
            }
        });
        long held = PKCS11Impl.globalReferenceCount();
        v3.script("C_GetInfo", "notify=" + CKN_SURRENDER + " session=" + session + " async=1");
        alone.C_GetInfo();
        assertTrue(inCallback.await(60, TimeUnit.SECONDS));
        // The module's last use goes while its callback runs, so its close waits; meanwhile the
        // same file is connected again.
        alone.disconnect();
        alone.connect(TestModules.v3());
        release.countDown();
        v3.join();
        alone.C_GetInfo();  // the first call after the callback: the waiting close runs now
        assertEquals(held, PKCS11Impl.globalReferenceCount(),
                "the module is in use again: its session keeps its references");
        v3.script("C_GetSessionInfo", "notify=" + CKN_SURRENDER);
        alone.C_GetSessionInfo(session);
        assertEquals(List.of(CKN_SURRENDER, CKN_SURRENDER), events, "and its notifications");
        alone.C_CloseSession(session);
        alone.disconnect();
        assertEquals(0, refs());
    }

    @Test
    void finalizeLibraryKeepsBindingsOfModulesThatStayLoaded() throws Exception {
        Recorder notify = new Recorder();
        long session = pkcs11.C_OpenSession(1, CKF_SERIAL_SESSION, "kept", notify);
        long references = PKCS11Impl.globalReferenceCount();

        // The module stays loaded and notifies the open session while the library is finalised.
        first.script("C_GetInfo", "notify=0 session=" + session + " async=1 sleep=200");
        pkcs11.C_GetInfo();
        PKCS11Impl.finalizeLibrary();
        assertEquals(references - 2, PKCS11Impl.globalReferenceCount(),
                "the connections are dropped, the session's two references are not");
        first.join();
        assertEquals(1, notify.received.size());
        assertEquals("kept", notify.received.get(0).application());
        assertEquals(session, notify.received.get(0).hSession());

        // A later binding of the same module closes the session and releases its references.
        PKCS11Impl.initializeLibrary();
        pkcs11.connect(TestModules.first());
        other.connect(TestModules.second());
        assertEquals(2, refs());
        pkcs11.C_CloseSession(session);
        assertEquals(0, refs());
    }

    @Test
    void lateNotificationOfAClosedSessionNeverReachesANewSession() throws Exception {
        Recorder closedNotify = new Recorder();
        Recorder newNotify = new Recorder();
        for (int round = 0; round < 3; round++) {
            long closed = pkcs11.C_OpenSession(1, CKF_SERIAL_SESSION, "closed", closedNotify);
            pkcs11.C_CloseSession(closed);
            // While the next session is being opened (its binding maybe the one just released),
            // the module notifies the closed session with the pApplication it had.
            first.script("C_OpenSession", "notify=" + CKN_SURRENDER + " late=1 session=" + closed);
            long opened = pkcs11.C_OpenSession(1, CKF_SERIAL_SESSION, "new", newNotify);
            assertEquals(Long.toString(closed), first.last("callback").get("hSession"));
            assertEquals(CKR_OK, first.last("callback").num("rv"), "dropped, not refused");
            assertEquals(List.of(), newNotify.received, "round " + round);
            assertEquals(List.of(), closedNotify.received, "round " + round);
            // And once the new session is known, the closed one's notifications still go nowhere.
            first.script("C_GetSessionInfo", "notify=" + CKN_SURRENDER + " late=1 session=" + closed);
            pkcs11.C_GetSessionInfo(opened);
            assertEquals(List.of(), newNotify.received, "round " + round);
            notifyThrough(pkcs11, first, opened);
            assertEquals(1, newNotify.received.size(), "the new session's own notification arrives");
            assertEquals("new", newNotify.received.get(0).application());
            newNotify.received.clear();
            pkcs11.C_CloseSession(opened);
        }
        assertEquals(0, refs());
    }

    @Test
    void aLateNotificationHeldBackAcrossTensOfThousandsOfSessionsReachesNone() throws Exception {
        // More sessions than a generation of 10 bits beside a table index could tell apart
        // (the token of 32-bit builds once): the closed session's token must still match none.
        Recorder closedNotify = new Recorder();
        Recorder newNotify = new Recorder();
        long closed = pkcs11.C_OpenSession(1, CKF_SERIAL_SESSION, "closed", closedNotify);
        pkcs11.C_CloseSession(closed);
        first.setDefault("C_OpenSession", "notify=" + CKN_SURRENDER + " late=1 session=" + closed);
        // The old bound mattered only where pointers have 32 bits; 64-bit runs stay short.
        int sessions = Platform.ULONG_SIZE == 4 ? 70_000 : 5_000;
        for (int i = 0; i < sessions; i++) {
            pkcs11.C_CloseSession(pkcs11.C_OpenSession(1, CKF_SERIAL_SESSION, "new", newNotify));
            if (i % 10_000 == 0) {
                assertEquals(CKR_OK, first.last("callback").num("rv"), "dropped, not refused");
                first.clear();  // the record stays small
            }
        }
        assertEquals(List.of(), newNotify.received, "no new session got the closed one's notification");
        assertEquals(List.of(), closedNotify.received);
        assertEquals(0, refs());
    }

    @Test
    void finalizeReleasesTheBindingsOfTheSessionsItEnded() throws Exception {
        for (int cycle = 0; cycle < 50; cycle++) {
            pkcs11.C_Initialize(null);
            pkcs11.C_OpenSession(1, CKF_SERIAL_SESSION, "app", new Recorder());
            other.C_OpenSession(1, CKF_SERIAL_SESSION, "other module", new Recorder());
            pkcs11.C_Finalize(null);
        }
        assertEquals(100, refs(), "only the other module's sessions, which were not finalised, are held");
        other.C_Finalize(null);
        assertEquals(0, refs(), "no references are left for sessions that C_Finalize ended");

        // A C_Finalize that fails ends nothing: the binding stays.
        Recorder kept = new Recorder();
        long session = pkcs11.C_OpenSession(1, CKF_SERIAL_SESSION, "kept", kept);
        first.script("C_Finalize", "rv=" + CKR_DEVICE_ERROR);
        assertThrows(PKCS11Exception.class, () -> pkcs11.C_Finalize(null));
        assertEquals(2, refs());
        notifyThrough(pkcs11, first, session);
        assertEquals(1, kept.received.size());
        pkcs11.C_Finalize(null);
        assertEquals(0, refs());
        assertEquals(blocksBefore, PKCS11Impl.heapBlockCount());
    }
}
