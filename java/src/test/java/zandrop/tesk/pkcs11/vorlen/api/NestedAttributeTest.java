package zandrop.tesk.pkcs11.vorlen.api;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertInstanceOf;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertSame;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.*;

import java.util.List;

import org.junit.jupiter.api.Test;

import zandrop.tesk.pkcs11.vorlen.testmodule.Call;

/**
 * Attribute arrays as values: a CK_ATTRIBUTE[] for CKA_WRAP_TEMPLATE and its kin in templates,
 * read back with the standard's nested length protocol (three calls of C_GetAttributeValue), a
 * long[] for CKA_ALLOWED_MECHANISMS, the bound on nesting, and modules that lie in the protocol.
 * Every width: sizes come from the JVM's CK_ULONG.
 */
class NestedAttributeTest extends ConnectedToTestModule {
    /** sizeof(CK_ATTRIBUTE): a CK_ULONG, a pointer and a CK_ULONG, each of the platform's width. */
    private static final int RECORD = 3 * Platform.ULONG_SIZE;

    private static CK_ATTRIBUTE[] wrapTemplate() {
        return new CK_ATTRIBUTE[] {
            new CK_ATTRIBUTE(CKA_CLASS, CKO_SECRET_KEY),
            new CK_ATTRIBUTE(CKA_KEY_TYPE, CKK_AES),
            new CK_ATTRIBUTE(CKA_VALUE_LEN, 32L),
            new CK_ATTRIBUTE(CKA_LABEL, "key".toCharArray()),
            new CK_ATTRIBUTE(CKA_EXTRACTABLE, true),
        };
    }

    /** The script lines of a module that holds wrapTemplate() under `type`. */
    private static String nestedScript(long type) {
        String t = Long.toUnsignedString(type);
        return "attr=" + t + ":: nested=" + t + ":0::" + Platform.ulongHex(CKO_SECRET_KEY)
                + " nested=" + t + ":256::" + Platform.ulongHex(CKK_AES)
                + " nested=" + t + ":353::" + Platform.ulongHex(32)
                + " nested=" + t + ":3::6b6579"
                + " nested=" + t + ":354::01";
    }

    private static void assertWrapTemplate(Object value) {
        CK_ATTRIBUTE[] nested = assertInstanceOf(CK_ATTRIBUTE[].class, value);
        assertEquals(5, nested.length);
        assertEquals(CKA_CLASS, nested[0].type);
        assertEquals(Long.valueOf(CKO_SECRET_KEY), nested[0].pValue);
        assertEquals(Long.valueOf(CKK_AES), nested[1].pValue);
        assertEquals(Long.valueOf(32), nested[2].pValue);
        assertArrayEquals("key".toCharArray(), (char[]) nested[3].pValue);
        assertEquals(Boolean.TRUE, nested[4].pValue);
        assertEquals(CKA_EXTRACTABLE, nested[4].type);
    }

    // ---- templates: Java to native ----

