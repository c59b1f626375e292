package zandrop.tesk.pkcs11.vorlen.api;

import static org.junit.jupiter.api.Assertions.assertDoesNotThrow;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static zandrop.tesk.pkcs11.vorlen.api.ConnectedToTestModule.assertError;
import static zandrop.tesk.pkcs11.vorlen.api.ConnectedToTestModule.assertMessage;
import static zandrop.tesk.pkcs11.vorlen.api.TestModules.start;

import java.io.File;
import java.io.IOException;
import java.util.concurrent.atomic.AtomicBoolean;
import java.util.concurrent.atomic.AtomicReference;

import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;

import zandrop.tesk.pkcs11.vorlen.testmodule.TestModule;

/** Connecting objects to module files, rebinding, disconnecting, and the library's lifecycle. */
class LifecycleTest {
    private TestModule first;
    private TestModule second;
    /** A new object, not connected, for each case. */
    private final PKCS11Impl fresh = new PKCS11Impl();

    @BeforeEach
    void resetModules() {
        PKCS11Impl.initializeLibrary();
        first = TestModules.firstModule();
        second = TestModules.secondModule();
    }

    private static void assertNotConnected(PKCS11Impl pkcs11) {
        ConnectedToTestModule.assertNotConnected(() -> pkcs11.C_Finalize(null));
    }

    @Test
    void initializeLibraryTwiceKeepsBindingsWorking() throws Exception {
        PKCS11Impl pkcs11 = TestModules.connected(TestModules.first());
        PKCS11Impl.initializeLibrary();
        PKCS11Impl.initializeLibrary();
        pkcs11.C_Finalize(null);
        assertEquals(1, first.count("C_Finalize"));
        pkcs11.disconnect();
    }

    @Test
    void missingFileGivesSystemTextThenLineBreakThenPath() {
        String path = new File(System.getProperty("java.io.tmpdir"), "no-such-module-" + System.nanoTime() + ".so").getPath();
        IOException e = assertThrows(IOException.class, () -> fresh.connect(path));
        String message = e.getMessage();
        assertTrue(message.endsWith("\n" + path), message);
        String systemText = message.substring(0, message.length() - path.length() - 1);
        assertFalse(systemText.isBlank(), message);
        assertTrue(systemText.contains("No such file"), message);
        assertNotConnected(fresh);
    }

    @Test
    void libraryWithoutFunctionListGivesSystemTextOnly() {
        String path = TestModules.withoutFunctionList();
        IOException e = assertMessage(IOException.class, "C_GetFunctionList", () -> fresh.connect(path));
        assertFalse(e.getMessage().endsWith("\n" + path), "the path is not appended: " + e.getMessage());
        assertNotConnected(fresh);
    }

    @Test
    void nullPathIsAClearError() {
        assertMessage(NullPointerException.class, "path", () -> fresh.connect(null));
    }

    @Test
    void failingGetFunctionListThrowsAndLeavesObjectBoundButUnusable() throws Exception {
        first.script("C_GetFunctionList", "rv=0x6");
        assertError(PKCS11Constants.CKR_FUNCTION_FAILED, () -> fresh.connect(TestModules.first()));
        assertNotConnected(fresh);
        // Bound all the same: a later connect rebinds it and calls reach the module.
        fresh.connect(TestModules.first());
        fresh.C_Finalize(null);
        assertEquals(1, first.count("C_Finalize"));
        fresh.disconnect();
        assertNotConnected(fresh);
    }

    @Test
    void getFunctionListAnsweringOkWithoutAListIsNotSuccess() throws Exception {
        first.script("C_GetFunctionList", "null=1");
        assertMessage(PKCS11RuntimeException.class, "no function list", () -> fresh.connect(TestModules.first()));
        assertNotConnected(fresh);
        fresh.disconnect();
    }

    @Test
    void rebindingSendsLaterCallsToTheSecondModule() throws Exception {
        PKCS11Impl pkcs11 = TestModules.connected(TestModules.first());
        pkcs11.connect(TestModules.second());
        pkcs11.C_Finalize(null);
        assertEquals(0, first.count("C_Finalize"));
        assertEquals(1, second.count("C_Finalize"));
        pkcs11.disconnect();
        assertNotConnected(pkcs11);
    }

    @Test
    void twoObjectsOnOneModuleFileAreIndependent() throws Exception {
        PKCS11Impl a = TestModules.connected(TestModules.first());
        PKCS11Impl b = TestModules.connected(TestModules.first());
        a.disconnect();
        assertNotConnected(a);
        b.C_Finalize(null);
        assertEquals(1, first.count("C_Finalize"));
        b.disconnect();
    }

    /** A subclass whose equals calls every instance equal. */
    static final class AllEqual extends PKCS11Impl {
        @Override
        public boolean equals(Object other) {
            return true;
        }

        @Override
        public int hashCode() {
            return 0;
        }
    }

