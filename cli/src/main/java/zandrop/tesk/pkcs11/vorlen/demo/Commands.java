package zandrop.tesk.pkcs11.vorlen.demo;

import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.*;

import java.io.IOException;
import java.io.PrintStream;
import java.io.UncheckedIOException;
import java.math.BigInteger;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.HexFormat;
import java.util.List;

import zandrop.tesk.pkcs11.vorlen.api.CK_INFO;
import zandrop.tesk.pkcs11.vorlen.api.CK_MECHANISM_INFO;
import zandrop.tesk.pkcs11.vorlen.api.PKCS11Exception;
import zandrop.tesk.pkcs11.vorlen.token.Attr;
import zandrop.tesk.pkcs11.vorlen.token.Curve;
import zandrop.tesk.pkcs11.vorlen.token.Hash;
import zandrop.tesk.pkcs11.vorlen.token.JdkFormats;
import zandrop.tesk.pkcs11.vorlen.token.KeyObject;
import zandrop.tesk.pkcs11.vorlen.token.Mechanism;
import zandrop.tesk.pkcs11.vorlen.token.Pkcs11Module;
import zandrop.tesk.pkcs11.vorlen.token.Session;
import zandrop.tesk.pkcs11.vorlen.token.Slot;
import zandrop.tesk.pkcs11.vorlen.token.Template;
import zandrop.tesk.pkcs11.vorlen.token.Token;
import zandrop.tesk.pkcs11.vorlen.token.TokenException;
import zandrop.tesk.pkcs11.vorlen.token.TokenInfo;
import zandrop.tesk.pkcs11.vorlen.token.TokenObject;

/**
 * The commands other than 'road', on the session layer: the module is opened and closed by
 * try-with-resources, sessions close themselves, attributes are read leniently and typed.
 */
final class Commands {

    private Commands() {
    }

    /** Runs a command body, turning the layer's errors into the program's one-line errors. */
    @FunctionalInterface
    interface Body {
        void run(Pkcs11Module module) throws DemoException, UsageException;
    }

    static void withModule(String path, Body body) throws DemoException, UsageException {
        try (Pkcs11Module module = open(path)) {
            body.run(module);
        } catch (TokenException e) {
            throw failed(e);
        }
    }

    /** Opens (connects and initialises) a module; a module that does not load is one error line. */
    static Pkcs11Module open(String path) throws DemoException {
        try {
            return Pkcs11Module.open(path);
        } catch (UncheckedIOException e) {
            throw new DemoException("cannot load the module " + path + ": " + reason(e));
        } catch (TokenException e) {
            throw failed(e);
        }
    }

    /** A call of the raw API, made on a handle that the layer gave. */
    @FunctionalInterface
    interface RawCall {
        void run() throws PKCS11Exception;
    }

    /** Makes a raw call; its failure is the program's error line naming the function. */
    static void raw(String function, RawCall call) throws DemoException {
        try {
            call.run();
        } catch (PKCS11Exception e) {
            throw new DemoException(function, e);
        }
    }

    private static String reason(UncheckedIOException e) {
        Throwable cause = e.getCause();
        String text = cause instanceof java.nio.file.NoSuchFileException ? "no such file"
                : String.valueOf(cause.getMessage());
        return text.lines().findFirst().orElse("");
    }

    /** The program's form of a module's error: "C_Login: CKR_PIN_INCORRECT (0x000000A0)". */
    static DemoException failed(TokenException e) {
        return new DemoException(e.function(), (PKCS11Exception) e.getCause());
    }

    /** The token of --slot, or the first initialised one (with the label, when given). */
    static Token chooseToken(Pkcs11Module module, Long slot, String tokenLabel) throws DemoException {
        List<Slot> slots = module.slots(true);
        if (slot != null) {
            for (Slot s : slots) {
                if (s.id() == slot) {
                    return s.token();
                }
            }
            throw new DemoException("slot " + Text.handle(slot) + " holds no token (see 'info')");
        }
        for (Slot s : slots) {
            TokenInfo info = s.token().info();
            if (info.initialized() && (tokenLabel == null || info.label().equals(tokenLabel))) {
                return s.token();
            }
        }
        if (tokenLabel != null) {
            throw new DemoException("no token labelled \"" + tokenLabel + "\" (see 'info')");
        }
        throw new DemoException("no slot holds an initialised token (see 'info')");
    }