    @Test
    void attributeArrayInATemplateReachesTheModuleAsNestedRecords() throws Exception {
        module.script("C_CreateObject", "deep=1");
        pkcs11.C_CreateObject(1, new CK_ATTRIBUTE[] {
            new CK_ATTRIBUTE(CKA_CLASS, CKO_SECRET_KEY),
            new CK_ATTRIBUTE(CKA_WRAP_TEMPLATE, wrapTemplate()),
            new CK_ATTRIBUTE(CKA_ALLOWED_MECHANISMS, new long[] {CKM_AES_CBC, HIGH | CKM_AES_KEY_WRAP}),
            new CK_ATTRIBUTE(CKA_UNWRAP_TEMPLATE, new CK_ATTRIBUTE[0]),
            new CK_ATTRIBUTE(CKA_DERIVE_TEMPLATE, new CK_ATTRIBUTE[] {new CK_ATTRIBUTE(CKA_ID, null)}),
        });
        List<Call.Attr> sent = module.last("C_CreateObject").template("pTemplate");
        Call.Attr wrap = sent.get(1);
        assertEquals(CKA_WRAP_TEMPLATE, wrap.type());
        assertEquals(5L * RECORD, wrap.len(), "the value is the records: n * sizeof(CK_ATTRIBUTE)");
        List<Call.Attr> nested = wrap.nested();
        assertEquals(5, nested.size());
        assertEquals(CKA_CLASS, nested.get(0).type());
        assertArrayEquals(Platform.ulongBytes(CKO_SECRET_KEY), nested.get(0).value());
        assertEquals(Platform.ULONG_SIZE, nested.get(0).len());
        assertArrayEquals(Platform.ulongBytes(CKK_AES), nested.get(1).value());
        assertArrayEquals(Platform.ulongBytes(32), nested.get(2).value());
        assertArrayEquals("key".getBytes(), nested.get(3).value());
        assertArrayEquals(new byte[] {1}, nested.get(4).value());

        Call.Attr mechanisms = sent.get(2);
        assertEquals(2L * Platform.ULONG_SIZE, mechanisms.len(), "a long[] is CK_MECHANISM_TYPEs, sized by CK_ULONG");
        assertArrayEquals(Platform.ulongBytes(CKM_AES_CBC, Platform.ulong(HIGH | CKM_AES_KEY_WRAP)),
                mechanisms.value());

        assertEquals(0, sent.get(3).len(), "an empty array: a valid pointer, length 0");
        assertEquals(List.of(), sent.get(3).nested());
        assertEquals(RECORD, sent.get(4).len());
        assertNull(sent.get(4).nested().get(0).value(), "a null nested value stays NULL, length 0");
        assertEquals(0, sent.get(4).nested().get(0).len());
    }

    @Test
    void everyTemplateTakesAttributeArrays() throws Exception {
        CK_ATTRIBUTE[] template = {new CK_ATTRIBUTE(CKA_UNWRAP_TEMPLATE, wrapTemplate())};
        List<String> entries = List.of("C_GenerateKey", "C_UnwrapKey", "C_DeriveKey", "C_FindObjectsInit", "C_SetAttributeValue");
        entries.forEach(entry -> module.setDefault(entry, "deep=1"));
        module.setDefault("C_GenerateKeyPair", "deep=1");
        pkcs11.C_GenerateKey(1, new CK_MECHANISM(CKM_AES_KEY_GEN), template);
        pkcs11.C_UnwrapKey(1, new CK_MECHANISM(CKM_AES_KEY_WRAP), 100, new byte[40], template);
        pkcs11.C_DeriveKey(1, new CK_MECHANISM(CKM_ECDH1_DERIVE), 100, template);
        pkcs11.C_GenerateKeyPair(1, new CK_MECHANISM(CKM_RSA_PKCS_KEY_PAIR_GEN), template, template);
        pkcs11.C_FindObjectsInit(1, template);
        pkcs11.C_SetAttributeValue(1, 100, template);
        for (String entry : entries) {
            Call.Attr sent = module.last(entry).template("pTemplate").get(0);
            assertEquals(5L * RECORD, sent.len(), entry);
            assertArrayEquals(Platform.ulongBytes(32), sent.nested().get(2).value(), entry);
        }
        Call pair = module.last("C_GenerateKeyPair");
        assertEquals(5, pair.template("pPublicKeyTemplate").get(0).nested().size());
        assertEquals(5, pair.template("pPrivateKeyTemplate").get(0).nested().size());
    }

    @Test
    void attributeArrayInAMechanismParameterTemplateMovesIntoTheMechanism() throws Exception {
        CK_DERIVED_KEY further = new CK_DERIVED_KEY(new CK_ATTRIBUTE[] {
            new CK_ATTRIBUTE(CKA_WRAP_TEMPLATE, wrapTemplate()), new CK_ATTRIBUTE(CKA_VALUE_LEN, 16L)}, 0);
        CK_SP800_108_KDF_PARAMS params = new CK_SP800_108_KDF_PARAMS(CKM_SHA256_HMAC, new CK_PRF_DATA_PARAM[] {
            new CK_PRF_DATA_PARAM(CK_SP800_108_ITERATION_VARIABLE, new CK_SP800_108_COUNTER_FORMAT(true, 16)),
        }, new CK_DERIVED_KEY[] {further});
        module.script("C_DeriveKey", "decode=CK_SP800_108_KDF_PARAMS deep=1 sp800Keys=501 handle=500");
        assertEquals(500, pkcs11.C_DeriveKey(1, new CK_MECHANISM(CKM_SP800_108_COUNTER_KDF, params), 4, null));
        assertEquals(501, further.phKey);
        List<Call.Attr> template = module.last("C_DeriveKey").template("param.pAdditionalDerivedKeys[0].pTemplate");
        assertEquals(5L * RECORD, template.get(0).len());
        assertArrayEquals(Platform.ulongBytes(32), template.get(0).nested().get(2).value());
        assertArrayEquals("key".getBytes(), template.get(0).nested().get(3).value());
        assertArrayEquals(Platform.ulongBytes(16), template.get(1).value());
    }

