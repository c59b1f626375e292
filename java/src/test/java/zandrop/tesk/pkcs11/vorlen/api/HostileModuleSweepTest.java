package zandrop.tesk.pkcs11.vorlen.api;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertInstanceOf;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.*;

import java.lang.reflect.Field;
import java.lang.reflect.Method;
import java.lang.reflect.Modifier;
import java.util.Arrays;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.TreeMap;
import java.util.stream.IntStream;

import org.junit.jupiter.api.Test;

import zandrop.tesk.pkcs11.vorlen.testmodule.TestModule;

/**
 * A hostile module: every PKCS#11 method of the library, each against every misbehaviour of its
 * module entry that the test module can stage — errors on the first or only on the second call,
 * lengths and counts that lie (over the buffer, CK_UNAVAILABLE_INFORMATION, growing between the
 * calls), outputs left unwritten (with CKR_OK, or with an error in the second call), callbacks
 * that throw, callbacks from many module threads at once. Nothing may crash, leak, warn, report
 * a failure as success, or hand out a byte that the module did not write.
 */
class HostileModuleSweepTest {
    private static final long FAILED = CKR_DEVICE_ERROR;
    private static final String WRAP = Long.toUnsignedString(CKA_WRAP_TEMPLATE);

    /** One misbehaviour: the steps scripted for the method's own module entry. */
    private record Misbehaviour(String name, String... steps) {
    }

    private static final List<Misbehaviour> MISBEHAVIOURS = List.of(
            new Misbehaviour("fails", "rv=" + FAILED + " times=8"),
            new Misbehaviour("fails-on-second-call", "", "rv=" + FAILED + " times=7"),
            new Misbehaviour("length-over-buffer", "len=4096 rv=0 times=8"),
            new Misbehaviour("length-over-buffer-on-second-call", "", "len=100000 rv=0 times=7"),
            new Misbehaviour("length-unavailable", "len=unavail rv=0 times=8"),
            new Misbehaviour("length-unavailable-on-second-call", "", "len=unavail rv=0 times=7"),
            new Misbehaviour("length-grows", "len=64", "len=128 rv=0 times=7"),
            new Misbehaviour("nothing-written", "nowrite=1 rv=0 times=8"),
            new Misbehaviour("nothing-written-on-second-call", "", "nowrite=1 rv=0 times=7"),
            new Misbehaviour("second-call-fails-without-writing", "", "nowrite=1 rv=" + FAILED + " times=7"),
            new Misbehaviour("callback-throws", "notify=0 times=8"),
            new Misbehaviour("callback-throws-and-fails", "notify=0 rv=" + FAILED + " times=8"),
            new Misbehaviour("callback-throws-and-length-over-buffer", "notify=0 len=4096 rv=0 times=8"),
            new Misbehaviour("callbacks-from-many-threads", "notify=1,2 thread=native threads=8 times=8"),
            new Misbehaviour("late-async-callback", "notify=1 async=1 sleep=5 times=8"),
            // The nested protocol of C_GetAttributeValue (ignored by every other entry): a nested
            // length above its buffer in the third call, a length that is no whole number of
            // CK_ATTRIBUTEs, a count that changes, a third call that writes nothing.
            new Misbehaviour("nested-length-lies-on-third-call", "attr=" + WRAP + ":: nested=" + WRAP + ":0::0102 rv=0 times=2",
                    "attr=" + WRAP + ":: nested=" + WRAP + ":0:4096:0102 rv=0 times=6"),
            new Misbehaviour("nested-length-not-whole-records", "attr=" + WRAP + ":13: rv=0 times=8"),
            new Misbehaviour("nested-count-changes", "attr=" + WRAP + ":: nested=" + WRAP + ":0::00 nested=" + WRAP + ":1::01 rv=0",
                    "attr=" + WRAP + ":: nested=" + WRAP + ":0::00 rv=0 times=7"),
            new Misbehaviour("nested-nothing-written-on-third-call", "attr=" + WRAP + ":: nested=" + WRAP + ":0::0102 rv=0 times=2",
                    "nowrite=1 rv=0 times=6"));

    @Test
    void everyMethodAgainstEveryMisbehaviour() throws Exception {
        TestModule module = TestModules.firstModule();
        PKCS11Impl pkcs11 = TestModules.connected(TestModules.first());
        List<Method> methods = AllMethods.pkcs11Methods();
        assertEquals(AllMethods.functionNames(v -> v.startsWith("2.")).size(), methods.size());
        sweep(module, pkcs11, methods);
        module.reset();
        module.script("C_WaitForSlotEvent", "rv=" + FAILED);
        ConnectedToTestModule.assertError(FAILED, () -> pkcs11.C_WaitForSlotEvent(CKF_DONT_BLOCK, null),
                "a failure reported as success");
        pkcs11.disconnect();
    }

