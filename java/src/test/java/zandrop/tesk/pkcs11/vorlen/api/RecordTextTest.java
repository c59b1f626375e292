package zandrop.tesk.pkcs11.vorlen.api;

import static org.junit.jupiter.api.Assertions.assertAll;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.*;

import org.junit.jupiter.api.Test;

/** The text of the records and parameters, as log lines and debuggers show it. */
class RecordTextTest {

    @Test
    void tokenInfoTrimsPaddingInTextOnlyAndNamesSpecialCounts() {
        CK_TOKEN_INFO info = new CK_TOKEN_INFO();
        info.label = Platform.padded("My token", 32, ' ');
        info.manufacturerID = Platform.padded("Maker", 32, '\0');
        info.model = Platform.padded("M 1", 16, ' ');
        info.serialNumber = Platform.padded("  42", 16, ' ');   // leading blanks are data
        info.flags = 0x40DL;
        info.ulMaxSessionCount = CK_EFFECTIVELY_INFINITE;
        info.ulSessionCount = 0xFFFFFFFFL;   // CK_UNAVAILABLE_INFORMATION from a 32-bit CK_ULONG
        info.ulMaxRwSessionCount = 16;
        info.ulRwSessionCount = -1L;         // the same marker from a 64-bit CK_ULONG
        info.ulMaxPinLen = 64;
        info.ulMinPinLen = 4;
        info.ulTotalPublicMemory = 3_000_000_000L;
        info.hardwareVersion = new CK_VERSION(1, 2);
        info.firmwareVersion = new CK_VERSION(200, 0);
        info.utcTime = Platform.padded("", 16, ' ');

        String text = info.toString();

        assertAll(
                () -> assertTrue(text.startsWith("CK_TOKEN_INFO[label=My token, manufacturerID=Maker, "
                        + "model=M 1, serialNumber=  42, flags=0x0000040D (CKF_RNG|CKF_LOGIN_REQUIRED|"
                        + "CKF_USER_PIN_INITIALIZED|CKF_TOKEN_INITIALIZED), "), text),
                () -> assertTrue(text.contains("ulMaxSessionCount=CK_EFFECTIVELY_INFINITE, "
                        + "ulSessionCount=CK_UNAVAILABLE_INFORMATION, ulMaxRwSessionCount=16, "
                        + "ulRwSessionCount=CK_UNAVAILABLE_INFORMATION, ulMaxPinLen=64, ulMinPinLen=4, "
                        + "ulTotalPublicMemory=3000000000, "), text),
                () -> assertTrue(text.endsWith("hardwareVersion=1.2, firmwareVersion=200.0, utcTime=]"),
                        text),
                // The fields keep every padding character.
                () -> assertEquals(32, info.label.length),
                () -> assertEquals(' ', info.label[31]),
                () -> assertEquals('\0', info.manufacturerID[5]));
    }

    @Test
    void versionsReadTheirBytesUnsigned() {
        assertAll(
                () -> assertEquals("2.40", new CK_VERSION(2, 40).toString()),
                () -> assertEquals("255.128", new CK_VERSION(0xFF, 0x80).toString()),
                () -> assertEquals((byte) 200, new CK_VERSION(200, 0).major),
                () -> assertThrows(IllegalArgumentException.class, () -> new CK_VERSION(256, 0)),
                () -> assertThrows(IllegalArgumentException.class, () -> new CK_VERSION(0, -1)));
    }