    @Test
    void deeperNestingAndCyclesAreRefusedBeforeTheModuleIsCalled() {
        module.clear();
        CK_ATTRIBUTE[] deeper = {new CK_ATTRIBUTE(CKA_WRAP_TEMPLATE, new CK_ATTRIBUTE[] {
            new CK_ATTRIBUTE(CKA_UNWRAP_TEMPLATE, new CK_ATTRIBUTE[] {new CK_ATTRIBUTE(CKA_CLASS, 4L)})})};
        CK_ATTRIBUTE[] cycle = new CK_ATTRIBUTE[1];
        cycle[0] = new CK_ATTRIBUTE(CKA_WRAP_TEMPLATE, cycle);
        CK_ATTRIBUTE[] indirect = new CK_ATTRIBUTE[1];
        indirect[0] = new CK_ATTRIBUTE(CKA_DERIVE_TEMPLATE, new CK_ATTRIBUTE[] {new CK_ATTRIBUTE(0x80000001L, indirect)});
        for (CK_ATTRIBUTE[] template : List.of(deeper, cycle, indirect)) {
            assertMessage(IllegalArgumentException.class, "attribute arrays nest one level only",
                    () -> pkcs11.C_CreateObject(1, template));
            assertThrows(IllegalArgumentException.class, () -> pkcs11.C_GetAttributeValue(1, 100, template));
            assertThrows(IllegalArgumentException.class,
                    () -> pkcs11.C_GenerateKey(1, new CK_MECHANISM(CKM_AES_KEY_GEN), template));
        }
        assertExactMessage(IllegalArgumentException.class, "attribute 0x40000211 in the CK_ATTRIBUTE[] value of attribute "
                + "0x40000211 holds a CK_ATTRIBUTE[] itself: attribute arrays nest one level only (an array that contains "
                + "itself is refused too)", () -> pkcs11.C_CreateObject(1, cycle));

        CK_ATTRIBUTE[] nullElement = {new CK_ATTRIBUTE(CKA_WRAP_TEMPLATE, new CK_ATTRIBUTE[] {
            new CK_ATTRIBUTE(CKA_CLASS, 4L), null})};
        assertExactMessage(NullPointerException.class, "element 1 of the CK_ATTRIBUTE[] value of attribute 0x40000211 is null",
                () -> pkcs11.C_CreateObject(1, nullElement));
        assertThrows(NullPointerException.class, () -> pkcs11.C_GetAttributeValue(1, 100, nullElement));
        CK_ATTRIBUTE[] unsupported = {new CK_ATTRIBUTE(CKA_WRAP_TEMPLATE, new CK_ATTRIBUTE[] {
            new CK_ATTRIBUTE(CKA_CLASS, 4L), new CK_ATTRIBUTE(CKA_VALUE, new short[1])})};
        PKCS11RuntimeException refused = assertThrows(PKCS11RuntimeException.class, () -> pkcs11.C_CreateObject(1, unsupported));
        assertTrue(refused.getMessage().endsWith("native PKCS#11 type: [S"), refused.getMessage());
        assertEquals(List.of(), module.calls(), "no module call");
    }

