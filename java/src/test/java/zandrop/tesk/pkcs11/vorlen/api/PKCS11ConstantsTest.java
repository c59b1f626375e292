package zandrop.tesk.pkcs11.vorlen.api;

import static org.junit.jupiter.api.Assertions.assertAll;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.IOException;
import java.lang.reflect.Field;
import java.lang.reflect.Modifier;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.function.LongFunction;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import org.junit.jupiter.api.Test;

class PKCS11ConstantsTest {

    /** Every public constant of the class, by name. */
    private static Map<String, Long> constants() throws IllegalAccessException {
        Map<String, Long> constants = new LinkedHashMap<>();
        for (Field field : PKCS11Constants.class.getDeclaredFields()) {
            int modifiers = field.getModifiers();
            if (Modifier.isPublic(modifiers) && Modifier.isStatic(modifiers)
                    && field.getType() == long.class) {
                constants.put(field.getName(), field.getLong(null));
            }
        }
        return constants;
    }

    @Test
    void everyValueIsAnUnsigned32BitNumber() throws IllegalAccessException {
        Map<String, Long> constants = constants();
        assertTrue(constants.size() > 600, "only " + constants.size() + " constants");
        List<String> outOfRange = constants.entrySet().stream()
                .filter(c -> c.getValue() < 0 || c.getValue() > 0xFFFFFFFFL).map(Object::toString).toList();  // name=value
        assertEquals(List.of(), outOfRange, "constants whose value a CK_ULONG cannot hold as written");
    }

    @Test
    void lookUpsNameEveryConstantOfTheirFamilyConsistently() throws IllegalAccessException {
        Map<String, Long> constants = constants();
        Map<String, LongFunction<String>> lookUps = Map.of(
                "CKR_", PKCS11Constants::returnValueName,
                "CKA_", PKCS11Constants::attributeName,
                "CKM_", PKCS11Constants::mechanismName,
                "CKO_", PKCS11Constants::objectClassName,
                "CKK_", PKCS11Constants::keyTypeName,
                "CKC_", PKCS11Constants::certificateTypeName);
        List<String> problems = new ArrayList<>();
        constants.forEach((name, value) -> lookUps.forEach((prefix, lookUp) -> {
            if (name.startsWith(prefix)) {
                // Every name comes back as itself; an alias as the current name of its value.
                String found = lookUp.apply(value);
                if (!ALIASES.getOrDefault(name, name).equals(found)) {
                    problems.add(name + " -> " + found);
                }
            }
        }));
        assertEquals(List.of(), problems);
    }

    @Test
    void flagDecodersNameEveryBitOfTheirFamilyAndKeepTheRest() throws IllegalAccessException {
        Map<String, Long> constants = constants();
        Map<String, LongFunction<List<String>>> decoders = Map.of(
                "slot", PKCS11Constants::slotFlagNames, "token", PKCS11Constants::tokenFlagNames,
                "mechanism", PKCS11Constants::mechanismFlagNames, "session", PKCS11Constants::sessionFlagNames);
        Map<String, Integer> counts = Map.of("slot", 3, "token", 19, "mechanism", 26, "session", 2);
        decoders.forEach((family, decoder) -> {
            List<String> names = decoder.apply(0xFFFFFFFFL);
            assertEquals(counts.get(family) + 1, names.size(), family + ": " + names);
            long named = 0;
            for (String name : names.subList(0, names.size() - 1)) {
                long bit = constants.get(name);
                assertEquals(1, Long.bitCount(bit), name);
                assertEquals(0, named & bit, name + " is named once");
                named |= bit;
            }
            assertEquals(String.format("0x%08X", 0xFFFFFFFFL & ~named), names.get(names.size() - 1), family);
            assertEquals(List.of(), decoder.apply(0));
        });
        assertAll(
                () -> assertEquals(List.of("CKF_RW_SESSION", "CKF_SERIAL_SESSION"), PKCS11Constants.sessionFlagNames(6)),
                () -> assertEquals(List.of("CKF_EC_OID"), PKCS11Constants.mechanismFlagNames(PKCS11Constants.CKF_EC_NAMEDCURVE)),
                () -> assertEquals(List.of("CKF_TOKEN_PRESENT", "0x100000000"), PKCS11Constants.slotFlagNames(0x100000001L)),
                () -> assertEquals("CKK_EC", PKCS11Constants.keyTypeName(3)),
                () -> assertEquals("CKK_CAST128", PKCS11Constants.keyTypeName(0x18)),
                () -> assertNull(PKCS11Constants.keyTypeName(0x46)),
                () -> assertNull(PKCS11Constants.certificateTypeName(3)));
    }