    @Test
    void otherRecordsShowFlagsInHexWithTheirNamesAndStatesByName() {
        CK_SESSION_INFO session = new CK_SESSION_INFO();
        session.slotID = 0xFFFFFFFFL;
        session.state = CKS_RW_USER_FUNCTIONS;
        session.flags = CKF_RW_SESSION | CKF_SERIAL_SESSION;
        CK_MECHANISM_INFO mechanism = new CK_MECHANISM_INFO();
        mechanism.ulMinKeySize = 1024;
        mechanism.ulMaxKeySize = 4096;
        mechanism.flags = CKF_SIGN | CKF_VERIFY;
        CK_DATE empty = new CK_DATE(new char[4], new char[2], new char[2]);
        assertAll(
                () -> assertEquals("CK_SESSION_INFO[slotID=4294967295, state=CKS_RW_USER_FUNCTIONS, "
                        + "flags=0x00000006 (CKF_RW_SESSION|CKF_SERIAL_SESSION), ulDeviceError=0x00000000]",
                        session.toString()),
                () -> assertEquals("CK_MECHANISM_INFO[ulMinKeySize=1024, ulMaxKeySize=4096, "
                        + "flags=0x00002800 (CKF_SIGN|CKF_VERIFY)]", mechanism.toString()),
                () -> assertEquals("CK_DATE[2004-07-01]", new CK_DATE("2004".toCharArray(),
                        "07".toCharArray(), "01".toCharArray()).toString()),
                () -> assertEquals("CK_DATE[empty]", empty.toString()));
    }

    @Test
    void attributesShowTypesByNameAndHideSecrets() {
        byte[] key = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, (byte) 0x88};
        assertAll(
                () -> assertEquals("CKA_CLASS = CKO_SECRET_KEY",
                        new CK_ATTRIBUTE(CKA_CLASS, CKO_SECRET_KEY).toString()),
                () -> assertEquals("CKA_LABEL = \"signing key\"",
                        new CK_ATTRIBUTE(CKA_LABEL, Platform.padded("signing key", 32, ' ')).toString()),
                () -> assertEquals("CKA_ID = 01FF", new CK_ATTRIBUTE(CKA_ID,
                        new byte[] {0x01, (byte) 0xFF}).toString()),
                () -> assertEquals("CKA_VALUE_LEN = CK_UNAVAILABLE_INFORMATION",
                        new CK_ATTRIBUTE(CKA_VALUE_LEN, 0xFFFFFFFFL).toString()),
                () -> assertEquals("CKA_VALUE = (8 bytes, hidden)",
                        new CK_ATTRIBUTE(CKA_VALUE, key).toString()),
                () -> assertEquals("CKA_VENDOR_DEFINED+0x00000001 = null",
                        new CK_ATTRIBUTE(0x80000001L).toString()));
    }

    @Test
    void mechanismsAndParametersShowBytesInHexAndHidePasswords() {
        CK_MECHANISM cbc = new CK_MECHANISM(CKM_AES_CBC_PAD, new byte[] {0x00, 0x0A, (byte) 0xBC});
        CK_PBE_PARAMS pbe = new CK_PBE_PARAMS(new char[8], "secret".toCharArray(),
                new char[] {0x1F, 0x141}, 2048);
        String pbeText = new CK_MECHANISM(CKM_PBE_SHA1_DES3_EDE_CBC, pbe).toString();
        byte[] longData = new byte[100];
        assertAll(
                () -> assertEquals("CK_MECHANISM[mechanism=CKM_AES_CBC_PAD, pParameter=000ABC]", cbc.toString()),
                () -> assertEquals("CK_MECHANISM[mechanism=CKM_SHA256]",
                        new CK_MECHANISM(CKM_SHA256).toString()),
                () -> assertTrue(pbeText.startsWith("CK_MECHANISM[mechanism=CKM_PBE_SHA1_DES3_EDE_CBC, "
                        + "pParameter=CK_PBE_PARAMS[pInitVector=0000000000000000, "
                        + "pPassword=(6 chars, hidden), pSalt=1F41, ulIteration=2048]"), pbeText),
                () -> assertFalse(pbeText.contains("secret"), pbeText),
                () -> assertEquals("0".repeat(2 * Format.MAX_BYTES_SHOWN) + "...(100 bytes)",
                        Format.hex(longData)));
    }
}