    /** The methods of the 3.0 list, through the "PKCS 11" 3.0 interface of the 3.0 test module. */
    @Test
    void everyVersion3MethodAgainstEveryMisbehaviour() throws Exception {
        TestModule module = TestModules.v3Module();
        PKCS11Impl pkcs11 = TestModules.connected(TestModules.v3());
        List<Method> methods = AllMethods.version3Methods();
        assertEquals(AllMethods.functionNames("3.0"::equals).size(), methods.size());
        sweep(module, pkcs11, methods);
        pkcs11.disconnect();
    }

    private static void sweep(TestModule module, PKCS11Impl pkcs11, List<Method> methods) throws Exception {
        CK_NOTIFY throwing = (session, event, application) -> {
            if (event == CKN_SURRENDER) {
                throw new PKCS11Exception(CKR_CANCEL);
            }
        };
        long refs = PKCS11Impl.globalReferenceCount();
        long blocks = PKCS11Impl.heapBlockCount();
        Map<String, Map<String, Integer>> outcomes = new TreeMap<>();
        int cases = 0;
        for (Method method : methods) {
            String entry = method.getName();
            if (entry.equals("C_WaitForSlotEvent")) {
                continue; // covered below without blocking
            }
            module.reset();
            long session = pkcs11.C_OpenSession(1, CKF_SERIAL_SESSION, "app", throwing);
            module.script(entry, "times=8"); // a scripted step that changes nothing: the baseline
            Object baseline = AllMethods.call(method, pkcs11, session);
            pkcs11.C_CloseAllSessions(1);
            for (Misbehaviour misbehaviour : MISBEHAVIOURS) {
                module.reset();
                session = pkcs11.C_OpenSession(1, CKF_SERIAL_SESSION, "app", throwing);
                Arrays.stream(misbehaviour.steps()).forEach(step -> module.script(entry, step));
                int callsBefore = module.count(entry);
                Object[] arguments = AllMethods.arguments(method, session);
                Object result = AllMethods.invoke(method, pkcs11, arguments);
                Object outcome = result instanceof Throwable ? result : "returned";
                module.join();
                boolean secondCall = module.count(entry) - callsBefore >= 2;
                String where = entry + " / " + misbehaviour.name() + ": " + outcome;
                cases++;
                if (outcome instanceof Throwable t) {
                    assertTrue(t instanceof PKCS11Exception || t instanceof PKCS11RuntimeException
                            || t instanceof OutOfMemoryError, where);
                }
                switch (misbehaviour.name()) {
                    case "fails", "callback-throws-and-fails" ->
                        assertEquals(FAILED, assertInstanceOf(PKCS11Exception.class, outcome, where).getErrorCode(), where);
                    case "callback-throws", "callbacks-from-many-threads", "late-async-callback" ->
                        assertEquals(describe(baseline), describe(outcome), where + " (baseline " + baseline + ")");
                    case "nothing-written" -> assertNoStrayBytes(result, arguments, where);
                    case "nested-length-lies-on-third-call", "nested-length-not-whole-records", "nested-count-changes" -> {
                        if (entry.equals("C_GetAttributeValue")) {
                            PKCS11RuntimeException e = assertInstanceOf(PKCS11RuntimeException.class, outcome, where);
                            assertTrue(e.getMessage().startsWith("C_GetAttributeValue reported "), where);
                            CK_ATTRIBUTE wrap = ((CK_ATTRIBUTE[]) arguments[2])[2];
                            Object nested = wrap.pValue;
                            assertTrue(nested == null || ((CK_ATTRIBUTE[]) nested)[0].pValue == null,
                                    where + ": nothing of what could not be read soundly is handed out");
                        }
                    }
                    case "nested-nothing-written-on-third-call" -> {
                        if (entry.equals("C_GetAttributeValue")) {
                            assertEquals(3, module.count(entry) - callsBefore, where);
                            assertInstanceOf(CK_ATTRIBUTE[].class, ((CK_ATTRIBUTE[]) arguments[2])[2].pValue, where);
                            assertNoStrayBytes(result, arguments, where);
                        }
                    }
                    case "nothing-written-on-second-call" -> {
                        if (secondCall) {
                            assertNoStrayBytes(result, arguments, where);
                        }
                    }
                    case "second-call-fails-without-writing" -> {
                        if (secondCall) {
                            assertEquals(FAILED, assertInstanceOf(PKCS11Exception.class, outcome, where).getErrorCode(), where);
                            assertNoStrayBytes(result, arguments, where);
                        }
                    }
                    default -> {
                    }
                }
                boolean javaThrew = module.calls("callback").stream()
                        .anyMatch(c -> c.has("rv") && c.num("rv") == CKR_CANCEL);
                if (misbehaviour.name().equals("callback-throws-and-fails") && javaThrew) {
                    Throwable cause = ((Throwable) outcome).getCause();
                    assertEquals(CKR_CANCEL, assertInstanceOf(PKCS11Exception.class, cause, where).getErrorCode(), where);
                }
                outcomes.computeIfAbsent(entry, k -> new LinkedHashMap<>()).merge(describe(outcome), 1, Integer::sum);
                module.reset(); // the module's own behaviour again, for the clean-up
                pkcs11.C_CloseAllSessions(1);
                assertEquals(blocks, PKCS11Impl.heapBlockCount(), where + ": heap blocks");
                assertEquals(refs, PKCS11Impl.globalReferenceCount(), where + ": global references");
            }
        }
        System.out.println("hostile module sweep: " + cases + " cases over " + outcomes.size() + " methods x "
                + MISBEHAVIOURS.size() + " misbehaviours");
        outcomes.forEach((entry, counts) -> System.out.println("  " + entry + " " + counts));
    }