    // ---- info

    static void info(Pkcs11Module module, PrintStream out) {
        CK_INFO info = module.info();
        out.println("Module " + module.path());
        new Text.Table("  ")
                .row("manufacturer", Text.chars(info.manufacturerID))
                .row("description", Text.chars(info.libraryDescription))
                .row("version", Text.version(info.libraryVersion))
                .row("Cryptoki", Text.version(info.cryptokiVersion))
                .print(out);
        List<Slot> slots = module.slots(false);
        out.println();
        out.println(slots.size() + (slots.size() == 1 ? " slot" : " slots"));
        for (Slot slot : slots) {
            Slot.Info slotInfo = slot.info();
            out.println();
            out.println("Slot " + Text.handle(slot.id()) + "  " + slotInfo.description());
            Text.Table table = new Text.Table("  ")
                    .row("manufacturer", slotInfo.manufacturer())
                    .row("flags", Text.flagNames(slotInfo.flagNames()));
            if (slotInfo.tokenPresent()) {
                TokenInfo t = slot.token().info();
                table.row("token label", "\"" + t.label() + "\"")
                        .row("token", t.manufacturer() + ", " + t.model() + ", serial " + t.serial())
                        .row("token flags", Text.flagNames(t.flagNames()))
                        .row("PIN length", Long.toUnsignedString(t.minPinLength()) + " to "
                                + Long.toUnsignedString(t.maxPinLength()))
                        .row("versions", "hardware " + t.hardwareVersion() + ", firmware " + t.firmwareVersion());
            }
            table.print(out);
        }
    }

    // ---- mechanisms

    static void mechanisms(Token token, PrintStream out) {
        long[] types = token.mechanisms();
        out.println(types.length + " mechanisms of the token in slot " + Text.handle(token.slotId()));
        Text.Table table = new Text.Table("  ").row("mechanism", "key sizes", "flags");
        for (long type : types) {
            CK_MECHANISM_INFO info = token.mechanismInfo(type);
            String sizes = info.ulMinKeySize == 0 && info.ulMaxKeySize == 0 ? "-"
                    : Long.toUnsignedString(info.ulMinKeySize) + "-" + Long.toUnsignedString(info.ulMaxKeySize);
            table.row(Text.mechanism(type), sizes, Text.flagNames(mechanismFlagNames(info.flags)));
        }
        table.print(out);
    }

    // ---- objects

    static void objects(Token token, String pin, PrintStream out) {
        if (pin != null) {
            token.login(pin.toCharArray());
        }
        try (Session session = token.openSession(false)) {
            List<TokenObject> objects = session.find(Template.empty());
            out.println(objects.size() + (objects.size() == 1 ? " object" : " objects")
                    + (pin == null ? " visible without logging in" : ""));
            Text.Table table = new Text.Table("  ").row("handle", "class", "key type", "label", "id");
            for (TokenObject o : objects) {
                byte[] id = o.id();
                table.row(Text.handle(o.handle()),
                        o.objectClass() == -1 ? "?" : Text.objectClass(o.objectClass()),
                        o instanceof KeyObject k && k.keyType() != -1 ? Text.keyType(k.keyType()) : "-",
                        o.label() != null ? "\"" + o.label() + "\"" : "-",
                        id != null && id.length > 0 ? Text.hex(id) : "-");
            }
            table.print(out);
        }
    }

    // ---- keygen

