package zandrop.tesk.pkcs11.vorlen.api;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assertions.fail;
import static org.junit.jupiter.api.Assumptions.assumeTrue;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.*;

import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.HexFormat;
import java.util.List;
import java.util.Map;

import org.junit.jupiter.api.Test;

/**
 * The demo program (vorlen-demo.jar) as a user runs it: in a JVM of its own, with -Xcheck:jni,
 * against SoftHSM2. Its default demo token lives under XDG_DATA_HOME, which points into the
 * test's temporary folder; signatures it prints are verified by the JDK from the public key
 * that this JVM reads through the library.
 */
class CliDemoTest {

    /** What one run of the program printed. */
    private record Run(int status, String out, String err) {
        List<String> errLines() {
            return err.isEmpty() ? List.of() : List.of(err.split("\n"));
        }

        String value(String key) {
            return out.lines().filter(line -> line.startsWith(key + " ")).findFirst()
                    .map(line -> line.substring(key.length()).trim()).orElseGet(() -> fail("no line '" + key + "' in:\n" + out));
        }
    }

    private static Run demo(Map<String, String> environment, String... args) {
        String jar = System.getProperty("vorlen.demo.jar");
        assertTrue(jar != null && Files.exists(Path.of(jar)), "vorlen-demo.jar was built: " + jar);
        // The demo token's module is the one of this build's width.
        List<String> command = new ArrayList<>(List.of(System.getProperty("vorlen.java", "java"), "-Xcheck:jni",
                "-Dvorlen.demo.softhsm2=" + RealModules.softHsm2(), "-jar", jar));
        command.addAll(List.of(args));
        // The test JVM runs under the sanitizer runtime when the library is built with it; the
        // program's JVM loads the same library and keeps it.
        RealModules.Result result = RealModules.run(command, environment, true);
        String all = result.out() + result.err();
        assertFalse(all.contains("WARNING in native method") || all.contains("WARNING: JNI")
                || all.contains("FATAL ERROR in native method"), "no JNI warning:\n" + all);
        return new Run(result.status(), result.out(), result.err());
    }

    /** A run of the program that must succeed: status 0, or the failure shows what it printed. */
    private static Run demoOk(Map<String, String> environment, String... args) {
        Run run = demo(environment, args);
        assertEquals(0, run.status(), String.join(" ", args) + ":\n" + run.out() + run.err());
        return run;
    }

    /** The environment of the default demo mode: its folder under the test's temporary folder. */
    private static Map<String, String> demoEnvironment(String name) {
        Path data = RealModules.testDir().resolve(name);
        return Map.of("XDG_DATA_HOME", data.toString());
    }

    /**
     * The default demo mode restarts the program in a new JVM, started by the path of its
     * executable. Under an emulator that the kernel does not start by itself (no binfmt_misc
     * registration; vorlen.jvm.emulator then names it) that path is a program of the target,
     * which this kernel cannot execute: such cases cannot run there.
     */
    private static void assumeTheDemoCanRestartItsJvm() {
        String emulator = System.getProperty("vorlen.jvm.emulator", "");
        assumeTrue(emulator.isEmpty(), "the demo restarts its JVM, a program this kernel runs only under " + emulator);
    }

