package zandrop.tesk.pkcs11.vorlen.api;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.*;

import java.util.Arrays;
import java.util.Random;
import java.util.concurrent.atomic.AtomicBoolean;
import java.util.concurrent.atomic.AtomicLong;

import org.junit.jupiter.api.Test;

import zandrop.tesk.pkcs11.vorlen.testmodule.TestModule;

/**
 * Many threads open sessions, sign, search, read attributes and close, while others connect and
 * disconnect objects, initialise and finalise the module, close all sessions, and the module
 * notifies sessions from threads of its own. Bounded in time; nothing may crash, warn or leak,
 * and every call ends in a result or a documented exception.
 */
class ThreadStressTest {
    private static final long DURATION_MILLIS = Long.getLong("vorlen.stress.millis", 5000);
    private static final int WORKERS = 8;

    @Test
    void workersAndDisruptersTogether() throws Exception {
        TestModule module = TestModules.firstModule();
        module.setDefault("C_SignInit", "notify=1 thread=native");
        module.setDefault("C_FindObjectsInit", "handles=1,2,3,4");
        module.setDefault("C_GetAttributeValue", "attr=3::6b6579 attr=" + CKA_VALUE + "::0102030405");
        PKCS11Impl shared = TestModules.connected(TestModules.first());
        long refsBefore = PKCS11Impl.globalReferenceCount() - 1; // the shared binding goes at the end
        long blocksBefore = PKCS11Impl.heapBlockCount();

        AtomicLong rounds = new AtomicLong();
        AtomicLong moduleErrors = new AtomicLong();
        AtomicLong notifications = new AtomicLong();
        AtomicLong disruptions = new AtomicLong();
        CK_NOTIFY notify = (session, event, application) -> notifications.incrementAndGet();
        TestModules.Crowd crowd = new TestModules.Crowd();
        byte[] data = new byte[32];
        for (int t = 0; t < WORKERS; t++) {
            crowd.repeat("worker-" + t, () -> {
                try {
                    long session = shared.C_OpenSession(1, CKF_SERIAL_SESSION, "app", notify);
                    try {
                        shared.C_SignInit(session, new CK_MECHANISM(CKM_SHA256_RSA_PKCS), 100);
                        shared.C_Sign(session, data);
                        shared.C_FindObjectsInit(session, new CK_ATTRIBUTE[] {new CK_ATTRIBUTE(CKA_CLASS, CKO_PRIVATE_KEY)});
                        shared.C_FindObjects(session, 10);
                        shared.C_FindObjectsFinal(session);
                        CK_ATTRIBUTE[] template = {new CK_ATTRIBUTE(CKA_LABEL), new CK_ATTRIBUTE(CKA_VALUE)};
                        shared.C_GetAttributeValue(session, 100, template);
                        shared.C_GetSessionInfo(session);
                    } finally {
                        shared.C_CloseSession(session);
                    }
                    rounds.incrementAndGet();
                } catch (PKCS11Exception e) {
                    moduleErrors.incrementAndGet(); // a session closed under it by a disrupter
                }
            });
        }
        Random random = new Random(7);
        PKCS11Impl[] others = {new PKCS11Impl(), new PKCS11Impl(), new PKCS11Impl()};
        crowd.repeat("disrupter", () -> {
            PKCS11Impl other = others[random.nextInt(others.length)];
            try {
                switch (random.nextInt(5)) {
                    case 0 -> other.connect(TestModules.first());
                    case 1 -> other.disconnect();
                    case 2 -> other.C_Initialize(null);
                    case 3 -> other.C_Finalize(null);
                    default -> other.C_CloseAllSessions(1);
                }
            } catch (PKCS11Exception | PKCS11RuntimeException e) {
                // not connected, or the module refused
            }
            disruptions.incrementAndGet();
        });
        crowd.runFor(DURATION_MILLIS);
        Arrays.stream(others).forEach(PKCS11Impl::disconnect);
        module.join();
        module.reset();
        shared.C_CloseAllSessions(1);
        shared.disconnect();

        System.out.println("thread stress: " + WORKERS + " workers and 1 disrupter for " + DURATION_MILLIS + " ms: "
                + rounds.get() + " rounds, " + moduleErrors.get() + " module errors, " + notifications.get()
                + " notifications, " + disruptions.get() + " disruptions");
        assertTrue(crowd.failures.isEmpty(), () -> "unexpected: " + crowd.failures);
        assertTrue(rounds.get() > 0 && notifications.get() > 0 && disruptions.get() > 0);
        assertEquals(blocksBefore, PKCS11Impl.heapBlockCount(), "no native heap block left behind");
        assertEquals(refsBefore, PKCS11Impl.globalReferenceCount(), "no global reference left behind");
    }

