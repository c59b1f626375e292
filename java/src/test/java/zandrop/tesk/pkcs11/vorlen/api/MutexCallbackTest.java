package zandrop.tesk.pkcs11.vorlen.api;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertInstanceOf;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertSame;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.*;

import java.util.ArrayList;
import java.util.Collections;
import java.util.List;
import java.util.concurrent.ConcurrentLinkedQueue;
import java.util.concurrent.atomic.AtomicInteger;
import java.util.concurrent.atomic.AtomicReference;
import java.util.concurrent.Semaphore;

import org.junit.jupiter.api.Test;

import zandrop.tesk.pkcs11.vorlen.testmodule.Call;

/** C_Initialize with Java mutex callbacks that the module calls on its own threads and on ours. */
class MutexCallbackTest extends ConnectedToTestModule {
    @Override
    boolean freshLibrary() {
        return true;
    }

    /**
     * Java mutexes that remember every call they get. A module thread is attached for one
     * callback at a time, so lock and unlock of one mutex may come from different Java threads:
     * the mutex is a semaphore, which has no owner.
     */
    static final class RecordingMutexes {
        final List<String> events = Collections.synchronizedList(new ArrayList<>());
        final List<Object> created = Collections.synchronizedList(new ArrayList<>());
        final ConcurrentLinkedQueue<Thread> threads = new ConcurrentLinkedQueue<>();
        volatile PKCS11Exception lockFailure;

        CK_C_INITIALIZE_ARGS args() {
            return new CK_C_INITIALIZE_ARGS(
                    () -> {
                        threads.add(Thread.currentThread());
                        Semaphore lock = new Semaphore(1);
                        created.add(lock);
                        events.add("create");
                        return lock;
                    },
                    mutex -> {
                        threads.add(Thread.currentThread());
                        events.add("destroy");
                        assertSame(created.get(created.size() - 1), mutex);
                    },
                    mutex -> {
                        threads.add(Thread.currentThread());
                        if (lockFailure != null) {
                            throw lockFailure;
                        }
                        ((Semaphore) mutex).acquireUninterruptibly();
                        events.add("lock");
                    },
                    mutex -> {
                        threads.add(Thread.currentThread());
                        ((Semaphore) mutex).release();
                        events.add("unlock");
                    },
                    CKF_OS_LOCKING_OK);
        }
    }

    @Test
    void argumentsRecordCarriesTheCallbacksThatAreSetAndTheLowFlagBits() throws Exception {
        CK_C_INITIALIZE_ARGS onlyCreate = new CK_C_INITIALIZE_ARGS();
        onlyCreate.CreateMutex = Object::new;
        onlyCreate.flags = HIGH | CKF_OS_LOCKING_OK;
        pkcs11.C_Initialize(onlyCreate);
        Call call = module.last("C_Initialize");
        assertEquals("set", call.get("CreateMutex"));
        assertEquals("null", call.get("DestroyMutex"));
        assertEquals("null", call.get("LockMutex"));
        assertEquals("null", call.get("UnlockMutex"));
        assertEquals(Platform.ulong(HIGH | CKF_OS_LOCKING_OK), call.num("flags"));
        assertTrue(call.isNull("pReserved"));

        pkcs11.C_Initialize(new CK_C_INITIALIZE_ARGS(CKF_OS_LOCKING_OK));
        Call none = module.last("C_Initialize");
        assertEquals("null", none.get("CreateMutex"));
        assertEquals(CKF_OS_LOCKING_OK, none.num("flags"));
    }

    @Test
    void mutexObjectsTravelThroughTheModuleOnTheCallingThread() throws Exception {
        RecordingMutexes mutexes = new RecordingMutexes();
        long refsBefore = PKCS11Impl.globalReferenceCount();
        module.script("C_Initialize", "mutex=create,lock,unlock,destroy");
        pkcs11.C_Initialize(mutexes.args());
        assertEquals(List.of("create", "lock", "unlock", "destroy"), mutexes.events);
        List<Call> callbacks = module.calls("callback");
        assertEquals(4, callbacks.size());
        String handle = callbacks.get(0).get("handle");
        for (Call callback : callbacks) {
            assertEquals(CKR_OK, callback.num("rv"), callback.toString());
            assertEquals(handle, callback.get("handle"), "the same handle reaches every callback");
            assertEquals("0", callback.get("moduleThread"));
        }
        assertNotEquals("0x0", handle);
        mutexes.threads.forEach(thread -> assertSame(Thread.currentThread(), thread, "the calling thread"));
        // The mutex handle's reference is gone after destruction; the saved arguments stay.
        assertEquals(refsBefore + 1, PKCS11Impl.globalReferenceCount());
    }

