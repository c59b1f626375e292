package zandrop.tesk.pkcs11.vorlen.api;

import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.nio.file.FileSystems;
import java.nio.file.Files;
import java.nio.file.InvalidPathException;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.attribute.PosixFilePermission;
import java.nio.file.attribute.PosixFilePermissions;
import java.util.EnumSet;
import java.util.Locale;
import java.util.Set;

/**
 * Loads the native library {@code vorlenpkcs11} that implements the native methods of
 * {@link PKCS11Impl}, once per class loader.
 *
 * <p>The places are tried in this order:
 * <ol>
 * <li>If the system property {@value #PATH_PROPERTY} is set (and not empty), the file it
 *     names, and nothing else.</li>
 * <li>Otherwise the library that the jar carries for the running platform, the resource
 *     {@code /zandrop/tesk/pkcs11/vorlen/api/native/<platform>/<file>}, where the platform is
 *     {@code linux-x86_64}, {@code linux-x86}, {@code linux-aarch64}, {@code windows-x86} or
 *     {@code windows-x86_64} (as {@link #platform(String, String)} names it) and the file is {@code System.mapLibraryName("vorlenpkcs11")}. The resource is copied
 *     into a new temporary directory that only the current user can read (on file systems with
 *     POSIX permissions) and loaded from there; both are deleted when the JVM exits, where the
 *     system allows deleting a loaded library.</li>
 * <li>Otherwise, or when the bundled library cannot be loaded, {@code vorlenpkcs11} from
 *     {@code java.library.path}.</li>
 * </ol>
 * When nothing can be loaded, {@link #load()} throws an {@link UnsatisfiedLinkError} whose
 * message lists every attempt and why it failed.
 *
 * <p>This class alone names the platforms: the build runs {@link #main(String[])} to learn the
 * folder into which it puts the library, and so does the test that checks a jar.
 */
final class NativeLibraryLoader {

    /** The library's name, as {@link System#loadLibrary(String)} takes it. */
    static final String LIBRARY_NAME = "vorlenpkcs11";

    /** The system property that names the library file to load. */
    static final String PATH_PROPERTY = "zandrop.tesk.pkcs11.vorlen.library";

    /** The resource directory that holds one subdirectory per platform. */
    static final String RESOURCE_DIRECTORY = "/zandrop/tesk/pkcs11/vorlen/api/native/";

    private static boolean loaded;

    private NativeLibraryLoader() {
    }

    /**
     * Prints the platform's name, as the jar's folder for the native library is named: that of
     * the running JVM, or, given two arguments, that of a JVM whose {@code os.name} and
     * {@code os.arch} they are.
     *
     * @param args nothing, or the values of {@code os.name} and {@code os.arch}
     */
    public static void main(String[] args) {
        if (args.length != 0 && args.length != 2) {
            System.err.println("usage: NativeLibraryLoader [OS_NAME OS_ARCH]");
            System.exit(2);
        }
        System.out.println(args.length == 2 ? platform(args[0], args[1])
                : platform(System.getProperty("os.name"), System.getProperty("os.arch")));
    }

    /**
     * Loads the library unless an earlier call has loaded it.
     *
     * @throws UnsatisfiedLinkError if the library cannot be loaded from any place; the message
     *     says what was tried
     */
    static synchronized void load() {
        if (loaded) {
            return;
        }
        String explicitPath = System.getProperty(PATH_PROPERTY);
        if (explicitPath != null && !explicitPath.isEmpty()) {
            loadExplicit(explicitPath);
        } else {
            loadBundledOrFromPath();
        }
        loaded = true;
    }

    /**
     * Loads the library file that the system property names.
     *
     * @param path the file, absolute or relative to the working directory
     * @throws UnsatisfiedLinkError if it cannot be loaded; the message names the file and the
     *     property
     */
    static void loadExplicit(String path) {
        String file;
        try {
            file = Paths.get(path).toAbsolutePath().toString();
        } catch (InvalidPathException e) {
            throw failure("The system property " + PATH_PROPERTY + " names no valid file: " + path,
                    e);
        }
        try {
            System.load(file);
        } catch (UnsatisfiedLinkError e) {
            throw failure("Could not load the native library " + file
                    + " named by the system property " + PATH_PROPERTY + ": " + e.getMessage(), e);
        }
    }

