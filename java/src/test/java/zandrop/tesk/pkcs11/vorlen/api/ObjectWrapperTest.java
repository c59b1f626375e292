package zandrop.tesk.pkcs11.vorlen.api;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertInstanceOf;
import static org.junit.jupiter.api.Assertions.assertNotSame;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertSame;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.*;

import java.nio.charset.StandardCharsets;
import java.util.Arrays;
import java.util.List;

import org.junit.jupiter.api.Test;

import zandrop.tesk.pkcs11.vorlen.testmodule.Call;

/**
 * The object wrappers around their module calls: the two calls of C_GetAttributeValue and what
 * reaches the caller's array, searches in steps, and templates that never reach the module.
 */
class ObjectWrapperTest extends ConnectedToTestModule {

    // ---- C_GetAttributeValue ----

    @Test
    void valuesAreReadIntoNewObjectsAfterALengthQuery() throws Exception {
        CK_ATTRIBUTE[] template = template(CKA_CLASS, CKA_LABEL, CKA_VALUE);
        template[2].pValue = new byte[] {9, 9, 9};  // ignored: only the types are asked for
        CK_ATTRIBUTE[] passed = template.clone();
        module.script("C_GetAttributeValue", "attr=0::" + Platform.ulongHex(CKO_SECRET_KEY) + " attr=3::4b6579 attr=17::0102 times=2");
        pkcs11.C_GetAttributeValue(HIGH | 1, HIGH | 100, template);

        for (int i = 0; i < template.length; i++) {
            for (CK_ATTRIBUTE old : passed) {
                assertNotSame(old, template[i], "element " + i + " is a new object");
            }
            assertEquals(passed[i].type, template[i].type);
        }
        assertArrayEquals(new byte[] {9, 9, 9}, (byte[]) passed[2].pValue, "the caller's objects are not modified");
        assertEquals(Long.valueOf(CKO_SECRET_KEY), template[0].pValue);
        assertArrayEquals("Key".toCharArray(), (char[]) template[1].pValue);
        assertArrayEquals(new byte[] {1, 2}, (byte[]) template[2].pValue);

        List<Call> calls = module.calls("C_GetAttributeValue");
        assertEquals(2, calls.size());
        assertEquals(Platform.ulong(HIGH | 1), calls.get(0).num("hSession"));
        assertEquals(Platform.ulong(HIGH | 100), calls.get(0).num("hObject"));
        List<Call.Attr> first = calls.get(0).template("pTemplate");
        List<Call.Attr> second = calls.get(1).template("pTemplate");
        assertEquals(Arrays.asList(null, null, null), first.stream().map(Call.Attr::value).toList(), "no buffer in the length query");
        assertEquals(3, first.get(2).len(), "the length of the discarded Java value stays");
        assertEquals(List.of((long) Platform.ULONG_SIZE, 3L, 2L), second.stream().map(Call.Attr::len).toList());
        String raw = calls.get(1).get("pTemplate");
        assertFalse(raw.contains("null"), "a buffer for every value in the second call: " + raw);
    }

    @Test
    void givenValuesSendTheLengthOfTheirNativeFormInTheQuery() throws Exception {
        CK_ATTRIBUTE[] template = template(CKA_START_DATE, CKA_TOKEN, CKA_KEY_TYPE);
        template[0].pValue = new CK_DATE("2024".toCharArray(), "01".toCharArray(), "02".toCharArray());
        template[1].pValue = Boolean.TRUE;
        template[2].pValue = 7L;
        module.script("C_GetAttributeValue", "rv=0x12");
        assertError(CKR_ATTRIBUTE_TYPE_INVALID, () -> pkcs11.C_GetAttributeValue(1, 100, template));
        List<Call.Attr> first = module.last("C_GetAttributeValue").template("pTemplate");
        assertEquals(List.of(8L, 1L, (long) Platform.ULONG_SIZE), first.stream().map(Call.Attr::len).toList(),
                "a CK_DATE is 8 characters, a CK_BBOOL one byte, a CK_ULONG its width");
    }

