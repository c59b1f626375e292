package zandrop.tesk.pkcs11.vorlen.api;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertInstanceOf;
import static org.junit.jupiter.api.Assertions.assertThrows;

import java.io.File;
import java.io.IOException;
import java.lang.reflect.InvocationTargetException;
import java.lang.reflect.Method;
import java.lang.reflect.Modifier;
import java.nio.charset.StandardCharsets;
import java.util.Arrays;
import java.util.List;
import java.util.Set;
import java.util.TreeSet;
import java.util.stream.Collectors;

import org.junit.jupiter.api.Assumptions;
import org.junit.jupiter.api.Test;

/**
 * Every native method of PKCS11Impl is bound to the library: called on an object that is not
 * connected, each PKCS#11 method answers with the library's exception, not UnsatisfiedLinkError.
 */
class NativeMethodsTest {
    private static final String PREFIX = "Java_zandrop_tesk_pkcs11_vorlen_api_PKCS11Impl_";

    private static List<Method> nativeMethods() {
        return Arrays.stream(PKCS11Impl.class.getDeclaredMethods()).filter(m -> Modifier.isNative(m.getModifiers())).toList();
    }

    private static Object neutral(Class<?> type) {
        if (type == long.class) {
            return 0L;
        }
        if (type == boolean.class) {
            return false;
        }
        if (type.isPrimitive()) {
            throw new IllegalStateException("no neutral value for " + type);
        }
        return null;
    }

    @Test
    void everyPkcs11MethodReachesTheLibraryOnADisconnectedObject() throws Exception {
        PKCS11Impl disconnected = new PKCS11Impl();
        Set<String> pkcs11Methods = new TreeSet<>();
        for (Method m : nativeMethods()) {
            if (!m.getName().startsWith("C_")) {
                continue;
            }
            pkcs11Methods.add(m.getName());
            Object[] arguments = Arrays.stream(m.getParameterTypes()).map(NativeMethodsTest::neutral).toArray();
            InvocationTargetException e = assertThrows(InvocationTargetException.class,
                    () -> m.invoke(disconnected, arguments), m.getName());
            assertEquals(ConnectedToTestModule.NOT_CONNECTED, assertInstanceOf(PKCS11RuntimeException.class, e.getCause(),
                    m.getName() + " threw " + e.getCause()).getMessage(), m.getName());
        }
        ConnectedToTestModule.assertNotConnected(() -> disconnected.readAttributeValues(1, 2, new CK_ATTRIBUTE[0]));
        assertEquals(AllMethods.functionNames(version -> true), pkcs11Methods,
                "one native method per function of the function list but C_GetFunctionList and C_GetInterface");
    }

    @Test
    void theLibraryMethodsAreBoundToo() throws Exception {
        // Which native methods there are is checked by name: the PKCS#11 ones against the function
        // list (above), all of them against the library's exports (below).
        PKCS11Impl.initializeLibrary();
        PKCS11Impl.heapBlockCount();
        PKCS11Impl.globalReferenceCount();
        PKCS11Impl.getNativeLibraryVersion();
        PKCS11Impl object = new PKCS11Impl();
        object.disconnect();
        assertThrows(NullPointerException.class, () -> object.connect(null));
        assertThrows(NullPointerException.class, () -> object.connectFunctionListOnly(null));
    }

    @Test
    void theLibraryExportsExactlyTheNativeMethods() throws Exception {
        File library = new File(TestModules.path("vorlen.build.dir"), System.mapLibraryName("vorlenpkcs11"));
        Assumptions.assumeTrue(library.isFile(), "no library file at " + library);
        Process nm;
        try {
            nm = new ProcessBuilder("nm", "-D", "--defined-only", library.getPath()).redirectErrorStream(true).start();
        } catch (IOException e) {
            Assumptions.abort("nm is not available: " + e.getMessage());
            return;
        }
        String output = new String(nm.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
        assertEquals(0, nm.waitFor(), "nm failed: " + output);
        // The symbol is the last field of a line.
        Set<String> exported = Arrays.stream(output.split("\n")).map(line -> line.trim().replaceAll("^.*\\s", ""))
                .filter(symbol -> symbol.startsWith("Java_")).collect(Collectors.toCollection(TreeSet::new));
        // The JNI short names of the methods: underscores escaped as "_1".
        assertEquals(nativeMethods().stream().map(m -> PREFIX + m.getName().replace("_", "_1"))
                .collect(Collectors.toCollection(TreeSet::new)), exported);
        assertEquals(AllMethods.functionNames(version -> true).size(),
                exported.stream().filter(name -> name.startsWith(PREFIX + "C_1")).count());
    }
}
