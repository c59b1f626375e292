package zandrop.tesk.pkcs11.vorlen.api;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assertions.fail;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.*;

import java.util.ArrayList;
import java.util.Arrays;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.Optional;
import java.util.regex.Matcher;
import java.util.regex.Pattern;

import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.TestInstance;

/**
 * A cross-check with OpenSC's pkcs11-tool on one SoftHSM2 token, initialised through the library:
 * the slot list, the tokens' labels and serial numbers, and the mechanism list with every
 * mechanism's key sizes and flags, as the library reads them, equal what pkcs11-tool prints.
 */
@TestInstance(TestInstance.Lifecycle.PER_CLASS)
class RealPkcs11ToolTest {
    private static final String TOKEN_LABEL = "cross-check";

    /** Names that pkcs11-tool prints for mechanisms newer than the constants of this package. */
    private static final Map<String, Long> NEWER_MECHANISMS = Map.of(
            "EC_EDWARDS_KEY_PAIR_GEN", 0x1055L,
            "EC_MONTGOMERY_KEY_PAIR_GEN", 0x1056L,
            "EDDSA", 0x1057L);

    private PKCS11Impl pkcs11;
    private String module;
    private long slot;

    @BeforeAll
    void initialiseToken() throws Exception {
        module = RealModules.softHsm2();
        RealModules.pkcs11Tool();
        // The token's slot as a new C_Initialize finds it, as pkcs11-tool's does.
        slot = RealSoftHsmToken.initialiseAlone(TOKEN_LABEL);
        pkcs11 = new PKCS11Impl(module);
        pkcs11.C_Initialize(new CK_C_INITIALIZE_ARGS(CKF_OS_LOCKING_OK));
    }

    @AfterAll
    void finalizeModule() throws Exception {
        if (pkcs11 != null) {
            try {
                pkcs11.C_Finalize(null);
            } finally {
                pkcs11.disconnect();
            }
        }
    }

    private String tool(String... arguments) {
        List<String> command = new ArrayList<>(
                List.of(RealModules.pkcs11Tool(), "--module", RealModules.softHsm2ForTools()));
        command.addAll(List.of(arguments));
        RealModules.Result result = RealModules.run(command, Map.of(), false);
        assertEquals(0, result.status(), "pkcs11-tool " + String.join(" ", arguments) + ": " + result.err());
        return result.out();
    }

    @Test
    void slotsAndTokensAreWhatPkcs11ToolLists() throws Exception {
        String listing = tool("--list-slots");
        // "Slot 0 (0x3d6f2756): SoftHSM slot ID 0x3d6f2756", then "  key : value" lines.
        Pattern slotLine = Pattern.compile("^Slot \\d+ \\(0x([0-9a-fA-F]+)\\): (.*)$");
        List<Long> toolSlots = new ArrayList<>();
        Map<Long, Map<String, String>> details = new HashMap<>();
        Map<String, String> current = null;
        for (String line : listing.split("\n")) {
            Matcher m = slotLine.matcher(line);
            if (m.matches()) {
                long id = Long.parseUnsignedLong(m.group(1), 16);
                toolSlots.add(id);
                current = new HashMap<>();
                current.put("description", m.group(2).trim());
                details.put(id, current);
            } else if (current != null && line.startsWith("  ") && line.contains(":")) {
                int colon = line.indexOf(':');
                current.put(line.substring(0, colon).trim(), line.substring(colon + 1).trim());
            }
        }
        List<Long> ours = Arrays.stream(pkcs11.C_GetSlotList(false)).boxed().toList();
        assertEquals(ours, toolSlots, "the same slots in the same order");
        assertTrue(toolSlots.contains(slot));

        for (long id : ours) {
            Map<String, String> tool = details.get(id);
            CK_SLOT_INFO slotInfo = pkcs11.C_GetSlotInfo(id);
            assertEquals(new String(slotInfo.slotDescription).trim(), tool.get("description"), "slot " + id);
            CK_TOKEN_INFO token = pkcs11.C_GetTokenInfo(id);
            if ((token.flags & CKF_TOKEN_INITIALIZED) == 0) {
                assertEquals("uninitialized", tool.get("token state"), "slot " + id);
                continue;
            }
            assertEquals(new String(token.label).trim(), tool.get("token label"), "slot " + id);
            assertEquals(new String(token.serialNumber).trim(), tool.get("serial num"), "slot " + id);
            assertEquals(new String(token.manufacturerID).trim(), tool.get("token manufacturer"));
            assertEquals(new String(token.model).trim(), tool.get("token model"));
            assertEquals(token.ulMinPinLen + "/" + token.ulMaxPinLen, tool.get("pin min/max"));
            assertEquals(token.hardwareVersion.toString(), tool.get("hardware version"));
        }
        assertEquals(TOKEN_LABEL, details.get(slot).get("token label"));
    }