    @Test
    void roadRunsEndToEndOnTheDemoTokenItCreates() throws Exception {
        assumeTheDemoCanRestartItsJvm();
        Map<String, String> env = demoEnvironment("road");
        Path demoHome = Path.of(env.get("XDG_DATA_HOME"), "vorlen-demo");
        assertFalse(Files.exists(demoHome));

        Run first = demoOk(env, "road");
        assertEquals("", first.err());
        assertTrue(first.out().contains("Created the demo token \"vorlen-demo\" in " + demoHome), first.out());
        assertTrue(Files.isRegularFile(demoHome.resolve("softhsm2.conf")), "its own SoftHSM2 configuration");
        assertTrue(Files.readString(demoHome.resolve("softhsm2.conf")).contains(demoHome.resolve("tokens").toString()));
        assertFalse(Files.exists(Path.of(System.getenv("HOME"), ".local")), "nothing written to the user's home");

        // The module of the session layer connects and initialises in one step, and finalises and
        // disconnects in one.
        String[] steps = {"connect, C_Initialize", "C_GetInfo", "C_GetSlotList", "C_OpenSession", "C_Login",
            "C_FindObjects", "C_SignInit, C_Sign", "C_FindObjects, C_VerifyInit, C_Verify", "C_VerifyInit, C_Verify",
            "C_Logout", "C_CloseSession", "C_Finalize, disconnect"};
        List<String> stepLines = first.out().lines().filter(line -> line.matches("^\\s*\\d+  .*")).toList();
        assertEquals(steps.length, stepLines.size(), first.out());
        for (int i = 0; i < steps.length; i++) {
            String line = stepLines.get(i);
            assertTrue(line.trim().startsWith((i + 1) + "  " + steps[i]), "step " + (i + 1) + ": " + line);
            assertFalse(line.contains("FAILED"), line);
        }
        String out = first.out();
        assertTrue(out.contains("CKS_RO_USER_FUNCTIONS"), "the login shows in the session state");
        assertTrue(out.contains("private key \"demo-key\""), out);
        assertTrue(out.contains("CKM_SHA256_RSA_PKCS: "), out);
        assertTrue(out.contains("(256 bytes)"), "a 2048-bit RSA signature");
        assertTrue(out.contains("the signature is valid"), out);
        assertTrue(out.contains("CKR_SIGNATURE_INVALID, as it should be"), out);

        // The second run finds the token it made.
        Run second = demoOk(env, "road", "--data", "another request");
        assertFalse(second.out().contains("Created the demo token"), second.out());
        assertTrue(second.out().contains("sign 15 bytes"), second.out());
    }

    @Test
    void versionNamesTheBuildsVersionForTheProgramTheJarAndTheNativeLibrary() {
        String version = System.getProperty("vorlen.version");
        Run run = demoOk(Map.of(), "--version");
        assertEquals("vorlen-demo " + version + " (vorlen-pkcs11 " + version + ", native library "
                + version + ")\n", run.out());
    }

    @Test
    void aWrongPinIsOneErrorLineWithItsCkrName() {
        assumeTheDemoCanRestartItsJvm();
        Map<String, String> env = demoEnvironment("wrong-pin");
        Run wrong = demo(env, "road", "--pin", "0000");
        assertEquals(1, wrong.status());
        assertEquals(1, wrong.errLines().size(), "one line:\n" + wrong.err());
        assertEquals("vorlen-demo: C_Login: CKR_PIN_INCORRECT (0x000000A0)", wrong.errLines().get(0));
        assertTrue(wrong.out().contains("C_Login, C_GetSessionInfo"), wrong.out());
        assertTrue(wrong.out().contains("FAILED"), wrong.out());
        assertFalse(wrong.out().contains("C_SignInit"), "the road ends at the failure");

        Run unknown = demo(env, "frobnicate");
        assertEquals(2, unknown.status());
        assertEquals(List.of("vorlen-demo: unknown command 'frobnicate' (see vorlen-demo --help)"), unknown.errLines());

        Run missing = demo(Map.of(), "info", "--module", "/nonexistent/module.so");
        assertEquals(1, missing.status());
        assertEquals(1, missing.errLines().size(), missing.err());
        assertTrue(missing.err().startsWith("vorlen-demo: cannot load the module /nonexistent/module.so: "), missing.err());
    }