    private static void loadBundledOrFromPath() {
        StringBuilder attempts = new StringBuilder("Could not load the native library ")
                .append(LIBRARY_NAME).append(": the system property ").append(PATH_PROPERTY)
                .append(" is not set; ");
        String fileName = System.mapLibraryName(LIBRARY_NAME);
        String platform = platform(System.getProperty("os.name"), System.getProperty("os.arch"));
        String resource = resourcePath(platform, fileName);
        Throwable bundledFailure = null;
        try (InputStream in = NativeLibraryLoader.class.getResourceAsStream(resource)) {
            if (in == null) {
                attempts.append("there is no resource ").append(resource).append("; ");
            } else {
                Path file = extract(in, fileName);
                try {
                    System.load(file.toString());
                    return;
                } catch (UnsatisfiedLinkError e) {
                    bundledFailure = e;
                    attempts.append("loading the resource ").append(resource).append(" copied to ")
                            .append(file).append(" failed: ").append(e.getMessage()).append("; ");
                }
            }
        } catch (IOException e) {
            bundledFailure = e;
            attempts.append("copying the resource ").append(resource).append(" failed: ")
                    .append(e).append("; ");
        }

        try {
            System.loadLibrary(LIBRARY_NAME);
        } catch (UnsatisfiedLinkError e) {
            attempts.append("System.loadLibrary(\"").append(LIBRARY_NAME).append("\") failed: ")
                    .append(e.getMessage()).append(" (java.library.path=")
                    .append(System.getProperty("java.library.path")).append(')');
            UnsatisfiedLinkError error = failure(attempts.toString(), e);
            if (bundledFailure != null) {
                error.addSuppressed(bundledFailure);
            }
            throw error;
        }
    }

    private static UnsatisfiedLinkError failure(String message, Throwable cause) {
        UnsatisfiedLinkError error = new UnsatisfiedLinkError(message);
        error.initCause(cause);
        return error;
    }

    /**
     * Names the platform as the resource directories do: the operating system and the
     * processor architecture, such as {@code linux-x86_64} or {@code windows-x86}.
     *
     * @param osName the value of the system property {@code os.name}
     * @param osArch the value of the system property {@code os.arch}
     * @return the platform name
     */
    static String platform(String osName, String osArch) {
        return operatingSystem(osName) + "-" + architecture(osArch);
    }

    private static String operatingSystem(String osName) {
        String name = osName == null ? "unknown" : osName.trim().toLowerCase(Locale.ROOT);
        if (name.startsWith("linux")) {
            return "linux";
        }
        if (name.startsWith("windows")) {
            return "windows";
        }
        if (name.startsWith("mac") || name.startsWith("darwin")) {
            return "macos";
        }
        return name.replaceAll("[^a-z0-9]", "");
    }

    private static String architecture(String osArch) {
        String arch = osArch == null ? "unknown" : osArch.trim().toLowerCase(Locale.ROOT);
        switch (arch) {
            case "amd64":
            case "x86_64":
            case "x86-64":
                return "x86_64";
            case "x86":
            case "i386":
            case "i486":
            case "i586":
            case "i686":
                return "x86";
            case "aarch64":
            case "arm64":
                return "aarch64";
            default:
                return arch.replaceAll("[^a-z0-9_]", "");
        }
    }

    /**
     * Returns the resource that holds the library for a platform.
     *
     * @param platform the platform, as {@link #platform(String, String)} names it
     * @param fileName the library's file name, as {@link System#mapLibraryName(String)} gives it
     * @return the absolute resource path
     */
    static String resourcePath(String platform, String fileName) {
        return RESOURCE_DIRECTORY + platform + "/" + fileName;
    }

    /**
     * Copies a library into a new private temporary directory. The file and the directory are
     * deleted when the JVM exits (the file first); on a failure they are deleted at once.
     */
    private static Path extract(InputStream in, String fileName) throws IOException {
        boolean posix = FileSystems.getDefault().supportedFileAttributeViews().contains("posix");
        Path directory = posix
                ? Files.createTempDirectory(LIBRARY_NAME, PosixFilePermissions.asFileAttribute(
                        EnumSet.of(PosixFilePermission.OWNER_READ, PosixFilePermission.OWNER_WRITE,
                                PosixFilePermission.OWNER_EXECUTE)))
                : Files.createTempDirectory(LIBRARY_NAME);
        Path file = directory.resolve(fileName);
        try {
            if (posix) {
                Set<PosixFilePermission> ownerOnly = EnumSet.of(PosixFilePermission.OWNER_READ,
                        PosixFilePermission.OWNER_WRITE);
                Files.createFile(file, PosixFilePermissions.asFileAttribute(ownerOnly));
            }
            try (OutputStream out = Files.newOutputStream(file)) {
                in.transferTo(out);
            }
            if (posix) {
                Files.setPosixFilePermissions(file, EnumSet.of(PosixFilePermission.OWNER_READ,
                        PosixFilePermission.OWNER_EXECUTE));
            }
        } catch (IOException | RuntimeException e) {
            Files.deleteIfExists(file);
            Files.deleteIfExists(directory);
            throw e;
        }
        // Deleted in the reverse order of registration: the file, then its directory.
        directory.toFile().deleteOnExit();
        file.toFile().deleteOnExit();
        return file.toAbsolutePath();
    }
}
