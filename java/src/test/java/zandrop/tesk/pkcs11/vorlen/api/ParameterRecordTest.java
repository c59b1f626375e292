package zandrop.tesk.pkcs11.vorlen.api;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static zandrop.tesk.pkcs11.vorlen.api.CryptoWrapperCases.bytes;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.*;

import java.lang.reflect.Field;
import java.lang.reflect.Modifier;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Map;
import java.util.function.Consumer;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import java.util.stream.Stream;

import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;

import zandrop.tesk.pkcs11.vorlen.testmodule.Call;

/**
 * The native record that a module receives for each parameter class: every class of the API
 * whose record the test module decodes is filled, member by member, with distinct values and
 * compared with what the module read at the platform's offsets (the module checks the record's
 * size itself). The rules the round trip cannot show (nulls, lengths, character encodings, buffers
 * the module writes, refusals before the module) are rows of their own.
 */
class ParameterRecordTest extends DecodedParameters {

    /** The classes of the API whose objects hold a native record: public fields, a no-argument constructor. */
    static List<Class<?>> recordClasses() throws Exception {
        List<Class<?>> classes = new ArrayList<>(AllMethods.recordClasses());
        classes.removeIf(c -> fields(c).isEmpty());
        return classes;
    }

    private static List<Field> fields(Class<?> c) {
        return Arrays.stream(c.getFields()).filter(f -> !Modifier.isStatic(f.getModifiers())).toList();
    }

    /** Members tied to another member in a way a refusal does not tell: the module reads them by it. */
    private static final Map<String, Consumer<Object>> TIED = Map.of(
            "CK_SSL3_KEY_MAT_PARAMS", p -> ((CK_SSL3_KEY_MAT_PARAMS) p).ulIVSizeInBits = 8 * 8,
            "CK_GCM_MESSAGE_PARAMS", p -> ((CK_GCM_MESSAGE_PARAMS) p).ulTagBits = 8 * 8,
            "CK_SALSA20_CHACHA20_POLY1305_MSG_PARAMS", p -> ((CK_SALSA20_CHACHA20_POLY1305_MSG_PARAMS) p).pTag =
                    bytes(16, 0x90));

    /** Fills every member with a value no other member of the record has. */
    private static final class Filler {
        private int next = 8;

        Object fill(Class<?> type) throws Exception {
            if (type == CK_ATTRIBUTE.class) {
                return new CK_ATTRIBUTE(8L * next++, bytes(3, next++));
            }
            Object record = type.getConstructor().newInstance();
            for (Field f : fields(type)) {
                f.set(record, value(f.getType()));
            }
            return record;
        }

        Object value(Class<?> type) throws Exception {
            int n = next++;
            if (type == long.class) {
                return 8L * n;  // a whole number of bytes where it counts bits
            } else if (type == boolean.class) {
                return true;
            } else if (type == byte.class) {
                return (byte) n;
            } else if (type == byte[].class || type == Object.class) {
                return bytes(8, n * 8);
            } else if (type == char[].class) {
                return new String(bytes(8, 'A' + n % 16), StandardCharsets.ISO_8859_1).toCharArray();
            } else if (type.isArray()) {
                Object[] elements = (Object[]) java.lang.reflect.Array.newInstance(type.getComponentType(), 2);
                for (int i = 0; i < elements.length; i++) {
                    elements[i] = fill(type.getComponentType());
                }
                return elements;
            }
            return fill(type);
        }
    }

    /** A refusal that names the length a member must have. */
    private static final Pattern LENGTH = Pattern.compile(
            "\\.(\\w+) must have (?:(\\d+)|\\w+ / 8) elements(?: \\(\\w+ is (\\d+)\\))?");