    @Test
    void emptyValueReadsNullAfterAValidZeroLengthBuffer() throws Exception {
        CK_ATTRIBUTE[] template = template(CKA_VALUE, CKA_LABEL);
        module.script("C_GetAttributeValue", "attr=17:0: attr=3::41 times=2");
        pkcs11.C_GetAttributeValue(1, 100, template);
        assertNull(template[0].pValue);
        assertEquals(CKA_VALUE, template[0].type);
        assertArrayEquals(new char[] {'A'}, (char[]) template[1].pValue);
        String second = module.calls("C_GetAttributeValue").get(1).get("pTemplate");
        assertTrue(second.startsWith("[17:0:ptr;"), "a zero-length value still gets a buffer: " + second);
    }

    @Test
    void errorOfTheLengthQueryLeavesTheArrayUntouched() throws Exception {
        CK_ATTRIBUTE[] template = template(CKA_LABEL, CKA_VALUE);
        CK_ATTRIBUTE[] passed = template.clone();
        module.script("C_GetAttributeValue", "attr=3::4b6579 attr=17:unavail rv=0x11");
        assertError(CKR_ATTRIBUTE_SENSITIVE, () -> pkcs11.C_GetAttributeValue(1, 100, template));
        assertSame(passed[0], template[0]);
        assertSame(passed[1], template[1]);
        assertNull(template[0].pValue);
        assertEquals(1, module.count("C_GetAttributeValue"), "no second call");

        // An unknown type: the module's own answer.
        CK_ATTRIBUTE[] unknown = template(0x80001234L);
        assertError(CKR_ATTRIBUTE_TYPE_INVALID, () -> pkcs11.C_GetAttributeValue(1, 100, unknown));
        assertNull(unknown[0].pValue);
    }

    @Test
    void errorOfTheSecondCallComesAfterTheNewObjectsAreStored() throws Exception {
        CK_ATTRIBUTE[] template = template(CKA_LABEL, CKA_VALUE);
        CK_ATTRIBUTE[] passed = template.clone();
        // The value grew between the calls: the module answers CKR_BUFFER_TOO_SMALL for it.
        module.script("C_GetAttributeValue", "attr=3::4b6579 attr=17::0102");
        module.script("C_GetAttributeValue", "attr=3::4b6579 attr=17::010203");
        assertError(CKR_BUFFER_TOO_SMALL, () -> pkcs11.C_GetAttributeValue(1, 100, template));
        assertNotSame(passed[0], template[0]);
        assertNotSame(passed[1], template[1]);
        assertArrayEquals("Key".toCharArray(), (char[]) template[0].pValue);
        assertNull(template[1].pValue, "CK_UNAVAILABLE_INFORMATION reads null");
        assertEquals(CKA_VALUE, template[1].type);
        assertEquals(2, module.count("C_GetAttributeValue"), "no third call");
    }

    @Test
    void unavailableLengthWithSuccessGetsNoBufferAndReadsNull() throws Exception {
        CK_ATTRIBUTE[] template = template(CKA_VALUE, CKA_LABEL);
        module.script("C_GetAttributeValue", "attr=17:unavail:0102 attr=3::4b6579 times=2");
        pkcs11.C_GetAttributeValue(1, 100, template);
        assertNull(template[0].pValue);
        assertArrayEquals("Key".toCharArray(), (char[]) template[1].pValue);
        List<Call.Attr> second = module.calls("C_GetAttributeValue").get(1).template("pTemplate");
        assertEquals(Platform.ALL_BITS, second.get(0).len());
        String raw = module.calls("C_GetAttributeValue").get(1).get("pTemplate");
        assertTrue(raw.startsWith("[17:" + Long.toUnsignedString(Platform.ALL_BITS) + ":null;"), "no buffer for an impossible length: " + raw);
    }

