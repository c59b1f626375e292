package zandrop.tesk.pkcs11.vorlen.api;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertSame;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.*;

import java.nio.ByteBuffer;
import java.util.List;
import java.util.Map;

import org.junit.jupiter.api.Test;

import zandrop.tesk.pkcs11.vorlen.testmodule.Call;

/**
 * Callbacks that throw: what the module is answered, and what the Java caller sees when the
 * module fails or answers CKR_OK all the same.
 */
class CallbackFailureTest extends ConnectedToTestModule {
    @Override
    boolean freshLibrary() {
        return true;
    }

    /** A CK_NOTIFY that throws the throwable given for each event (and returns for the others). */
    private static CK_NOTIFY throwing(Map<Long, Throwable> byEvent) {
        return (session, event, application) -> {
            Throwable t = byEvent.get(event);
            if (t instanceof PKCS11Exception e) {
                throw e;
            }
            if (t instanceof RuntimeException e) {
                throw e;
            }
            if (t instanceof Error e) {
                throw e;
            }
        };
    }

    /** What the module's callback got back, per callback record of the latest call. */
    private List<Long> callbackAnswers() {
        return module.calls("callback").stream().map(c -> c.num("rv")).toList();
    }

    @Test
    void aCallbackThatThrowsNeverAnswersSuccess() throws Exception {
        // Codes that read CKR_OK once they are a CK_ULONG: 0 everywhere, 2^32 at 32 bits.
        for (long code : new long[] {0, 1L << 32}) {
            long expected = Platform.ulong(code) == 0 ? CKR_GENERAL_ERROR : code;
            PKCS11Exception failure = new PKCS11Exception(code);

            module.reset();
            long session = pkcs11.C_OpenSession(1, CKF_SERIAL_SESSION, null,
                    throwing(Map.of(CKN_SURRENDER, failure)));
            module.script("C_GetSessionInfo", "notify=" + CKN_SURRENDER);
            pkcs11.C_GetSessionInfo(session);
            assertEquals(List.of(expected), callbackAnswers(), "CK_NOTIFY, code " + code);
            pkcs11.C_CloseSession(session);

            module.reset();
            CK_C_INITIALIZE_ARGS args = new CK_C_INITIALIZE_ARGS(Object::new,
                    mutex -> {
                        throw failure;
                    },
                    mutex -> {
                        throw failure;
                    },
                    mutex -> {
                        throw failure;
                    }, 0);
            module.script("C_Initialize", "mutex=create,lock,unlock,destroy");
            pkcs11.C_Initialize(args);
            assertEquals(List.of(CKR_OK, expected, expected, expected), callbackAnswers(),
                    "create, then CK_LOCKMUTEX, CK_UNLOCKMUTEX and CK_DESTROYMUTEX, code " + code);

            module.reset();
            args.CreateMutex = () -> {
                throw failure;
            };
            module.script("C_Initialize", "mutex=create");
            pkcs11.C_Initialize(args);
            Call create = module.last("callback");
            assertEquals(expected, create.num("rv"), "CK_CREATEMUTEX, code " + code);
            assertEquals("0x0", create.get("handle"), "no mutex handle for a create that threw");
        }
    }

    @Test
    void aCallbackExceptionWhoseCodeCannotBeReadAnswersGeneralError() throws Exception {
        PKCS11Exception unreadable = new PKCS11Exception(CKR_PIN_INCORRECT) {
            @Override
            public long getErrorCode() {
                throw new IllegalStateException("no code");
            }
        };
        long session = pkcs11.C_OpenSession(1, CKF_SERIAL_SESSION, null,
                throwing(Map.of(CKN_SURRENDER, unreadable)));
        module.script("C_GetSessionInfo", "notify=" + CKN_SURRENDER + " rv=" + CKR_FUNCTION_FAILED);
        PKCS11Exception e = assertError(CKR_FUNCTION_FAILED, () -> pkcs11.C_GetSessionInfo(session));
        assertSame(unreadable, e.getCause(), "the callback's own exception, not the one its code threw");
        assertEquals(List.of(CKR_GENERAL_ERROR), callbackAnswers());
        pkcs11.C_CloseSession(session);
    }

    @Test
    void errorsOfCallbacksAreNeverDroppedAndExceptionsYieldToTheModule() throws Exception {
        long refs = PKCS11Impl.globalReferenceCount();
        StackOverflowError overflow = new StackOverflowError("callback");
        RuntimeException bug = new IllegalStateException("callback");
        PKCS11Exception refusal = new PKCS11Exception(CKR_CANCEL);
        long session = pkcs11.C_OpenSession(1, CKF_SERIAL_SESSION, null,
                throwing(Map.of(0L, refusal, 1L, bug, 2L, overflow)));

        // The module answers CKR_OK: an Exception yields to it, the result reaches the caller.
        for (long event : new long[] {0, 1}) {
            module.script("C_GetSessionInfo", "notify=" + event);
            assertNotNull(pkcs11.C_GetSessionInfo(session), "event " + event);
        }
        // An Error is thrown instead of the result, also after an earlier Exception in the call.
        for (String events : new String[] {"2", "0,2", "1,2"}) {
            module.script("C_GetSessionInfo", "notify=" + events);
            assertSame(overflow, assertThrows(StackOverflowError.class, () -> pkcs11.C_GetSessionInfo(session)),
                    "events " + events);
            module.script("C_GetSessionInfo", "notify=" + events + " rv=" + CKR_DEVICE_ERROR);
            PKCS11Exception failed = assertError(CKR_DEVICE_ERROR, () -> pkcs11.C_GetSessionInfo(session));
            assertSame(overflow, failed.getCause(), "the Error is the cause, events " + events);
        }
        // Also when the module answers CKR_OK with a count or length over the buffer: the Error,
        // not the overrun, and nothing written.
        module.script("C_FindObjects", "notify=2 handles=7,8 len=5");
        assertSame(overflow, assertThrows(StackOverflowError.class, () -> pkcs11.C_FindObjects(session, 2)));
        module.script("C_Digest", "notify=2 out=0102 len=11");
        ByteBuffer digest = ByteBuffer.allocateDirect(4);
        assertSame(overflow, assertThrows(StackOverflowError.class,
                () -> pkcs11.C_Digest(session, ByteBuffer.allocateDirect(2), digest)));
        assertEquals(0, digest.position());
        // A session that the module opened while the notification threw an Error stays
        // recorded: closing the slot's sessions releases its notification objects.
        module.script("C_OpenSession", "notify=2");
        assertThrows(StackOverflowError.class, () -> pkcs11.C_OpenSession(1, CKF_SERIAL_SESSION, "app",
                throwing(Map.of(2L, overflow))));
        pkcs11.C_CloseAllSessions(1);
        assertEquals(refs, PKCS11Impl.globalReferenceCount(), "every session's references are released");

        // The mutex callbacks: an Error thrown while the module answers CKR_OK reaches the caller.
        module.reset();
        OutOfMemoryError exhausted = new OutOfMemoryError("callback");
        CK_C_INITIALIZE_ARGS args = new CK_C_INITIALIZE_ARGS(Object::new, mutex -> {
        }, mutex -> {
            throw exhausted;
        }, mutex -> {
        }, 0);
        module.script("C_Initialize", "mutex=create,lock,destroy");
        assertSame(exhausted, assertThrows(OutOfMemoryError.class, () -> pkcs11.C_Initialize(args)));
        assertEquals(List.of(CKR_OK, CKR_GENERAL_ERROR, CKR_OK), callbackAnswers());
    }
}