    /**
     * What a call handed out after its module wrote nothing: its result and, for
     * C_GetAttributeValue, the values put into the template. Memory the library gave the module
     * was zero, so every value is zero, false, empty or null.
     */
    private static void assertNoStrayBytes(Object result, Object[] arguments, String where) throws Exception {
        if (!(result instanceof Throwable)) {
            assertTrue(unwritten(result, 0), where + ": stray bytes in the result " + show(result));
        }
        for (Object argument : arguments) {
            if (argument instanceof CK_ATTRIBUTE[] template && where.startsWith("C_GetAttributeValue ")) {
                for (CK_ATTRIBUTE attribute : template) {
                    assertTrue(unwritten(attribute.pValue, 0), where + ": stray bytes in " + attribute);
                }
            }
        }
    }

    private static boolean unwritten(Object value, int depth) throws Exception {
        if (value == null) {
            return true;
        }
        if (value instanceof Long number) {
            return number == 0;
        }
        if (value instanceof Boolean flag) {
            return !flag;
        }
        if (value instanceof byte[] bytes) {
            return IntStream.range(0, bytes.length).allMatch(i -> bytes[i] == 0);
        }
        if (value instanceof char[] chars) {
            return IntStream.range(0, chars.length).allMatch(i -> chars[i] == 0);
        }
        if (value instanceof long[] longs) {
            return Arrays.stream(longs).allMatch(v -> v == 0);
        }
        if (value instanceof Object[] elements) {
            for (Object element : elements) {
                if (!unwritten(element, depth + 1)) {
                    return false;
                }
            }
            return true;
        }
        if (value.getClass().getPackage() == PKCS11Impl.class.getPackage() && depth < 3) {
            for (Field field : value.getClass().getFields()) {
                if (Modifier.isStatic(field.getModifiers())) {
                    continue;
                }
                Object member = field.get(value);
                boolean zero = member instanceof Number n ? n.longValue() == 0 : unwritten(member, depth + 1);
                if (!zero) {
                    return false;
                }
            }
            return true;
        }
        return false;
    }

    private static String show(Object value) {
        if (value instanceof byte[] bytes) {
            return Arrays.toString(bytes);
        }
        return value instanceof long[] longs ? Arrays.toString(longs) : String.valueOf(value);
    }

    /**
     * A module whose function list leaves an entry NULL: every method answers
     * CKR_FUNCTION_NOT_SUPPORTED without calling anything, and the object stays usable.
     */
    @Test
    void nullEntriesOfTheFunctionListAreNotSupported() throws Exception {
        TestModule module = TestModules.firstModule();
        PKCS11Impl full = TestModules.connected(TestModules.first());
        long refs = PKCS11Impl.globalReferenceCount();
        long blocks = PKCS11Impl.heapBlockCount();
        for (Method method : AllMethods.pkcs11Methods()) {
            String entry = method.getName();
            module.reset();
            long session = full.C_OpenSession(1, CKF_SERIAL_SESSION, null, null);
            module.script("C_GetFunctionList", "nullEntries=" + entry);
            PKCS11Impl holed = TestModules.connected(TestModules.first());
            module.clear();
            Object outcome = AllMethods.call(method, holed, session);
            assertEquals(CKR_FUNCTION_NOT_SUPPORTED,
                    assertInstanceOf(PKCS11Exception.class, outcome, entry + ": " + outcome).getErrorCode(), entry);
            assertEquals(0, module.count(entry), entry + " must not reach the module");
            if (!entry.equals("C_GetInfo")) {
                assertNotNull(holed.C_GetInfo(), entry + ": the other entries still work");
            }
            holed.disconnect();
            full.C_CloseAllSessions(1);
            assertEquals(blocks, PKCS11Impl.heapBlockCount(), entry + ": heap blocks");
            assertEquals(refs, PKCS11Impl.globalReferenceCount(), entry + ": global references");
        }
        full.disconnect();
    }

    private static String describe(Object outcome) {
        if (outcome instanceof PKCS11Exception e) {
            return "PKCS11Exception " + Long.toHexString(e.getErrorCode());
        }
        return outcome instanceof Throwable t ? t.getClass().getSimpleName() : String.valueOf(outcome);
    }
}
