package zandrop.tesk.pkcs11.vorlen.api;

import static org.junit.jupiter.api.Assertions.assertAll;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertSame;

import org.junit.jupiter.api.Test;

class PKCS11ExceptionTest {

    private static String message(long code) {
        return new PKCS11Exception(code).getMessage();
    }

    @Test
    void namesStandardReturnValues() {
        assertAll(
                () -> assertEquals("CKR_OK (0x00000000)", message(0x0L)),
                () -> assertEquals("CKR_PIN_INCORRECT (0x000000A0)", message(0xA0L)),
                () -> assertEquals("CKR_MUTEX_BAD (0x000001A0)", message(0x1A0L)),
                () -> assertEquals("CKR_VENDOR_DEFINED (0x80000000)", message(0x80000000L)));
    }

    @Test
    void showsVendorDefinedCodesAsOffsets() {
        assertAll(
                () -> assertEquals("CKR_VENDOR_DEFINED+0x00000001 (0x80000001)", message(0x80000001L)),
                () -> assertEquals("CKR_VENDOR_DEFINED+0x7FFFFFFF (0xFFFFFFFF)", message(0xFFFFFFFFL)),
                // A 64-bit CK_RV may exceed 32 bits; it is still in the vendor range, never negative.
                () -> assertEquals("CKR_VENDOR_DEFINED+0x80000000 (0x100000000)", message(0x100000000L)));
    }

    @Test
    void callsUnnamedCodesUnknown() {
        assertAll(
                () -> assertEquals("unknown return value (0x00000FFF)", message(0xFFFL)),
                // 4 lies in a gap between CKR_SLOT_ID_INVALID and CKR_GENERAL_ERROR.
                () -> assertEquals("unknown return value (0x00000004)", message(0x4L)));
    }

    @Test
    void keepsTheCodeUnsignedWithAndWithoutCause() {
        Throwable cause = new IllegalStateException("callback failed");
        PKCS11Exception withCause = new PKCS11Exception(0xFFFFFFFFL, cause);
        assertAll(
                () -> assertEquals(4294967295L, new PKCS11Exception(0xFFFFFFFFL).getErrorCode()),
                () -> assertEquals(4294967295L, withCause.getErrorCode()),
                () -> assertSame(cause, withCause.getCause()),
                () -> assertEquals(message(0xFFFFFFFFL), withCause.getMessage()));
    }
}