    static void keygen(Token token, Options options, String pin, PrintStream out)
            throws DemoException, UsageException {
        String type = options.require("type", "keygen needs --type rsa, ec or aes");
        String label = options.require("label", "keygen needs --label NAME for the new key");
        long bits = options.number("bits", type.equals("aes") ? 256 : 2048);
        String curve = options.get("curve");
        if (!type.equals("rsa") && !type.equals("ec") && !type.equals("aes")) {
            throw new UsageException("--type is rsa, ec or aes, not '" + type + "'");
        }
        token.login(pin.toCharArray());
        try (Session session = token.openSession(true)) {
            if (!session.find(Template.of(Attr.LABEL, label)).isEmpty()) {
                throw new DemoException("an object labelled \"" + label + "\" exists already; choose another label");
            }
            long started = System.nanoTime();
            List<TokenObject> keys = type.equals("aes") ? List.of(generateAesKey(session, bits, label))
                    : generateKeyPair(session, type, bits, curve, label);
            long millis = (System.nanoTime() - started) / 1_000_000;
            Text.Table table = new Text.Table("  ");
            if (keys.size() == 2) {
                table.row("public key", Text.handle(keys.get(0).handle()), "\"" + label + "\"");
                table.row("private key", Text.handle(keys.get(1).handle()), "\"" + label + "\"");
            } else {
                table.row("secret key", Text.handle(keys.get(0).handle()), "\"" + label + "\"");
            }
            out.println("Generated " + describeKey(type, bits, curve) + " on the token in " + millis + " ms");
            table.print(out);
        }
    }

    private static String describeKey(String type, long bits, String curve) {
        switch (type) {
            case "rsa":
                return "an RSA key pair of " + bits + " bits";
            case "ec":
                return "an EC key pair on " + (curve == null ? "p256" : curve);
            default:
                return "an AES key of " + bits + " bits";
        }
    }

    /** An RSA or EC key pair on the token, both keys labelled and with one id; public, private. */
    static List<TokenObject> generateKeyPair(Session session, String type, long bits, String curve, String label)
            throws UsageException {
        Template common = Template.of(Attr.TOKEN, true).with(Attr.LABEL, label).with(Attr.ID, session.random(8));
        Template publicTemplate = common.with(Attr.VERIFY, true);
        Mechanism mechanism;
        if (type.equals("rsa")) {
            mechanism = Mechanism.rsaKeyPairGen();
            publicTemplate = publicTemplate.with(Attr.ENCRYPT, true).with(Attr.MODULUS_BITS, bits)
                    .with(Attr.PUBLIC_EXPONENT, BigInteger.valueOf(65537));
        } else {
            mechanism = Mechanism.ecKeyPairGen();
            publicTemplate = publicTemplate.with(Attr.EC_PARAMS, JdkFormats.ecParams(curve(curve)));
        }
        Template privateTemplate = common.with(Attr.PRIVATE, true).with(Attr.SENSITIVE, true).with(Attr.SIGN, true)
                .with(type.equals("rsa") ? Attr.DECRYPT : Attr.DERIVE, true);
        Session.KeyPair pair = session.generateKeyPair(mechanism, publicTemplate, privateTemplate);
        return List.of(pair.publicKey(), pair.privateKey());
    }

    private static Curve curve(String curve) throws UsageException {
        switch (curve == null ? "p256" : curve.toLowerCase()) {
            case "p256":
                return Curve.P_256;
            case "p384":
                return Curve.P_384;
            case "p521":
                return Curve.P_521;
            default:
                throw new UsageException("--curve is p256, p384 or p521, not '" + curve + "'");
        }
    }

    private static TokenObject generateAesKey(Session session, long bits, String label) throws UsageException {
        if (bits != 128 && bits != 192 && bits != 256) {
            throw new UsageException("an AES key has 128, 192 or 256 bits, not " + bits);
        }
        return session.generateKey(Mechanism.aesKeyGen(), Template.of(Attr.CLASS, CKO_SECRET_KEY)
                .with(Attr.KEY_TYPE, CKK_AES).with(Attr.VALUE_LEN, bits / 8).with(Attr.TOKEN, true)
                .with(Attr.PRIVATE, true).with(Attr.SENSITIVE, true).with(Attr.LABEL, label)
                .with(Attr.ENCRYPT, true).with(Attr.DECRYPT, true).with(Attr.WRAP, true).with(Attr.UNWRAP, true));
    }

    // ---- sign and verify

    /** The data of --data (its UTF-8 bytes) or --in (the file's bytes). */
    static byte[] data(Options options) throws UsageException, DemoException {
        if (options.has("data") == options.has("in")) {
            throw new UsageException("give the data with --data TEXT or --in FILE (one of them)");
        }
        if (options.has("data")) {
            return options.get("data").getBytes(StandardCharsets.UTF_8);
        }
        try {
            return Files.readAllBytes(Path.of(options.get("in")));
        } catch (IOException e) {
            throw new DemoException("cannot read " + options.get("in") + ": " + e.getMessage());
        }
    }