    @Test
    void bindingIsByIdentityNeverByEquals() throws Exception {
        PKCS11Impl a = new AllEqual();
        PKCS11Impl b = new AllEqual();
        assertEquals(a, b);
        a.connect(TestModules.first());
        assertNotConnected(b);
        b.connect(TestModules.second());
        a.C_Finalize(null);
        b.C_Finalize(null);
        b.C_Finalize(null);
        assertEquals(1, first.count("C_Finalize"));
        assertEquals(2, second.count("C_Finalize"));
        a.disconnect();
        assertNotConnected(a);
        b.C_Finalize(null);
        assertEquals(3, second.count("C_Finalize"));
        b.disconnect();
    }

    /** A subclass that copies itself field by field, the binding handle with the rest. */
    static final class Copyable extends PKCS11Impl implements Cloneable {
        Copyable copy() throws CloneNotSupportedException {
            return (Copyable) clone();
        }
    }

    @Test
    void aCopiedOrForgedHandleReachesNoModule() throws Exception {
        Copyable original = new Copyable();
        original.connect(TestModules.first());
        java.lang.reflect.Field field = PKCS11Impl.class.getDeclaredField("bindingHandle");
        field.setAccessible(true);
        long handle = field.getLong(original);
        java.util.List<PKCS11Impl> impostors = new java.util.ArrayList<>();
        impostors.add(original.copy());
        for (long forged : new long[] {handle, handle + 1, handle ^ (1L << 32), handle + (1L << 32), -1L}) {
            PKCS11Impl other = new PKCS11Impl();
            field.setLong(other, forged);
            impostors.add(other);
        }
        for (PKCS11Impl impostor : impostors) {
            // The original's call leaves its binding as this thread's last one, which the
            // impostor's call tries first: refused by identity there as through its own handle.
            original.C_Finalize(null);
            ConnectedToTestModule.assertNotConnected(() -> impostor.C_GetSessionInfo(1));
            assertNotConnected(impostor);
            impostor.disconnect();  // unbinds nothing of the original's
        }
        assertEquals(0, first.count("C_GetSessionInfo"));
        assertEquals(impostors.size(), first.count("C_Finalize"));
        // Rebound, disconnected, connected again: the handle of the thread's last call serves
        // none of them, and the original's old handle reaches no module through another object.
        original.connect(TestModules.second());
        original.C_Finalize(null);
        original.disconnect();
        assertNotConnected(original);
        original.connect(TestModules.first());
        original.C_Finalize(null);
        PKCS11Impl stale = new PKCS11Impl();
        field.setLong(stale, handle);
        assertNotConnected(stale);
        assertEquals(impostors.size() + 1, first.count("C_Finalize"));
        assertEquals(1, second.count("C_Finalize"));
        original.disconnect();
        assertNotConnected(original);
    }

    @Test
    void disconnectOfUnboundObjectIsQuiet() {
        assertDoesNotThrow(fresh::disconnect);
        assertDoesNotThrow(fresh::disconnect);
        assertNotConnected(fresh);
    }

    @Test
    void errorCodesAreZeroExtended() throws Exception {
        PKCS11Impl pkcs11 = TestModules.connected(TestModules.first());
        first.script("C_Finalize", "rv=0x80000000");
        first.script("C_Finalize", "rv=0xFFFFFFFF");
        PKCS11Exception vendor = assertError(2147483648L, () -> pkcs11.C_Finalize(null));
        assertEquals(PKCS11Constants.CKR_VENDOR_DEFINED, vendor.getErrorCode());
        PKCS11Exception largest = assertError(4294967295L, () -> pkcs11.C_Finalize(null));
        assertTrue(largest.getMessage().contains("FFFFFFFF"), largest.getMessage());
        pkcs11.disconnect();
    }

    @Test
    void initializeWithNullArgumentsAndFinalizeReachTheModule() throws Exception {
        PKCS11Impl pkcs11 = TestModules.connected(TestModules.first());
        pkcs11.C_Initialize(null);
        pkcs11.C_Finalize(null);
        assertTrue(first.last("C_Initialize").isNull("pInitArgs"));
        assertTrue(first.last("C_Finalize").isNull("pReserved"));
        first.script("C_Initialize", "rv=0x191");
        assertError(PKCS11Constants.CKR_CRYPTOKI_ALREADY_INITIALIZED, () -> pkcs11.C_Initialize(null));
        pkcs11.disconnect();
    }

    @Test
    void finalizeLibraryUnbindsEveryObjectAndConnectNeedsInitializationAgain() throws Exception {
        PKCS11Impl a = TestModules.connected(TestModules.first());
        PKCS11Impl b = TestModules.connected(TestModules.second());
        PKCS11Impl.finalizeLibrary();
        PKCS11Impl.finalizeLibrary(); // a second time is harmless
        assertNotConnected(a);
        assertNotConnected(b);
        assertDoesNotThrow(a::disconnect);
        assertMessage(PKCS11RuntimeException.class, "initializeLibrary", () -> a.connect(TestModules.first()));
        PKCS11Impl.initializeLibrary();
        a.connect(TestModules.first());
        a.C_Finalize(null);
        assertEquals(1, first.count("C_Finalize"));
        a.disconnect();
    }