    /** The names that share their value with another, and the name the look-ups report for it. */
    private static final Map<String, String> ALIASES = Map.ofEntries(
            Map.entry("CKA_ECDSA_PARAMS", "CKA_EC_PARAMS"),
            Map.entry("CKA_SUBPRIME_BITS", "CKA_SUB_PRIME_BITS"),
            Map.entry("CKK_CAST5", "CKK_CAST128"),
            Map.entry("CKK_ECDSA", "CKK_EC"),
            Map.entry("CKM_CAST5_KEY_GEN", "CKM_CAST128_KEY_GEN"),
            Map.entry("CKM_CAST5_ECB", "CKM_CAST128_ECB"),
            Map.entry("CKM_CAST5_CBC", "CKM_CAST128_CBC"),
            Map.entry("CKM_CAST5_MAC", "CKM_CAST128_MAC"),
            Map.entry("CKM_CAST5_MAC_GENERAL", "CKM_CAST128_MAC_GENERAL"),
            Map.entry("CKM_CAST5_CBC_PAD", "CKM_CAST128_CBC_PAD"),
            Map.entry("CKM_DSA_PROBABLISTIC_PARAMETER_GEN", "CKM_DSA_PROBABILISTIC_PARAMETER_GEN"),
            Map.entry("CKM_ECDSA_KEY_PAIR_GEN", "CKM_EC_KEY_PAIR_GEN"),
            Map.entry("CKM_PBE_MD5_CAST5_CBC", "CKM_PBE_MD5_CAST128_CBC"),
            Map.entry("CKM_PBE_SHA1_CAST5_CBC", "CKM_PBE_SHA1_CAST128_CBC"));

    @Test
    void aliasesResolveToTheCurrentName() throws IllegalAccessException {
        Map<String, Long> constants = constants();
        ALIASES.forEach((alias, current) -> assertEquals(constants.get(current), constants.get(alias), alias));
        assertAll(
                () -> assertEquals("CKM_EC_KEY_PAIR_GEN", PKCS11Constants.mechanismName(0x1040L)),
                () -> assertEquals("CKM_PBE_MD5_CAST128_CBC", PKCS11Constants.mechanismName(0x3A4L)),
                () -> assertEquals("CKM_CAST128_KEY_GEN", PKCS11Constants.mechanismName(0x320L)),
                () -> assertEquals("CKA_EC_PARAMS", PKCS11Constants.attributeName(0x180L)),
                () -> assertEquals("CKA_SUB_PRIME_BITS", PKCS11Constants.attributeName(0x134L)));
    }

    @Test
    void unknownValuesHaveNoName() {
        assertAll(
                () -> assertNull(PKCS11Constants.returnValueName(0x4L)),
                () -> assertNull(PKCS11Constants.returnValueName(0x80000001L)),
                // Only the low 32 bits are significant natively, but the look-up must not wrap.
                () -> assertNull(PKCS11Constants.returnValueName(0x100000000L)),
                () -> assertNull(PKCS11Constants.attributeName(-1L)),
                () -> assertNull(PKCS11Constants.mechanismName(0x7FFFFFFFL)),
                // 9 is CKO_PROFILE since version 3.0.
                () -> assertNull(PKCS11Constants.objectClassName(10L)));
    }

    @Test
    void coversVersion240() throws IllegalAccessException {
        // Values as the standard defines them, looked up by name and by value.
        Map<String, Long> expected = Map.ofEntries(
                Map.entry("CKM_AES_GCM", 0x1087L),
                Map.entry("CKM_SHA256_RSA_PKCS_PSS", 0x43L),
                Map.entry("CKM_TLS_KEY_AND_MAC_DERIVE", 0x376L),
                Map.entry("CKM_PBE_MD5_DES_CBC", 0x3A1L),
                Map.entry("CKM_KEY_WRAP_SET_OAEP", 0x401L),
                Map.entry("CKM_SSL3_MASTER_KEY_DERIVE", 0x371L),
                Map.entry("CKR_MUTEX_BAD", 0x1A0L),
                Map.entry("CKR_FUNCTION_NOT_PARALLEL", 0x51L),
                Map.entry("CKA_ALLOWED_MECHANISMS", 0x40000600L),
                Map.entry("CKR_VENDOR_DEFINED", 0x80000000L),
                Map.entry("CK_UNAVAILABLE_INFORMATION", 0xFFFFFFFFL));
        Map<String, Long> constants = constants();
        expected.forEach((name, value) -> assertEquals(value, constants.get(name), name));  // null where the name is missing
        assertAll(
                () -> assertEquals("CKM_AES_GCM", PKCS11Constants.mechanismName(0x1087L)),
                () -> assertEquals("CKR_FUNCTION_NOT_PARALLEL", PKCS11Constants.returnValueName(0x51L)),
                () -> assertEquals("CKO_OTP_KEY", PKCS11Constants.objectClassName(8L)));
    }

