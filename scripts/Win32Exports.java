// Checks the export table of a Windows DLL, 32-bit or x64, against the compiled PKCS11Impl class.
//
// A 32-bit JVM on Windows looks a native method up under its standard-call name: "_", the JNI
// name, "@" and the bytes of its arguments (JNIEnv* and the jobject or jclass, 4 each, then 8
// for each long or double and 4 for anything else). A JVM on Windows x64, which has one calling
// convention and no decoration, looks up the plain JNI name. This program derives the name of
// every native method of the class for the DLL's width (objdump's "file format pei-i386" or
// "pei-x86-64"), by reflection on the class file (the class is not initialised, so no native
// library is loaded), and requires each of them in the DLL's export table as `objdump -p`
// prints it. A JNI export that matches no native method fails the check too.
//
// Usage: java scripts/Win32Exports.java CLASSES_DIR OBJDUMP DLL
// Exit status 0 when every name is there; 1 with the missing and unexpected names otherwise.

import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.InputStream;
import java.lang.reflect.Method;
import java.lang.reflect.Modifier;
import java.net.URL;
import java.net.URLClassLoader;
import java.nio.charset.StandardCharsets;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.Set;
import java.util.TreeSet;
import java.util.regex.Matcher;
import java.util.regex.Pattern;

public final class Win32Exports {
    private static final String CLASS_NAME = "zandrop.tesk.pkcs11.vorlen.api.PKCS11Impl";

    private Win32Exports() {
    }

    public static void main(String[] args) throws Exception {
        if (args.length != 3) {
            System.err.println("usage: java Win32Exports.java CLASSES_DIR OBJDUMP DLL");
            System.exit(2);
        }
        String table = objdump(args[1], args[2]);
        boolean x64 = table.contains("file format pei-x86-64");
        if (!x64 && !table.contains("file format pei-i386")) {
            throw new IOException(args[2] + " is neither a 32-bit nor an x64 Windows DLL");
        }
        Set<String> expected = expectedExports(Path.of(args[0]), x64);
        Set<String> exported = exportedNames(args[2], table);

        Set<String> missing = new TreeSet<>(expected);
        missing.removeAll(exported);
        // Every JNI method name the DLL exports with the decoration must stand for a method.
        Set<String> unexpected = new TreeSet<>();
        for (String name : exported) {
            // (A 32-bit DLL also exports each without the leading "_", as GNU ld names it.)
            if (name.startsWith(x64 ? "Java_" : "_Java_") && !expected.contains(name)) {
                unexpected.add(name);
            }
        }

        System.out.println(CLASS_NAME + ": " + expected.size() + " native methods, "
                + (expected.size() - missing.size()) + " exported under "
                + (x64 ? "their plain JNI names (x64)" : "their standard-call names (32-bit)"));
        for (String name : missing) {
            System.out.println("missing:    " + name);
        }
        for (String name : unexpected) {
            System.out.println("unexpected: " + name);
        }
        System.exit(missing.isEmpty() && unexpected.isEmpty() ? 0 : 1);
    }

    /**
     * The names of all native methods of the class, from its class file: plain on x64,
     * decorated for the standard call on 32-bit Windows.
     */
    static Set<String> expectedExports(Path classes, boolean x64) throws Exception {
        URL[] path = {classes.toUri().toURL()};
        try (URLClassLoader loader = new URLClassLoader(path, null)) {
            Class<?> type = Class.forName(CLASS_NAME, false, loader);
            List<Method> natives = new ArrayList<>();
            Map<String, Integer> overloads = new HashMap<>();
            for (Method method : type.getDeclaredMethods()) {
                if (Modifier.isNative(method.getModifiers())) {
                    natives.add(method);
                    overloads.merge(method.getName(), 1, Integer::sum);
                }
            }
            if (natives.isEmpty()) {
                throw new IllegalStateException(CLASS_NAME + " declares no native method");
            }
            Set<String> names = new TreeSet<>();
            for (Method method : natives) {
                // An overloaded native method is looked up by its long name, with the mangled
                // argument descriptor.
                String name = "Java_" + mangle(CLASS_NAME) + "_" + mangle(method.getName());
                if (overloads.get(method.getName()) > 1) {
                    name += "__" + mangle(argumentDescriptor(method));
                }
                names.add(x64 ? name : "_" + name + "@" + argumentBytes(method));
            }
            return names;
        }
    }

    /** Bytes of the arguments on a 32-bit stack: JNIEnv*, jobject or jclass, the parameters. */
    static int argumentBytes(Method method) {
        int bytes = 4 + 4;
        for (Class<?> parameter : method.getParameterTypes()) {
            bytes += parameter == long.class || parameter == double.class ? 8 : 4;
        }
        return bytes;
    }

    /** The JNI escapes: "_" is "_1", ";" "_2", "[" "_3", other non-alphanumerics "_0xxxx". */
    static String mangle(String text) {
        StringBuilder out = new StringBuilder();
        for (char c : text.toCharArray()) {
            if (c == '.' || c == '/') {
                out.append('_');
            } else if (c == '_') {
                out.append("_1");
            } else if (c == ';') {
                out.append("_2");
            } else if (c == '[') {
                out.append("_3");
            } else if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
                out.append(c);
            } else {
                out.append(String.format("_0%04x", (int) c));
            }
        }
        return out.toString();
    }

    static String argumentDescriptor(Method method) {
        StringBuilder out = new StringBuilder();
        for (Class<?> parameter : method.getParameterTypes()) {
            out.append(parameter.descriptorString());
        }
        return out.toString();
    }

    /** What objdump -p prints for the DLL. */
    static String objdump(String objdump, String dll) throws IOException, InterruptedException {
        Process process = new ProcessBuilder(objdump, "-p", dll).redirectErrorStream(true).start();
        String output;
        try (InputStream in = process.getInputStream()) {
            ByteArrayOutputStream bytes = new ByteArrayOutputStream();
            in.transferTo(bytes);
            output = bytes.toString(StandardCharsets.UTF_8);
        }
        if (process.waitFor() != 0) {
            throw new IOException(objdump + " -p " + dll + " failed:\n" + output);
        }
        return output;
    }

    /** The names of the export table, from the "[Ordinal/Name Pointer] Table" of objdump -p. */
    static Set<String> exportedNames(String dll, String output) throws IOException {
        Set<String> names = new TreeSet<>();
        boolean inTable = false;
        Pattern entry = Pattern.compile("^\\s*\\[\\s*\\d+\\]\\s+(\\S+)\\s*$");
        for (String line : output.split("\\R")) {
            if (line.startsWith("[Ordinal/Name Pointer] Table")) {
                inTable = true;
            } else if (inTable) {
                Matcher matcher = entry.matcher(line);
                if (matcher.matches()) {
                    names.add(matcher.group(1));
                } else if (line.isBlank()) {
                    inTable = false;
                }
            }
        }
        if (names.isEmpty()) {
            throw new IOException(dll + " exports nothing (or objdump printed no export table)");
        }
        return names;
    }
}
