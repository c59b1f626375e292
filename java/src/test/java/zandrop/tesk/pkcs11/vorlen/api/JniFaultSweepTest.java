package zandrop.tesk.pkcs11.vorlen.api;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assertions.fail;
import static org.junit.jupiter.api.Assumptions.assumeTrue;
import static zandrop.tesk.pkcs11.vorlen.api.CryptoWrapperCases.bytes;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.*;

import java.io.File;
import java.lang.management.ManagementFactory;
import java.lang.reflect.Method;
import java.nio.ByteBuffer;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.Objects;
import java.util.TreeMap;
import java.util.stream.IntStream;
import java.util.stream.LongStream;

import org.junit.jupiter.api.Assumptions;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;

import zandrop.tesk.pkcs11.vorlen.testmodule.Call;
import zandrop.tesk.pkcs11.vorlen.testmodule.TestModule;

/**
 * The JVM failing the library: for each call shape, the call is made once to count the JNI calls
 * that can fail for want of memory, then once for each of them with that call failing as the VM
 * fails it (testmodule/jnicount); then the same for each heap block the library asks for (its
 * heapAlloc blocks and, on Linux, its operator new's), refused as by a full heap. Afterwards the caller has an exception (an OutOfMemoryError, or
 * one caused by it) and never a result; a callback that could not reach Java on a module thread
 * answered the module with an error; no native block or global reference is left.
 *
 * <p>The system property {@code vorlen.faults.every} (default 1) runs only every k-th injection
 * point of each shape; the full sweep is {@code -Dvorlen.faults.every=1}.
 */
class JniFaultSweepTest {
    private static final CK_NOTIFY QUIET = (session, event, application) -> {
    };
    private static final String WRAP = Long.toUnsignedString(CKA_WRAP_TEMPLATE);
    private static final Cleanup NONE = (module, pkcs11) -> {
    };

    @FunctionalInterface
    interface Invocation {
        Object run() throws Throwable;
    }

    /** Scripts the module for one run and returns the call; `session` is open. */
    @FunctionalInterface
    interface Prepare {
        Invocation prepare(TestModule module, PKCS11Impl pkcs11, long session) throws Exception;
    }

    /**
     * One call shape: its name, the module it runs on, the call, what cleans up after it, the
     * module entry whose calls are counted (or null), and whether only its heap blocks are failed.
     */
    private record Shape(String name, boolean v3, Prepare prepare, Cleanup cleanup, String entry, boolean heapOnly) {
        Shape(String name, boolean v3, Prepare prepare) {
            this(name, v3, prepare, NONE, null, false);
        }
    }

    @FunctionalInterface
    interface Cleanup {
        void run(TestModule module, PKCS11Impl pkcs11) throws Exception;
    }

    /** What one run gave: the outcome, the function that failed (or null), the calls seen. */
    private record Run(Object outcome, String failed, long seen, List<Call> callbacks, int entryCalls) {
    }

    @BeforeAll
    static void loadInjector() {
        Assumptions.assumeTrue(JniFaults.load(), "no fault injector built");
    }

    /**
     * An argument too large for the library's room on the stack, in place of a plain one: the
     * conversion takes heap blocks (byte and char arrays, templates of more attributes, values
     * and nested attributes than fit there).
     */
    private static Object large(Object plain) {
        if (plain instanceof byte[]) {
            return bytes(600, 1);
        }
        if (plain instanceof char[]) {
            return "pin-".repeat(150).toCharArray();
        }
        if (plain instanceof CK_ATTRIBUTE[]) {
            CK_ATTRIBUTE[] nested = new CK_ATTRIBUTE[20];
            CK_ATTRIBUTE[] template = new CK_ATTRIBUTE[20];
            for (int i = 0; i < 20; i++) {
                nested[i] = new CK_ATTRIBUTE(CKA_VENDOR_DEFINED + i, bytes(40, i));
                template[i] = new CK_ATTRIBUTE(CKA_VENDOR_DEFINED + i, bytes(40, i));
            }
            template[0] = new CK_ATTRIBUTE(CKA_WRAP_TEMPLATE, nested);
            return template;
        }
        return plain;
    }