    @Test
    void lengthAboveTheBufferWithSuccessIsNotReadAndIsReported() throws Exception {
        CK_ATTRIBUTE[] template = template(CKA_LABEL, CKA_VALUE, CKA_ID);
        module.script("C_GetAttributeValue", "attr=3::4b6579 attr=17::0102 attr=258::07");
        module.script("C_GetAttributeValue", "attr=3::4b6579 attr=17:100:0102 attr=258::07 rv=0");
        assertExactMessage(PKCS11RuntimeException.class, "C_GetAttributeValue reported 100 bytes for attribute 0x11 but only 2 "
                + "were allocated; its value was not read", () -> pkcs11.C_GetAttributeValue(1, 100, template));
        assertArrayEquals("Key".toCharArray(), (char[]) template[0].pValue, "the array is filled first");
        assertNull(template[1].pValue);
        assertArrayEquals(new byte[] {7}, (byte[]) template[2].pValue);

        // With an error of the module's own, the error is what the caller sees.
        CK_ATTRIBUTE[] again = template(CKA_VALUE);
        module.script("C_GetAttributeValue", "attr=17::0102");
        module.script("C_GetAttributeValue", "attr=17:100:0102 rv=0x30");
        assertError(CKR_DEVICE_ERROR, () -> pkcs11.C_GetAttributeValue(1, 100, again));
        assertNull(again[0].pValue);
    }

    @Test
    void notificationThatThrowsDuringTheSecondCall() throws Exception {
        CK_NOTIFY refusing = (session, event, application) -> {
            throw new PKCS11Exception(CKR_CANCEL);
        };
        long session = pkcs11.C_OpenSession(1, CKF_SERIAL_SESSION, null, refusing);
        CK_ATTRIBUTE[] template = template(CKA_LABEL);
        module.script("C_GetAttributeValue", "attr=3::4b6579");
        module.script("C_GetAttributeValue", "attr=3::4b6579 notify=0");
        pkcs11.C_GetAttributeValue(session, 100, template);
        assertArrayEquals("Key".toCharArray(), (char[]) template[0].pValue, "the module answered CKR_OK");
        assertEquals(CKR_CANCEL, module.last("callback").num("rv"));

        CK_ATTRIBUTE[] failing = template(CKA_LABEL);
        module.script("C_GetAttributeValue", "attr=3::4b6579");
        module.script("C_GetAttributeValue", "attr=3::4b6579 notify=0 rv=0x30");
        PKCS11Exception e = assertError(CKR_DEVICE_ERROR, () -> pkcs11.C_GetAttributeValue(session, 100, failing));
        assertEquals(CKR_CANCEL, assertInstanceOf(PKCS11Exception.class, e.getCause()).getErrorCode());
        assertArrayEquals("Key".toCharArray(), (char[]) failing[0].pValue);
        pkcs11.C_CloseSession(session);
    }

    @Test
    void nullArrayAsksTheModuleWithANullTemplate() throws Exception {
        pkcs11.C_GetAttributeValue(1, 100, null);
        List<Call> calls = module.calls("C_GetAttributeValue");
        assertEquals(2, calls.size());
        for (Call call : calls) {
            assertNull(call.template("pTemplate"));
            assertEquals(0, call.num("ulCount"));
        }
        module.script("C_GetAttributeValue", "rv=0x82");
        assertThrows(PKCS11Exception.class, () -> pkcs11.C_GetAttributeValue(1, 100, null));
        assertEquals(3, module.count("C_GetAttributeValue"));
    }

    /** A subclass whose arrays cannot hold plain CK_ATTRIBUTE objects. */
    static final class Label extends CK_ATTRIBUTE {
        Label() {
            super(CKA_LABEL);
        }
    }

    @Test
    void arrayOfASubclassCannotTakeTheNewObjects() {
        Label label = new Label();
        CK_ATTRIBUTE[] narrow = new Label[] {label};
        module.script("C_GetAttributeValue", "attr=3::41 times=2");
        assertThrows(ArrayStoreException.class, () -> pkcs11.C_GetAttributeValue(1, 100, narrow));
        assertSame(label, narrow[0]);
    }