    @Test
    void everyParameterRecordReachesTheModuleMemberByMember() throws Exception {
        List<String> decoded = new ArrayList<>();
        for (Class<?> c : recordClasses()) {
            String name = c.getSimpleName();
            try {
                module.script("C_EncryptInit", "decode=" + name);
            } catch (RuntimeException unknown) {
                assertTrue(!name.matches(".*_PARAMS\\d*"), name + " is a parameter record the test module cannot decode");
                continue;
            }
            Object parameter = new Filler().fill(c);
            TIED.getOrDefault(name, p -> { }).accept(parameter);
            Call call = null;
            for (int attempt = 0; attempt < 4 && call == null; attempt++) {
                try {
                    pkcs11.C_EncryptInit(1, new CK_MECHANISM(CKM_AES_CBC, parameter), 7);
                    call = module.last("C_EncryptInit");
                } catch (PKCS11RuntimeException notAParameter) {  // a record only nested in one
                    assertTrue(notAParameter.getMessage().contains("cannot be converted"), notAParameter.toString());
                    break;
                } catch (IllegalArgumentException refused) {
                    Matcher m = LENGTH.matcher(String.valueOf(refused.getMessage()));
                    assertTrue(m.find(), refused.toString());
                    int length = m.group(2) != null ? Integer.parseInt(m.group(2)) : Integer.parseInt(m.group(3)) / 8;
                    Field f = c.getField(m.group(1));
                    f.set(parameter, Arrays.copyOf((byte[]) f.get(parameter), length));
                }
            }
            if (call == null) {
                pkcs11.C_EncryptInit(1, new CK_MECHANISM(CKM_AES_CBC), 7);  // takes the unused step
            }
            if (call == null || !name.equals(call.get("param"))) {
                assertTrue(!name.matches(".*_PARAMS\\d*"), name + " did not reach the module: " + call);
                continue;
            }
            assertMembers(call, "param.", parameter);
            decoded.add(name);
        }
        assertTrue(decoded.contains("CK_KEY_DERIVATION_STRING_DATA"), decoded.toString());
    }

    /** Compares every public member of {@code record} with what the module decoded under {@code prefix}. */
    private static void assertMembers(Call call, String prefix, Object record) throws Exception {
        for (Field f : fields(record.getClass())) {
            String key = prefix + f.getName();
            Object value = f.get(record);
            String where = key + " in " + call;
            if (value instanceof Long l) {
                assertEquals(Platform.ulong(l), call.num(key), where);
            } else if (value instanceof Boolean b) {
                assertEquals(b ? 1 : 0, call.num(key), where);
            } else if (value instanceof Byte b) {
                assertEquals(b & 0xFF, call.num(key), where);
            } else if (value instanceof byte[] bytes) {
                assertArrayEquals(bytes, call.bytes(key), where);
            } else if (value instanceof char[] chars) {
                assertArrayEquals(new String(chars).getBytes(StandardCharsets.UTF_8), call.bytes(key), where);
            } else if (value instanceof CK_VERSION v) {
                assertArrayEquals(new byte[] {v.major, v.minor}, call.bytes(key), where);
            } else if (value instanceof CK_ATTRIBUTE[] template) {
                List<Call.Attr> read = call.template(key);
                assertEquals(template.length, read.size(), where);
                for (int i = 0; i < template.length; i++) {
                    assertEquals(Platform.ulong(template[i].type), read.get(i).type(), where);
                    assertArrayEquals((byte[]) template[i].pValue, read.get(i).value(), where);
                }
            } else if (value instanceof Object[] elements) {
                assertEquals("ptr", call.get(key), where);
                for (int i = 0; i < elements.length; i++) {
                    assertMembers(call, key + "[" + i + "].", elements[i]);
                }
            } else {
                if (call.has(key)) {  // a pointer to the record, else the record held inline
                    assertEquals("ptr", call.get(key), where);
                }
                assertMembers(call, key + ".", value);
            }
        }
    }

    private static final Object NULL = "null pointer";

