package zandrop.tesk.pkcs11.vorlen.token;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.util.Map;

import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;

import zandrop.tesk.pkcs11.vorlen.api.CK_INFO;
import zandrop.tesk.pkcs11.vorlen.api.CK_SLOT_INFO;
import zandrop.tesk.pkcs11.vorlen.api.CK_TOKEN_INFO;
import zandrop.tesk.pkcs11.vorlen.api.CK_VERSION;
import zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants;

/**
 * PKCS#11 URIs without a module: what the parser refuses and why, values kept byte for byte,
 * formatting that parses back, and matching against padded records. RealUriTest compares the
 * class with libp11-kit and p11tool.
 */
class Pkcs11UriTest {

    @ParameterizedTest(name = "{0}")
    @CsvSource(delimiter = '|', value = {
        "http://x                     | must begin with \"pkcs11:\"",
        "pkcs11:token                 | without '='",
        "pkcs11:token=a;              | without '='",
        "pkcs11:;token=a              | without '='",
        "pkcs11:=a                    | malformed attribute name",
        "pkcs11:tok%65n=a             | malformed attribute name",
        "pkcs11:token=%4              | malformed percent-encoding",
        "pkcs11:id=%zz                | malformed percent-encoding",
        "pkcs11:id=%\uFF10\uFF10          | malformed percent-encoding",
        "pkcs11:token=a b             | ' ' at index 14",
        "pkcs11:token=a/b             | '/' at index 14 of \"pkcs11:token=a/b\" must be percent-encoded in the path",
        "pkcs11:?pin-source=a;b       | ';' at index 20",
        "pkcs11:token=a;token=b       | token is given twice",
        "pkcs11:?module-name=a&module-name=b | module-name is given twice",
        "pkcs11:module-path=x         | belongs in the query",
        "pkcs11:?token=a              | belongs in the path",
        "pkcs11:type=key              | type=key is none of",
        "pkcs11:slot-id=-1            | slot-id=-1 is not",
        "pkcs11:slot-id=18446744073709551616 | is not a decimal slot number",
        "pkcs11:library-version=256   | library-version=256 is not",
        "pkcs11:library-version=1.2.3 | library-version=1.2.3 is not",
        "pkcs11:token=a;x?pin-value=s3cr3t | without '='",
    })
    void malformedUrisAreRefusedWithTheReason(String text, String reason) {
        IllegalArgumentException e = assertThrows(IllegalArgumentException.class, () -> Pkcs11Uri.parse(text));
        assertTrue(e.getMessage().contains(reason), e.getMessage());
        assertFalse(e.getMessage().contains("s3cr3t"), "the PIN stays out of the message: " + e.getMessage());
    }

    @Test
    void valuesAreKeptByteForByteAndFormatBackToAnEqualUri() {
        Pkcs11Uri uri = Pkcs11Uri.parse("PKCS11:token=L%C3%A9%e9%20~&x;id=%00%FF%41;type=secret-key;slot-id=18446744073709551615"
                + ";x-vendor=v%3B?pin-source=file:/p%7C|q&x-q=a/b?c");
        assertEquals("L\u00e9\ufffd ~&x", uri.token(), "UTF-8 text, a byte that is none read as a replacement");
        assertArrayEquals(new byte[] {0, -1, 0x41}, uri.id());
        assertEquals(PKCS11Constants.CKO_SECRET_KEY, uri.objectClass());
        assertEquals(-1L, uri.slotId(), "an unsigned CK_SLOT_ID");
        assertEquals(Map.of("x-vendor", "v;"), uri.vendorPathAttributes());
        assertEquals(Map.of("x-q", "a/b?c"), uri.vendorQueryAttributes());
        assertEquals("file:/p||q", uri.pinSource());
        assertNull(uri.pinValue());
        assertEquals("pkcs11:slot-id=18446744073709551615;token=L%C3%A9%E9%20%7E%26x;id=%00%FF%41;type=secret-key"
                + ";x-vendor=v%3B?pin-source=file%3A/p%7C%7Cq&x-q=a%2Fb%3Fc", uri.toString());
        assertEquals(uri, Pkcs11Uri.parse(uri.toString()));
        assertEquals(uri.hashCode(), Pkcs11Uri.parse(uri.toString()).hashCode());
        assertNotEquals(uri, uri.toBuilder().id(new byte[] {0, -1}).build());
        assertFalse(uri.matchesObject(PKCS11Constants.CKO_SECRET_KEY, "x", new byte[] {0, -1, 0x41}),
                "an unknown path attribute is a condition that cannot be checked");
        assertEquals("pkcs11:", Pkcs11Uri.parse("pkcs11:").toString());
        assertEquals("pkcs11:token=", Pkcs11Uri.parse("pkcs11:token=").toString(), "an empty label is a value");
    }