    @Test
    void mechanismsAreWhatPkcs11ToolLists() throws Exception {
        String listing = tool("--list-mechanisms", "--slot", Long.toUnsignedString(slot));
        // The indented lines under "Supported mechanisms:".
        List<String> lines = listing.lines().dropWhile(line -> !line.startsWith("Supported mechanisms:")).skip(1)
                .takeWhile(line -> line.startsWith("  ")).map(String::trim).toList();
        long[] types = pkcs11.C_GetMechanismList(slot);
        assertEquals(types.length, lines.size(), "as many mechanisms as pkcs11-tool lists");
        for (int i = 0; i < types.length; i++) {
            String line = lines.get(i);
            int comma = line.indexOf(',');
            String name = comma < 0 ? line : line.substring(0, comma);
            assertEquals(types[i], mechanismValue(name), "mechanism " + i + ": pkcs11-tool says " + line);
            CK_MECHANISM_INFO info = pkcs11.C_GetMechanismInfo(slot, types[i]);
            assertEquals(line, name + describe(info), "key sizes and flags of " + name);
        }
    }

    /** The value of a mechanism name as pkcs11-tool prints it ("SHA-1-HMAC", "mechtype-0x210A"). */
    private static long mechanismValue(String name) throws IllegalAccessException {
        if (name.startsWith("mechtype-0x")) {
            return Long.parseUnsignedLong(name.substring("mechtype-0x".length()), 16);
        }
        String constant = name.replace('-', '_').toUpperCase();
        try {
            return PKCS11Constants.class.getField("CKM_" + constant).getLong(null);  // a static field: no instance
        } catch (NoSuchFieldException e) {
            return Optional.ofNullable(NEWER_MECHANISMS.get(constant))
                    .orElseGet(() -> fail("pkcs11-tool prints a mechanism name that matches no constant: " + name));
        }
    }

    private static final long[] FLAGS = {CKF_HW, CKF_ENCRYPT, CKF_DECRYPT, CKF_DIGEST, CKF_SIGN, CKF_SIGN_RECOVER,
        CKF_VERIFY, CKF_VERIFY_RECOVER, CKF_GENERATE, CKF_GENERATE_KEY_PAIR, CKF_WRAP, CKF_UNWRAP, CKF_DERIVE,
        CKF_EC_F_P, CKF_EC_F_2M, CKF_EC_ECPARAMETERS, CKF_EC_NAMEDCURVE, CKF_EC_UNCOMPRESS, CKF_EC_COMPRESS};
    private static final String[] FLAG_WORDS = {"hw", "encrypt", "decrypt", "digest", "sign", "sign_recover",
        "verify", "verify_recover", "generate", "generate_key_pair", "wrap", "unwrap", "derive",
        "EC F_P", "EC F_2M", "EC parameters", "EC OID", "EC uncompressed", "EC compressed"};

    /** The rest of pkcs11-tool's line for a mechanism, made from what the library read. */
    private static String describe(CK_MECHANISM_INFO info) {
        StringBuilder text = new StringBuilder();
        if (info.ulMinKeySize != 0 || info.ulMaxKeySize != 0) {  // a bound of 0 is left out
            text.append(", keySize={").append(info.ulMinKeySize == 0 ? "" : Long.toUnsignedString(info.ulMinKeySize)).append(',')
                    .append(info.ulMaxKeySize == 0 ? "" : Long.toUnsignedString(info.ulMaxKeySize)).append('}');
        }
        long rest = info.flags;
        for (int i = 0; i < FLAGS.length; i++) {
            if ((info.flags & FLAGS[i]) != 0) {
                text.append(", ").append(FLAG_WORDS[i]);
                rest &= ~FLAGS[i];
            }
        }
        if (rest != 0) {
            text.append(String.format(", other flags=0x%x", rest));
        }
        return text.toString();
    }
}
