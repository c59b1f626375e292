package zandrop.tesk.pkcs11.vorlen.demo;

import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.*;

import java.io.IOException;
import java.io.PrintStream;
import java.lang.management.ManagementFactory;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;

import zandrop.tesk.pkcs11.vorlen.api.PKCS11Impl;
import zandrop.tesk.pkcs11.vorlen.token.Pkcs11Module;
import zandrop.tesk.pkcs11.vorlen.token.Session;
import zandrop.tesk.pkcs11.vorlen.token.Slot;
import zandrop.tesk.pkcs11.vorlen.token.Token;
import zandrop.tesk.pkcs11.vorlen.token.TokenInfo;

/**
 * The demo token: a SoftHSM2 token in a folder of this program's own
 * ({@code $XDG_DATA_HOME/vorlen-demo}, by default {@code ~/.local/share/vorlen-demo}), with its
 * own {@code softhsm2.conf}, created on first use with an RSA key pair to sign with.
 *
 * <p>SoftHSM2 finds its configuration through the environment variable SOFTHSM2_CONF, which a
 * running JVM cannot set for itself. When the variable does not name the demo configuration,
 * the program runs itself again with it set ({@link #reexecute}); nothing outside the folder is
 * changed.
 */
final class DemoToken {

    static final String TOKEN_LABEL = "vorlen-demo";
    static final String USER_PIN = "1234";
    static final String SO_PIN = "12345678";
    static final String KEY_LABEL = "demo-key";

    /** Where Debian and other systems put the SoftHSM2 module. */
    private static final String[] SOFTHSM2_PATHS = {
        "/usr/lib/softhsm/libsofthsm2.so",
        "/usr/lib/x86_64-linux-gnu/softhsm/libsofthsm2.so",
        "/usr/lib/i386-linux-gnu/softhsm/libsofthsm2.so",
        "/usr/lib64/softhsm/libsofthsm2.so",
        "/usr/local/lib/softhsm/libsofthsm2.so",
    };

    private DemoToken() {
    }

    /** The program's folder. */
    static Path home() {
        String data = System.getenv("XDG_DATA_HOME");
        Path base;
        if (data != null && !data.isEmpty() && Path.of(data).isAbsolute()) {
            base = Path.of(data);
        } else {
            String user = System.getenv("HOME");
            if (user == null || user.isEmpty()) {
                user = System.getProperty("user.home");
            }
            base = Path.of(user, ".local", "share");
        }
        return base.resolve("vorlen-demo").toAbsolutePath().normalize();
    }

    static Path configuration() {
        return home().resolve("softhsm2.conf");
    }

    /** True when SoftHSM2 in this process reads the demo configuration. */
    static boolean active() {
        return configuration().toString().equals(System.getenv("SOFTHSM2_CONF"));
    }

    /**
     * The SoftHSM2 module of the demo token: the system property {@code vorlen.demo.softhsm2}
     * when it is set (a JVM of another width needs a module of its width), otherwise the first
     * of the usual places that holds one.
     */
    static String softHsmModule() throws DemoException {
        String given = System.getProperty("vorlen.demo.softhsm2");
        if (given != null && !given.isEmpty()) {
            if (!Files.isRegularFile(Path.of(given))) {
                throw new DemoException("no SoftHSM2 module at " + given + " (vorlen.demo.softhsm2)");
            }
            return given;
        }
        for (String path : SOFTHSM2_PATHS) {
            if (Files.isRegularFile(Path.of(path))) {
                return path;
            }
        }
        throw new DemoException("SoftHSM2 is not installed (Debian: apt-get install softhsm2);"
                + " or name a module with --module PATH");
    }