    @Test
    void attributeArrayIsNoValueOutsideTemplates() {
        // A mechanism parameter or pReserved converts by class as before: CK_ATTRIBUTE[] is none.
        assertThrows(PKCS11RuntimeException.class, () -> pkcs11.C_SignInit(1,
                new CK_MECHANISM(CKM_SHA256_HMAC, new CK_ATTRIBUTE[] {new CK_ATTRIBUTE(CKA_CLASS, 4L)}), 100));
    }

    // ---- C_GetAttributeValue: the nested protocol ----

    @Test
    void anErrorOfACallbackInTheThirdCallPrevailsOverAnExceptionInTheSecond() throws Exception {
        StackOverflowError overflow = new StackOverflowError("callback");
        long session = pkcs11.C_OpenSession(1, CKF_SERIAL_SESSION, null, (h, event, application) -> {
            if (event == 2) {
                throw overflow;
            }
            throw new IllegalStateException("callback");
        });
        module.script("C_GetAttributeValue", nestedScript(CKA_WRAP_TEMPLATE));
        module.script("C_GetAttributeValue", "notify=0 " + nestedScript(CKA_WRAP_TEMPLATE));
        module.script("C_GetAttributeValue", "notify=2 " + nestedScript(CKA_WRAP_TEMPLATE));
        CK_ATTRIBUTE[] template = {new CK_ATTRIBUTE(CKA_WRAP_TEMPLATE)};
        assertSame(overflow, assertThrows(StackOverflowError.class,
                () -> pkcs11.C_GetAttributeValue(session, 100, template)), "an Error is never dropped");
        assertEquals(3, module.calls("C_GetAttributeValue").size());
        pkcs11.C_CloseSession(session);
    }

    @Test
    void nestedAttributesAreReadInThreeCallsAndTypedByTheirTypes() throws Exception {
        module.script("C_GetAttributeValue", nestedScript(CKA_WRAP_TEMPLATE) + " attr=3::6f757465 attr="
                + Long.toUnsignedString(CKA_ALLOWED_MECHANISMS) + "::" + Platform.ulongHex(CKM_AES_CBC, 0xFFFFFFFFL) + " times=3");
        CK_ATTRIBUTE[] template = {new CK_ATTRIBUTE(CKA_LABEL), new CK_ATTRIBUTE(CKA_WRAP_TEMPLATE),
            new CK_ATTRIBUTE(CKA_ALLOWED_MECHANISMS)};
        pkcs11.C_GetAttributeValue(1, 100, template);
        assertArrayEquals("oute".toCharArray(), (char[]) template[0].pValue);
        assertEquals(CKA_WRAP_TEMPLATE, template[1].type);
        assertWrapTemplate(template[1].pValue);
        assertArrayEquals(new long[] {CKM_AES_CBC, 0xFFFFFFFFL}, (long[]) template[2].pValue,
                "CK_MECHANISM_TYPEs as a long[], zero-extended");

        List<Call> calls = module.calls("C_GetAttributeValue");
        assertEquals(3, calls.size());
        Call.Attr first = calls.get(0).template("pTemplate").get(1);
        assertNull(first.nested(), "the length query passes no records");
        assertEquals(0, first.len());
        Call.Attr second = calls.get(1).template("pTemplate").get(1);
        assertEquals(5L * RECORD, second.len());
        second.nested().forEach(record -> assertEquals(new Call.Attr(0, 0, null), record, "zero-filled records, pValue NULL"));
        Call.Attr third = calls.get(2).template("pTemplate").get(1);
        assertEquals(List.of((long) Platform.ULONG_SIZE, (long) Platform.ULONG_SIZE, (long) Platform.ULONG_SIZE, 3L, 1L),
                third.nested().stream().map(Call.Attr::len).toList(), "each nested value gets its reported room");
        assertTrue(calls.get(2).get("pTemplate").contains("{0:" + Platform.ULONG_SIZE + ":ptr,"),
                calls.get(2).get("pTemplate"));
        assertEquals(2L * Platform.ULONG_SIZE, calls.get(2).template("pTemplate").get(2).len(),
                "plain values are offered again at their full room");
    }

