package zandrop.tesk.pkcs11.vorlen.api;

import static org.junit.jupiter.api.Assertions.assertAll;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertSame;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static zandrop.tesk.pkcs11.vorlen.api.ConnectedToTestModule.assertExactMessage;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.*;

import org.junit.jupiter.api.Test;

class CK_ATTRIBUTETest {

    @Test
    void accessorsReturnTheValueOfTheirClass() {
        char[] label = "key".toCharArray();
        byte[] id = {1, 2};
        CK_DATE date = new CK_DATE();
        assertAll(
                () -> assertEquals(4L, new CK_ATTRIBUTE(CKA_CLASS, 4L).getLong()),
                () -> assertEquals(Boolean.TRUE, new CK_ATTRIBUTE(CKA_TOKEN, true).getBoolean()),
                () -> assertSame(label, new CK_ATTRIBUTE(CKA_LABEL, label).getCharArray()),
                () -> assertSame(id, new CK_ATTRIBUTE(CKA_ID, id).getByteArray()),
                () -> assertSame(date, new CK_ATTRIBUTE(CKA_START_DATE, date).getDate()));
    }

    @Test
    void accessorsReturnNullWithoutValue() {
        CK_ATTRIBUTE attribute = new CK_ATTRIBUTE(CKA_LABEL);
        assertAll(
                () -> assertNull(attribute.getLong()),
                () -> assertNull(attribute.getBoolean()),
                () -> assertNull(attribute.getByteArray()),
                () -> assertNull(attribute.getCharArray()),
                () -> assertNull(attribute.getDate()));
    }

    @Test
    void accessorOfTheWrongClassNamesTheAttributeAndBothClasses() {
        CK_ATTRIBUTE label = new CK_ATTRIBUTE(CKA_LABEL, "key".toCharArray());
        assertExactMessage(ClassCastException.class, "The value of CKA_LABEL is a char[], not a java.lang.Long", label::getLong);

        // An Integer is a valid value to pass, but reading it as a Long is a type error.
        CK_ATTRIBUTE length = new CK_ATTRIBUTE(CKA_VALUE_LEN, 16);
        assertExactMessage(ClassCastException.class, "The value of CKA_VALUE_LEN is a java.lang.Integer, not a java.lang.Long",
                length::getLong);

        CK_ATTRIBUTE id = new CK_ATTRIBUTE(CKA_ID, new byte[] {1});
        assertThrows(ClassCastException.class, id::getCharArray);
        assertThrows(ClassCastException.class, id::getBoolean);
    }
}
