package zandrop.tesk.pkcs11.vorlen.api;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.lang.reflect.Field;
import java.lang.reflect.InvocationTargetException;
import java.lang.reflect.Method;
import java.lang.reflect.Modifier;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Map;
import java.util.Random;
import java.util.TreeMap;
import java.util.stream.Collectors;

import org.junit.jupiter.api.Test;

import zandrop.tesk.pkcs11.vorlen.testmodule.TestModule;

/**
 * A hostile caller: every native method of PKCS11Impl, called many times with random arguments
 * (nulls in every position, objects of every class in every Object position, subclasses, arrays
 * of the wrong element type, huge and negative numbers, templates with null elements). Every
 * call must end with a return or a documented exception; a crash or a JNI warning fails the run.
 * Seeded and bounded, so that a failure can be reproduced: the system properties
 * {@code vorlen.fuzz.seed} and {@code vorlen.fuzz.calls} choose the seed and the number of calls
 * (30,000 by default, the slice CI runs; see the README for the long run).
 */
class HostileCallerTest {
    private static final long SEED = Long.getLong("vorlen.fuzz.seed", 20261208L);
    private static final int CALLS = Integer.getInteger("vorlen.fuzz.calls", 30000);

    /** Every record class of the jar: the parameter records and the others, by name. */
    private static final List<Class<?>> RECORD_CLASSES;

    static {
        try {
            RECORD_CLASSES = AllMethods.recordClasses();
        } catch (Exception e) {
            throw new ExceptionInInitializerError(e);
        }
    }

    /** A subclass, to show that conversions do not depend on the exact class. */
    static final class MyDate extends CK_DATE {
    }

    private final Random random = new Random(SEED);

    private long anyLong() {
        long[] edges = {0, 1, -1, 2, 0xFFFFFFFFL, 0x100000000L, 0x100000005L, Long.MAX_VALUE, Long.MIN_VALUE,
            0x80000000L, 100, 1000};
        return random.nextInt(4) == 0 ? random.nextLong() : edges[random.nextInt(edges.length)];
    }

    private int anyLength() {
        int[] lengths = {0, 1, 7, 8, 16, 32, 255, 256, 257, 1000, 70000};
        return lengths[random.nextInt(lengths.length)];
    }

    private byte[] anyBytes() {
        if (random.nextInt(5) == 0) {
            return null;
        }
        byte[] bytes = new byte[anyLength()];
        random.nextBytes(bytes);
        return bytes;
    }

    private char[] anyChars() {
        if (random.nextInt(5) == 0) {
            return null;
        }
        char[] chars = new char[anyLength()];
        for (int i = 0; i < chars.length; i++) {
            chars[i] = (char) random.nextInt(0x10000);
        }
        return chars;
    }

    /** A record or parameter object with every field random (or null). */
    private Object anyRecord(Class<?> type, int depth) throws Exception {
        Object object = type == CK_DATE.class && random.nextBoolean() ? new MyDate()
                : type.getDeclaredConstructor().newInstance();
        for (Field field : type.getFields()) {
            if (Modifier.isStatic(field.getModifiers())) {
                continue;
            }
            field.set(object, anyOf(field.getType(), depth + 1));
        }
        return object;
    }

    private Object anyObject(int depth) throws Exception {
        switch (random.nextInt(depth > 2 ? 16 : 19)) {
            case 0: return null;
            case 1: return anyLong();
            case 2: return random.nextInt();
            case 3: return random.nextBoolean();
            case 4: return (byte) random.nextInt();
            case 5: return (char) random.nextInt(0x10000);
            case 6: return (short) random.nextInt();
            case 7: return "text\u0000\u0141\uD83D\uDE00".substring(0, random.nextInt(8));
            case 8: return anyBytes();
            case 9: return anyChars();
            case 10: return new int[] {random.nextInt(), -1};
            case 11: return new long[] {anyLong(), anyLong(), anyLong()};
            case 12: return new boolean[] {true, false, random.nextBoolean()};
            case 13: return new short[3];
            case 14: return new float[] {1f};
            case 15: return new Object();
            case 16: return anyRecord(RECORD_CLASSES.get(random.nextInt(RECORD_CLASSES.size())), depth);
            case 17: return anyTemplate(depth);
            default: return new StringBuilder("sb");
        }
    }

    private CK_ATTRIBUTE[] anyTemplate(int depth) throws Exception {
        if (random.nextInt(6) == 0) {
            return null;
        }
        CK_ATTRIBUTE[] template = new CK_ATTRIBUTE[random.nextInt(6)];
        for (int i = 0; i < template.length; i++) {
            template[i] = random.nextInt(12) == 0 ? null : new CK_ATTRIBUTE(anyLong(), anyObject(depth + 1));
        }
        return template;
    }