    // ---- C_FindObjects ----

    @Test
    void searchHandsOutAtMostTheMaximumPerCall() throws Exception {
        pkcs11.C_FindObjectsInit(1, null);
        Call init = module.last("C_FindObjectsInit");
        assertNull(init.template("pTemplate"));
        assertEquals(0, init.num("ulCount"));

        module.script("C_FindObjectsInit", "handles=5,6,7,0xFFFFFFFF,9");
        pkcs11.C_FindObjectsInit(1, new CK_ATTRIBUTE[] {new CK_ATTRIBUTE(CKA_CLASS, CKO_DATA)});
        assertEquals(0, pkcs11.C_FindObjects(1, 0).length);
        Call none = module.last("C_FindObjects");
        assertEquals("ptr", none.get("phObject"), "a maximum of 0 still passes a buffer");
        assertEquals(0, none.num("ulMaxObjectCount"));
        assertArrayEquals(new long[] {5, 6}, pkcs11.C_FindObjects(1, 2));
        assertEquals(2, module.last("C_FindObjects").num("ulMaxObjectCount"));
        assertArrayEquals(new long[] {7, 4294967295L}, pkcs11.C_FindObjects(1, 2));
        assertArrayEquals(new long[] {9}, pkcs11.C_FindObjects(1, 2), "as many as found, not the maximum");
        assertEquals(0, pkcs11.C_FindObjects(1, 2).length);
        pkcs11.C_FindObjectsFinal(HIGH | 1);
        assertEquals(Platform.ulong(HIGH | 1), module.last("C_FindObjectsFinal").num("hSession"));
        pkcs11.C_FindObjects(HIGH | 1, 1);
        assertEquals(Platform.ulong(HIGH | 1), module.last("C_FindObjects").num("hSession"));

        // A maximum meant as "all" is asked for in bounded steps.
        module.script("C_FindObjects", "handles=1,2,3");
        assertArrayEquals(new long[] {1, 2, 3}, pkcs11.C_FindObjects(1, Long.MAX_VALUE));
        assertEquals(1 << 20, module.last("C_FindObjects").num("ulMaxObjectCount"));

        module.script("C_FindObjects", "rv=0x91");
        assertError(CKR_OPERATION_NOT_INITIALIZED, () -> pkcs11.C_FindObjects(1, 2));
    }

    @Test
    void moreHandlesThanAllocatedAreRefused() {
        module.script("C_FindObjects", "handles=1,2 len=3");
        assertRefused("C_FindObjects reported 3 handles but only 2 were allocated", () -> pkcs11.C_FindObjects(1, 2));
        module.script("C_FindObjects", "handles=1 len=101");
        assertRefused("C_FindObjects reported 101 handles but only 100 were allocated", () -> pkcs11.C_FindObjects(1, 100));
        module.script("C_FindObjects", "handles=1 len=unavail");
        assertThrows(PKCS11RuntimeException.class, () -> pkcs11.C_FindObjects(1, 0));
    }

    // ---- templates ----

    @Test
    void templateThatCannotBeConvertedNeverReachesTheModule() {
        module.clear();
        CK_ATTRIBUTE[][] templates = {
            {new CK_ATTRIBUTE(CKA_LABEL, "ok"), new CK_ATTRIBUTE(CKA_VALUE, new short[] {1})},
            {new CK_ATTRIBUTE(CKA_LABEL, "ok"), null},
        };
        for (CK_ATTRIBUTE[] template : templates) {
            CK_ATTRIBUTE[] passed = template.clone();
            Class<? extends RuntimeException> expected =
                    template[1] == null ? NullPointerException.class : PKCS11RuntimeException.class;
            assertThrows(expected, () -> pkcs11.C_CreateObject(1, template));
            assertThrows(expected, () -> pkcs11.C_CopyObject(1, 100, template));
            assertThrows(expected, () -> pkcs11.C_SetAttributeValue(1, 100, template));
            assertThrows(expected, () -> pkcs11.C_FindObjectsInit(1, template));
            assertThrows(expected, () -> pkcs11.C_GetAttributeValue(1, 100, template));
            for (int i = 0; i < template.length; i++) {
                assertSame(passed[i], template[i], "the array of C_GetAttributeValue is untouched");
            }
        }
        assertEquals(List.of(), module.calls(), "no module call is recorded");
    }