    /**
     * An object that stays connected while another thread rebinds it again and again (with
     * failing connects in between, and other objects connecting and disconnecting): every call
     * on it reaches the old module or the new one, never "not connected".
     */
    @Test
    void callsOnAnObjectBeingReboundAlwaysFindAModule() throws Exception {
        TestModule first = TestModules.firstModule();
        TestModule second = TestModules.secondModule();
        PKCS11Impl target = TestModules.connected(TestModules.first());
        long refsBefore = PKCS11Impl.globalReferenceCount() - 1; // the target's binding goes at the end
        AtomicLong calls = new AtomicLong();
        AtomicLong rebinds = new AtomicLong();
        TestModules.Crowd crowd = new TestModules.Crowd();
        for (int i = 0; i < 3; i++) {
            crowd.repeat("caller-" + i, () -> {
                target.C_GetSlotList(false);
                calls.incrementAndGet();
            });
        }
        String[] paths = {TestModules.first(), TestModules.second()};
        PKCS11Impl bystander = new PKCS11Impl();
        AtomicLong round = new AtomicLong();
        crowd.repeat("rebinder", () -> {
            int i = (int) (round.getAndIncrement() % 2);
            target.connect(paths[i]);
            rebinds.incrementAndGet();
            // Connects that fail change nothing: the earlier binding stays.
            assertThrows(java.io.IOException.class, () -> target.connect(TestModules.withoutFunctionList()),
                    "connect without C_GetFunctionList succeeded");
            (i == 0 ? first : second).script("C_GetFunctionList", "rv=" + CKR_DEVICE_ERROR);
            assertThrows(PKCS11Exception.class, () -> target.connect(paths[i]), "a failing C_GetFunctionList connected");
            bystander.connect(paths[1 - i]);
            bystander.disconnect();
        });
        crowd.runFor(Math.min(DURATION_MILLIS, 3000));
        assertTrue(crowd.failures.isEmpty(), () -> "calls during rebinding failed: " + crowd.failures);
        assertTrue(calls.get() > 0 && rebinds.get() > 0, calls + " calls, " + rebinds + " rebinds");
        target.disconnect();
        assertEquals(refsBefore, PKCS11Impl.globalReferenceCount(), "no global reference leaked");
        first.reset();
        second.reset();
    }

    /**
     * A module thread notifies a session; its Java listener disconnects the module's only
     * object, or waits while another thread does. The module file stays mapped for as long as
     * the callback runs and is unloaded after it, at the next call of the library on any thread
     * (never as the callback ends: its thread returns into the module's code).
     */
    @Test
    void moduleStaysLoadedWhileItsCallbacksRun() throws Exception {
        String path = TestModules.path("vorlen.testmodule.unload");
        long refsBefore = PKCS11Impl.globalReferenceCount();
        for (boolean fromCallback : new boolean[] {true, false}) {
            TestModule control = TestModules.control(path);
            PKCS11Impl alone = TestModules.connected(path);
            java.util.concurrent.CountDownLatch inCallback = new java.util.concurrent.CountDownLatch(1);
            java.util.concurrent.CountDownLatch disconnected = new java.util.concurrent.CountDownLatch(1);
            java.util.concurrent.CountDownLatch done = new java.util.concurrent.CountDownLatch(1);
            AtomicBoolean mappedDuring = new AtomicBoolean();
            CK_NOTIFY listener = (session, event, application) -> {
                try {
                    if (fromCallback) {
                        alone.disconnect();
                    } else {
                        inCallback.countDown();
                        disconnected.await(10, java.util.concurrent.TimeUnit.SECONDS);
                    }
                    mappedDuring.set(TestModules.mapped(path));
                } catch (Exception e) {
                    throw new IllegalStateException(e);
                } finally {
                    done.countDown();
                }
            };
            long session = alone.C_OpenSession(1, CKF_SERIAL_SESSION, null, listener);
            control.script("C_GetInfo", "notify=0 session=" + session + " async=1 sleep=100");
            alone.C_GetInfo();
            control.release(); // from now on only the library holds the module file
            if (!fromCallback) {
                assertTrue(inCallback.await(10, java.util.concurrent.TimeUnit.SECONDS));
                alone.disconnect();
                disconnected.countDown();
            }
            assertTrue(done.await(10, java.util.concurrent.TimeUnit.SECONDS), "the notification ran");
            assertTrue(mappedDuring.get(), "mapped while the callback ran (disconnect from "
                    + (fromCallback ? "the callback)" : "another thread)"));
            Thread.sleep(300); // the module's thread leaves the module's code and ends
            // Never closed as the callback ends: its thread returns into the module's code.
            assertTrue(TestModules.mapped(path), "still mapped until the library's next call");
            new PKCS11Impl().disconnect(); // a later call of the library closes the module
            assertTrue(!TestModules.mapped(path), "unloaded after the callback");
            assertEquals(refsBefore, PKCS11Impl.globalReferenceCount(), "the session's binding is released");
        }
    }
}
