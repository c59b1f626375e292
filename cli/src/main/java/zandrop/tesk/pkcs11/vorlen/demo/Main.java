package zandrop.tesk.pkcs11.vorlen.demo;

import java.io.PrintStream;
import zandrop.tesk.pkcs11.vorlen.api.PKCS11Impl;
import zandrop.tesk.pkcs11.vorlen.token.Token;

/**
 * vorlen-demo: a small command-line program for a token user, written against the public Java
 * API of vorlen-pkcs11 alone.
 *
 * <p>Without {@code --module} it works on a SoftHSM2 demo token in a folder of its own (see
 * {@link DemoToken}), which it creates on first use. Errors are reported as one line, with the
 * CKR_ name where a module answered with an error; the exit status is 0 on success, 1 on such
 * an error and 2 for a command line it does not understand.
 */
public final class Main {

    private static final String USAGE = String.join("\n",
            "usage: vorlen-demo COMMAND [OPTIONS]",
            "",
            "commands:",
            "  road        the road of one request: connect, initialise, open a session, log in,",
            "              find a key by its label, sign, verify, close, finalise; each step printed",
            "  info        the module, its slots and their tokens",
            "  mechanisms  the mechanisms of a token, with key sizes and flags",
            "  objects     the objects of a token: handles, classes, key types, labels",
            "  keygen      generate a key on the token: --type rsa|ec|aes --label NAME",
            "              [--bits N (rsa 2048, aes 256)] [--curve p256|p384|p521]",
            "  sign        sign --data TEXT or --in FILE with the private key --label NAME",
            "  verify      verify --signature HEX over --data TEXT or --in FILE with the public key",
            "  random      --bytes N random bytes from the token (32)",
            "  tls         serve HTTPS on localhost --port N (8443; 0: any free port) with the private",
            "              key --label NAME, which stays on the token (JSSE through the JCA provider",
            "              Vorlen); a key without a certificate gets a self-signed one; Ctrl-C stops",
            "",
            "options:",
            "  --module PATH  the PKCS#11 module; without it, a SoftHSM2 demo token in",
            "                 $XDG_DATA_HOME/vorlen-demo (~/.local/share/vorlen-demo), created on first",
            "                 use with user PIN " + DemoToken.USER_PIN + " and the RSA key pair \""
                    + DemoToken.KEY_LABEL + "\"",
            "  --version      the versions of this program, of vorlen-pkcs11 and of its native library",
            "  --slot ID      the slot (decimal or 0x...); default: the first initialised token",
            "  --pin PIN      the user's PIN (default for the demo token: " + DemoToken.USER_PIN + ")",
            "  --label NAME   the key's label (default for the demo token: " + DemoToken.KEY_LABEL + ")");

    private Main() {
    }

    public static void main(String[] args) {
        System.exit(run(args, System.out, System.err));
    }

    /**
     * This program's version (its jar's manifest), vorlen-pkcs11's and its native library's,
     * as "vorlen-demo 0.1.0 (vorlen-pkcs11 0.1.0, native library 0.1.0)".
     */
    static String versions() {
        String nativeVersion;
        try {
            nativeVersion = PKCS11Impl.getNativeLibraryVersion();
        } catch (LinkageError e) {
            nativeVersion = "not loaded: " + e.getMessage();
        }
        return "vorlen-demo " + Main.class.getPackage().getImplementationVersion()
                + " (vorlen-pkcs11 " + PKCS11Impl.getVersion() + ", native library " + nativeVersion + ")";
    }

    /** Runs one command; returns the exit status. */
    static int run(String[] args, PrintStream out, PrintStream err) {
        Options options;
        try {
            options = Options.parse(args);
        } catch (UsageException e) {
            err.println("vorlen-demo: " + e.getMessage() + " (see vorlen-demo --help)");
            return 2;
        }
        if (options.command.equals("help")) {
            out.println(USAGE);
            return 0;
        }
        if (options.command.equals("version")) {
            out.println(versions());
            return 0;
        }
        try {
            boolean demo = !options.has("module");
            if (demo && !DemoToken.active()) {
                DemoToken.prepareFolder();
                DemoToken.softHsmModule();
                out.flush();
                return DemoToken.reexecute(args);
            }
            return dispatch(options, demo, out);
        } catch (UsageException e) {
            err.println("vorlen-demo: " + e.getMessage() + " (see vorlen-demo --help)");
            return 2;
        } catch (DemoException e) {
            out.flush();
            err.println("vorlen-demo: " + e.getMessage());
            return 1;
        } catch (RuntimeException | LinkageError e) {
            out.flush();
            err.println("vorlen-demo: " + e.getClass().getSimpleName() + ": " + e.getMessage());
            return 1;
        }
    }

    private static int dispatch(Options options, boolean demo, PrintStream out)
            throws DemoException, UsageException {
        String command = options.command;
        switch (command) {
            case "road": case "info": case "mechanisms": case "objects": case "keygen":
            case "sign": case "verify": case "random": case "tls":
                break;
            default:
                throw new UsageException("unknown command '" + command + "'");
        }
        String module = demo ? DemoToken.softHsmModule() : options.get("module");
        String tokenLabel = null;
        if (demo) {
            options.setDefault("pin", DemoToken.USER_PIN);
            options.setDefault("label", DemoToken.KEY_LABEL);
            if (!options.has("slot")) {
                tokenLabel = DemoToken.TOKEN_LABEL;
                Commands.withModule(module, m -> DemoToken.ensure(m, out));
            }
        }
        Long slotOption = options.has("slot") ? options.number("slot", 0) : null;
        if (command.equals("road")) {
            String pin = options.require("pin", "road needs --pin PIN");
            String label = options.require("label", "road needs --label NAME of a key pair to sign with");
            byte[] data = options.has("data") || options.has("in") ? Commands.data(options) : Road.defaultData();
            if (data.length == 0) {
                throw new UsageException("road signs at least one byte");
            }
            Road.walk(module, slotOption, tokenLabel, pin, label, data, out);
            return 0;
        }
        if (command.equals("tls")) {
            String pin = options.require("pin", "tls needs --pin PIN");
            String key = options.require("label", "tls needs --label NAME of the server's private key");
            long port = options.number("port", 8443);
            if (port > 65535) {
                throw new UsageException("--port lies between 0 and 65535");
            }
            String[] chosen = {tokenLabel};
            if (chosen[0] == null) {
                Commands.withModule(module, m -> chosen[0] = Commands.chooseToken(m, slotOption, null).info().label());
            }
            Tls.serve(module, chosen[0], pin, key, (int) port, out);
            return 0;
        }
        Long slot = slotOption;
        String label = tokenLabel;
        Commands.withModule(module, m -> {
            if (command.equals("info")) {
                Commands.info(m, out);
                return;
            }
            Token token = Commands.chooseToken(m, slot, label);
            switch (command) {
                case "mechanisms":
                    Commands.mechanisms(token, out);
                    break;
                case "objects":
                    Commands.objects(token, options.get("pin"), out);
                    break;
                case "keygen":
                    Commands.keygen(token, options, options.require("pin", "keygen needs --pin PIN"), out);
                    break;
                case "sign":
                    Commands.sign(token, options, options.require("label", "sign needs --label NAME"),
                            options.require("pin", "sign needs --pin PIN"), out);
                    break;
                case "verify":
                    Commands.verify(token, options, options.require("label", "verify needs --label NAME"), out);
                    break;
                default:
                    Commands.random(token, options, out);
                    break;
            }
        });
        return 0;
    }
}