    @Test
    void plainTemplatesStillTakeTwoCalls() throws Exception {
        module.script("C_GetAttributeValue", "attr=3::41 times=2");
        CK_ATTRIBUTE[] template = {new CK_ATTRIBUTE(CKA_LABEL)};
        pkcs11.C_GetAttributeValue(1, 100, template);
        assertEquals(2, module.count("C_GetAttributeValue"));
        // An empty nested array: no records to ask for, the value reads null as any empty value.
        module.script("C_GetAttributeValue", "attr=" + CKA_UNWRAP_TEMPLATE + ":0: times=2");
        CK_ATTRIBUTE[] empty = {new CK_ATTRIBUTE(CKA_UNWRAP_TEMPLATE)};
        pkcs11.C_GetAttributeValue(1, 100, empty);
        assertNull(empty[0].pValue);
        assertEquals(4, module.count("C_GetAttributeValue"));
    }

    @Test
    void allowedMechanismsOfAnOddLengthComeBackAsBytes() throws Exception {
        module.script("C_GetAttributeValue", "attr=" + CKA_ALLOWED_MECHANISMS + "::0102030405 times=2");
        CK_ATTRIBUTE[] template = {new CK_ATTRIBUTE(CKA_ALLOWED_MECHANISMS)};
        pkcs11.C_GetAttributeValue(1, 100, template);
        assertArrayEquals(new byte[] {1, 2, 3, 4, 5}, (byte[]) template[0].pValue);
    }

    @Test
    void lengthThatIsNoWholeNumberOfRecordsIsNotRead() {
        module.script("C_GetAttributeValue", "attr=" + CKA_WRAP_TEMPLATE + ":" + (RECORD + 1) + ": attr=3::41 times=2");
        CK_ATTRIBUTE[] template = {new CK_ATTRIBUTE(CKA_WRAP_TEMPLATE), new CK_ATTRIBUTE(CKA_LABEL)};
        assertExactMessage(PKCS11RuntimeException.class, "C_GetAttributeValue reported " + (RECORD + 1) + " bytes for attribute "
                + "0x40000211, which holds CK_ATTRIBUTEs of " + RECORD + " bytes each; its value was not read",
                () -> pkcs11.C_GetAttributeValue(1, 100, template));
        assertNull(template[0].pValue);
        assertArrayEquals(new char[] {'A'}, (char[]) template[1].pValue, "the array is filled first");
        assertTrue(module.calls("C_GetAttributeValue").get(1).get("pTemplate").startsWith(
                "[" + Long.toUnsignedString(CKA_WRAP_TEMPLATE) + ":" + (RECORD + 1) + ":null;"), "no buffer given");
    }

    @Test
    void nestedLengthAboveItsBufferIsNotReadAndIsReported() {
        String t = Long.toUnsignedString(CKA_DERIVE_TEMPLATE);
        module.script("C_GetAttributeValue", "attr=" + t + ":: nested=" + t + ":3::6b6579 nested=" + t + ":17::0102 times=2");
        module.script("C_GetAttributeValue", "attr=" + t + ":: nested=" + t + ":3::6b6579 nested=" + t + ":17:100:0102 rv=0");
        CK_ATTRIBUTE[] template = {new CK_ATTRIBUTE(CKA_DERIVE_TEMPLATE)};
        assertExactMessage(PKCS11RuntimeException.class, "C_GetAttributeValue reported 100 bytes for attribute 0x11 nested in "
                + "attribute 0x40000213 but only 2 were allocated; its value was not read",
                () -> pkcs11.C_GetAttributeValue(1, 100, template));
        CK_ATTRIBUTE[] nested = (CK_ATTRIBUTE[]) template[0].pValue;
        assertArrayEquals("key".toCharArray(), (char[]) nested[0].pValue);
        assertEquals(CKA_VALUE, nested[1].type);
        assertNull(nested[1].pValue);

        // With an error of the module's own, the error is what the caller sees.
        module.script("C_GetAttributeValue", "attr=" + t + ":: nested=" + t + ":3::6b6579 times=2");
        module.script("C_GetAttributeValue", "attr=" + t + ":: nested=" + t + ":3:100:6b6579 rv=0x30");
        CK_ATTRIBUTE[] again = {new CK_ATTRIBUTE(CKA_DERIVE_TEMPLATE)};
        assertError(CKR_DEVICE_ERROR, () -> pkcs11.C_GetAttributeValue(1, 100, again));
        assertNull(((CK_ATTRIBUTE[]) again[0].pValue)[0].pValue);
    }

