package zandrop.tesk.pkcs11.vorlen.api;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.*;

import org.junit.jupiter.api.Test;

/**
 * readAttributeValues: every readable value in one read, each unreadable one with its own
 * reason, against modules that answer by the standard and modules that lie.
 */
class LenientReadTest extends ConnectedToTestModule {
    private static final String CLASS_SECRET = "attr=0::" + Platform.ulongHex(CKO_SECRET_KEY);

    @Test
    void oneFailedAttributeTakesTheCallsReasonWithoutAskingAgain() throws Exception {
        module.script("C_GetAttributeValue", CLASS_SECRET + " attr=3::6b31 attr=17:unavail: rv=0x11 times=2");
        CK_ATTRIBUTE[] t = template(CKA_CLASS, CKA_LABEL, CKA_VALUE);
        long[] outcomes = pkcs11.readAttributeValues(1, 100, t);
        assertArrayEquals(new long[] {0, 0, CKR_ATTRIBUTE_SENSITIVE}, outcomes);
        assertEquals(Long.valueOf(CKO_SECRET_KEY), t[0].pValue);
        assertArrayEquals("k1".toCharArray(), (char[]) t[1].pValue);
        assertNull(t[2].pValue);
        assertEquals(2, module.count("C_GetAttributeValue"), "lengths and values: two module calls");
    }

    @Test
    void severalFailedAttributesAreEachAskedForAlone() throws Exception {
        // One call says "sensitive" for two attributes; alone, one of them is unknown.
        String first = CLASS_SECRET + " attr=17:unavail: rv=0x11";
        module.script("C_GetAttributeValue", first);
        module.script("C_GetAttributeValue", "attr=17:unavail: rv=0x11");   // CKA_VALUE alone
        module.script("C_GetAttributeValue", CLASS_SECRET);                   // CKA_MODULUS alone: unscripted
        module.script("C_GetAttributeValue", first);
        CK_ATTRIBUTE[] t = template(CKA_CLASS, CKA_VALUE, CKA_MODULUS);
        long[] outcomes = pkcs11.readAttributeValues(1, 100, t);
        assertArrayEquals(new long[] {0, CKR_ATTRIBUTE_SENSITIVE, CKR_ATTRIBUTE_TYPE_INVALID}, outcomes);
        assertEquals(Long.valueOf(CKO_SECRET_KEY), t[0].pValue);
        assertEquals(4, module.count("C_GetAttributeValue"));
        assertEquals(1, module.calls("C_GetAttributeValue").get(2).template("pTemplate").size());
    }

    @Test
    void lyingModulesGiveOutcomesNotValuesNorExceptions() throws Exception {
        // The second call reports more bytes than the first asked room for, with CKR_OK.
        module.script("C_GetAttributeValue", CLASS_SECRET + " attr=3::6b31");
        module.script("C_GetAttributeValue", CLASS_SECRET + " attr=3:100:6b31 rv=0");
        CK_ATTRIBUTE[] t = template(CKA_CLASS, CKA_LABEL);
        long[] outcomes = pkcs11.readAttributeValues(1, 100, t);
        assertArrayEquals(new long[] {0, CKR_BUFFER_TOO_SMALL}, outcomes);
        assertNull(t[1].pValue);

        // CKR_OK with an unavailable length, and a length no Java array can hold.
        module.script("C_GetAttributeValue", CLASS_SECRET + " attr=3:unavail: attr=17:0x7fffffffffff:00 rv=0 times=2");
        t = template(CKA_CLASS, CKA_LABEL, CKA_VALUE);
        outcomes = pkcs11.readAttributeValues(1, 100, t);
        assertEquals(0, outcomes[0]);
        assertTrue(isUnavailable(outcomes[1]), Long.toHexString(outcomes[1]));
        assertTrue(isUnavailable(outcomes[2]), Long.toHexString(outcomes[2]));
        assertNull(t[2].pValue);
    }

    @Test
    void callbacksThatThrowYieldToTheAnswersButErrorsDoNot() throws Exception {
        StackOverflowError overflow = new StackOverflowError("callback");
        long session = pkcs11.C_OpenSession(1, CKF_SERIAL_SESSION, null, (h, event, application) -> {
            if (event == 2) {
                throw overflow;
            }
            throw new IllegalStateException("callback");
        });
        String step = CLASS_SECRET + " attr=17:unavail: rv=0x11";
        for (String notify : new String[] {"notify=0 ", ""}) {  // in the lengths' call, then the values'
            module.script("C_GetAttributeValue", notify + step);
            module.script("C_GetAttributeValue", (notify.isEmpty() ? "notify=0 " : "") + step);
            long[] outcomes = pkcs11.readAttributeValues(session, 100, template(CKA_CLASS, CKA_VALUE));
            assertArrayEquals(new long[] {0, CKR_ATTRIBUTE_SENSITIVE}, outcomes, "an Exception yields to the answer");
        }
        module.script("C_GetAttributeValue", "notify=2 " + step);
        assertThrows(StackOverflowError.class,
                () -> pkcs11.readAttributeValues(session, 100, template(CKA_CLASS, CKA_VALUE)));
        module.script("C_GetAttributeValue", step);
        module.script("C_GetAttributeValue", "notify=2 " + step);
        assertThrows(StackOverflowError.class,
                () -> pkcs11.readAttributeValues(session, 100, template(CKA_CLASS, CKA_VALUE)));
        pkcs11.C_CloseSession(session);
    }

    @Test
    void otherErrorsThrowAsTheStrictRead() {
        module.script("C_GetAttributeValue", "rv=0x82");
        assertError(CKR_OBJECT_HANDLE_INVALID, () -> pkcs11.readAttributeValues(1, 100, template(CKA_CLASS)));
        module.script("C_GetAttributeValue", CLASS_SECRET);
        module.script("C_GetAttributeValue", "rv=0x82");
        assertError(CKR_OBJECT_HANDLE_INVALID, () -> pkcs11.readAttributeValues(1, 100, template(CKA_CLASS)));
        assertThrows(NullPointerException.class,
                () -> pkcs11.readAttributeValues(1, 100, new CK_ATTRIBUTE[] {null}));
        assertEquals(0, module.count("C_GetAttributeValue") - 3, "a null element: the module is not called");
    }
}