    private static List<Shape> shapes() {
        List<Shape> shapes = new ArrayList<>();
        // Every method of both lists with plain arguments: records, lists, size queries, byte
        // outputs, templates (one holding a nested template), the message functions; then those
        // with arrays or templates once more with large ones, which take heap blocks.
        List<Method> methods = new ArrayList<>(AllMethods.pkcs11Methods());
        methods.removeIf(m -> m.getName().equals("C_WaitForSlotEvent") || m.getName().equals("C_Initialize"));
        List<Method> v3Methods = AllMethods.version3Methods();
        methods.addAll(v3Methods);
        for (boolean largeArguments : new boolean[] {false, true}) {
            for (Method m : methods) {
                boolean hasArrays = List.of(m.getParameterTypes()).stream()
                        .anyMatch(t -> t == byte[].class || t == char[].class || t == CK_ATTRIBUTE[].class);
                if (largeArguments && !hasArrays) {
                    continue;
                }
                shapes.add(new Shape(largeArguments ? m.getName() + ", large arguments" : m.getName(), v3Methods.contains(m),
                        (module, pkcs11, session) -> {
                            Object[] arguments = Arrays.stream(AllMethods.arguments(m, session))
                                    .map(plain -> largeArguments ? large(plain) : plain).toArray();
                            return () -> AllMethods.invoke(m, pkcs11, arguments);
                        }, NONE, m.getName(), false));
            }
        }
        // Outputs larger than the room on the stack: their heap blocks only.
        CK_ATTRIBUTE[] many = LongStream.range(0, 20).mapToObj(i -> new CK_ATTRIBUTE(CKA_VENDOR_DEFINED + i))
                .toArray(CK_ATTRIBUTE[]::new);
        shapes.add(new Shape("C_FindObjects, room for 1000 handles", false,
                (module, pkcs11, session) -> () -> pkcs11.C_FindObjects(session, 1000), NONE, null, true));
        shapes.add(new Shape("readAttributeValues, 20 attributes", false,
                (module, pkcs11, session) -> () -> pkcs11.readAttributeValues(session, 100, many), NONE, null, true));
        shapes.add(new Shape("C_GetSlotList, 100 slots", false, (module, pkcs11, session) -> {
            module.script("C_GetSlotList", "len=100");
            module.script("C_GetSlotList", "len=100 rv=0");
            return () -> pkcs11.C_GetSlotList(true);
        }, NONE, null, true));
        shapes.add(new Shape("C_Sign, a signature larger than first offered", false, (module, pkcs11, session) -> {
            module.script("C_Sign", "len=600 rv=" + CKR_BUFFER_TOO_SMALL);
            return () -> pkcs11.C_Sign(session, new byte[8]);
        }, NONE, null, true));
        shapes.add(new Shape("C_GetInterfaceList, 20 interfaces", true, (module, pkcs11, session) -> {
            module.script("C_GetInterfaceList", "len=20");
            return () -> pkcs11.C_GetInterfaceList();
        }, NONE, null, true));
        String ulongOne = Platform.ulongHex(1);
        shapes.add(new Shape("C_GetAttributeValue, nested values read", false, (module, pkcs11, session) -> {
            // A label longer than the room for its char[] on the stack.
            module.script("C_GetAttributeValue", "attr=3::" + "6c".repeat(70) + " attr=1::01 attr=0::" + ulongOne
                    + " attr=" + Long.toUnsignedString(CKA_VALUE_LEN) + "::" + Platform.ulongHex(1000) + " attr=" + WRAP + ":: nested=" + WRAP + ":0::" + ulongOne + " nested=" + WRAP + ":3::41 rv=0 times=3");
            CK_ATTRIBUTE[] template = {new CK_ATTRIBUTE(CKA_LABEL), new CK_ATTRIBUTE(CKA_TOKEN),
                new CK_ATTRIBUTE(CKA_CLASS), new CK_ATTRIBUTE(CKA_VALUE_LEN), new CK_ATTRIBUTE(CKA_WRAP_TEMPLATE)};
            return () -> {
                pkcs11.C_GetAttributeValue(session, 100, template);
                return template;
            };
        }));
        shapes.add(new Shape("readAttributeValues, one attribute sensitive", false, (module, pkcs11, session) -> {
            module.script("C_GetAttributeValue", "attr=0::" + Platform.ulongHex(CKO_SECRET_KEY)
                    + " attr=3::6b31 attr=17:unavail: rv=0x11 times=2");
            CK_ATTRIBUTE[] template = {new CK_ATTRIBUTE(CKA_CLASS), new CK_ATTRIBUTE(CKA_LABEL),
                new CK_ATTRIBUTE(CKA_VALUE)};
            return () -> pkcs11.readAttributeValues(session, 100, template);
        }));
        shapes.add(new Shape("module error, a callback's exception its cause", false, (module, pkcs11, session) -> {
            long throwing = pkcs11.C_OpenSession(1, CKF_SERIAL_SESSION, null, (s, event, application) -> {
                throw new PKCS11Exception(CKR_CANCEL);
            });
            module.script("C_SignInit", "notify=0 rv=5");
            return () -> {
                pkcs11.C_SignInit(throwing, new CK_MECHANISM(CKM_SHA256), 100);
                return "returned";
            };
        }));
        shapes.add(new Shape("module reports more than it was given", false, (module, pkcs11, session) -> {
            module.script("C_GetSlotList", "len=1");
            module.script("C_GetSlotList", "len=4096 rv=0");
            return () -> pkcs11.C_GetSlotList(true);
        }));
        shapes.add(new Shape("C_GenerateKey, parameter record copied back", false, (module, pkcs11, session) -> {
            module.script("C_GenerateKey", "pbeIv=4142434445464748");
            CK_PBE_PARAMS params = new CK_PBE_PARAMS("zzzzzzzz".toCharArray(), "pw".toCharArray(), "salt".toCharArray(), 10);
            CK_ATTRIBUTE[] template = {new CK_ATTRIBUTE(CKA_VALUE_LEN, 8L), new CK_ATTRIBUTE(CKA_LABEL, "k")};
            return () -> pkcs11.C_GenerateKey(session, new CK_MECHANISM(CKM_PBE_SHA1_DES3_EDE_CBC, params), template);
        }));
        shapes.add(new Shape("C_DeriveKey, SP 800-108 with many nested records, handles copied back", false,
                (module, pkcs11, session) -> {
                    module.script("C_DeriveKey", "sp800Keys=501,502 handle=500");
                    CK_PRF_DATA_PARAM[] data = new CK_PRF_DATA_PARAM[12];
                    data[0] = new CK_PRF_DATA_PARAM(CK_SP800_108_ITERATION_VARIABLE, new CK_SP800_108_COUNTER_FORMAT(true, 16));
                    for (int i = 1; i < data.length; i++) {
                        data[i] = new CK_PRF_DATA_PARAM(CK_SP800_108_BYTE_ARRAY, bytes(3, i));
                    }
                    // More keys than the local references a parameter keeps without asking for room.
                    CK_DERIVED_KEY[] keys = LongStream.range(0, 10).mapToObj(i ->
                            new CK_DERIVED_KEY(new CK_ATTRIBUTE[] {new CK_ATTRIBUTE(CKA_VALUE_LEN, 16L + i)}, 0))
                            .toArray(CK_DERIVED_KEY[]::new);
                    CK_SP800_108_KDF_PARAMS params = new CK_SP800_108_KDF_PARAMS(CKM_SHA256_HMAC, data, keys);
                    return () -> pkcs11.C_DeriveKey(session, new CK_MECHANISM(CKM_SP800_108_COUNTER_KDF, params), 4, null);
                }));
        shapes.add(new Shape("C_Encrypt, direct ByteBuffers", false, (module, pkcs11, session) -> {
            ByteBuffer in = ByteBuffer.allocateDirect(16).put(bytes(16, 1)).flip();
            ByteBuffer out = ByteBuffer.allocateDirect(32);
            return () -> pkcs11.C_Encrypt(session, in, out);
        }));
        shapes.add(new Shape("C_Encrypt, heap ByteBuffers", false, (module, pkcs11, session) -> {
            ByteBuffer in = ByteBuffer.wrap(bytes(16, 1));
            ByteBuffer out = ByteBuffer.allocate(32);
            return () -> pkcs11.C_Encrypt(session, in, out);
        }));
        shapes.add(new Shape("C_EncryptMessage, ByteBuffers, parameter copied back", true, (module, pkcs11, session) -> {
            module.script("C_EncryptMessage", "decode=CK_GCM_MESSAGE_PARAMS write=pIv:A0A1A2A3A4A5A6A7A8A9AAAB");
            CK_GCM_MESSAGE_PARAMS params = new CK_GCM_MESSAGE_PARAMS(new byte[12], 0, CKG_GENERATE, new byte[16], 128);
            ByteBuffer in = ByteBuffer.allocateDirect(8).put(bytes(8, 1)).flip();
            ByteBuffer out = ByteBuffer.allocate(16);
            return () -> pkcs11.C_EncryptMessage(session, params, bytes(4, 0x60), in, out);
        }));
        shapes.add(new Shape("notification on the caller's thread", false, (module, pkcs11, session) -> {
            module.script("C_OpenSession", "notify=0,1");
            return () -> pkcs11.C_OpenSession(1, CKF_SERIAL_SESSION, "app", QUIET);
        }));
        shapes.add(new Shape("notifications on module threads", false, (module, pkcs11, session) -> {
            module.script("C_SignInit", "notify=0 thread=native threads=2");
            return () -> {
                pkcs11.C_SignInit(session, new CK_MECHANISM(CKM_SHA256), 100);
                return "returned";
            };
        }));
        shapes.add(new Shape("mutex callbacks on a module thread", false, (module, pkcs11, session) -> {
            // A DestroyMutex that cannot reach Java answers an error and leaves the mutex: it is
            // destroyed in the clean-up.
            module.script("C_Initialize", "mutex=create,lock,unlock thread=native");
            CK_C_INITIALIZE_ARGS args = new CK_C_INITIALIZE_ARGS(() -> new Object(), mutex -> {
            }, mutex -> {
            }, mutex -> {
            }, CKF_OS_LOCKING_OK);
            return () -> {
                pkcs11.C_Initialize(args);
                return "returned";
            };
        }, (module, pkcs11) -> {
            try {
                module.script("C_Finalize", "mutex=destroy");
                pkcs11.C_Finalize(null);
            } catch (PKCS11Exception e) {
                // not initialised: nothing to finalise
            }
        }, null, false));
        shapes.add(new Shape("C_CreateObject, a value of every class", false, (module, pkcs11, session) -> {
            Object[] values = {true, (byte) 1, 'c', 7, 7L, new int[] {1}, new long[] {1}, new boolean[] {true},
                "s", new CK_DATE("2026".toCharArray(), "12".toCharArray(), "09".toCharArray())};
            CK_ATTRIBUTE[] template = IntStream.range(0, values.length)
                    .mapToObj(i -> new CK_ATTRIBUTE(CKA_VENDOR_DEFINED + i, values[i])).toArray(CK_ATTRIBUTE[]::new);
            return () -> pkcs11.C_CreateObject(session, template);
        }));
        shapes.add(new Shape("a value of a class no conversion takes", false, (module, pkcs11, session) ->
                () -> pkcs11.C_CreateObject(session, new CK_ATTRIBUTE[] {new CK_ATTRIBUTE(CKA_LABEL, new Object())})));
        // Connects; the third to a file no other object keeps loaded (the loader's records made anew).
        String[][] connects = {
            {TestModules.first(), "connect and disconnect"},
            {TestModules.v3(), "connect through C_GetInterface"},
            {TestModules.second(), "connect to a file no other object has"},
        };
        for (String[] c : connects) {
            shapes.add(new Shape(c[1], c[0].equals(TestModules.v3()),
                    (module, pkcs11, session) -> () -> {
                        PKCS11Impl other = new PKCS11Impl();
                        try {
                            other.connect(c[0]);
                            other.C_GetInfo();
                        } finally {
                            other.disconnect();
                        }
                        return "returned";
                    }));
        }
        // Connects that fail: the loader's text of a file it cannot load, of a missing C_GetFunctionList.
        for (String file : List.of(new File(TestModules.first()).getParent() + "/no-such-module.so",
                TestModules.withoutFunctionList())) {
            shapes.add(new Shape("connect to " + new File(file).getName(), false, (module, pkcs11, session) -> () -> {
                PKCS11Impl other = new PKCS11Impl();
                try {
                    other.connect(file);
                } finally {
                    other.disconnect();
                }
                return "returned";
            }));
        }
        return shapes;
    }

