package zandrop.tesk.pkcs11.vorlen.api;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assumptions.assumeTrue;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.attribute.PosixFilePermissions;
import java.nio.file.attribute.UserPrincipal;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.TimeUnit;
import java.util.stream.Stream;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/**
 * The cache of extracted libraries: one copy per content hash, reused, never loaded from a
 * folder of another user, replaced when damaged, and written safely by JVMs starting at once.
 */
class NativeLibraryCacheTest {

    private static final byte[] CONTENT = "a library's bytes".getBytes(StandardCharsets.US_ASCII);
    private static final String NAME = "libvorlenpkcs11.so";

    @Test
    void extractsOnceIntoAnOwnerOnlyFolderNamedByTheHashAndReusesIt(@TempDir Path cache) throws IOException {
        Path file = NativeLibraryLoader.cachedCopy(CONTENT, NAME, cache.resolve("c"));
        assertEquals(cache.resolve("c").resolve(NativeLibraryLoader.sha256(CONTENT)).resolve(NAME), file);
        assertArrayEquals(CONTENT, Files.readAllBytes(file));
        assertEquals("rwx------", PosixFilePermissions.toString(Files.getPosixFilePermissions(file.getParent())));
        assertEquals("rwx------", PosixFilePermissions.toString(Files.getPosixFilePermissions(cache.resolve("c"))));
        assertEquals("r-x------", PosixFilePermissions.toString(Files.getPosixFilePermissions(file)));
        long written = Files.getLastModifiedTime(file).toMillis();

        Files.setLastModifiedTime(file, java.nio.file.attribute.FileTime.fromMillis(written - 60_000));
        assertEquals(file, NativeLibraryLoader.cachedCopy(CONTENT, NAME, cache.resolve("c")));
        assertEquals(written - 60_000, Files.getLastModifiedTime(file).toMillis(), "the copy is reused, not rewritten");
        assertEquals(List.of(NAME), names(file.getParent()), "no temporary file is left");
        assertNotEquals(file.getParent(), NativeLibraryLoader.cachedCopy(new byte[] {1}, NAME, cache.resolve("c")).getParent(),
                "other content, another folder");
    }

    @Test
    void aDamagedOrTruncatedCopyIsReplacedBeforeItIsReturned(@TempDir Path cache) throws IOException {
        Path file = NativeLibraryLoader.cachedCopy(CONTENT, NAME, cache);
        for (byte[] damaged : List.of(new byte[0], "a library's bytez".getBytes(StandardCharsets.US_ASCII))) {
            Files.setPosixFilePermissions(file, PosixFilePermissions.fromString("rw-------"));
            Files.write(file, damaged);
            assertEquals(file, NativeLibraryLoader.cachedCopy(CONTENT, NAME, cache));
            assertArrayEquals(CONTENT, Files.readAllBytes(file));
        }
        // What a writer killed while writing leaves behind: a temporary file beside it, ignored.
        Files.write(file.resolveSibling(NAME + ".123.tmp"), new byte[] {0});
        assertArrayEquals(CONTENT, Files.readAllBytes(NativeLibraryLoader.cachedCopy(CONTENT, NAME, cache)));
    }

