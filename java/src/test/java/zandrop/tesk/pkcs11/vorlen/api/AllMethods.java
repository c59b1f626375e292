package zandrop.tesk.pkcs11.vorlen.api;

import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.*;

import java.io.IOException;
import java.io.UncheckedIOException;
import java.lang.reflect.InvocationTargetException;
import java.lang.reflect.Method;
import java.lang.reflect.Modifier;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collections;
import java.util.Comparator;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.Set;
import java.util.TreeSet;
import java.util.function.Predicate;
import java.util.jar.JarFile;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import java.util.stream.Collectors;
import java.util.stream.Stream;

/** Every PKCS#11 method of PKCS11Impl, and a call of each with plain, valid arguments. */
final class AllMethods {
    private AllMethods() {
    }

    /**
     * Every function of the library's function list with the version that introduced it
     * ("2.0", "2.1", "3.0"...), in the list's order: read from its one source, the X-macro
     * PKCS11_FUNCTIONS of native/include/pkcs11/pkcs11_functions.h.
     */
    static final Map<String, String> FUNCTION_VERSIONS = readFunctionList();

    /** The functions without a method of their own: connect calls them. */
    static final Set<String> CONNECT_FUNCTIONS = Set.of("C_GetFunctionList", "C_GetInterface");

    /** The names of the functions that have a method, of the versions {@code version} accepts. */
    static Set<String> functionNames(Predicate<String> version) {
        return FUNCTION_VERSIONS.entrySet().stream()
                .filter(row -> version.test(row.getValue()) && !CONNECT_FUNCTIONS.contains(row.getKey()))
                .map(Map.Entry::getKey).collect(Collectors.toCollection(TreeSet::new));
    }

    /** The PKCS#11 methods of the 2.x list, in a stable order. */
    static List<Method> pkcs11Methods() {
        return methods(v -> v.startsWith("2."));
    }

    /** The methods of the functions that the 3.0 list added, in a stable order. */
    static List<Method> version3Methods() {
        return methods("3.0"::equals);
    }

    /** The PKCS#11 methods of the functions of the versions {@code version} accepts, by name. */
    static List<Method> methods(Predicate<String> version) {
        Set<String> names = functionNames(version);
        return Arrays.stream(PKCS11Impl.class.getDeclaredMethods())
                .filter(method -> Modifier.isNative(method.getModifiers()) && Modifier.isPublic(method.getModifiers())
                        && !Modifier.isStatic(method.getModifiers()) && names.contains(method.getName()))
                .sorted(Comparator.comparing(Method::getName)).toList();
    }

    private static Map<String, String> readFunctionList() {
        Path header = Path.of(TestModules.path("vorlen.source.dir"), "native", "include", "pkcs11",
                "pkcs11_functions.h");
        Map<String, String> versions = new LinkedHashMap<>();
        try {
            Matcher row = Pattern.compile("\\bX\\((C_\\w+), (\\d+), (\\d+),").matcher(Files.readString(header));
            while (row.find()) {
                versions.put(row.group(1), row.group(2) + "." + row.group(3));
            }
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
        if (versions.isEmpty()) {
            throw new IllegalStateException("no X(name, major, minor, ...) rows in " + header);
        }
        return Collections.unmodifiableMap(versions);
    }

    /**
     * Every record class of the API (a public, concrete CK_ class with a public no-argument
     * constructor), read from the jar or folder PKCS11Impl was loaded from, by name.
     */
    static List<Class<?>> recordClasses() throws Exception {
        String folder = PKCS11Impl.class.getPackageName().replace('.', '/') + "/";
        List<String> names = new ArrayList<>();
        Path location = Path.of(PKCS11Impl.class.getProtectionDomain().getCodeSource().getLocation().toURI());
        if (Files.isDirectory(location)) {
            try (Stream<Path> files = Files.list(location.resolve(folder))) {
                files.forEach(file -> names.add(folder + file.getFileName()));
            }
        } else {
            try (JarFile jar = new JarFile(location.toFile())) {
                jar.stream().forEach(entry -> names.add(entry.getName()));
            }
        }
        List<Class<?>> records = new ArrayList<>();
        for (String name : names) {
            String simple = name.startsWith(folder) ? name.substring(folder.length()) : "";
            if (!simple.startsWith("CK_") || !simple.endsWith(".class") || simple.contains("$")
                    || simple.contains("/")) {
                continue;
            }
            Class<?> type = Class.forName(PKCS11Impl.class.getPackageName() + "."
                    + simple.substring(0, simple.length() - ".class".length()));
            if (Modifier.isPublic(type.getModifiers()) && !type.isInterface()
                    && !Modifier.isAbstract(type.getModifiers()) && hasPublicNoArgumentConstructor(type)) {
                records.add(type);
            }
        }
        records.sort(Comparator.comparing(Class::getName));
        return records;
    }

    private static boolean hasPublicNoArgumentConstructor(Class<?> type) {
        try {
            return Modifier.isPublic(type.getConstructor().getModifiers());
        } catch (NoSuchMethodException e) {
            return false;
        }
    }

    /** A plain argument of the given type: every handle and slot is {@code session}. */
    static Object argument(Class<?> type, long session) {
        if (type == long.class) {
            return session;
        }
        if (type == boolean.class) {
            return true;
        }
        if (type == byte[].class) {
            return new byte[32];
        }
        if (type == char[].class) {
            return "1234".toCharArray();
        }
        if (type == CK_MECHANISM.class) {
            return new CK_MECHANISM(CKM_SHA256);
        }
        if (type == CK_ATTRIBUTE[].class) {
            return new CK_ATTRIBUTE[] {new CK_ATTRIBUTE(CKA_LABEL, "label"), new CK_ATTRIBUTE(CKA_VALUE),
                new CK_ATTRIBUTE(CKA_WRAP_TEMPLATE, new CK_ATTRIBUTE[] {new CK_ATTRIBUTE(CKA_CLASS, CKO_SECRET_KEY)})};
        }
        return null; // Object and CK_NOTIFY
    }

    /** Calls the method with plain arguments; returns "returned" or what it threw. */
    static Object call(Method method, PKCS11Impl pkcs11, long session) throws Exception {
        Object outcome = invoke(method, pkcs11, arguments(method, session));
        return outcome instanceof Throwable ? outcome : "returned";
    }

    /** Plain arguments for the method: every handle and slot is {@code session}. */
    static Object[] arguments(Method method, long session) {
        return Arrays.stream(method.getParameterTypes()).map(type -> argument(type, session)).toArray();
    }

    /** Calls the method; returns its result (null for void) or what it threw. */
    static Object invoke(Method method, PKCS11Impl pkcs11, Object[] arguments) throws Exception {
        try {
            return method.invoke(pkcs11, arguments);
        } catch (InvocationTargetException e) {
            return e.getCause();
        }
    }
}