    /**
     * The constants of the native header, which the build compares with NSS's own header: every
     * {@code inline constexpr TYPE NAME = VALUE;}, with CK_ULONG's 32 low bits for {@code ~0UL}.
     */
    private static Map<String, Long> nativeConstants() throws IOException {
        Path cache = Path.of(TestModules.path("vorlen.build.dir"), "CMakeCache.txt");
        Matcher source = Pattern.compile("(?m)^vorlen_pkcs11_SOURCE_DIR:STATIC=(.*)$")
                .matcher(Files.readString(cache));
        assertTrue(source.find(), "no source directory in " + cache);
        String header = Files.readString(
                Path.of(source.group(1), "native/include/pkcs11/pkcs11_constants.h"));
        Map<String, Long> constants = new LinkedHashMap<>();
        Matcher line = Pattern.compile("(?m)^inline constexpr CK_\\w+ (\\w+) = ([^;]+);").matcher(header);
        while (line.find()) {
            long value = 0;
            for (String term : line.group(2).split("\\|")) {
                String t = term.trim();
                if (t.equals("~0UL")) {
                    value |= 0xFFFFFFFFL;
                } else if (t.matches("(0x)?[0-9A-Fa-f]+UL|\\d+")) {
                    String digits = t.replace("UL", "");
                    value |= digits.startsWith("0x") ? Long.parseLong(digits.substring(2), 16)
                            : Long.parseLong(digits);
                } else {
                    assertNotNull(constants.get(t), "unknown term " + t + " in " + line.group());
                    value |= constants.get(t);
                }
            }
            constants.put(line.group(1), value);
        }
        return constants;
    }

    @Test
    void everyConstantHasTheValueOfTheNativeHeader() throws Exception {
        Map<String, Long> header = nativeConstants();
        Map<String, Long> java = constants();
        assertTrue(header.size() > 850, "only " + header.size() + " constants read from the header");
        assertEquals(List.of(), header.entrySet().stream().filter(c -> !c.getValue().equals(java.get(c.getKey())))
                .map(c -> c.getKey() + ": header " + Long.toHexString(c.getValue()) + ", Java " + java.get(c.getKey())).toList());
        assertEquals(List.of(), java.keySet().stream().filter(name -> !header.containsKey(name)).sorted().toList(),
                "constants that the native header lacks");
    }

    @Test
    void coversVersion30AndNamesItsReturnValuesAndMechanisms() {
        assertAll(
                () -> assertEquals("CKR_OPERATION_CANCEL_FAILED", PKCS11Constants.returnValueName(0x202L)),
                () -> assertEquals("CKR_TOKEN_RESOURCE_EXCEEDED", PKCS11Constants.returnValueName(0x201L)),
                // The five return values that 2.40 numbers from 0x1B5.
                () -> assertEquals("CKR_EXCEEDED_MAX_ITERATIONS", PKCS11Constants.returnValueName(0x1B5L)),
                () -> assertEquals("CKR_PUBLIC_KEY_INVALID", PKCS11Constants.returnValueName(0x1B9L)),
                () -> assertNull(PKCS11Constants.returnValueName(0x1C0L)),
                () -> assertEquals("CKM_EDDSA", PKCS11Constants.mechanismName(0x1057L)),
                () -> assertEquals("CKM_CHACHA20_POLY1305", PKCS11Constants.mechanismName(0x4021L)),
                () -> assertEquals("CKM_SP800_108_COUNTER_KDF", PKCS11Constants.mechanismName(0x3ACL)),
                () -> assertEquals("CKM_DSA_PROBABILISTIC_PARAMETER_GEN",
                        PKCS11Constants.mechanismName(0x2003L)),
                () -> assertEquals("CKA_PROFILE_ID", PKCS11Constants.attributeName(0x601L)),
                () -> assertEquals("CKO_PROFILE", PKCS11Constants.objectClassName(9L)));
    }

    @Test
    void unavailableInformationAtEitherWidth() {
        assertTrue(PKCS11Constants.isUnavailable(4294967295L));
        assertTrue(PKCS11Constants.isUnavailable(-1L));
        assertFalse(PKCS11Constants.isUnavailable(0));
        assertFalse(PKCS11Constants.isUnavailable(4294967294L));
        assertFalse(PKCS11Constants.isUnavailable(0x1FFFFFFFFL));
    }
}