    /** A parameter and members the module must read from it: name, value (a number, bytes or {@link #NULL}). */
    static Stream<Arguments> rules() {
        CK_SSL3_KEY_MAT_OUT out = new CK_SSL3_KEY_MAT_OUT(1, 2, 3, 4, bytes(4, 0x61), null);
        return Stream.of(
            rule("a long keeps the low bits a CK_ULONG holds",
                new CK_RSA_PKCS_OAEP_PARAMS(CKM_SHA_1, HIGH | CKG_MGF1_SHA1, CKZ_DATA_SPECIFIED, null),
                "mgf", Platform.ulong(HIGH | CKG_MGF1_SHA1), "pSourceData", NULL, "ulSourceDataLen", 0L),
            rule("arrays read by one length get it from the first",
                new CK_KEA_DERIVE_PARAMS(false, null, null, null),
                "isSender", 0L, "ulRandomLen", 0L, "pRandomA", NULL, "pRandomB", NULL),
            rule("a null array and an empty one",
                new CK_SKIPJACK_RELAYX_PARAMS(bytes(1, 1), null, null, null, new byte[0], null, null),
                "pOldPassword", NULL, "ulOldPasswordLen", 0L, "ulNewPasswordLen", 0L),
            rule("an empty array gives a non-null pointer",
                new CK_KEY_DERIVATION_STRING_DATA(new byte[0]), "pData", new byte[0], "ulLen", 0L),
            rule("PBE characters give their low byte",
                new CK_PBE_PARAMS("\u0141vector".toCharArray(), "p\u0141ss".toCharArray(), null, 1),
                "pInitVector", "Avector\0".getBytes(StandardCharsets.ISO_8859_1), "pPassword",
                new byte[] {'p', 0x41, 's', 's'}, "pSalt", NULL, "ulSaltLen", 0L),
            rule("a PBE vector shorter than the 8 bytes the module writes is padded",
                new CK_PBE_PARAMS(new char[0], null, null, 1), "pInitVector", new byte[8], "pPassword", NULL),
            rule("no PBE vector: the module still gets the 8 bytes it writes",
                new CK_PBE_PARAMS(null, null, null, 1), "pInitVector", new byte[8]),
            rule("PBKDF2 of the first layout has no password",
                new CK_PKCS5_PBKD2_PARAMS(CKZ_SALT_SPECIFIED, bytes(8, 9), 1, CKP_PKCS5_PBKD2_HMAC_SHA1, null),
                "pPassword", NULL, "ulPasswordLen", NULL, "pPrfData", NULL),
            rule("the PBKDF2 password of the second layout is UTF-8",
                new CK_PKCS5_PBKD2_PARAMS2(CKZ_SALT_SPECIFIED, bytes(8, 0x10), 1000, CKP_PKCS5_PBKD2_HMAC_SHA256, null,
                        "p\u0141ss".toCharArray()),
                "pPassword", new byte[] {'p', (byte) 0xc5, (byte) 0x81, 's', 's'}, "ulPasswordLen", 5L),
            rule("SSL3 IV buffers have the IV size, whatever the arrays hold",
                new CK_SSL3_KEY_MAT_PARAMS(0, 0, 128, false, new CK_SSL3_RANDOM_DATA(null, null), out),
                "bIsExport", 0L, "pReturnedKeyMaterial.pIVClient", Arrays.copyOf(bytes(4, 0x61), 16),
                "pReturnedKeyMaterial.pIVServer", new byte[16], "RandomInfo.pClientRandom", NULL),
            rule("ECDH2 without shared data",
                new CK_ECDH2_DERIVE_PARAMS(CKD_NULL, null, bytes(4, 5), 99, 1234, null),
                "pSharedData", NULL, "ulSharedDataLen", 0L, "pPublicData2", NULL, "ulPublicDataLen2", 0L),
            rule("GCM without additional data",
                new CK_GCM_PARAMS(bytes(16, 1), HIGH | 120, null, 128),
                "ulIvBits", Platform.ulong(HIGH | 120), "pAAD", NULL, "ulAADLen", 0L),
            rule("an EdDSA signature without context",
                new CK_EDDSA_PARAMS(false, null), "phFlag", 0L, "ulContextDataLen", 0L, "pContextData", NULL));
    }