    @Test
    void countThatChangesBetweenTheCallsIsNotRead() {
        String t = Long.toUnsignedString(CKA_WRAP_TEMPLATE);
        // Two records asked for; the second call reports one.
        module.script("C_GetAttributeValue", "attr=" + t + ":: nested=" + t + ":3::41 nested=" + t + ":1::01");
        module.script("C_GetAttributeValue", "attr=" + t + ":: nested=" + t + ":3::41");
        CK_ATTRIBUTE[] template = {new CK_ATTRIBUTE(CKA_WRAP_TEMPLATE)};
        assertExactMessage(PKCS11RuntimeException.class, "C_GetAttributeValue reported " + RECORD + " bytes for attribute "
                + "0x40000211 after " + 2 * RECORD + ": the number of its nested attributes changed; its value was not read",
                () -> pkcs11.C_GetAttributeValue(1, 100, template));
        assertNull(template[0].pValue);
        assertEquals(2, module.count("C_GetAttributeValue"), "no third call for records that changed");

        // The same in the third call.
        module.clear();
        module.script("C_GetAttributeValue", "attr=" + t + ":: nested=" + t + ":3::41 nested=" + t + ":1::01 times=2");
        module.script("C_GetAttributeValue", "attr=" + t + ":" + RECORD + ": nested=" + t + ":3::41 nested=" + t + ":1::01");
        CK_ATTRIBUTE[] third = {new CK_ATTRIBUTE(CKA_WRAP_TEMPLATE)};
        assertMessage(PKCS11RuntimeException.class, "the number of its nested attributes changed",
                () -> pkcs11.C_GetAttributeValue(1, 100, third));
        assertNull(third[0].pValue);

        // A count that grows: the module, given too little room, says so itself.
        module.clear();
        module.script("C_GetAttributeValue", "attr=" + t + ":: nested=" + t + ":3::41");
        module.script("C_GetAttributeValue", "attr=" + t + ":: nested=" + t + ":3::41 nested=" + t + ":1::01");
        CK_ATTRIBUTE[] grown = {new CK_ATTRIBUTE(CKA_WRAP_TEMPLATE)};
        assertError(CKR_BUFFER_TOO_SMALL, () -> pkcs11.C_GetAttributeValue(1, 100, grown));
        assertNull(grown[0].pValue);
        assertEquals(2, module.count("C_GetAttributeValue"), "no third call after an error");

        // ... and one that lies about it with CKR_OK.
        module.clear();
        module.script("C_GetAttributeValue", "attr=" + t + ":: nested=" + t + ":3::41");
        module.script("C_GetAttributeValue", "attr=" + t + ":" + 3 * RECORD + ": nested=" + t + ":3::41 rv=0");
        CK_ATTRIBUTE[] lying = {new CK_ATTRIBUTE(CKA_WRAP_TEMPLATE)};
        assertMessage(PKCS11RuntimeException.class, "the number of its nested attributes changed",
                () -> pkcs11.C_GetAttributeValue(1, 100, lying));
    }

    @Test
    void unavailableLengthsReadNull() throws Exception {
        String t = Long.toUnsignedString(CKA_WRAP_TEMPLATE);
        module.script("C_GetAttributeValue", "attr=" + t + ":: nested=" + t + ":3:unavail:41 nested=" + t
                + ":0::" + Platform.ulongHex(CKO_SECRET_KEY) + " times=3");
        CK_ATTRIBUTE[] template = {new CK_ATTRIBUTE(CKA_WRAP_TEMPLATE)};
        pkcs11.C_GetAttributeValue(1, 100, template);
        CK_ATTRIBUTE[] nested = (CK_ATTRIBUTE[]) template[0].pValue;
        assertEquals(CKA_LABEL, nested[0].type);
        assertNull(nested[0].pValue);
        assertEquals(Long.valueOf(CKO_SECRET_KEY), nested[1].pValue);
        assertTrue(module.calls("C_GetAttributeValue").get(2).get("pTemplate").contains(
                "{3:" + Long.toUnsignedString(Platform.ALL_BITS) + ":null,"), "no buffer for an impossible length");

        module.script("C_GetAttributeValue", "attr=" + t + ":unavail times=2");
        CK_ATTRIBUTE[] top = {new CK_ATTRIBUTE(CKA_WRAP_TEMPLATE)};
        pkcs11.C_GetAttributeValue(1, 100, top);
        assertNull(top[0].pValue);
    }