    /**
     * The road with a module in between: OpenSC's pkcs11-spy.so over SoftHSM2 (whose log shows
     * the signature), and p11-kit-client.so with a p11-kit server serving the token.
     */
    @Test
    void roadThroughTheSpyAndThroughAP11KitServer() throws Exception {
        assumeTrue(Boolean.getBoolean("vorlen.real.between"), "the spy and p11-kit's client are checked on x86-64 only");
        RealModules.testDir();
        PKCS11Impl pkcs11 = new PKCS11Impl(RealModules.softHsm2());
        long slot;
        try {
            pkcs11.C_Initialize(new CK_C_INITIALIZE_ARGS(CKF_OS_LOCKING_OK));
            // The free token of the test folder (another case may have initialised one before).
            long[] slots = pkcs11.C_GetSlotList(true);
            long free = slots[slots.length - 1];
            assertEquals(0, pkcs11.C_GetTokenInfo(free).flags & CKF_TOKEN_INITIALIZED, "SoftHSM2's free token comes last");
            pkcs11.C_InitToken(free, RealSoftHsmToken.SO_PIN.toCharArray(), "road between".toCharArray());
            long session = pkcs11.C_OpenSession(RealSoftHsmToken.requireSlot(pkcs11, "road between"),
                    CKF_SERIAL_SESSION | CKF_RW_SESSION, null, null);
            pkcs11.C_Login(session, CKU_SO, RealSoftHsmToken.SO_PIN.toCharArray());
            pkcs11.C_InitPIN(session, RealSoftHsmToken.USER_PIN.toCharArray());
            pkcs11.C_Logout(session);
            pkcs11.C_Login(session, CKU_USER, RealSoftHsmToken.USER_PIN.toCharArray());
            RealModules.rsaKeyPair(pkcs11, session, true, "road key");
            pkcs11.C_Finalize(null);
            // The token's slot as a new process sees it (SoftHSM2 renumbers at C_Initialize).
            pkcs11.C_Initialize(new CK_C_INITIALIZE_ARGS(CKF_OS_LOCKING_OK));
            slot = RealSoftHsmToken.requireSlot(pkcs11, "road between");
            pkcs11.C_Finalize(null);
        } finally {
            pkcs11.disconnect();
        }
        Path log = RealModules.testDir().resolve("road-spy.log");
        Run throughSpy = demoOk(Map.of("PKCS11SPY", RealModules.softHsm2Itself(), "PKCS11SPY_OUTPUT", log.toString()),
                "road", "--label", "road key", "--pin", RealSoftHsmToken.USER_PIN, "--slot", "0x" + Long.toHexString(slot),
                "--module", RealModules.path("vorlen.real.spy", "opensc-pkcs11"));
        assertTrue(throughSpy.out().contains("the signature is valid"), throughSpy.out());
        assertTrue(Files.readString(log).contains("C_Sign\n"), "the spy logged the signature");

        RealModules.P11KitServer server = RealModules.P11KitServer.start("road between");
        try {
            // The server serves this token alone: the demo's first token. P11_KIT_SERVER_ADDRESS
            // is the test wrapper's.
            Run remote = demoOk(Map.of(), "road", "--label", "road key", "--pin", RealSoftHsmToken.USER_PIN,
                    "--module", RealModules.p11KitClient());
            assertTrue(remote.out().contains("PKCS#11 Kit"), "the client module answers C_GetInfo:\n" + remote.out());
            assertTrue(remote.out().contains("the signature is valid"), remote.out());
        } finally {
            server.close();
        }
    }