    private Object anyOf(Class<?> type, int depth) throws Exception {
        if (type == long.class) {
            return anyLong();
        }
        if (type == boolean.class) {
            return random.nextBoolean();
        }
        if (type == byte.class) {
            return (byte) random.nextInt();
        }
        if (type == byte[].class) {
            return anyBytes();
        }
        if (type == char[].class) {
            return anyChars();
        }
        if (type == CK_ATTRIBUTE[].class) {
            return anyTemplate(depth);
        }
        if (type == CK_MECHANISM.class) {
            return random.nextInt(8) == 0 ? null : new CK_MECHANISM(anyLong(), anyObject(depth + 1));
        }
        if (type == CK_NOTIFY.class) {
            return random.nextBoolean() ? null : (CK_NOTIFY) (session, event, application) -> {
                if (event == 0) {
                    throw new PKCS11Exception(PKCS11Constants.CKR_CANCEL);
                }
            };
        }
        if (type == Object.class) {
            return anyObject(depth);
        }
        if (depth < 3 && !type.isPrimitive() && !type.isInterface() && !type.isArray()) {
            return random.nextInt(6) == 0 ? null : anyRecord(type, depth);
        }
        return null;
    }

    private static boolean documented(Throwable t) {
        return t instanceof PKCS11Exception || t instanceof PKCS11RuntimeException
                || t instanceof NullPointerException || t instanceof IllegalArgumentException
                || t instanceof ArrayStoreException || t instanceof OutOfMemoryError;
    }

    @Test
    void randomArgumentsNeverCrashAndEndInDocumentedOutcomes() throws Exception {
        // The 3.0 test module: its list reaches the module for the 3.0 methods as well.
        TestModule module = TestModules.v3Module();
        PKCS11Impl pkcs11 = TestModules.connected(TestModules.v3());
        // A stable order for the seed: the 2.x methods, then those of the 3.0 list.
        List<Method> methods = new ArrayList<>(AllMethods.pkcs11Methods());
        methods.addAll(AllMethods.version3Methods());
        assertEquals(AllMethods.functionNames(v -> v.startsWith("2.") || v.equals("3.0")),
                methods.stream().map(Method::getName).collect(Collectors.toSet()), "every PKCS#11 method takes part");
        assertTrue(RECORD_CLASSES.contains(CK_HKDF_PARAMS.class) && RECORD_CLASSES.contains(CK_DATE.class),
                "the records are read from the jar: " + RECORD_CLASSES);

        long refsBefore = PKCS11Impl.globalReferenceCount();
        long blocksBefore = PKCS11Impl.heapBlockCount();
        Map<String, Integer> outcomes = new TreeMap<>();
        long start = System.nanoTime();
        for (int i = 0; i < CALLS; i++) {
            // Every method, C_Finalize and C_WaitForSlotEvent included: the test module's
            // C_WaitForSlotEvent does not block, and its calls work on after a C_Finalize.
            Method method = methods.get(random.nextInt(methods.size()));
            Object[] arguments = new Object[method.getParameterCount()];
            Class<?>[] types = method.getParameterTypes();
            for (int a = 0; a < arguments.length; a++) {
                arguments[a] = anyOf(types[a], 0);
            }
            String outcome;
            try {
                method.invoke(pkcs11, arguments);
                outcome = "returned";
            } catch (InvocationTargetException e) {
                Throwable cause = e.getCause();
                assertTrue(documented(cause), () -> method.getName() + Arrays.deepToString(arguments) + " threw " + cause);
                outcome = cause.getClass().getSimpleName();
            }
            outcomes.merge(outcome, 1, Integer::sum);
            if (i % 500 == 499) {
                module.reset(); // forget the sessions and records of the calls so far
            }
        }
        pkcs11.C_CloseAllSessions(1);
        pkcs11.disconnect();
        System.out.println("hostile caller, seed " + SEED + ", " + CALLS + " calls in "
                + (System.nanoTime() - start) / 1_000_000_000 + " s: " + outcomes);
        assertTrue(outcomes.getOrDefault("returned", 0) > 0, "some calls succeed");
        assertTrue(outcomes.getOrDefault("PKCS11RuntimeException", 0) > 0, "some values are refused");
        assertEquals(blocksBefore, PKCS11Impl.heapBlockCount(), "no native heap block outlives its call");
        assertTrue(PKCS11Impl.globalReferenceCount() <= refsBefore + 1,
                "no global reference outlives the sessions (the saved init arguments may remain)");
    }
}
