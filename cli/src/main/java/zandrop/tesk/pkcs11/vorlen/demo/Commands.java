package zandrop.tesk.pkcs11.vorlen.demo;

import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.*;

import java.io.IOException;
import java.io.PrintStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.HexFormat;

import zandrop.tesk.pkcs11.vorlen.api.CK_ATTRIBUTE;
import zandrop.tesk.pkcs11.vorlen.api.CK_INFO;
import zandrop.tesk.pkcs11.vorlen.api.CK_MECHANISM;
import zandrop.tesk.pkcs11.vorlen.api.CK_MECHANISM_INFO;
import zandrop.tesk.pkcs11.vorlen.api.CK_SLOT_INFO;
import zandrop.tesk.pkcs11.vorlen.api.CK_TOKEN_INFO;

/** The commands other than 'road': each works on one module, and most on one slot. */
final class Commands {

    private static final String[][] CURVES = {
        {"p256", "06082a8648ce3d030107"},
        {"p384", "06052b81040022"},
        {"p521", "06052b81040023"},
    };

    private Commands() {
    }

    // ---- info

    static void info(Token token, PrintStream out) throws DemoException {
        CK_INFO info = Token.call("C_GetInfo", token.pkcs11::C_GetInfo);
        out.println("Module " + token.modulePath);
        new Text.Table("  ")
                .row("manufacturer", Text.chars(info.manufacturerID))
                .row("description", Text.chars(info.libraryDescription))
                .row("version", Text.version(info.libraryVersion))
                .row("Cryptoki", Text.version(info.cryptokiVersion))
                .print(out);
        long[] slots = Token.call("C_GetSlotList", () -> token.pkcs11.C_GetSlotList(false));
        out.println();
        out.println(slots.length + (slots.length == 1 ? " slot" : " slots"));
        for (long slot : slots) {
            CK_SLOT_INFO slotInfo = Token.call("C_GetSlotInfo", () -> token.pkcs11.C_GetSlotInfo(slot));
            out.println();
            out.println("Slot " + Text.handle(slot) + "  " + Text.chars(slotInfo.slotDescription));
            Text.Table table = new Text.Table("  ")
                    .row("manufacturer", Text.chars(slotInfo.manufacturerID))
                    .row("flags", Text.flagNames(slotFlagNames(slotInfo.flags)));
            if ((slotInfo.flags & CKF_TOKEN_PRESENT) != 0) {
                CK_TOKEN_INFO t = token.tokenInfo(slot);
                table.row("token label", "\"" + Text.chars(t.label) + "\"")
                        .row("token", Text.chars(t.manufacturerID) + ", " + Text.chars(t.model)
                                + ", serial " + Text.chars(t.serialNumber))
                        .row("token flags", Text.flagNames(tokenFlagNames(t.flags)))
                        .row("PIN length", Long.toUnsignedString(t.ulMinPinLen) + " to "
                                + Long.toUnsignedString(t.ulMaxPinLen))
                        .row("versions", "hardware " + Text.version(t.hardwareVersion)
                                + ", firmware " + Text.version(t.firmwareVersion));
            }
            table.print(out);
        }
    }

    // ---- mechanisms

    static void mechanisms(Token token, long slot, PrintStream out) throws DemoException {
        long[] types = Token.call("C_GetMechanismList", () -> token.pkcs11.C_GetMechanismList(slot));
        out.println(types.length + " mechanisms of the token in slot " + Text.handle(slot));
        Text.Table table = new Text.Table("  ").row("mechanism", "key sizes", "flags");
        for (long type : types) {
            CK_MECHANISM_INFO info = Token.call("C_GetMechanismInfo",
                    () -> token.pkcs11.C_GetMechanismInfo(slot, type));
            String sizes = info.ulMinKeySize == 0 && info.ulMaxKeySize == 0 ? "-"
                    : Long.toUnsignedString(info.ulMinKeySize) + "-" + Long.toUnsignedString(info.ulMaxKeySize);
            table.row(Text.mechanism(type), sizes,
                    Text.flagNames(mechanismFlagNames(info.flags)));
        }
        table.print(out);
    }

    // ---- objects