    @Test
    void commandsOnATokenOfTheTestsOwnWithTheJdkAsOracle() throws Exception {
        String module = RealModules.softHsm2();
        long slot = RealSoftHsmToken.initialiseAlone("cli token");
        String slotText = "0x" + Long.toHexString(slot);
        String pin = RealSoftHsmToken.USER_PIN;
        Map<String, String> env = Map.of();  // SOFTHSM2_CONF: the test's own token folder

        Run info = demoOk(env, "info", "--module", module);
        assertTrue(info.out().contains("Slot " + slotText + "  "), info.out());
        assertTrue(info.out().contains("\"cli token\""), info.out());

        Run mechanisms = demoOk(env, "mechanisms", "--module", module, "--slot", slotText);
        assertTrue(mechanisms.out().matches("(?s).*\\n  CKM_SHA256_RSA_PKCS +512-16384 +sign verify\\n.*"), mechanisms.out());

        demoOk(env, "keygen", "--module", module, "--slot", slotText, "--pin", pin, "--type", "rsa",
                "--bits", "2048", "--label", "cli rsa");
        demoOk(env, "keygen", "--module", module, "--slot", slotText, "--pin", pin, "--type", "ec",
                "--label", "cli ec");
        demoOk(env, "keygen", "--module", module, "--slot", slotText, "--pin", pin, "--type", "aes",
                "--label", "cli aes");
        Run again = demo(env, "keygen", "--module", module, "--slot", slotText, "--pin", pin, "--type", "aes",
                "--label", "cli aes");
        assertEquals(1, again.status());
        assertTrue(again.err().contains("exists already"), again.err());

        Run publicObjects = demoOk(env, "objects", "--module", module, "--slot", slotText);
        assertTrue(publicObjects.out().startsWith("2 objects visible without logging in"), publicObjects.out());
        Run objects = demo(env, "objects", "--module", module, "--slot", slotText, "--pin", pin);
        assertTrue(objects.out().startsWith("5 objects"), objects.out());
        assertTrue(objects.out().matches("(?s).*CKO_SECRET_KEY +CKK_AES +\"cli aes\".*"), objects.out());

        Run random = demo(env, "random", "--module", module, "--slot", slotText, "--bytes", "24");
        assertTrue(random.out().trim().matches("[0-9a-f]{48}"), random.out());

        byte[] data = "signed by the demo program".getBytes(StandardCharsets.UTF_8);
        Path file = RealModules.testDir().resolve("data.bin");
        Files.write(file, data);
        Run rsaSign = demoOk(env, "sign", "--module", module, "--slot", slotText, "--pin", pin, "--label", "cli rsa",
                "--in", file.toString());
        byte[] rsaSignature = HexFormat.of().parseHex(rsaSign.value("signature"));
        Run ecSign = demoOk(env, "sign", "--module", module, "--slot", slotText, "--pin", pin, "--label", "cli ec",
                "--data", "signed by the demo program");
        byte[] ecSignature = HexFormat.of().parseHex(ecSign.value("signature"));

        Run verified = demoOk(env, "verify", "--module", module, "--slot", slotText, "--label", "cli ec",
                "--data", "signed by the demo program", "--signature", ecSign.value("signature"));
        assertEquals("valid", verified.value("signature"));
        Run rejected = demo(env, "verify", "--module", module, "--slot", slotText, "--label", "cli rsa",
                "--data", "something else", "--signature", rsaSign.value("signature"));
        assertEquals(1, rejected.status());
        assertEquals(List.of("vorlen-demo: C_Verify: CKR_SIGNATURE_INVALID (0x000000C0)"), rejected.errLines());

        // The JDK verifies both signatures with the public keys read through the library.
        PKCS11Impl pkcs11 = new PKCS11Impl(module);
        try {
            pkcs11.C_Initialize(new CK_C_INITIALIZE_ARGS(CKF_OS_LOCKING_OK));
            long session = pkcs11.C_OpenSession(slot, CKF_SERIAL_SESSION, null, null);
            long[] rsaKey = RealModules.find(pkcs11, session, new CK_ATTRIBUTE(CKA_CLASS, CKO_PUBLIC_KEY),
                    new CK_ATTRIBUTE(CKA_LABEL, "cli rsa".toCharArray()));
            assertEquals(1, rsaKey.length);
            assertTrue(RealModules.jdkVerifies("SHA256withRSA", RealModules.rsaPublicKey(pkcs11, session, rsaKey[0]), data,
                    rsaSignature), "the JDK accepts the program's RSA signature");

            long[] ecKey = RealModules.find(pkcs11, session, new CK_ATTRIBUTE(CKA_CLASS, CKO_PUBLIC_KEY),
                    new CK_ATTRIBUTE(CKA_LABEL, "cli ec".toCharArray()));
            assertEquals(1, ecKey.length);
            assertTrue(RealModules.jdkVerifies("SHA256withECDSAinP1363Format", RealModules.ecPublicKey(
                    RealModules.bytes(pkcs11, session, ecKey[0], CKA_EC_POINT)), data, ecSignature),
                    "the JDK accepts the program's ECDSA signature");
            pkcs11.C_CloseSession(session);
            pkcs11.C_Finalize(null);
        } finally {
            pkcs11.disconnect();
        }
    }