    @Test
    void builderChecksValuesAndCopiesArrays() {
        byte[] id = {1, 2};
        Pkcs11Uri.Builder builder = Pkcs11Uri.builder().id(id).object("k").type("private").libraryVersion(2, 255);
        id[0] = 9;
        Pkcs11Uri uri = builder.build();
        uri.id()[1] = 9;
        assertArrayEquals(new byte[] {1, 2}, uri.id());
        assertEquals("pkcs11:library-version=2.255;id=%01%02;object=k;type=private?module-path=/usr/lib/a%20b.so",
                uri.toBuilder().modulePath("/usr/lib/a b.so").build().toString());
        assertThrows(IllegalArgumentException.class, () -> Pkcs11Uri.builder().type("key"));
        assertThrows(IllegalArgumentException.class, () -> Pkcs11Uri.builder().libraryVersion(256, 0));
        assertThrows(IllegalArgumentException.class, () -> Pkcs11Uri.builder().vendorAttribute(false, "token", "a"));
        assertThrows(IllegalArgumentException.class, () -> Pkcs11Uri.builder().vendorAttribute(true, "x q", "a"));
        assertNull(uri.toBuilder().type(null).build().type());
    }

    @Test
    void matchingComparesPaddedRecordFieldsAndObjectAttributes() {
        CK_TOKEN_INFO token = new CK_TOKEN_INFO();
        token.label = padded("L\u00c3\u00a9 x", 32); // the UTF-8 bytes of "Lé x", one char each
        token.manufacturerID = padded("SoftHSM project", 32);
        token.model = padded("SoftHSM v2", 16);
        token.serialNumber = padded("4ab64ce21369b3f9", 16);
        Pkcs11Uri forToken = Pkcs11Uri.forToken(token);
        assertEquals("pkcs11:model=SoftHSM%20v2;manufacturer=SoftHSM%20project;serial=4ab64ce21369b3f9;token=L%C3%A9%20x",
                forToken.toString());
        assertEquals("L\u00e9 x", forToken.token());
        assertTrue(forToken.matchesToken(token));
        assertTrue(Pkcs11Uri.parse("pkcs11:token=L%C3%A9%20x%20%20").matchesToken(token), "padding on either side");
        assertTrue(Pkcs11Uri.parse("pkcs11:object=x").matchesToken(token), "no token attribute: every token");
        assertFalse(Pkcs11Uri.parse("pkcs11:token=L%C3%A9").matchesToken(token));
        assertFalse(Pkcs11Uri.parse("pkcs11:serial=4ab64ce21369b3f8").matchesToken(token));

        Pkcs11Uri key = forToken.withObject(PKCS11Constants.CKO_PRIVATE_KEY, "k\u00e9", new byte[] {7});
        assertEquals(forToken + ";id=%07;object=k%C3%A9;type=private", key.toString());
        assertTrue(key.matchesObject(PKCS11Constants.CKO_PRIVATE_KEY, "k\u00e9", new byte[] {7}));
        assertFalse(key.matchesObject(PKCS11Constants.CKO_PUBLIC_KEY, "k\u00e9", new byte[] {7}));
        assertFalse(key.matchesObject(PKCS11Constants.CKO_PRIVATE_KEY, null, new byte[] {7}));
        assertFalse(key.matchesObject(PKCS11Constants.CKO_PRIVATE_KEY, "k\u00e9", null));
        assertEquals(forToken.toString(), key.withObject(PKCS11Constants.CKO_HW_FEATURE, null, null).toString(),
                "a class without a type, and no label or id, leave the object attributes out");

        CK_SLOT_INFO slot = new CK_SLOT_INFO();
        slot.slotDescription = padded("SoftHSM slot ID 0x1", 64);
        slot.manufacturerID = padded("SoftHSM project", 32);
        Pkcs11Uri forSlot = Pkcs11Uri.forSlot(0xFFFFFFFFL, slot);
        assertEquals("pkcs11:slot-description=SoftHSM%20slot%20ID%200x1;slot-manufacturer=SoftHSM%20project"
                + ";slot-id=4294967295", forSlot.toString());
        assertTrue(forSlot.matchesSlot(0xFFFFFFFFL, slot));
        assertFalse(forSlot.matchesSlot(1, slot));

        CK_INFO module = new CK_INFO();
        module.manufacturerID = padded("SoftHSM", 32);
        module.libraryDescription = padded("Implementation of PKCS11", 32);
        module.libraryVersion = new CK_VERSION(2, 6);
        Pkcs11Uri forModule = Pkcs11Uri.forModule(module);
        assertEquals("pkcs11:library-description=Implementation%20of%20PKCS11;library-manufacturer=SoftHSM"
                + ";library-version=2.6", forModule.toString());
        assertTrue(forModule.matchesModule(module));
        assertTrue(Pkcs11Uri.parse("pkcs11:library-version=2.6").matchesModule(module));
        assertFalse(Pkcs11Uri.parse("pkcs11:library-version=2").matchesModule(module), "\"2\" is 2.0");
    }

    private static char[] padded(String text, int width) {
        return (text + " ".repeat(width - text.length())).toCharArray();
    }
}
