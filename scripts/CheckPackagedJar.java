// Checks the jar that scripts/package.sh writes: for each platform folder the library's format
// and processor, read from the file's own headers (ELF: class and e_machine; PE: the COFF
// machine and the optional header's magic), and that NativeLibraryLoader (the jar's own, loaded
// from the jar) looks in that folder for the os.name and os.arch that the platform's JVM reports.
// Every JVM given as an argument is also asked itself which folder it looks in (its platform
// must be in the jar).
//
// Usage: java scripts/CheckPackagedJar.java [--allow-missing] JAR [JAVA_COMMAND]...
//   --allow-missing: a platform without a library is reported, not a fault (a partial package)
//   JAVA_COMMAND: a java executable, or words separated by spaces that start one (an emulator
//   and its options first), run as JAVA_COMMAND -cp JAR zandrop.tesk.pkcs11.vorlen.api.NativeLibraryLoader
// Exit status 0 when everything holds; 1 with a line for each fault otherwise.

import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.InputStream;
import java.lang.reflect.Method;
import java.net.URL;
import java.net.URLClassLoader;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.charset.StandardCharsets;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import java.util.TreeMap;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import java.util.zip.ZipEntry;
import java.util.zip.ZipFile;

public final class CheckPackagedJar {

    /** A platform of the jar: what its library must be, and what its JVM reports. */
    record Platform(String folder, String file, String format, String machine, String osName, String osArch) {
    }

    static final List<Platform> PLATFORMS = List.of(
            new Platform("linux-x86_64", "libvorlenpkcs11.so", "ELF 64-bit", "x86-64", "Linux", "amd64"),
            new Platform("linux-aarch64", "libvorlenpkcs11.so", "ELF 64-bit", "AArch64", "Linux", "aarch64"),
            new Platform("linux-x86", "libvorlenpkcs11.so", "ELF 32-bit", "i386", "Linux", "i386"),
            new Platform("windows-x86", "vorlenpkcs11.dll", "PE32", "i386", "Windows 10", "x86"),
            new Platform("windows-x86_64", "vorlenpkcs11.dll", "PE32+", "x86-64", "Windows 11", "amd64"));

    private static final String NATIVE = "zandrop/tesk/pkcs11/vorlen/api/native/";
    private static final String LOADER = "zandrop.tesk.pkcs11.vorlen.api.NativeLibraryLoader";

    private CheckPackagedJar() {
    }