    @Test
    void disconnectFromInsideACallbackLetsTheCallFinish() throws Exception {
        PKCS11Impl.finalizeLibrary();  // no saved initialization arguments of an earlier test
        PKCS11Impl.initializeLibrary();
        PKCS11Impl pkcs11 = TestModules.connected(TestModules.first());
        first.script("C_Initialize", "mutex=create");
        CK_C_INITIALIZE_ARGS args = new CK_C_INITIALIZE_ARGS();
        args.CreateMutex = () -> {
            pkcs11.disconnect();  // while C_Initialize is still inside the module
            return new Object();
        };
        long bindingsBefore = PKCS11Impl.globalReferenceCount();
        pkcs11.C_Initialize(args);
        assertEquals(PKCS11Constants.CKR_OK, first.calls("callback").get(0).num("rv"));
        assertNotConnected(pkcs11);
        // The binding's reference went when the call left the module; the mutex handle (kept by
        // the module) and the saved arguments remain.
        assertEquals(bindingsBefore + 1, PKCS11Impl.globalReferenceCount());
    }

    @Test
    void disconnectReleasesTheGlobalReference() throws Exception {
        long before = PKCS11Impl.globalReferenceCount();
        PKCS11Impl pkcs11 = TestModules.connected(TestModules.first());
        assertNotEquals(before, PKCS11Impl.globalReferenceCount());
        pkcs11.disconnect();
        assertEquals(before, PKCS11Impl.globalReferenceCount());
    }

    @Test
    void finalizeWaitsForCallsInFlightRefusesNewOnesAndDoesNotWaitForABlockingSlotWait() throws Exception {
        PKCS11Impl pkcs11 = TestModules.connected(TestModules.first());
        PKCS11Impl other = TestModules.connected(TestModules.first());  // the same module file
        pkcs11.C_Initialize(null);
        first.script("C_GetInfo", "sleep=800");
        first.script("C_WaitForSlotEvent", "sleep=3000");
        first.script("C_Finalize", "sleep=600");
        AtomicReference<Throwable> failure = new AtomicReference<>();
        AtomicBoolean getInfoReturned = new AtomicBoolean();
        AtomicBoolean slotWaitReturned = new AtomicBoolean();
        Thread inside = start("inside", () -> {
            other.C_GetInfo();
            getInfoReturned.set(true);
        }, failure);
        Thread waiting = start("waiting", () -> {
            other.C_WaitForSlotEvent(0, null);
            slotWaitReturned.set(true);
        }, failure);
        TestModules.awaitCount(first, "C_GetInfo", 1);
        TestModules.awaitCount(first, "C_WaitForSlotEvent", 1);
        Thread finalizer = start("finalizer", () -> pkcs11.C_Finalize(null), failure);
        TestModules.awaitCount(first, "C_Finalize", 1);
        // The module is inside C_Finalize: a new call gets the library's answer.
        assertError(PKCS11Constants.CKR_CRYPTOKI_NOT_INITIALIZED, () -> other.C_GetSlotList(true));
        finalizer.join(10_000);
        assertFalse(finalizer.isAlive());
        assertTrue(getInfoReturned.get(), "C_Finalize reached the module only after C_GetInfo had returned");
        assertFalse(slotWaitReturned.get(), "a blocking C_WaitForSlotEvent is not waited for");
        assertEquals(0, first.count("C_GetSlotList"), "the refused call never reached the module");
        inside.join();
        waiting.join();
        assertEquals(null, failure.get());
        pkcs11.C_Initialize(null);  // initialising again works
        assertEquals(1, other.C_GetSlotList(true).length);
        pkcs11.C_Finalize(null);
        pkcs11.disconnect();
        other.disconnect();
    }

    @Test
    void finalizeFromInsideACallbackDoesNotWaitForTheCallThatIsWaitingForIt() throws Exception {
        PKCS11Impl pkcs11 = TestModules.connected(TestModules.first());
        AtomicReference<Throwable> failure = new AtomicReference<>();
        // The callback on the calling thread itself, then on a module thread that the module
        // joins before its C_OpenSession returns.
        for (String step : new String[] {"notify=0", "notify=0 thread=native"}) {
            pkcs11.C_Initialize(null);
            first.script("C_OpenSession", step);
            CK_NOTIFY finalizeNow = (session, event, application) -> pkcs11.C_Finalize(null);
            Thread caller = start("caller", () -> pkcs11.C_OpenSession(1, PKCS11Constants.CKF_SERIAL_SESSION, null, finalizeNow), failure);
            caller.join(10_000);
            assertFalse(caller.isAlive(), step + ": no deadlock");
            assertEquals(null, failure.get());
            assertEquals(PKCS11Constants.CKR_OK, first.calls("callback").get(0).num("rv"), step);
            assertEquals(1, first.count("C_Finalize"), step + ": C_Finalize reached the module");
            first.clear();
        }
        pkcs11.disconnect();
    }
}