    @Test
    void javaExceptionReachesTheModuleAsItsErrorCode() throws Exception {
        RecordingMutexes mutexes = new RecordingMutexes();
        module.script("C_Initialize", "mutex=create,lock,destroy");
        mutexes.lockFailure = new PKCS11Exception(CKR_MUTEX_BAD);
        // The module still answers CKR_OK: the call succeeds, the failure stays inside.
        pkcs11.C_Initialize(mutexes.args());
        List<Call> callbacks = module.calls("callback");
        assertEquals(CKR_MUTEX_BAD, callbacks.get(1).num("rv"));
        assertEquals(CKR_OK, callbacks.get(2).num("rv"), "destroy still runs with a clean thread");

        // When the module fails too, the callback's exception is the cause of the module's error.
        module.script("C_Initialize", "mutex=create,lock rv=0x5");
        PKCS11Exception e = assertError(CKR_GENERAL_ERROR, () -> pkcs11.C_Initialize(mutexes.args()));
        assertSame(mutexes.lockFailure, e.getCause());
    }

    @Test
    void otherThrowablesGiveGeneralError() throws Exception {
        CK_C_INITIALIZE_ARGS args = new RecordingMutexes().args();
        args.LockMutex = mutex -> {
            throw new IllegalStateException("broken lock");
        };
        module.script("C_Initialize", "mutex=create,lock,destroy rv=0x6");
        PKCS11Exception e = assertError(CKR_FUNCTION_FAILED, () -> pkcs11.C_Initialize(args));
        assertInstanceOf(IllegalStateException.class, e.getCause());
        assertEquals(CKR_GENERAL_ERROR, module.calls("callback").get(1).num("rv"));
    }

    @Test
    void moduleThreadIsAttachedForTheCallbackAndDetachedAfterwards() throws Exception {
        RecordingMutexes mutexes = new RecordingMutexes();
        module.script("C_Initialize", "mutex=create,lock,unlock,destroy thread=native");
        pkcs11.C_Initialize(mutexes.args());
        assertEquals(List.of("create", "lock", "unlock", "destroy"), mutexes.events);
        for (Call callback : module.calls("callback")) {
            assertEquals("1", callback.get("moduleThread"));
            assertNotEquals(module.threadId(), callback.thread());
            assertEquals(CKR_OK, callback.num("rv"));
        }
        for (Thread thread : mutexes.threads) {
            assertNotEquals(Thread.currentThread(), thread);
            thread.join(5000);
            assertFalse(thread.isAlive(), "the attached thread is detached again");
        }
    }

    @Test
    void manyLockCallsInOneJavaCallDoNotExhaustLocalReferences() throws Exception {
        RecordingMutexes mutexes = new RecordingMutexes();
        module.script("C_Initialize", "mutex=create,loop:20000,destroy");
        pkcs11.C_Initialize(mutexes.args());
        Call loop = module.calls("callback").get(1);
        assertEquals("loop", loop.get("kind"));
        assertEquals(20000, loop.num("count"));
        assertEquals(0, loop.num("failures"));
        assertEquals(40002, mutexes.events.size());
    }

    @Test
    void moduleWithCallbacksServesSeveralJavaThreadsAtOnce() throws Exception {
        RecordingMutexes mutexes = new RecordingMutexes();
        module.script("C_Initialize", "mutex=create");
        pkcs11.C_Initialize(mutexes.args());
        module.setDefault("C_GetInfo", "mutex=lock,unlock");
        AtomicInteger done = new AtomicInteger();
        AtomicReference<Throwable> failure = new AtomicReference<>();
        List<Thread> threads = new ArrayList<>();
        for (int t = 0; t < 4; t++) {
            threads.add(TestModules.start("caller-" + t, () -> {
                for (int i = 0; i < 500; i++) {
                    assertNotNull(pkcs11.C_GetInfo());
                    done.incrementAndGet();
                }
            }, failure));
        }
        for (Thread thread : threads) {
            thread.join();
        }
        assertNull(failure.get());
        assertEquals(2000, done.get());
        assertEquals(2000, module.count("C_GetInfo"));
        assertEquals(0, module.calls("callback").stream().filter(c -> c.num("rv") != CKR_OK).count(), "failed callbacks");
    }

