package zandrop.tesk.pkcs11.vorlen.api;

import static org.junit.jupiter.api.Assertions.assertAll;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.nio.file.Path;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

class NativeLibraryLoaderTest {

    @Test
    void namesThePlatformsOfTheBundledLibraries() {
        assertAll(
                () -> assertEquals("linux-x86_64", NativeLibraryLoader.platform("Linux", "amd64")),
                () -> assertEquals("linux-x86_64", NativeLibraryLoader.platform("Linux", "x86_64")),
                () -> assertEquals("linux-x86", NativeLibraryLoader.platform("Linux", "i386")),
                () -> assertEquals("linux-x86", NativeLibraryLoader.platform("Linux", "i686")),
                () -> assertEquals("windows-x86", NativeLibraryLoader.platform("Windows 10", "x86")),
                () -> assertEquals("windows-x86_64",
                        NativeLibraryLoader.platform("Windows Server 2022", "amd64")),
                () -> assertEquals("linux-aarch64", NativeLibraryLoader.platform("Linux", "aarch64")),
                () -> assertEquals("macos-aarch64", NativeLibraryLoader.platform("Mac OS X", "arm64")));
    }

    @Test
    void theJarAndTheLibraryItLoadedCarryTheBuildsVersion() {
        String version = System.getProperty("vorlen.version");
        assertTrue(version != null && !version.isEmpty(), "the build passes vorlen.version");
        assertEquals(version, PKCS11Impl.getNativeLibraryVersion());
        assertEquals(version, PKCS11Impl.getVersion());
    }

    @Test
    void looksForTheResourceInThePlatformDirectory() {
        assertEquals("/zandrop/tesk/pkcs11/vorlen/api/native/linux-x86_64/libvorlenpkcs11.so",
                NativeLibraryLoader.resourcePath("linux-x86_64", "libvorlenpkcs11.so"));
        assertEquals("/zandrop/tesk/pkcs11/vorlen/api/native/windows-x86/vorlenpkcs11.dll",
                NativeLibraryLoader.resourcePath("windows-x86", "vorlenpkcs11.dll"));
    }

    @Test
    void failureToLoadTheNamedFileSaysWhatWasTried(@TempDir Path directory) {
        Path missing = directory.resolve("no-such-library.so");
        UnsatisfiedLinkError e = assertThrows(UnsatisfiedLinkError.class,
                () -> NativeLibraryLoader.loadExplicit(missing.toString()));
        assertTrue(e.getMessage().contains(missing.toString()), e.getMessage());
        assertTrue(e.getMessage().contains(NativeLibraryLoader.PATH_PROPERTY), e.getMessage());
        assertTrue(e.getCause() instanceof UnsatisfiedLinkError, String.valueOf(e.getCause()));
    }
}