    public static void main(String[] args) throws Exception {
        boolean allowMissing = args.length > 0 && args[0].equals("--allow-missing");
        if (allowMissing) {
            args = java.util.Arrays.copyOfRange(args, 1, args.length);
        }
        if (args.length < 1) {
            System.err.println("usage: java CheckPackagedJar.java [--allow-missing] JAR [JAVA_COMMAND]...");
            System.exit(2);
        }
        Path jar = Path.of(args[0]);
        List<String> faults = new ArrayList<>();
        Map<String, byte[]> libraries = new TreeMap<>();
        try (ZipFile zip = new ZipFile(jar.toFile())) {
            for (ZipEntry entry : zip.stream().toList()) {
                if (entry.getName().startsWith(NATIVE) && !entry.isDirectory()) {
                    try (InputStream in = zip.getInputStream(entry)) {
                        libraries.put(entry.getName().substring(NATIVE.length()), in.readAllBytes());
                    }
                }
            }
        }
        for (Platform platform : PLATFORMS) {
            String name = platform.folder() + "/" + platform.file();
            byte[] library = libraries.remove(name);
            if (library == null) {
                if (allowMissing) {
                    System.out.println(name + ": not in this package (not built)");
                } else {
                    faults.add("no library " + name);
                }
                continue;
            }
            String found = describe(library);
            String wanted = platform.format() + " " + platform.machine();
            System.out.println(name + ": " + found + " (" + library.length + " bytes)");
            if (!found.equals(wanted)) {
                faults.add(name + " is " + found + ", not " + wanted);
            }
        }
        for (String extra : libraries.keySet()) {
            faults.add("a file of no known platform: " + extra);
        }

        // The jar's own loader names the folder for each platform's JVM.
        try (URLClassLoader loader = new URLClassLoader(new URL[] {jar.toUri().toURL()}, null)) {
            Method platformName = Class.forName(LOADER, false, loader).getDeclaredMethod("platform", String.class, String.class);
            platformName.setAccessible(true);
            for (Platform platform : PLATFORMS) {
                String folder = (String) platformName.invoke(null, platform.osName(), platform.osArch());
                System.out.println("os.name " + platform.osName() + ", os.arch " + platform.osArch() + ": " + folder);
                if (!folder.equals(platform.folder())) {
                    faults.add("the loader looks in " + folder + " for " + platform.osName() + "/" + platform.osArch()
                            + ", not in " + platform.folder());
                }
            }
        }
        // And each JVM given, asked itself.
        for (int i = 1; i < args.length; i++) {
            List<String> command = new ArrayList<>(List.of(args[i].split(" ")));
            command.addAll(List.of("-cp", jar.toString(), LOADER));
            Process process = new ProcessBuilder(command).redirectErrorStream(true).start();
            String out = new String(process.getInputStream().readAllBytes(), StandardCharsets.UTF_8).trim();
            int status = process.waitFor();
            System.out.println(args[i] + ": " + out);
            if (status != 0 || PLATFORMS.stream().noneMatch(p -> p.folder().equals(out))) {
                faults.add(args[i] + " looks in " + out + " (status " + status + "), which holds no library");
            }
        }
        for (String fault : faults) {
            System.out.println("FAULT: " + fault);
        }
        System.out.println(faults.isEmpty() ? "the packaged jar holds " + (PLATFORMS.size() - missing(jar))
                + " of " + PLATFORMS.size() + " platform libraries, each as its platform's loader expects"
                : faults.size() + " faults");
        System.exit(faults.isEmpty() ? 0 : 1);
    }

    /** The number of platforms without a library in the jar. */
    static int missing(Path jar) throws IOException {
        try (ZipFile zip = new ZipFile(jar.toFile())) {
            return (int) PLATFORMS.stream().filter(p -> zip.getEntry(NATIVE + p.folder() + "/" + p.file()) == null).count();
        }
    }

    /** The format and processor, from the file's headers: "ELF 64-bit x86-64", "PE32+ x86-64"... */
    static String describe(byte[] file) {
        ByteBuffer b = ByteBuffer.wrap(file).order(ByteOrder.LITTLE_ENDIAN);
        if (file.length > 20 && b.getInt(0) == 0x464C457F) {  // "\x7FELF"
            String width = switch (file[4]) {
                case 1 -> "ELF 32-bit";
                case 2 -> "ELF 64-bit";
                default -> "ELF class " + file[4];
            };
            if (file[5] != 1) {
                return width + " big-endian";
            }
            int machine = b.getShort(18) & 0xFFFF;
            return width + " " + switch (machine) {
                case 0x03 -> "i386";
                case 0x3E -> "x86-64";
                case 0xB7 -> "AArch64";
                default -> String.format("e_machine 0x%x", machine);
            };
        }
        if (file.length > 0x40 && file[0] == 'M' && file[1] == 'Z') {
            int pe = b.getInt(0x3C);
            if (pe < 0 || pe + 26 > file.length || b.getInt(pe) != 0x00004550) {  // "PE\0\0"
                return "MZ without a PE header";
            }
            int machine = b.getShort(pe + 4) & 0xFFFF;
            int magic = b.getShort(pe + 24) & 0xFFFF;
            String format = magic == 0x10B ? "PE32" : magic == 0x20B ? "PE32+" : String.format("PE magic 0x%x", magic);
            return format + " " + switch (machine) {
                case 0x14C -> "i386";
                case 0x8664 -> "x86-64";
                case 0xAA64 -> "AArch64";
                default -> String.format("machine 0x%x", machine);
            };
        }
        return "unknown format";
    }
}