    @Test
    void everyFailingJniCallEndsInAnExceptionWithNothingLeaked() throws Exception {
        long every = Long.getLong("vorlen.faults.every", 1);
        PKCS11Impl first = TestModules.connected(TestModules.first());
        PKCS11Impl v3 = TestModules.connected(TestModules.v3());
        Map<String, Map<String, Integer>> table = new LinkedHashMap<>();
        Map<String, Integer> failedFunctions = new TreeMap<>();
        List<String> faults = new ArrayList<>();
        int points = 0;
        int heapPoints = 0;
        int shapesRun = 0;
        try {
            for (Shape shape : shapes()) {
                TestModule module = shape.v3() ? TestModules.v3Module() : TestModules.firstModule();
                PKCS11Impl pkcs11 = shape.v3() ? v3 : first;
                run(shape, module, pkcs11, null, -1); // classes loaded, caches warm
                long refs = PKCS11Impl.globalReferenceCount();
                long blocks = PKCS11Impl.heapBlockCount();
                shapesRun++;
                // null: every JNI function that can fail; then the library's heap blocks
                for (String kind : shape.heapOnly() ? new String[] {"heapAlloc"} : new String[] {null, "heapAlloc"}) {
                    Run baseline = run(shape, module, pkcs11, kind, 0);
                    assertEquals(null, baseline.failed(), shape.name());
                    String row = kind == null ? shape.name() : shape.name() + " [heap]";
                    for (long n = 1; n <= baseline.seen(); n += every) {
                        Run r = run(shape, module, pkcs11, kind, n);
                        String where = row + ", failing call " + n + " of " + baseline.seen() + " ("
                                + r.failed() + "): " + r.outcome();
                        String outcome;
                        try {
                            outcome = check(r, baseline, where);
                        } catch (AssertionError e) {
                            faults.add(e.getMessage());
                            outcome = "FAULT";
                        }
                        points++;
                        heapPoints += kind == null ? 0 : 1;
                        table.computeIfAbsent(row, k -> new TreeMap<>()).merge(outcome, 1, Integer::sum);
                        if (r.failed() != null) {
                            failedFunctions.merge(r.failed(), 1, Integer::sum);
                        }
                        if (blocks != PKCS11Impl.heapBlockCount() || refs != PKCS11Impl.globalReferenceCount()) {
                            faults.add(where + ": heap blocks " + blocks + " -> " + PKCS11Impl.heapBlockCount()
                                    + ", global references " + refs + " -> " + PKCS11Impl.globalReferenceCount());
                            blocks = PKCS11Impl.heapBlockCount();
                            refs = PKCS11Impl.globalReferenceCount();
                        }
                    }
                }
            }
        } finally {
            first.disconnect();
            v3.disconnect();
        }
        System.out.println("JNI fault sweep: " + shapesRun + " shapes, " + (points - heapPoints)
                + " JNI injection points and " + heapPoints + " heap ones (every " + every + ")");
        table.forEach((shape, outcomes) -> System.out.println("  " + shape + " " + outcomes));
        System.out.println("  failed functions: " + failedFunctions);
        assertTrue(points > 0);
        assertEquals(List.of(), faults, faults.size() + " faults");
    }