    /** The one key of a class with a label; the program's message when there is none or more. */
    static KeyObject findKey(Session session, long objectClass, String label) throws DemoException {
        List<TokenObject> found = session.find(Template.of(Attr.CLASS, objectClass).with(Attr.LABEL, label));
        if (found.isEmpty()) {
            throw new DemoException("no " + Text.objectClass(objectClass) + " labelled \"" + label
                    + "\" on the token (see 'objects', or create one with 'keygen')");
        }
        if (found.size() > 1 || !(found.get(0) instanceof KeyObject)) {
            throw new DemoException(found.size() + " objects of class " + Text.objectClass(objectClass)
                    + " are labelled \"" + label + "\"; give the key a label of its own");
        }
        return (KeyObject) found.get(0);
    }

    /**
     * SHA-256 signatures for the key's type: PKCS#1 v1.5 for RSA, ECDSA (r||s) for EC; the layer
     * hashes on the host when the token lacks CKM_ECDSA_SHA256.
     */
    static Mechanism signing(Token token, KeyObject key) throws DemoException {
        if (key.keyType() == CKK_RSA) {
            return Mechanism.rsaPkcs1(Hash.SHA256);
        }
        if (key.keyType() == CKK_EC) {
            return Mechanism.ecdsaP1363(Hash.SHA256);
        }
        throw new DemoException("the key is of type " + Text.keyType(key.keyType())
                + ": sign and verify need an RSA or EC key");
    }

    static String describe(Token token, Mechanism mechanism) {
        if (mechanism.type() == CKM_ECDSA_SHA256 && !token.supports(CKM_ECDSA_SHA256)) {
            return "CKM_ECDSA over the SHA-256 digest of the data";
        }
        return mechanism.toString();
    }

    static void sign(Token token, Options options, String label, String pin, PrintStream out)
            throws DemoException, UsageException {
        byte[] data = data(options);
        token.login(pin.toCharArray());
        try (Session session = token.openSession(false)) {
            KeyObject key = findKey(session, CKO_PRIVATE_KEY, label);
            Mechanism mechanism = signing(token, key);
            byte[] signature = session.sign(mechanism, key, data);
            new Text.Table("")
                    .row("key", "\"" + label + "\" (private key " + Text.handle(key.handle()) + ")")
                    .row("mechanism", describe(token, mechanism))
                    .row("data", data.length + " bytes")
                    .row("signature", Text.hex(signature))
                    .print(out);
        }
    }

    static void verify(Token token, Options options, String label, PrintStream out)
            throws DemoException, UsageException {
        byte[] data = data(options);
        String hex = options.require("signature", "verify needs --signature HEX (as 'sign' printed it)");
        byte[] signature;
        try {
            signature = HexFormat.of().parseHex(hex.replace(" ", ""));
        } catch (IllegalArgumentException e) {
            throw new UsageException("--signature takes hexadecimal digits: " + e.getMessage());
        }
        try (Session session = token.openSession(false)) {
            KeyObject key = findKey(session, CKO_PUBLIC_KEY, label);
            Mechanism mechanism = signing(token, key);
            if (!session.verify(mechanism, key, data, signature)) {
                throw new DemoException("C_Verify", new PKCS11Exception(CKR_SIGNATURE_INVALID));
            }
            new Text.Table("")
                    .row("key", "\"" + label + "\" (public key " + Text.handle(key.handle()) + ")")
                    .row("mechanism", describe(token, mechanism))
                    .row("signature", "valid")
                    .print(out);
        }
    }

    // ---- random

    static void random(Token token, Options options, PrintStream out) throws UsageException {
        long count = options.number("bytes", 32);
        if (count < 1 || count > 1 << 20) {
            throw new UsageException("--bytes lies between 1 and 1048576");
        }
        try (Session session = token.openSession(false)) {
            out.println(Text.hex(session.random((int) count)));
        }
    }
}
