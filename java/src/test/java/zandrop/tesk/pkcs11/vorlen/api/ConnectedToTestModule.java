package zandrop.tesk.pkcs11.vorlen.api;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.util.Arrays;

import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.function.Executable;

import zandrop.tesk.pkcs11.vorlen.testmodule.Call;
import zandrop.tesk.pkcs11.vorlen.testmodule.TestModule;

/**
 * A test whose every case runs against a fresh test module (the first one, unless
 * {@link #v3Module()} says the 3.0 one) through a newly connected object, and which checks
 * afterwards that no native heap block outlived the case.
 */
abstract class ConnectedToTestModule {
    /** The message of every call on an object that is not connected. */
    static final String NOT_CONNECTED = "This object is not connected to a module.";

    /** The message of a value whose class has no native form, less the class's name. */
    static final String CANNOT_CONVERT = "Java object of this class cannot be converted to native PKCS#11 type: ";

    /** A bit above the low 32: kept where CK_ULONG has 64 bits, dropped where it has 32. */
    static final long HIGH = 0x100000000L;

    protected TestModule module;
    protected PKCS11Impl pkcs11;
    protected long blocksBefore;

    /** Asserts that a call throws a PKCS11Exception with the given error code, and returns it. */
    static PKCS11Exception assertError(long code, Executable call) {
        PKCS11Exception e = assertThrows(PKCS11Exception.class, call);
        assertEquals(code, e.getErrorCode());
        return e;
    }

    /** As {@link #assertError(long, Executable)}, naming the case in a failure. */
    static PKCS11Exception assertError(long code, Executable call, String where) {
        PKCS11Exception e = assertThrows(PKCS11Exception.class, call, where);
        assertEquals(code, e.getErrorCode(), where);
        return e;
    }

    /** Scripts the module's entry to answer {@code code} once, and asserts that the call throws it. */
    PKCS11Exception assertModuleError(String entry, long code, Executable call) {
        module.script(entry, "rv=" + code);
        return assertError(code, call);
    }

    /** Asserts that a call throws a PKCS11RuntimeException whose message starts with {@code start}. */
    static PKCS11RuntimeException assertRefused(String start, Executable call) {
        PKCS11RuntimeException e = assertThrows(PKCS11RuntimeException.class, call, start);
        assertTrue(e.getMessage().startsWith(start), e.getMessage());
        return e;
    }

    /** Asserts that a call throws the given type with exactly the given message, and returns it. */
    static <T extends Throwable> T assertExactMessage(Class<T> type, String message, Executable call) {
        return assertExactMessage(type, message, call, null);
    }

    /** As {@link #assertExactMessage(Class, String, Executable)}, naming the case in a failure. */
    static <T extends Throwable> T assertExactMessage(Class<T> type, String message, Executable call, String where) {
        T e = assertThrows(type, call, where);
        assertEquals(message, e.getMessage(), where);
        return e;
    }

    /** Asserts that a call is refused because its object is not connected to a module. */
    static void assertNotConnected(Executable call) {
        assertExactMessage(PKCS11RuntimeException.class, NOT_CONNECTED, call);
    }

    /** Asserts that a call throws the given type with a message containing {@code part}, and returns it. */
    static <T extends Throwable> T assertMessage(Class<T> type, String part, Executable call) {
        T e = assertThrows(type, call);
        assertTrue(e.getMessage().contains(part), e.getMessage());
        return e;
    }

    /** Asserts that the module got a NULL pointer and a length of 0 for an array argument. */
    static void assertNullOfLengthZero(Call call, String pointer, String length) {
        assertTrue(call.isNull(pointer), pointer + " in " + call);
        assertEquals(0, call.num(length), length + " in " + call);
    }

    /** A template of the given types without values. */
    static CK_ATTRIBUTE[] template(long... types) {
        return Arrays.stream(types).mapToObj(CK_ATTRIBUTE::new).toArray(CK_ATTRIBUTE[]::new);
    }

    /** Whether the cases run on the 3.0 test module instead of the first one. */
    boolean v3Module() {
        return false;
    }

    /**
     * Whether every case starts on a library initialised anew, without the initialisation
     * arguments an earlier case left. The leak check then counts from before connecting and
     * runs after disconnecting, so that it also covers what the library keeps for the module
     * until its last connection ends (mutex callbacks, notifications of open sessions).
     */
    boolean freshLibrary() {
        return false;
    }

    @BeforeEach
    void connectToTestModule() throws Exception {
        if (freshLibrary()) {
            PKCS11Impl.finalizeLibrary();
            PKCS11Impl.initializeLibrary();
        }
        module = v3Module() ? TestModules.v3Module() : TestModules.firstModule();
        blocksBefore = PKCS11Impl.heapBlockCount();
        pkcs11 = TestModules.connected(v3Module() ? TestModules.v3() : TestModules.first());
        if (!freshLibrary()) {
            blocksBefore = PKCS11Impl.heapBlockCount();
        }
    }

    @AfterEach
    void checkBlocksAndDisconnect() {
        module.join(); // the module's own threads end before the count
        if (freshLibrary()) {
            pkcs11.disconnect();
            assertEquals(blocksBefore, PKCS11Impl.heapBlockCount(), "no native block outlives a case");
            return;
        }
        try {
            assertEquals(blocksBefore, PKCS11Impl.heapBlockCount(), "no native block outlives a call");
        } finally {
            pkcs11.disconnect();
        }
    }
}