    @Test
    void thirdCallThatWritesNothingHandsOutNoStrayBytes() throws Exception {
        module.script("C_GetAttributeValue", nestedScript(CKA_WRAP_TEMPLATE) + " times=2");
        module.script("C_GetAttributeValue", "nowrite=1 rv=0x30");
        CK_ATTRIBUTE[] template = {new CK_ATTRIBUTE(CKA_WRAP_TEMPLATE)};
        assertError(CKR_DEVICE_ERROR, () -> pkcs11.C_GetAttributeValue(1, 100, template));
        CK_ATTRIBUTE[] nested = (CK_ATTRIBUTE[]) template[0].pValue;
        assertEquals(5, nested.length, "the types of the second call");
        assertEquals(Long.valueOf(0), nested[0].pValue, "zero-filled, never stray bytes");
        assertArrayEquals(new char[3], (char[]) nested[3].pValue);
        assertEquals(Boolean.FALSE, nested[4].pValue);

        // An error in the second call: no third call, types without values.
        module.script("C_GetAttributeValue", nestedScript(CKA_WRAP_TEMPLATE));
        module.script("C_GetAttributeValue", nestedScript(CKA_WRAP_TEMPLATE) + " rv=0x30");
        CK_ATTRIBUTE[] second = {new CK_ATTRIBUTE(CKA_WRAP_TEMPLATE)};
        assertThrows(PKCS11Exception.class, () -> pkcs11.C_GetAttributeValue(1, 100, second));
        nested = (CK_ATTRIBUTE[]) second[0].pValue;
        assertEquals(CKA_VALUE_LEN, nested[2].type);
        assertNull(nested[2].pValue);
    }

    @Test
    void templateWithAnArrayValueAsksForItsLength() throws Exception {
        module.script("C_GetAttributeValue", nestedScript(CKA_WRAP_TEMPLATE) + " times=3");
        CK_ATTRIBUTE[] template = {new CK_ATTRIBUTE(CKA_WRAP_TEMPLATE, new CK_ATTRIBUTE[2])};
        // Only the types are asked for, but the value is refused as in any template: null elements.
        assertThrows(NullPointerException.class, () -> pkcs11.C_GetAttributeValue(1, 100, template));
        template[0].pValue = wrapTemplate();
        pkcs11.C_GetAttributeValue(1, 100, template);
        assertWrapTemplate(template[0].pValue);
        assertEquals(5L * RECORD, module.calls("C_GetAttributeValue").get(0).template("pTemplate").get(0).len());
    }

    @Test
    void attributeToStringShowsNestedAttributes() {
        CK_ATTRIBUTE attribute = new CK_ATTRIBUTE(CKA_WRAP_TEMPLATE, new CK_ATTRIBUTE[] {
            new CK_ATTRIBUTE(CKA_CLASS, CKO_SECRET_KEY), new CK_ATTRIBUTE(CKA_VALUE_LEN, 32L)});
        assertEquals("CKA_WRAP_TEMPLATE = [CKA_CLASS = CKO_SECRET_KEY, CKA_VALUE_LEN = 32]", attribute.toString());
        CK_ATTRIBUTE[] cycle = new CK_ATTRIBUTE[1];
        cycle[0] = new CK_ATTRIBUTE(CKA_WRAP_TEMPLATE, cycle);
        assertEquals("CKA_WRAP_TEMPLATE = [CKA_WRAP_TEMPLATE = [...]]", cycle[0].toString());
        assertArrayEquals(new CK_ATTRIBUTE[] {attribute}, new CK_ATTRIBUTE[] {attribute});
    }
}