    static void objects(Token token, long slot, String pin, PrintStream out) throws DemoException {
        long session = token.openSession(slot, false);
        try {
            if (pin != null) {
                token.login(session, pin);
            }
            long[] handles = token.find(session);
            out.println(handles.length + (handles.length == 1 ? " object" : " objects")
                    + (pin == null ? " visible without logging in" : ""));
            Text.Table table = new Text.Table("  ").row("handle", "class", "key type", "label", "id");
            for (long handle : handles) {
                Object objectClass = token.attribute(session, handle, CKA_CLASS);
                Object keyType = token.attribute(session, handle, CKA_KEY_TYPE);
                Object label = token.attribute(session, handle, CKA_LABEL);
                Object id = token.attribute(session, handle, CKA_ID);
                table.row(Text.handle(handle),
                        objectClass instanceof Long ? Text.objectClass((Long) objectClass) : "?",
                        keyType instanceof Long ? Text.keyType((Long) keyType) : "-",
                        label instanceof char[] ? "\"" + new String((char[]) label) + "\"" : "-",
                        id instanceof byte[] && ((byte[]) id).length > 0 ? Text.hex((byte[]) id) : "-");
            }
            table.print(out);
        } finally {
            token.closeSession(session);
        }
    }

    // ---- keygen

    static void keygen(Token token, long slot, Options options, String pin, PrintStream out)
            throws DemoException, UsageException {
        String type = options.require("type", "keygen needs --type rsa, ec or aes");
        String label = options.require("label", "keygen needs --label NAME for the new key");
        long bits = options.number("bits", type.equals("aes") ? 256 : 2048);
        String curve = options.get("curve");
        if (!type.equals("rsa") && !type.equals("ec") && !type.equals("aes")) {
            throw new UsageException("--type is rsa, ec or aes, not '" + type + "'");
        }
        long session = token.openSession(slot, true);
        try {
            token.login(session, pin);
            if (token.find(session, new CK_ATTRIBUTE(CKA_LABEL, label.toCharArray())).length > 0) {
                throw new DemoException("an object labelled \"" + label
                        + "\" exists already; choose another label");
            }
            long started = System.nanoTime();
            long[] handles = type.equals("aes") ? new long[] {generateAesKey(token, session, bits, label)}
                    : generateKeyPair(token, session, type, bits, curve, label);
            long millis = (System.nanoTime() - started) / 1_000_000;
            Text.Table table = new Text.Table("  ");
            if (handles.length == 2) {
                table.row("public key", Text.handle(handles[0]), "\"" + label + "\"");
                table.row("private key", Text.handle(handles[1]), "\"" + label + "\"");
            } else {
                table.row("secret key", Text.handle(handles[0]), "\"" + label + "\"");
            }
            out.println("Generated " + describeKey(type, bits, curve) + " on the token in " + millis + " ms");
            table.print(out);
        } finally {
            token.closeSession(session);
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

    /** An RSA or EC key pair on the token, both keys labelled; returns public, private. */
    static long[] generateKeyPair(Token token, long session, String type, long bits, String curve,
            String label) throws DemoException, UsageException {
        byte[] id = new byte[8];
        Token.run("C_GenerateRandom", () -> token.pkcs11.C_GenerateRandom(session, id));
        CK_MECHANISM mechanism;
        CK_ATTRIBUTE[] publicTemplate;
        if (type.equals("rsa")) {
            mechanism = new CK_MECHANISM(CKM_RSA_PKCS_KEY_PAIR_GEN);
            publicTemplate = new CK_ATTRIBUTE[] {
                new CK_ATTRIBUTE(CKA_TOKEN, true),
                new CK_ATTRIBUTE(CKA_LABEL, label.toCharArray()),
                new CK_ATTRIBUTE(CKA_ID, id),
                new CK_ATTRIBUTE(CKA_VERIFY, true),
                new CK_ATTRIBUTE(CKA_ENCRYPT, true),
                new CK_ATTRIBUTE(CKA_MODULUS_BITS, bits),
                new CK_ATTRIBUTE(CKA_PUBLIC_EXPONENT, new byte[] {1, 0, 1}),
            };
        } else {
            mechanism = new CK_MECHANISM(CKM_EC_KEY_PAIR_GEN);
            publicTemplate = new CK_ATTRIBUTE[] {
                new CK_ATTRIBUTE(CKA_TOKEN, true),
                new CK_ATTRIBUTE(CKA_LABEL, label.toCharArray()),
                new CK_ATTRIBUTE(CKA_ID, id),
                new CK_ATTRIBUTE(CKA_VERIFY, true),
                new CK_ATTRIBUTE(CKA_EC_PARAMS, curveParameters(curve)),
            };
        }
        CK_ATTRIBUTE[] privateTemplate = {
            new CK_ATTRIBUTE(CKA_TOKEN, true),
            new CK_ATTRIBUTE(CKA_PRIVATE, true),
            new CK_ATTRIBUTE(CKA_SENSITIVE, true),
            new CK_ATTRIBUTE(CKA_LABEL, label.toCharArray()),
            new CK_ATTRIBUTE(CKA_ID, id),
            new CK_ATTRIBUTE(CKA_SIGN, true),
            new CK_ATTRIBUTE(type.equals("rsa") ? CKA_DECRYPT : CKA_DERIVE, true),
        };
        return Token.call("C_GenerateKeyPair",
                () -> token.pkcs11.C_GenerateKeyPair(session, mechanism, publicTemplate, privateTemplate));
    }

    private static byte[] curveParameters(String curve) throws UsageException {
        String name = curve == null ? "p256" : curve.toLowerCase();
        for (String[] known : CURVES) {
            if (known[0].equals(name)) {
                return HexFormat.of().parseHex(known[1]);
            }
        }
        throw new UsageException("--curve is p256, p384 or p521, not '" + curve + "'");
    }

    private static long generateAesKey(Token token, long session, long bits, String label)
            throws DemoException, UsageException {
        if (bits != 128 && bits != 192 && bits != 256) {
            throw new UsageException("an AES key has 128, 192 or 256 bits, not " + bits);
        }
        CK_ATTRIBUTE[] template = {
            new CK_ATTRIBUTE(CKA_CLASS, CKO_SECRET_KEY),
            new CK_ATTRIBUTE(CKA_KEY_TYPE, CKK_AES),
            new CK_ATTRIBUTE(CKA_VALUE_LEN, bits / 8),
            new CK_ATTRIBUTE(CKA_TOKEN, true),
            new CK_ATTRIBUTE(CKA_PRIVATE, true),
            new CK_ATTRIBUTE(CKA_SENSITIVE, true),
            new CK_ATTRIBUTE(CKA_LABEL, label.toCharArray()),
            new CK_ATTRIBUTE(CKA_ENCRYPT, true),
            new CK_ATTRIBUTE(CKA_DECRYPT, true),
            new CK_ATTRIBUTE(CKA_WRAP, true),
            new CK_ATTRIBUTE(CKA_UNWRAP, true),
        };
        return Token.call("C_GenerateKey",
                () -> token.pkcs11.C_GenerateKey(session, new CK_MECHANISM(CKM_AES_KEY_GEN), template));
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

    static void sign(Token token, long slot, Options options, String label, String pin, PrintStream out)
            throws DemoException, UsageException {
        byte[] data = data(options);
        long session = token.openSession(slot, false);
        try {
            token.login(session, pin);
            long key = token.findOne(session, CKO_PRIVATE_KEY, label);
            Signing signing = Signing.forKey(token, slot, token.longAttribute(session, key, CKA_KEY_TYPE));
            Token.run("C_SignInit", () -> token.pkcs11.C_SignInit(session, signing.mechanism(), key));
            byte[] signature = Token.call("C_Sign", () -> token.pkcs11.C_Sign(session, signing.input(data)));
            new Text.Table("")
                    .row("key", "\"" + label + "\" (private key " + Text.handle(key) + ")")
                    .row("mechanism", signing.describe())
                    .row("data", data.length + " bytes")
                    .row("signature", Text.hex(signature))
                    .print(out);
        } finally {
            token.closeSession(session);
        }
    }

    static void verify(Token token, long slot, Options options, String label, PrintStream out)
            throws DemoException, UsageException {
        byte[] data = data(options);
        String hex = options.require("signature", "verify needs --signature HEX (as 'sign' printed it)");
        byte[] signature;
        try {
            signature = HexFormat.of().parseHex(hex.replace(" ", ""));
        } catch (IllegalArgumentException e) {
            throw new UsageException("--signature takes hexadecimal digits: " + e.getMessage());
        }
        long session = token.openSession(slot, false);
        try {
            long key = token.findOne(session, CKO_PUBLIC_KEY, label);
            Signing signing = Signing.forKey(token, slot, token.longAttribute(session, key, CKA_KEY_TYPE));
            Token.run("C_VerifyInit", () -> token.pkcs11.C_VerifyInit(session, signing.mechanism(), key));
            Token.run("C_Verify", () -> token.pkcs11.C_Verify(session, signing.input(data), signature));
            new Text.Table("")
                    .row("key", "\"" + label + "\" (public key " + Text.handle(key) + ")")
                    .row("mechanism", signing.describe())
                    .row("signature", "valid")
                    .print(out);
        } finally {
            token.closeSession(session);
        }
    }

    // ---- random

    static void random(Token token, long slot, Options options, PrintStream out)
            throws DemoException, UsageException {
        long count = options.number("bytes", 32);
        if (count < 1 || count > 1 << 20) {
            throw new UsageException("--bytes lies between 1 and 1048576");
        }
        long session = token.openSession(slot, false);
        try {
            byte[] random = new byte[(int) count];
            Token.run("C_GenerateRandom", () -> token.pkcs11.C_GenerateRandom(session, random));
            out.println(Text.hex(random));
        } finally {
            token.closeSession(session);
        }
    }
}
