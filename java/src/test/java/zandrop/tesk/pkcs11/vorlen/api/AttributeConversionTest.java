package zandrop.tesk.pkcs11.vorlen.api;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.*;

import java.nio.charset.StandardCharsets;
import java.util.List;

import org.junit.jupiter.api.Test;

import zandrop.tesk.pkcs11.vorlen.testmodule.Call;

/**
 * Java attribute values to the bytes a module receives, by class, and native values back to
 * Java objects, by attribute type.
 */
class AttributeConversionTest extends ConnectedToTestModule {
    /** Creates an object from one attribute and returns what the module received for it. */
    private Call.Attr sent(Object value) throws Exception {
        pkcs11.C_CreateObject(1, new CK_ATTRIBUTE[] {new CK_ATTRIBUTE(CKA_VALUE, value)});
        List<Call.Attr> template = module.last("C_CreateObject").template("pTemplate");
        assertEquals(1, template.size());
        return template.get(0);
    }

    private void assertSent(Object value, byte[] expected) throws Exception {
        Call.Attr attr = sent(value);
        assertEquals(expected.length, attr.len(), "length of " + value);
        assertArrayEquals(expected, attr.value(), "bytes of " + value);
    }

    @Test
    void valuesReachTheModuleAsTheirNativeForm() throws Exception {
        assertSent(4294967301L, Platform.ulongBytes(4294967301L));
        assertSent(Integer.valueOf(-1), Platform.ulongBytes(-1L));
        assertSent(Integer.valueOf(7), Platform.ulongBytes(7));
        assertSent(Boolean.TRUE, new byte[] {1});
        assertSent(Boolean.FALSE, new byte[] {0});
        assertSent(new byte[] {1, 2, (byte) 0xFF}, new byte[] {1, 2, (byte) 0xFF});
        assertSent(new char[] {'A', 'b', '\u0141', '\u00E9'}, new byte[] {0x41, 0x62, 0x41, (byte) 0xE9});
        assertSent(Byte.valueOf((byte) -1), new byte[] {(byte) 0xFF});
        assertSent(Character.valueOf('\u0141'), new byte[] {0x41});
        assertSent(new boolean[] {true, false, true}, new byte[] {1, 0, 1});
        assertSent(new int[] {-1, 7}, Platform.ulongBytes(-1L, 7));
        assertSent(new long[] {4294967301L, -1L}, Platform.ulongBytes(4294967301L, -1L));
        assertSent("abc", "abc".getBytes(StandardCharsets.US_ASCII));
        // Modified UTF-8: U+0000 as C0 80, a supplementary character as two 3-byte surrogates.
        assertSent("a\u0000\uD83D\uDE00", new byte[] {0x61, (byte) 0xC0, (byte) 0x80,
            (byte) 0xED, (byte) 0xA0, (byte) 0xBD, (byte) 0xED, (byte) 0xB8, (byte) 0x80});
    }

    @Test
    void intValuesAreUnsigned32BitNumbersExceptMinusOne() throws Exception {
        // CKK_VENDOR_DEFINED as an Integer: 0x80000000 at every width, not sign-extended.
        assertSent(Integer.valueOf((int) CKK_VENDOR_DEFINED), Platform.ulongBytes(CKK_VENDOR_DEFINED));
        assertSent(Integer.valueOf(-2), Platform.ulongBytes(0xFFFFFFFEL));
        assertSent(Integer.valueOf(-1), Platform.ulongBytes(-1L));
        assertSent(new int[] {0x80000000, -1, -2}, Platform.ulongBytes(0x80000000L, -1L, 0xFFFFFFFEL));
    }

    @Test
    void nullAndEmptyValuesStayDistinct() throws Exception {
        Call.Attr none = sent(null);
        assertEquals(0, none.len());
        assertNull(none.value());
        Call.Attr empty = sent(new byte[0]);
        assertEquals(0, empty.len());
        assertNotNull(empty.value(), "an empty array gives a non-null pointer");
        Call.Attr emptyString = sent("");
        assertEquals(0, emptyString.len());
        assertNotNull(emptyString.value());
    }

    @Test
    void datesAreEightCharactersWithMissingPartsZero() throws Exception {
        assertSent(new CK_DATE("2004".toCharArray(), "07".toCharArray(), "01".toCharArray()),
                "20040701".getBytes(StandardCharsets.US_ASCII));
        byte[] nullMonth = "2004\0\00001".getBytes(StandardCharsets.US_ASCII);
        assertSent(new CK_DATE("2004".toCharArray(), null, "01".toCharArray()), nullMonth);
        assertSent(new CK_DATE("2004".toCharArray(), "0712".toCharArray(), "01".toCharArray()),
                "20040701".getBytes(StandardCharsets.US_ASCII));
        assertSent(new CK_DATE("20".toCharArray(), "7".toCharArray(), "".toCharArray()),
                new byte[] {'2', '0', 0, 0, '7', 0, 0, 0});
    }

    @Test
    void attributeTypesKeepTheLowBitsThatFit() throws Exception {
        pkcs11.C_CreateObject(1, new CK_ATTRIBUTE[] {new CK_ATTRIBUTE(4294967299L, null),
            new CK_ATTRIBUTE(CKA_VENDOR_DEFINED, null)});
        List<Call.Attr> template = module.last("C_CreateObject").template("pTemplate");
        assertEquals(Platform.ulong(4294967299L), template.get(0).type());
        assertEquals(CKA_VENDOR_DEFINED, template.get(1).type());
    }