    private static Arguments rule(String text, Object parameter, Object... members) {
        return Arguments.of(text, parameter, members);
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("rules")
    void ruleOfConversion(String text, Object parameter, Object[] members) throws Exception {
        module.script("C_EncryptInit", "decode=" + parameter.getClass().getSimpleName());
        pkcs11.C_EncryptInit(1, new CK_MECHANISM(CKM_AES_CBC, parameter), 7);
        Call call = module.last("C_EncryptInit");
        assertEquals(parameter.getClass().getSimpleName(), call.get("param"), call.toString());
        for (int i = 0; i < members.length; i += 2) {
            String field = (String) members[i];
            if (members[i + 1] == NULL) {
                assertTrue(call.isNull("param." + field), field + " in " + call);
            } else if (members[i + 1] instanceof byte[] bytes) {
                assertNotNull(call.bytes("param." + field), field + " in " + call);
                assertBytes(bytes, call, field);
            } else {
                assertNum((Long) members[i + 1], call, field);
            }
        }
    }

    /** A parameter refused before the module, the exception and a part of its message. */
    static Stream<Arguments> refusals() {
        byte[] sixteen = bytes(16, 0);
        CK_SSL3_RANDOM_DATA random = new CK_SSL3_RANDOM_DATA(bytes(4, 1), bytes(4, 2));
        List<Arguments> rows = new ArrayList<>(List.of(
            // The module reads both arrays by one length: a shorter one would be read past its end.
            iae(new CK_KEA_DERIVE_PARAMS(true, bytes(20, 0), sixteen, null), "pRandomA and pRandomB must have the same length, not 20 and 16"),
            iae(new CK_KEA_DERIVE_PARAMS(true, bytes(1, 0), sixteen, null), "pRandomA and pRandomB must have the same length, not 1 and 16"),
            iae(new CK_KEA_DERIVE_PARAMS(true, null, sixteen, null), "pRandomA and pRandomB must have the same length, not 0 and 16"),
            iae(new CK_KEA_DERIVE_PARAMS(true, sixteen, new byte[0], null), "pRandomA and pRandomB must have the same length, not 16 and 0"),
            iae(new CK_SKIPJACK_PRIVATE_WRAP_PARAMS(null, null, null, bytes(1, 0), bytes(64, 0), null),
                "pPrimeP and pBaseG must have the same length, not 1 and 64"),
            iae(new CK_SKIPJACK_PRIVATE_WRAP_PARAMS(null, null, null, bytes(12, 0), null, null),
                "pPrimeP and pBaseG must have the same length, not 12 and 0"),
            iae(new CK_RC2_CBC_PARAMS(64, new byte[0]), "CK_RC2_CBC_PARAMS.iv must have 8 elements, not 0"),
            iae(new CK_RC2_CBC_PARAMS(64, new byte[7]), "CK_RC2_CBC_PARAMS.iv must have 8 elements, not 7"),
            iae(new CK_RC2_CBC_PARAMS(64, new byte[9]), "CK_RC2_CBC_PARAMS.iv must have 8 elements, not 9"),
            iae(new CK_RC2_CBC_PARAMS(64, new byte[16]), "CK_RC2_CBC_PARAMS.iv must have 8 elements, not 16"),
            npe(new CK_RC2_CBC_PARAMS(64, null), "CK_RC2_CBC_PARAMS.iv is null"),
            npe(new CK_SSL3_MASTER_KEY_DERIVE_PARAMS(null, new CK_VERSION(3, 0)),
                "CK_SSL3_MASTER_KEY_DERIVE_PARAMS.RandomInfo is null"),
            npe(new CK_SSL3_MASTER_KEY_DERIVE_PARAMS(random, null), "CK_SSL3_MASTER_KEY_DERIVE_PARAMS.pVersion is null"),
            npe(new CK_SSL3_KEY_MAT_PARAMS(0, 0, 0, false, null, new CK_SSL3_KEY_MAT_OUT()),
                "CK_SSL3_KEY_MAT_PARAMS.RandomInfo is null"),
            npe(new CK_SSL3_KEY_MAT_PARAMS(0, 0, 0, false, random, null),
                "CK_SSL3_KEY_MAT_PARAMS.pReturnedKeyMaterial is null"),
            npe(new CK_GCM_PARAMS(null, 0, null, 128), "CK_GCM_PARAMS.pIv is null"),
            iae(new CK_GCM_PARAMS(bytes(12, 1), 0, null, 97),
                "CK_GCM_PARAMS.ulTagBits must be a whole number of bytes, not 97 bits"),
            npe(new CK_GCM_PARAMS_WITHOUT_IV_BITS(null, bytes(2, 1), 128), "CK_GCM_PARAMS_WITHOUT_IV_BITS.pIv is null"),
            iae(new CK_GCM_PARAMS_WITHOUT_IV_BITS(bytes(12, 1), null, 100),
                "CK_GCM_PARAMS_WITHOUT_IV_BITS.ulTagBits must be a whole number of bytes, not 100 bits"),
            npe(new CK_CCM_PARAMS(10, null, null, 8), "CK_CCM_PARAMS.pNonce is null"),
            iae(new CK_AES_CTR_PARAMS(32, new byte[12]), "CK_AES_CTR_PARAMS.cb must have 16 elements, not 12"),
            npe(new CK_AES_CTR_PARAMS(32, null), "CK_AES_CTR_PARAMS.cb is null"),
            // The module reads bits / 8 bytes: a shorter array would be read past its end.
            iae(new CK_CHACHA20_PARAMS(bytes(4, 1), 32, bytes(8, 0x20), 96),
                "CK_CHACHA20_PARAMS.pNonce must have ulNonceBits / 8 elements (ulNonceBits is 96), not 8"),
            iae(new CK_CHACHA20_PARAMS(bytes(4, 1), 64, bytes(8, 0x20), 64),
                "CK_CHACHA20_PARAMS.pBlockCounter must have blockCounterBits / 8 elements (blockCounterBits is 64), not 4"),
            npe(new CK_CHACHA20_PARAMS(bytes(4, 1), 32, null, 0), "CK_CHACHA20_PARAMS.pNonce is null"),
            npe(new CK_SALSA20_CHACHA20_POLY1305_PARAMS(null, null), "CK_SALSA20_CHACHA20_POLY1305_PARAMS.pNonce is null"),
            iae(new CK_AES_CBC_ENCRYPT_DATA_PARAMS(bytes(8, 0), bytes(16, 1)),
                "CK_AES_CBC_ENCRYPT_DATA_PARAMS.iv must have 16 elements, not 8"),
            npe(new CK_DES_CBC_ENCRYPT_DATA_PARAMS(bytes(8, 0), null), "CK_DES_CBC_ENCRYPT_DATA_PARAMS.pData is null"),
            npe(new CK_RSA_AES_KEY_WRAP_PARAMS(256, null), "CK_RSA_AES_KEY_WRAP_PARAMS.pOAEPParams is null"),
            iae(new CK_PKCS5_PBKD2_PARAMS2(CKZ_SALT_SPECIFIED, bytes(8, 0), 1, CKP_PKCS5_PBKD2_HMAC_SHA1, null,
                    new char[] {'a', '\udc00'}), "unpaired surrogate"),
            npe(new CK_PKCS5_PBKD2_PARAMS2(CKZ_SALT_SPECIFIED, bytes(8, 0), 1, CKP_PKCS5_PBKD2_HMAC_SHA1, null, null),
                "CK_PKCS5_PBKD2_PARAMS2.pPassword is null")));
        if (Platform.ULONG_SIZE == 8) {
            // An IV size no Java array could hold is refused rather than allocated.
            rows.add(iae(new CK_SSL3_KEY_MAT_PARAMS(0, 0, -8L, false, random,
                    new CK_SSL3_KEY_MAT_OUT(0, 0, 0, 0, new byte[1], null)), "ulIVSizeInBits"));
        }
        return rows.stream();
    }

    private static Arguments iae(Object parameter, String text) {
        return Arguments.of(parameter.getClass().getSimpleName(), IllegalArgumentException.class, text, parameter);
    }

    private static Arguments npe(Object parameter, String text) {
        return Arguments.of(parameter.getClass().getSimpleName(), NullPointerException.class, text, parameter);
    }

    @ParameterizedTest(name = "{0}: {2}")
    @MethodSource("refusals")
    void refusedBeforeTheModule(String record, Class<? extends Throwable> type, String text, Object parameter) {
        assertRejectedBeforeTheModule(type, text, parameter);
    }

    @Test
    void aStructureOfAnotherSizeIsNotDecoded() throws Exception {
        // The test module's own guard: a decode of the wrong structure reads nothing, so a
        // module expecting the other GCM layout is not fed a wrong read either.
        Object[][] pairs = {
            {"CK_SSL3_KEY_MAT_PARAMS", new CK_RC5_PARAMS(1, 2)},
            {"CK_GCM_PARAMS", new CK_GCM_PARAMS_WITHOUT_IV_BITS(bytes(12, 1), null, 128)},
            {"CK_GCM_PARAMS_WITHOUT_IV_BITS", new CK_GCM_PARAMS(bytes(12, 1), 0, null, 128)},
        };
        for (Object[] pair : pairs) {
            module.script("C_EncryptInit", "decode=" + pair[0]);
            pkcs11.C_EncryptInit(1, new CK_MECHANISM(CKM_AES_CBC, pair[1]), 7);
            assertEquals("mismatch", module.last("C_EncryptInit").get("param"));
        }
        assertNull(module.last("C_EncryptInit").fields().get("param.ulIvLen"));
    }

    @Test
    void textShowsBytesInHexBitCountsInDecimalAndHidesPasswords() {
        assertEquals("CK_GCM_PARAMS[pIv=010203, ulIvBits=0, pAAD=null, ulTagBits=128]",
                new CK_GCM_PARAMS(bytes(3, 1), 0, null, 128).toString());
        assertEquals("CK_CHACHA20_PARAMS[pBlockCounter=00000000, blockCounterBits=32, pNonce=(empty), ulNonceBits=0]",
                new CK_CHACHA20_PARAMS(new byte[4], 32, new byte[0], 0).toString());
        String text = new CK_PKCS5_PBKD2_PARAMS2(CKZ_SALT_SPECIFIED, bytes(8, 0x10), 1000, CKP_PKCS5_PBKD2_HMAC_SHA256,
                null, "p\u0141ss".toCharArray()).toString();
        assertTrue(text.endsWith("pPassword=(4 chars, hidden)]"), text);
    }
}