    @Test
    void refusesFoldersOthersMayWriteOrThatBelongToAnotherUser(@TempDir Path cache) throws IOException {
        Path folder = cache.resolve(NativeLibraryLoader.sha256(CONTENT));
        Files.createDirectory(folder);
        Files.setPosixFilePermissions(folder, PosixFilePermissions.fromString("rwxrwxrwx"));
        IOException open = assertThrows(IOException.class, () -> NativeLibraryLoader.cachedCopy(CONTENT, NAME, cache));
        assertTrue(open.getMessage().contains("may be written by others"), open.getMessage());

        assumeTrue(System.getProperty("user.name").equals("root"), "only root can give a folder away");
        // A cache folder of another user, private to that user: root could write into it, and
        // must not.
        Path foreign = cache.resolve("foreign");
        Files.createDirectory(foreign);
        Files.setPosixFilePermissions(foreign, PosixFilePermissions.fromString("rwx------"));
        UserPrincipal nobody = cache.getFileSystem().getUserPrincipalLookupService().lookupPrincipalByName("nobody");
        Files.setOwner(foreign, nobody);
        IOException refused = assertThrows(IOException.class, () -> NativeLibraryLoader.cachedCopy(CONTENT, NAME, foreign));
        assertTrue(refused.getMessage().contains("belongs to nobody"), refused.getMessage());
        // A JVM given that cache still loads the library, from a private folder of its own.
        List<String> loaded = startJvms(foreign, 1);
        assertTrue(!loaded.get(0).startsWith(cache.toString()), loaded.get(0));
        assertEquals(List.of(), names(foreign), "nothing was written into it");
    }

    @Test
    void jvmsStartingAtOnceShareOneCompleteCopy(@TempDir Path cache) throws IOException {
        List<String> loaded = startJvms(cache, 4);
        assertEquals(1, loaded.stream().distinct().count(), "one file: " + loaded);
        Path file = Path.of(loaded.get(0));
        assertEquals(cache, file.getParent().getParent());
        assertEquals(file.getParent().getFileName().toString(), NativeLibraryLoader.sha256(Files.readAllBytes(file)));
        assertEquals(List.of(file.getFileName().toString()), names(file.getParent()), "no temporary file is left");
    }

    /** Starts JVMs at once that load the library from the built jar with this cache; their files. */
    private static List<String> startJvms(Path cache, int count) throws IOException {
        String emulator = System.getProperty("vorlen.jvm.emulator", "");
        assumeTrue(emulator.isEmpty(), "the test starts JVMs, programs this kernel runs only under " + emulator);
        Path build = Path.of(System.getProperty("vorlen.build.dir"));
        List<String> command = new ArrayList<>(List.of(Path.of(System.getProperty("java.home"), "bin", "java").toString(),
                "-Xcheck:jni", "-D" + NativeLibraryLoader.CACHE_PROPERTY + "=" + cache));
        if (Runtime.version().feature() >= 22) {
            command.add("--enable-native-access=ALL-UNNAMED");
        }
        command.addAll(List.of("-cp", build.resolve("vorlen-pkcs11.jar") + java.io.File.pathSeparator
                + build.resolve("java/test-classes"), LoadedFrom.class.getName()));
        List<Process> processes = new ArrayList<>();
        for (int i = 0; i < count; i++) {
            processes.add(new ProcessBuilder(command).redirectErrorStream(true).start());
        }
        List<String> files = new ArrayList<>();
        for (Process process : processes) {
            try {
                // Emulated JVMs are slower: the build scales their time limits.
                long limit = 120L * Long.getLong("vorlen.timeout.scale", 1);
                boolean ended = process.waitFor(limit, TimeUnit.SECONDS);
                if (!ended) {
                    process.destroyForcibly();
                }
                assertTrue(ended, "the JVM ended within " + limit + " s");
            } catch (InterruptedException e) {
                throw new IOException(e);
            }
            String out = new String(process.getInputStream().readAllBytes(), StandardCharsets.UTF_8).trim();
            assertEquals(0, process.exitValue(), out);
            assertTrue(!out.contains("WARNING"), out);
            files.add(out);
        }
        return files;
    }

    private static List<String> names(Path folder) throws IOException {
        try (Stream<Path> list = Files.list(folder)) {
            return list.map(p -> p.getFileName().toString()).sorted().toList();
        }
    }

    /** The program each JVM runs: loads the library and prints the file it came from. */
    static final class LoadedFrom {
        public static void main(String[] args) {
            PKCS11Impl.getNativeLibraryVersion();
            System.out.println(NativeLibraryLoader.loadedFrom());
        }
    }
}