    /** Creates the folder, its token folder and the configuration, where they are missing. */
    static void prepareFolder() throws DemoException {
        Path home = home();
        Path tokens = home.resolve("tokens");
        String config = "# SoftHSM2 configuration of vorlen-demo: its tokens live in this folder.\n"
                + "directories.tokendir = " + tokens + "\n"
                + "objectstore.backend = file\n"
                + "log.level = ERROR\n"
                + "slots.removable = false\n";
        try {
            Files.createDirectories(tokens);
            Path file = configuration();
            if (!Files.exists(file) || !Files.readString(file, StandardCharsets.UTF_8).equals(config)) {
                Files.writeString(file, config, StandardCharsets.UTF_8);
            }
        } catch (IOException e) {
            throw new DemoException("cannot prepare the folder " + home + ": " + e.getMessage());
        }
    }

    /**
     * Runs this program again, in a new JVM with the same options and class path, with
     * SOFTHSM2_CONF naming the demo configuration; returns its exit status.
     */
    static int reexecute(String[] args) throws DemoException {
        List<String> command = new ArrayList<>();
        command.add(ProcessHandle.current().info().command()
                .orElse(Path.of(System.getProperty("java.home"), "bin", "java").toString()));
        List<String> options = ManagementFactory.getRuntimeMXBean().getInputArguments();
        command.addAll(options);
        // Started from its jar, this JVM has native access through the manifest; the new one is
        // started from the class path, where JDK 22 and later need it given as an option.
        if (Runtime.version().feature() >= 22
                && options.stream().noneMatch(o -> o.startsWith("--enable-native-access"))) {
            command.add("--enable-native-access=ALL-UNNAMED");
        }
        command.add("-cp");
        command.add(System.getProperty("java.class.path"));
        command.add(Main.class.getName());
        command.addAll(List.of(args));
        ProcessBuilder builder = new ProcessBuilder(command).inheritIO();
        Map<String, String> environment = builder.environment();
        environment.put("SOFTHSM2_CONF", configuration().toString());
        try {
            return builder.start().waitFor();
        } catch (IOException e) {
            throw new DemoException("cannot start " + command.get(0) + ": " + e.getMessage());
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            throw new DemoException("interrupted");
        }
    }

    /**
     * Makes sure the demo token exists: initialises a free token of SoftHSM2 with the demo's
     * label and PINs, and generates the RSA key pair "demo-key" on it, the first time.
     */
    static void ensure(Pkcs11Module module, PrintStream out) throws DemoException {
        Slot free = null;
        for (Slot slot : module.slots(true)) {
            TokenInfo info = slot.token().info();
            if (!info.initialized()) {
                if (free == null) {
                    free = slot;
                }
            } else if (info.label().equals(TOKEN_LABEL)) {
                return;
            }
        }
        if (free == null) {
            throw new DemoException("SoftHSM2 offers no free slot for the demo token");
        }
        PKCS11Impl pkcs11 = module.pkcs11();
        long freeSlot = free.id();
        Commands.raw("C_InitToken", () -> pkcs11.C_InitToken(freeSlot, SO_PIN.toCharArray(), TOKEN_LABEL.toCharArray()));
        // SoftHSM2 moves an initialised token to a slot of its own: find it again.
        Token token = Commands.chooseToken(module, null, TOKEN_LABEL);
        try (Session session = token.openSession(true)) {
            Commands.raw("C_Login", () -> pkcs11.C_Login(session.handle(), CKU_SO, SO_PIN.toCharArray()));
            Commands.raw("C_InitPIN", () -> pkcs11.C_InitPIN(session.handle(), USER_PIN.toCharArray()));
            Commands.raw("C_Logout", () -> pkcs11.C_Logout(session.handle()));
            token.login(USER_PIN.toCharArray());
            try {
                Commands.generateKeyPair(session, "rsa", 2048, null, KEY_LABEL);
            } catch (UsageException e) {
                throw new IllegalStateException("an RSA key of 2048 bits is always a valid request", e);
            }
        }
        token.logout();
        out.println("Created the demo token \"" + TOKEN_LABEL + "\" in " + home()
                + " (user PIN " + USER_PIN + ", security officer PIN " + SO_PIN
                + "), with the RSA key pair \"" + KEY_LABEL + "\".");
        out.println();
    }
}