    @Test
    void tlsServesHttpsWithTheDemoKeyUntilStopped() throws Exception {
        assumeTheDemoCanRestartItsJvm();
        List<String> command = List.of(System.getProperty("vorlen.java", "java"), "-Xcheck:jni",
                "-Dvorlen.demo.softhsm2=" + RealModules.softHsm2(), "-jar", System.getProperty("vorlen.demo.jar"),
                "tls", "--port", "0");
        ProcessBuilder builder = new ProcessBuilder(command).redirectErrorStream(true);
        builder.environment().putAll(demoEnvironment("tls"));
        Process demo = builder.start();
        try {
            java.io.BufferedReader out = new java.io.BufferedReader(new java.io.InputStreamReader(demo.getInputStream(),
                    StandardCharsets.UTF_8));
            StringBuilder printed = new StringBuilder();
            String fingerprint = null;
            String url = null;
            while (url == null) {
                String line = out.readLine();
                if (line == null) {
                    break;
                }
                printed.append(line).append('\n');
                if (line.startsWith("Certificate SHA-256 ")) {
                    fingerprint = line.substring("Certificate SHA-256 ".length());
                } else if (line.startsWith("Serving ")) {
                    url = line.split(" ")[1];
                }
            }
            assertTrue(url != null && url.startsWith("https://localhost:"), printed.toString());
            assertTrue(printed.toString().contains("Made a self-signed certificate"), printed.toString());
            // The server's certificate is held, and must be the one the program printed the fingerprint of.
            java.security.cert.X509Certificate[] seen = new java.security.cert.X509Certificate[1];
            javax.net.ssl.X509TrustManager trust = new javax.net.ssl.X509TrustManager() {
                @Override
                public void checkClientTrusted(java.security.cert.X509Certificate[] chain, String type) throws
                        java.security.cert.CertificateException {
                    throw new java.security.cert.CertificateException("no client");
                }

                @Override
                public void checkServerTrusted(java.security.cert.X509Certificate[] chain, String type) {
                    seen[0] = chain[0];
                }

                @Override
                public java.security.cert.X509Certificate[] getAcceptedIssuers() {
                    return new java.security.cert.X509Certificate[0];
                }
            };
            javax.net.ssl.SSLContext context = javax.net.ssl.SSLContext.getInstance("TLS");
            context.init(null, new javax.net.ssl.TrustManager[] {trust}, null);
            javax.net.ssl.HttpsURLConnection connection = (javax.net.ssl.HttpsURLConnection) new java.net.URL(url).openConnection();
            connection.setSSLSocketFactory(context.getSocketFactory());
            connection.setConnectTimeout(60_000);
            connection.setReadTimeout(60_000);
            assertEquals(200, connection.getResponseCode());
            assertEquals(fingerprint, HexFormat.of().formatHex(java.security.MessageDigest.getInstance("SHA-256")
                    .digest(seen[0].getEncoded())), "the certificate the program printed the fingerprint of");
            String page = new String(connection.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
            assertTrue(page.contains("the RSA key \"demo-key\", which stays on the token"), page);
            assertEquals("CN=localhost", seen[0].getSubjectX500Principal().getName());
        } finally {
            demo.descendants().forEach(ProcessHandle::destroy);
            demo.destroy();
            assertTrue(demo.waitFor(60, java.util.concurrent.TimeUnit.SECONDS), "the program stops");
        }
    }
}