    /**
     * Loading against classes that lack what the library needs (a lookup of initializeLibrary
     * failing as it would then), in a JVM of its own each: one LinkageError naming the class or
     * member, and no crash when the class is used again. A global reference refused at load is
     * an OutOfMemoryError.
     */
    @Test
    void startUpFailuresNameWhatIsMissing() throws Exception {
        String emulator = System.getProperty("vorlen.jvm.emulator", "");
        assumeTrue(emulator.isEmpty(), "the JVMs of the start-up cases are programs this kernel runs only under " + emulator);
        Map<String, String> expected = new LinkedHashMap<>();
        expected.put("FindClass 1", "java.lang.NoClassDefFoundError: The PKCS#11 library's native code needs the class java/lang/Object");
        // Every class lookup failing: the lookup of LinkageError, which names the missing class, too.
        expected.put("FindClass -1", "java.lang.NoClassDefFoundError: java/lang/LinkageError");
        expected.put("FindClass 12", "java.lang.NoClassDefFoundError: The PKCS#11 library's native code needs the class ");
        expected.put("GetFieldID 1", "java.lang.NoSuchFieldError: The PKCS#11 library's native code needs the field "
                + "zandrop/tesk/pkcs11/vorlen/api/PKCS11Impl.bindingHandle J, which the loaded classes lack");
        expected.put("GetFieldID 30", "java.lang.NoSuchFieldError: The PKCS#11 library's native code needs the field zandrop/");
        expected.put("GetMethodID 1", "java.lang.NoSuchMethodError: The PKCS#11 library's native code needs the method "
                + "java/lang/Throwable.initCause(Ljava/lang/Throwable;)Ljava/lang/Throwable;");
        expected.put("GetStaticMethodID 1", "java.lang.NoSuchMethodError: The PKCS#11 library's native code needs the static method java/lang/Long.valueOf");
        expected.put("GetStaticFieldID 1", "java.lang.NoSuchFieldError: The PKCS#11 library's native code needs the static field java/lang/Boolean.TRUE");
        expected.put("NewGlobalRef 1", "java.lang.OutOfMemoryError: no room for a global reference to the class java/lang/Object");
        expected.put("NewGlobalRef 40", "java.lang.OutOfMemoryError: no room for a global reference to ");
        expected.put("CallStaticObjectMethod 1", "java.lang.OutOfMemoryError: injected");
        // The loader's own memory (the list of the classes it loaded) refused.
        expected.put("heapAlloc 1", "java.lang.OutOfMemoryError: no room to load the PKCS#11 library's classes");
        String javaCommand = System.getProperty("java.home") + "/bin/java";
        String classPath = new File(PKCS11Impl.class.getProtectionDomain().getCodeSource().getLocation().toURI()) + File.pathSeparator
                + new File(JniFaultSweepTest.class.getProtectionDomain().getCodeSource().getLocation().toURI());
        for (Map.Entry<String, String> e : expected.entrySet()) {
            String[] fault = e.getKey().split(" ");
            List<String> command = new ArrayList<>(List.of(javaCommand, "-Xcheck:jni"));
            // The options that grant native access (the newer JVMs' legs): the child loads libraries too.
            ManagementFactory.getRuntimeMXBean().getInputArguments().stream()
                    .filter(a -> a.startsWith("--enable-native-access")).forEach(command::add);
            command.addAll(List.of("-Dvorlen.build.dir=" + TestModules.path("vorlen.build.dir"), "-cp", classPath,
                    StartUp.class.getName(), fault[0], fault[1]));
            Process p = new ProcessBuilder(command).redirectErrorStream(true).start();
            String output = new String(p.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
            assertEquals(0, p.waitFor(), e.getKey() + ": " + output);
            String[] lines = output.split("\n");
            assertTrue(lines[0].startsWith(e.getValue()), e.getKey() + ": " + output);
            assertTrue(lines.length > 1 && lines[1].startsWith("again: java.lang.NoClassDefFoundError"), e.getKey() + ": " + output);
            assertTrue(!output.contains("WARNING"), e.getKey() + ": " + output);
        }
    }

    /** A JVM that loads the library with one lookup failing; prints what the class load threw. */
    public static final class StartUp {
        public static void main(String[] args) throws Exception {
            NativeLibraryLoader.load();
            JniFaults.load();
            JniFaults.arm(args[0], Long.parseLong(args[1]));
            try {
                Class.forName(PKCS11Impl.class.getName());
                System.out.println("loaded");
            } catch (Throwable t) {
                System.out.println(t);
            } finally {
                JniFaults.disarm();
            }
            try {
                new PKCS11Impl();
                System.out.println("again: usable");
            } catch (Throwable t) {
                System.out.println("again: " + t);
            }
        }
    }

    /**
     * Runs the shape once: n < 0 without the injector, 0 counting, else failing the n-th call of
     * the kind (null: any JNI function that can fail; "heapAlloc": a heap block).
     */
    private static Run run(Shape shape, TestModule module, PKCS11Impl pkcs11, String kind, long n) throws Exception {
        module.reset();
        long session = pkcs11.C_OpenSession(1, CKF_SERIAL_SESSION, null, QUIET);
        Invocation call = shape.prepare().prepare(module, pkcs11, session);
        Object outcome;
        long seen = 0;
        if (n >= 0) {
            JniFaults.arm(kind, n);
        }
        try {
            outcome = call.run();
        } catch (Throwable t) {
            outcome = t;
        } finally {
            if (n >= 0) {
                seen = JniFaults.disarm();
            }
        }
        String failed = n > 0 ? JniFaults.failed() : null;
        module.join();
        List<Call> callbacks = module.calls("callback");
        int entryCalls = shape.entry() != null ? module.count(shape.entry()) : 0;
        shape.cleanup().run(module, pkcs11);
        module.reset();
        pkcs11.C_CloseAllSessions(1);
        return new Run(outcome, failed, seen, callbacks, entryCalls);
    }

    private static boolean causedByOutOfMemory(Object outcome) {
        for (Throwable t = outcome instanceof Throwable th ? th : null; t != null; t = t.getCause()) {
            if (t instanceof OutOfMemoryError) {
                return true;
            }
        }
        return false;
    }

    /** Checks one injected run; returns its outcome for the table. */
    private static String check(Run r, Run baseline, String where) {
        if (r.failed() == null) {
            return "nothing failed"; // the call made fewer such calls this time
        }
        // A size query leaves the module's operation active until the call that fetches the
        // output: no JNI failure stops the library between the two. Only the heap block for the
        // output can: the operation then stays as the size query left it (nothing consumed, the
        // same call can be made again), as after CKR_BUFFER_TOO_SMALL.
        boolean outputRefused = r.failed().startsWith("heapAlloc") && r.outcome() instanceof OutOfMemoryError e
                && e.getMessage().startsWith("no room for the output");
        assertTrue(baseline.entryCalls() != 2 || r.entryCalls() != 1 || baseline.outcome() instanceof Throwable
                || outputRefused, where + ": the module's size query was not followed by its call");
        if (r.failed().endsWith("@thread")) {
            // A callback on a module thread: nobody there receives an exception; the module
            // must have been answered with an error.
            boolean errorAnswered = r.callbacks().stream().anyMatch(c -> c.has("rv") && c.num("rv") != CKR_OK);
            assertTrue(errorAnswered, where + ": a callback that failed answered " + r.callbacks());
            return "module thread: callback answered an error";
        }
        if (!(r.outcome() instanceof Throwable t)) {
            // The library's own operator new may be refused where it has a way round (its copy
            // of a 3.0 list: the 2.x list instead; a thread's own pin record: the shared count;
            // the text of a symbol not found that is not reported): then the result is the one
            // the call gives without the fault.
            if (r.failed().startsWith("operatorNew") && Objects.deepEquals(r.outcome(), baseline.outcome())) {
                return "result as without the fault (operator new's block done without)";
            }
            fail(where + ": a failed JNI call ended in a result");
            return "";
        }
        if (causedByOutOfMemory(t)) {
            return t instanceof OutOfMemoryError ? "OutOfMemoryError"
                    : t.getClass().getSimpleName() + " caused by OutOfMemoryError";
        }
        // A call that fails anyway may lose the cause of its failure, never the failure.
        assertTrue(baseline.outcome() instanceof Throwable && baseline.outcome().getClass() == t.getClass(),
                where + ": neither the OutOfMemoryError nor the call's own failure (" + baseline.outcome() + ")");
        return t.getClass().getSimpleName() + " as without the fault";
    }
}