    @Test
    void mutexCallbacksTheLibraryCannotServeAnswerTheModuleWithAnError() throws Exception {
        RecordingMutexes mutexes = new RecordingMutexes();
        CK_C_INITIALIZE_ARGS args = mutexes.args();
        args.CreateMutex = () -> null;
        module.script("C_Initialize", "mutex=create,lock");
        pkcs11.C_Initialize(args);
        List<Call> callbacks = module.calls("callback");
        assertEquals(CKR_GENERAL_ERROR, callbacks.get(0).num("rv"), "a null mutex object is no mutex");
        assertEquals("0x0", callbacks.get(0).get("handle"));
        assertEquals(CKR_MUTEX_BAD, callbacks.get(1).num("rv"), "lock without a mutex handle");
        assertTrue(mutexes.events.isEmpty(), "no Java lock for a null handle");

        // finalizeLibrary lets go of the saved arguments; a module that still holds the callbacks
        // gets an error from them and no Java code runs.
        RecordingMutexes released = new RecordingMutexes();
        pkcs11.C_Initialize(released.args());
        pkcs11.disconnect();
        PKCS11Impl.finalizeLibrary();
        PKCS11Impl.initializeLibrary();
        pkcs11 = TestModules.connected(TestModules.first());
        module.clear();
        module.script("C_GetInfo", "mutex=create,lock");
        pkcs11.C_GetInfo();
        assertEquals(List.of(CKR_GENERAL_ERROR, CKR_MUTEX_BAD), module.calls("callback").stream().map(c -> c.num("rv")).toList());
        assertTrue(released.events.isEmpty(), released.events.toString());
    }

    @Test
    void laterInitializationReplacesTheSavedArgumentsWithoutLeaking() throws Exception {
        long refsBefore = PKCS11Impl.globalReferenceCount();
        RecordingMutexes first = new RecordingMutexes();
        RecordingMutexes second = new RecordingMutexes();
        pkcs11.C_Initialize(first.args());
        pkcs11.C_Initialize(second.args());
        assertEquals(refsBefore + 1, PKCS11Impl.globalReferenceCount(), "the replaced arguments are released");
        module.script("C_GetInfo", "mutex=create,destroy");
        pkcs11.C_GetInfo();
        assertTrue(first.events.isEmpty());
        assertEquals(List.of("create", "destroy"), second.events);
    }

    @Test
    void reservedValueLivesAsLongAsTheBinding() throws Exception {
        long blocks = PKCS11Impl.heapBlockCount();
        CK_C_INITIALIZE_ARGS args = new CK_C_INITIALIZE_ARGS();
        args.pReserved = "configdir='/tmp/x'";
        pkcs11.C_Initialize(args);
        assertEquals("ptr", module.last("C_Initialize").get("pReserved"));
        assertEquals(blocks + 1, PKCS11Impl.heapBlockCount());
        pkcs11.C_Initialize(args);
        assertEquals(blocks + 1, PKCS11Impl.heapBlockCount(), "a later value replaces the earlier one");
        pkcs11.disconnect();
        assertEquals(blocks, PKCS11Impl.heapBlockCount(), "freed with the binding");
    }

    @Test
    void reservedValueLivesAsLongAsTheModuleIsLoaded() throws Exception {
        long blocks = PKCS11Impl.heapBlockCount();
        PKCS11Impl sharing = TestModules.connected(TestModules.first());
        CK_C_INITIALIZE_ARGS args = new CK_C_INITIALIZE_ARGS();
        args.pReserved = "configdir='/tmp/x'";
        pkcs11.C_Initialize(args);
        assertEquals(blocks + 1, PKCS11Impl.heapBlockCount());
        module.script("C_Initialize", "rv=" + CKR_CRYPTOKI_ALREADY_INITIALIZED);
        assertThrows(PKCS11Exception.class, () -> sharing.C_Initialize(args));
        assertEquals(blocks + 1, PKCS11Impl.heapBlockCount(), "a refused value does not replace the kept one");
        pkcs11.disconnect();
        assertEquals(blocks + 1, PKCS11Impl.heapBlockCount(), "the module is still loaded and may read it");
        sharing.disconnect();
        assertEquals(blocks, PKCS11Impl.heapBlockCount(), "freed when the module is unloaded");
    }

    @Test
    void unconvertibleReservedValueStopsBeforeTheModule() {
        CK_C_INITIALIZE_ARGS args = new RecordingMutexes().args();
        args.pReserved = new StringBuilder("x");
        long refs = PKCS11Impl.globalReferenceCount();
        assertThrows(PKCS11RuntimeException.class, () -> pkcs11.C_Initialize(args));
        assertEquals(0, module.count("C_Initialize"));
        assertEquals(refs, PKCS11Impl.globalReferenceCount(), "savedInitArgs unchanged");
    }
}
