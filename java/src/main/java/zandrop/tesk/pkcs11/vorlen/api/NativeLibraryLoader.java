package zandrop.tesk.pkcs11.vorlen.api;

import java.io.IOException;
import java.io.InputStream;
import java.nio.ByteBuffer;
import java.nio.channels.FileChannel;
import java.nio.file.DirectoryStream;
import java.nio.file.FileAlreadyExistsException;
import java.nio.file.FileSystems;
import java.nio.file.Files;
import java.nio.file.InvalidPathException;
import java.nio.file.LinkOption;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.StandardCopyOption;
import java.nio.file.StandardOpenOption;
import java.nio.file.attribute.PosixFilePermission;
import java.nio.file.attribute.PosixFilePermissions;
import java.nio.file.attribute.UserPrincipal;
import java.security.MessageDigest;
import java.security.NoSuchAlgorithmException;
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
 *     {@code linux-x86_64}, {@code linux-x86}, {@code linux-aarch64}, {@code windows-x86},
 *     {@code windows-x86_64}, {@code macos-x86_64} or {@code macos-aarch64} (as
 *     {@link #platform(String, String)} names it) and the file is
 *     {@code System.mapLibraryName("vorlenpkcs11")}. It is loaded from the user's cache (see
 *     below).</li>
 * <li>Otherwise, or when the bundled library cannot be loaded, {@code vorlenpkcs11} from
 *     {@code java.library.path}.</li>
 * </ol>
 * When nothing can be loaded, {@link #load()} throws an {@link UnsatisfiedLinkError} whose
 * message lists every attempt and why it failed.
 *
 * <h2>The cache</h2>
 *
 * <p>The bundled library is extracted once, into a folder named by the SHA-256 of its content
 * under the user's cache folder: the system property {@value #CACHE_PROPERTY} if set, else
 * {@code $XDG_CACHE_HOME/vorlen-pkcs11} or {@code ~/.cache/vorlen-pkcs11} on Linux,
 * {@code ~/Library/Caches/vorlen-pkcs11} on macOS and {@code %LOCALAPPDATA%\vorlen-pkcs11} on
 * Windows. Every later JVM of the user loads that file again, whatever jar of the same content
 * it comes from. The folders are created readable and writable by their owner only (on file
 * systems with POSIX permissions), and a library is loaded only from folders that belong to the
 * user and that no one else may write, and only after its content has been checked against the
 * hash. It is written to a temporary file in the same folder and renamed into place in one
 * step, so two JVMs starting at once, or a JVM killed while writing, never leave a half-written
 * library behind; a file that does not match its hash (damaged, truncated) is replaced.
 *
 * <p>Where the cache folder cannot be used (no home folder, a folder of another user or one
 * that others may write, a read-only file system), the library is copied into a new private
 * folder under {@code java.io.tmpdir}, as a fallback, which is deleted when the JVM exits where
 * the system allows deleting a loaded library.
 *
 * <p>This class alone names the platforms: the build runs {@link #main(String[])} to learn the
 * folder into which it puts the library, and so does the test that checks a jar.
 */
final class NativeLibraryLoader {

    /** The library's name, as {@link System#loadLibrary(String)} takes it. */
    static final String LIBRARY_NAME = "vorlenpkcs11";

    /** The system property that names the library file to load. */
    static final String PATH_PROPERTY = "zandrop.tesk.pkcs11.vorlen.library";

    /** The system property that names the cache folder of extracted libraries. */
    static final String CACHE_PROPERTY = "zandrop.tesk.pkcs11.vorlen.cache";

    /** The resource directory that holds one subdirectory per platform. */
    static final String RESOURCE_DIRECTORY = "/zandrop/tesk/pkcs11/vorlen/api/native/";

    private static boolean loaded;

    /** The file the library was loaded from (null: not loaded, or by System.loadLibrary). */
    private static String loadedFrom;

    /** Temporary files of writers that died are removed once they are this old. */
    private static final long STALE_TEMPORARY_MILLIS = 10 * 60 * 1000L;

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
            loadedFrom = Paths.get(explicitPath).toAbsolutePath().toString();
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
                byte[] content = in.readAllBytes();
                Path file = null;
                try {
                    file = cachedCopy(content, fileName, cacheFolder());
                    System.load(file.toString());
                    loadedFrom = file.toString();
                    return;
                } catch (IOException | RuntimeException | UnsatisfiedLinkError e) {
                    // The fallback: a private folder of this JVM's own (also where another
                    // class loader of this JVM has loaded the cached file already).
                    attempts.append(file == null ? "the cache could not be used (" : "loading "
                            + file + " failed (").append(e.getMessage()).append("); ");
                }
                file = extract(content, fileName);
                try {
                    System.load(file.toString());
                    loadedFrom = file.toString();
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

    /** The file the library was loaded from, or null (not loaded, or from java.library.path). */
    static synchronized String loadedFrom() {
        return loadedFrom;
    }

    /**
     * The user's cache folder of extracted libraries, as the class comment describes it.
     *
     * @throws IOException if the system names none (no home folder)
     */
    static Path cacheFolder() throws IOException {
        String configured = System.getProperty(CACHE_PROPERTY);
        if (configured != null && !configured.isEmpty()) {
            return Paths.get(configured).toAbsolutePath();
        }
        String os = operatingSystem(System.getProperty("os.name"));
        String home = System.getProperty("user.home");
        if (os.equals("windows")) {
            String local = System.getenv("LOCALAPPDATA");
            if (local != null && !local.isEmpty()) {
                return Paths.get(local, "vorlen-pkcs11");
            }
        } else if (os.equals("macos")) {
            if (home != null && !home.isEmpty() && !home.equals("?")) {
                return Paths.get(home, "Library", "Caches", "vorlen-pkcs11");
            }
        } else {
            String xdg = System.getenv("XDG_CACHE_HOME");
            if (xdg != null && Paths.get(xdg).isAbsolute()) {
                return Paths.get(xdg, "vorlen-pkcs11");
            }
        }
        if (home == null || home.isEmpty() || home.equals("?")) {
            throw new IOException("there is no home folder (user.home=" + home + ")");
        }
        return Paths.get(home, ".cache", "vorlen-pkcs11");
    }

    /**
     * Returns the cached copy of a library under {@code cache}, in the folder named by the
     * SHA-256 of its content, writing it first where it is missing or does not match. The
     * folders are created owner-only; a folder or file of another user, or one that others may
     * write, is refused.
     *
     * @param content the library's bytes
     * @param fileName the file name, as {@link System#mapLibraryName(String)} gives it
     * @param cache the cache folder
     * @return the file, whose content matched {@code content} just before returning
     * @throws IOException if the cache cannot be used; the message says why
     */
    static Path cachedCopy(byte[] content, String fileName, Path cache) throws IOException {
        String hash = sha256(content);
        Path folder = cache.resolve(hash);
        ownFolder(cache);
        ownFolder(folder);
        Path file = folder.resolve(fileName);
        if (Files.isRegularFile(file, LinkOption.NOFOLLOW_LINKS)) {
            checkOwnedAndPrivate(file);
            if (hash.equals(sha256(Files.readAllBytes(file)))) {
                return file;
            }
        }
        removeStaleTemporaries(folder, fileName);
        // A temporary file of this writer alone, renamed into place in one step.
        Path temporary = posix()
                ? Files.createTempFile(folder, fileName + ".", ".tmp",
                        PosixFilePermissions.asFileAttribute(EnumSet.of(PosixFilePermission.OWNER_READ,
                                PosixFilePermission.OWNER_WRITE)))
                : Files.createTempFile(folder, fileName + ".", ".tmp");
        try {
            try (FileChannel channel = FileChannel.open(temporary, StandardOpenOption.WRITE)) {
                ByteBuffer buffer = ByteBuffer.wrap(content);
                while (buffer.hasRemaining()) {
                    channel.write(buffer);
                }
                channel.force(true);
            }
            if (posix()) {
                Files.setPosixFilePermissions(temporary, EnumSet.of(PosixFilePermission.OWNER_READ,
                        PosixFilePermission.OWNER_EXECUTE));
            }
            try {
                Files.move(temporary, file, StandardCopyOption.ATOMIC_MOVE,
                        StandardCopyOption.REPLACE_EXISTING);
            } catch (IOException e) {
                // Windows does not replace a library that another JVM has loaded: that file
                // serves when it matches.
                if (!Files.isRegularFile(file, LinkOption.NOFOLLOW_LINKS)) {
                    throw e;
                }
            }
        } finally {
            Files.deleteIfExists(temporary);
        }
        checkOwnedAndPrivate(file);
        if (!hash.equals(sha256(Files.readAllBytes(file)))) {
            throw new IOException(file + " does not match its hash after it was written");
        }
        return file;
    }

    /** Creates the folder owner-only where it is missing; refuses one that is not safe. */
    private static void ownFolder(Path folder) throws IOException {
        if (!Files.exists(folder, LinkOption.NOFOLLOW_LINKS)) {
            try {
                if (posix()) {
                    Files.createDirectories(folder.getParent());
                    Files.createDirectory(folder, PosixFilePermissions.asFileAttribute(EnumSet.of(
                            PosixFilePermission.OWNER_READ, PosixFilePermission.OWNER_WRITE,
                            PosixFilePermission.OWNER_EXECUTE)));
                } else {
                    Files.createDirectories(folder);
                }
            } catch (FileAlreadyExistsException e) {
                // Another JVM made it first: checked below like any other.
            }
        }
        if (!Files.isDirectory(folder, LinkOption.NOFOLLOW_LINKS)) {
            throw new IOException(folder + " is not a folder");
        }
        checkOwnedAndPrivate(folder);
    }

    /** Refuses a file or folder that another user owns or that others may write. */
    private static void checkOwnedAndPrivate(Path path) throws IOException {
        UserPrincipal owner = Files.getOwner(path, LinkOption.NOFOLLOW_LINKS);
        UserPrincipal me = currentUser(path);
        if (me != null && !owner.equals(me)) {
            throw new IOException(path + " belongs to " + owner.getName() + ", not to " + me.getName());
        }
        if (posix()) {
            Set<PosixFilePermission> permissions = Files.getPosixFilePermissions(path,
                    LinkOption.NOFOLLOW_LINKS);
            if (permissions.contains(PosixFilePermission.GROUP_WRITE)
                    || permissions.contains(PosixFilePermission.OTHERS_WRITE)) {
                throw new IOException(path + " may be written by others ("
                        + PosixFilePermissions.toString(permissions) + ")");
            }
        }
    }

    /** The user this JVM runs as, from its user.name (null where the system cannot say). */
    private static UserPrincipal currentUser(Path path) {
        try {
            return path.getFileSystem().getUserPrincipalLookupService()
                    .lookupPrincipalByName(System.getProperty("user.name"));
        } catch (IOException | UnsupportedOperationException e) {
            return null;
        }
    }

    /** Removes temporary files that a writer killed while writing left behind long ago. */
    private static void removeStaleTemporaries(Path folder, String fileName) {
        long now = System.currentTimeMillis();
        try (DirectoryStream<Path> stream = Files.newDirectoryStream(folder, fileName + ".*.tmp")) {
            for (Path stale : stream) {
                if (now - Files.getLastModifiedTime(stale, LinkOption.NOFOLLOW_LINKS).toMillis()
                        > STALE_TEMPORARY_MILLIS) {
                    Files.deleteIfExists(stale);
                }
            }
        } catch (IOException e) {
            // Left for a later JVM: they do no harm.
        }
    }

    private static boolean posix() {
        return FileSystems.getDefault().supportedFileAttributeViews().contains("posix");
    }

    /** The SHA-256 of the bytes, as 64 lower-case hexadecimal digits. */
    static String sha256(byte[] content) {
        try {
            byte[] digest = MessageDigest.getInstance("SHA-256").digest(content);
            StringBuilder hex = new StringBuilder(64);
            for (byte b : digest) {
                hex.append(Character.forDigit((b >> 4) & 0xF, 16)).append(Character.forDigit(b & 0xF, 16));
            }
            return hex.toString();
        } catch (NoSuchAlgorithmException e) {
            throw new IllegalStateException("every JDK has SHA-256", e);
        }
    }

    /**
     * Copies a library into a new private temporary directory (the fallback when the cache
     * cannot be used). The file and the directory are deleted when the JVM exits (the file
     * first); on a failure they are deleted at once.
     */
    private static Path extract(byte[] content, String fileName) throws IOException {
        boolean posix = posix();
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
            Files.write(file, content);
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
