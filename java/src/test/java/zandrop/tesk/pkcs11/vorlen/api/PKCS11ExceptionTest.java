package zandrop.tesk.pkcs11.vorlen.api;

import static org.junit.jupiter.api.Assertions.assertAll;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertSame;

import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;

class PKCS11ExceptionTest {

    /** Standard return values by name, vendor-defined codes as offsets, unnamed codes as unknown. */
    @ParameterizedTest(name = "{0}: {1}")
    @CsvSource(delimiter = '|', textBlock = """
            0x0         | CKR_OK (0x00000000)
            0xA0        | CKR_PIN_INCORRECT (0x000000A0)
            0x1A0       | CKR_MUTEX_BAD (0x000001A0)
            0x80000000  | CKR_VENDOR_DEFINED (0x80000000)
            0x80000001  | CKR_VENDOR_DEFINED+0x00000001 (0x80000001)
            0xFFFFFFFF  | CKR_VENDOR_DEFINED+0x7FFFFFFF (0xFFFFFFFF)
            # A 64-bit CK_RV may exceed 32 bits; it is still in the vendor range, never negative.
            0x100000000 | CKR_VENDOR_DEFINED+0x80000000 (0x100000000)
            0xFFF       | unknown return value (0x00000FFF)
            # 4 lies in a gap between CKR_SLOT_ID_INVALID and CKR_GENERAL_ERROR.
            0x4         | unknown return value (0x00000004)
            """)
    void namesTheCodeInTheMessage(String code, String message) {
        assertEquals(message, new PKCS11Exception(Long.decode(code)).getMessage());
    }

    @Test
    void keepsTheCodeUnsignedWithAndWithoutCause() {
        Throwable cause = new IllegalStateException("callback failed");
        PKCS11Exception withCause = new PKCS11Exception(0xFFFFFFFFL, cause);
        assertAll(
                () -> assertEquals(4294967295L, new PKCS11Exception(0xFFFFFFFFL).getErrorCode()),
                () -> assertEquals(4294967295L, withCause.getErrorCode()),
                () -> assertSame(cause, withCause.getCause()),
                () -> assertEquals(new PKCS11Exception(0xFFFFFFFFL).getMessage(), withCause.getMessage()));
    }
}