    @Test
    void unconvertibleValuesStopTheCallBeforeTheModule() throws Exception {
        Object[][] cases = {
            {new short[] {1}, "[S"},
            {Short.valueOf((short) 1), "java.lang.Short"},
            {new CK_VERSION((byte) 2, (byte) 40), "zandrop.tesk.pkcs11.vorlen.api.CK_VERSION"},
            {new Object(), "java.lang.Object"},
        };
        for (Object[] c : cases) {
            CK_ATTRIBUTE[] template = {new CK_ATTRIBUTE(CKA_LABEL, "fine"), new CK_ATTRIBUTE(CKA_VALUE, c[0])};
            assertExactMessage(PKCS11RuntimeException.class, CANNOT_CONVERT + c[1], () -> pkcs11.C_CreateObject(1, template));
        }
        assertEquals(0, module.count("C_CreateObject"), "the module is never called");
        long blocks = PKCS11Impl.heapBlockCount();
        assertThrows(PKCS11RuntimeException.class, () -> pkcs11.C_FindObjectsInit(1,
                new CK_ATTRIBUTE[] {new CK_ATTRIBUTE(CKA_LABEL, "x"), new CK_ATTRIBUTE(CKA_ID, new float[1])}));
        assertEquals(blocks, PKCS11Impl.heapBlockCount(), "what was converted is freed");
        assertEquals(0, module.count("C_FindObjectsInit"));
    }

    @Test
    void nullTemplateElementIsAClearError() {
        CK_ATTRIBUTE[] template = {new CK_ATTRIBUTE(CKA_LABEL, "x"), null};
        assertMessage(NullPointerException.class, "element 1", () -> pkcs11.C_CreateObject(1, template));
        assertEquals(0, module.count("C_CreateObject"));
    }

    @Test
    void nullAndEmptyTemplates() throws Exception {
        pkcs11.C_FindObjectsInit(1, null);
        Call nullTemplate = module.last("C_FindObjectsInit");
        assertNull(nullTemplate.template("pTemplate"));
        assertEquals(0, nullTemplate.num("ulCount"));
        pkcs11.C_FindObjectsInit(1, new CK_ATTRIBUTE[0]);
        Call empty = module.last("C_FindObjectsInit");
        assertEquals(List.of(), empty.template("pTemplate"));
        assertEquals(0, empty.num("ulCount"));
    }

    /** Reads one attribute whose native value the module is scripted to hold. */
    private Object readBack(long type, String lengthAndBytes) throws Exception {
        module.script("C_GetAttributeValue", "attr=" + Long.toUnsignedString(type) + ":" + lengthAndBytes + " times=2");
        CK_ATTRIBUTE[] template = {new CK_ATTRIBUTE(type)};
        pkcs11.C_GetAttributeValue(1, 100, template);
        assertEquals(type, template[0].type);
        return template[0].pValue;
    }

    @Test
    void nativeValuesComeBackByAttributeType() throws Exception {
        assertEquals(Long.valueOf(4), readBack(CKA_CLASS, ":" + Platform.ulongHex(CKO_SECRET_KEY)));
        assertEquals(Long.valueOf(Platform.ALL_BITS),
                readBack(CKA_VALUE_LEN, ":" + Platform.ulongHex(-1L)));
        assertEquals(Boolean.TRUE, readBack(CKA_TOKEN, ":01"));
        assertEquals(Boolean.FALSE, readBack(CKA_TOKEN, ":ff"));
        assertEquals(Boolean.FALSE, readBack(CKA_SIGN, ":02"));
        assertArrayEquals("Key 1".toCharArray(), (char[]) readBack(CKA_LABEL, ":4b65792031"));
        assertArrayEquals(new char[] {'\u00C3', '\u00A9'}, (char[]) readBack(CKA_APPLICATION, ":c3a9"));
        CK_DATE date = (CK_DATE) readBack(CKA_START_DATE, ":3230303430373031");
        assertArrayEquals("2004".toCharArray(), date.year);
        assertArrayEquals("07".toCharArray(), date.month);
        assertArrayEquals("01".toCharArray(), date.day);
        assertArrayEquals(new byte[] {1, 2, 3}, (byte[]) readBack(CKA_VALUE, ":010203"));
        assertArrayEquals(new byte[] {9}, (byte[]) readBack(CKA_MODULUS, ":09"));
        assertArrayEquals(new byte[] {5, 6}, (byte[]) readBack(0x80000001L, ":0506"));
    }

    @Test
    void valuesShorterThanTheirTypeComeBackAsBytesPresent() throws Exception {
        assertArrayEquals(new byte[] {4, 0}, (byte[]) readBack(CKA_CLASS, ":0400"));
        assertArrayEquals("2004".getBytes(StandardCharsets.US_ASCII),
                (byte[]) readBack(CKA_END_DATE, ":32303034"));
    }

    @Test
    void emptyOrUnavailableValuesAreNull() throws Exception {
        assertNull(readBack(CKA_VALUE, "0:"));
        assertNull(readBack(CKA_LABEL, "0:"));
        assertNull(readBack(CKA_VENDOR_DEFINED, "0:"));  // its type, 2147483648, kept: see readBack
        assertEquals(Long.valueOf(2048), readBack(CKA_MODULUS_BITS, ":" + Platform.ulongHex(2048)), "a Long");
    }
}