    @Test
    void templateCallsPassTheirTemplateAndFreeIt() throws Exception {
        module.script("C_CreateObject", "handle=0xFFFFFFFF");
        long created = pkcs11.C_CreateObject(HIGH | 1, new CK_ATTRIBUTE[] {
            new CK_ATTRIBUTE(CKA_CLASS, HIGH | CKO_DATA), new CK_ATTRIBUTE(CKA_TOKEN, true)});
        assertEquals(4294967295L, created);
        Call create = module.last("C_CreateObject");
        assertEquals(Platform.ulong(HIGH | 1), create.num("hSession"));
        assertEquals(2, create.num("ulCount"));
        List<Call.Attr> sent = create.template("pTemplate");
        assertArrayEquals(Platform.ulongBytes(HIGH | CKO_DATA), sent.get(0).value());
        assertEquals(Platform.ULONG_SIZE, sent.get(0).len());
        assertArrayEquals(new byte[] {1}, sent.get(1).value());

        assertEquals(100, pkcs11.C_CopyObject(1, HIGH | 100, null));
        Call copy = module.last("C_CopyObject");
        assertEquals(Platform.ulong(HIGH | 100), copy.num("hObject"));
        assertNull(copy.template("pTemplate"));
        assertEquals(0, copy.num("ulCount"));

        pkcs11.C_SetAttributeValue(1, 100, new CK_ATTRIBUTE[] {new CK_ATTRIBUTE(CKA_LABEL, "new".toCharArray())});
        assertArrayEquals("new".getBytes(StandardCharsets.US_ASCII),
                module.last("C_SetAttributeValue").template("pTemplate").get(0).value());

        // A module error: the neutral result, and the template is freed all the same.
        module.script("C_CreateObject", "rv=0xD0 handle=7");
        assertError(CKR_TEMPLATE_INCOMPLETE,
                () -> pkcs11.C_CreateObject(1, new CK_ATTRIBUTE[] {new CK_ATTRIBUTE(CKA_VALUE, new byte[64])}));
        module.script("C_SetAttributeValue", "rv=0x10");
        assertThrows(PKCS11Exception.class, () -> pkcs11.C_SetAttributeValue(1, 100, new CK_ATTRIBUTE[] {
            new CK_ATTRIBUTE(CKA_VALUE, new byte[] {1})}));
        assertEquals(blocksBefore, PKCS11Impl.heapBlockCount(), "converted templates are freed after each call");
    }

    @Test
    void destroyAndSizePassHandlesAndZeroExtendTheSize() throws Exception {
        pkcs11.C_DestroyObject(HIGH | 1, HIGH | 100);
        Call destroy = module.last("C_DestroyObject");
        assertEquals(Platform.ulong(HIGH | 1), destroy.num("hSession"));
        assertEquals(Platform.ulong(HIGH | 100), destroy.num("hObject"));
        module.script("C_DestroyObject", "rv=0x82");
        assertError(CKR_OBJECT_HANDLE_INVALID, () -> pkcs11.C_DestroyObject(1, 100));

        assertEquals(128, pkcs11.C_GetObjectSize(1, 100));
        module.script("C_GetObjectSize", "len=0xFFFFFFFF");
        assertEquals(4294967295L, pkcs11.C_GetObjectSize(1, 100));
        module.script("C_GetObjectSize", "rv=0x82 len=5");
        assertThrows(PKCS11Exception.class, () -> pkcs11.C_GetObjectSize(1, 100));
    }
}
