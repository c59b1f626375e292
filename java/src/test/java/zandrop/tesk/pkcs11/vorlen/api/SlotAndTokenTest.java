package zandrop.tesk.pkcs11.vorlen.api;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.*;

import java.nio.charset.StandardCharsets;
import java.util.Arrays;
import java.util.List;

import org.junit.jupiter.api.Test;

import zandrop.tesk.pkcs11.vorlen.testmodule.Call;

/** The general-purpose, slot and token functions, and the information records they return. */
class SlotAndTokenTest extends ConnectedToTestModule {
    @Test
    void infoRecordKeepsEveryCharacterAndReadsVersionBytesUnchanged() throws Exception {
        module.script("C_GetInfo", "manufacturerID=txt:Vorlen libraryDescription=41004243"
                + " cryptokiVersion.major=2 cryptokiVersion.minor=40 libraryVersion.major=1"
                + " libraryVersion.minor=200 flags=0x80000001");
        CK_INFO info = pkcs11.C_GetInfo();
        assertArrayEquals(Platform.padded("Vorlen", 32, ' '), info.manufacturerID, "blank-padded, untrimmed");
        assertEquals(32, info.libraryDescription.length);
        assertArrayEquals(new char[] {'A', '\0', 'B', 'C'}, Arrays.copyOf(info.libraryDescription, 4),
                "a zero byte inside a label is kept, and the bytes after it");
        assertEquals("2.40", info.cryptokiVersion.toString());
        assertEquals(-56, info.libraryVersion.minor, "a byte of 200 reads as -56");
        assertEquals(0x80000001L, info.flags, "flags zero-extended");
    }

    @Test
    void tokenInfoFieldsInFullWidth() throws Exception {
        module.script("C_GetTokenInfo", "label=txt:Token serialNumber=c3a9 ulMaxSessionCount=" + Long.toUnsignedString(Platform.ALL_BITS)
                + " ulSessionCount=0 ulMaxPinLen=0x80000000 ulMinPinLen=4 hardwareVersion.minor=200"
                + " utcTime=txt:2026120801000000");
        CK_TOKEN_INFO token = pkcs11.C_GetTokenInfo(4294967297L);
        assertEquals(Platform.ulong(4294967297L), module.last("C_GetTokenInfo").num("slotID"));
        assertArrayEquals(Platform.padded("Token", 32, ' '), token.label);
        assertEquals(16, token.serialNumber.length);
        assertEquals('\u00C3', token.serialNumber[0], "bytes zero-extended, no UTF-8 decoding");
        assertEquals('\u00A9', token.serialNumber[1]);
        assertEquals(Platform.ALL_BITS, token.ulMaxSessionCount, "CK_UNAVAILABLE_INFORMATION zero-extended");
        assertEquals(0, token.ulSessionCount);
        assertEquals(2147483648L, token.ulMaxPinLen);
        assertEquals(4, token.ulMinPinLen);
        assertEquals(-56, token.hardwareVersion.minor);
        assertArrayEquals("2026120801000000".toCharArray(), token.utcTime);
    }

    @Test
    void slotAndMechanismInfo() throws Exception {
        module.script("C_GetSlotInfo", "slotDescription=txt:Reader flags=7");
        CK_SLOT_INFO slot = pkcs11.C_GetSlotInfo(1);
        assertArrayEquals(Platform.padded("Reader", 64, ' '), slot.slotDescription);
        assertEquals(7, slot.flags);
        module.script("C_GetMechanismInfo", "ulMinKeySize=512 ulMaxKeySize=" + Long.toUnsignedString(Platform.ALL_BITS) + " flags=0x800");
        CK_MECHANISM_INFO mechanism = pkcs11.C_GetMechanismInfo(1, CKM_RSA_PKCS);
        assertEquals(512, mechanism.ulMinKeySize);
        assertEquals(Platform.ALL_BITS, mechanism.ulMaxKeySize);
        assertEquals(CKF_SIGN, mechanism.flags);
        assertEquals(CKM_RSA_PKCS, module.last("C_GetMechanismInfo").num("type"));
    }

    @Test
    void moduleErrorGivesNoRecord() {
        module.script("C_GetTokenInfo", "rv=0xE0");
        PKCS11Exception e = assertError(CKR_TOKEN_NOT_PRESENT, () -> pkcs11.C_GetTokenInfo(1));
        assertTrue(e.getMessage().contains("CKR_TOKEN_NOT_PRESENT"), e.getMessage());
    }

    @Test
    void slotListsAskForTheCountFirst() throws Exception {
        module.script("C_GetSlotList", "handles=1,4294967295,7 times=2");
        long[] slots = pkcs11.C_GetSlotList(true);
        assertArrayEquals(new long[] {1, 4294967295L, 7}, slots);
        List<Call> calls = module.calls("C_GetSlotList");
        assertEquals(2, calls.size());
        assertTrue(calls.get(0).isNull("pSlotList"));
        assertEquals(1, calls.get(0).num("tokenPresent"));
        assertEquals(3, calls.get(1).num("pulCount"));
        pkcs11.C_GetSlotList(false);
        assertEquals(0, module.last("C_GetSlotList").num("tokenPresent"));
    }

    @Test
    void emptySlotListTakesOneCallEmptyMechanismListTwo() throws Exception {
        module.script("C_GetSlotList", "handles=");
        assertEquals(0, pkcs11.C_GetSlotList(true).length);
        assertEquals(1, module.count("C_GetSlotList"));

        module.script("C_GetMechanismList", "handles= times=2");
        assertEquals(0, pkcs11.C_GetMechanismList(1).length);
        List<Call> calls = module.calls("C_GetMechanismList");
        assertEquals(2, calls.size());
        assertTrue(calls.get(0).isNull("pMechanismList"));
        assertFalse(calls.get(1).isNull("pMechanismList"), "the second call gets a non-null buffer");
    }

    @Test
    void listThatGrowsBetweenTheCallsIsTheModulesError() {
        module.script("C_GetSlotList", "handles=1,2");
        module.script("C_GetSlotList", "handles=1,2,3");
        assertError(CKR_BUFFER_TOO_SMALL, () -> pkcs11.C_GetSlotList(true));
        assertEquals(2, module.count("C_GetSlotList"));
    }

    @Test
    void moduleReportingMoreEntriesThanAllocatedIsRefused() {
        module.script("C_GetMechanismList", "handles=1,2");
        module.script("C_GetMechanismList", "handles=1,2 len=5 rv=0");
        PKCS11RuntimeException e = assertMessage(PKCS11RuntimeException.class, "C_GetMechanismList",
                () -> pkcs11.C_GetMechanismList(1));
        assertTrue(e.getMessage().contains("5") && e.getMessage().contains("2"), e.getMessage());
    }

    @Test
    void hugeCountsAreRefusedBeforeAnyAllocation() {
        module.script("C_GetSlotList", "len=unavail");
        assertMessage(PKCS11RuntimeException.class, "C_GetSlotList", () -> pkcs11.C_GetSlotList(true));
        assertEquals(1, module.count("C_GetSlotList"));
    }

    @Test
    void pinsPassOneBytePerCharacter() throws Exception {
        pkcs11.C_InitPIN(5, new char[] {'1', '\u0141', '\u00FF'});
        Call initPin = module.last("C_InitPIN");
        assertArrayEquals(new byte[] {'1', 0x41, (byte) 0xFF}, initPin.bytes("pPin"));
        assertEquals(3, initPin.num("ulPinLen"));

        pkcs11.C_SetPIN(5, "old".toCharArray(), null);
        Call setPin = module.last("C_SetPIN");
        assertArrayEquals("old".getBytes(StandardCharsets.US_ASCII), setPin.bytes("pOldPin"));
        assertNullOfLengthZero(setPin, "pNewPin", "ulNewLen");
    }

    @Test
    void initTokenPadsShortLabelsToThirtyTwoBlanks() throws Exception {
        pkcs11.C_InitToken(3, "1234".toCharArray(), "My token".toCharArray());
        Call call = module.last("C_InitToken");
        assertArrayEquals("1234".getBytes(StandardCharsets.US_ASCII), call.bytes("pPin"));
        assertArrayEquals(new String(Platform.padded("My token", 32, ' ')).getBytes(StandardCharsets.US_ASCII), call.bytes("pLabel"));

        pkcs11.C_InitToken(3, null, null);
        Call nulls = module.last("C_InitToken");
        assertNullOfLengthZero(nulls, "pPin", "ulPinLen");
        assertTrue(nulls.isNull("pLabel"));
    }

    @Test
    void waitForSlotEventPassesNullReservedAndZeroExtendsTheSlot() throws Exception {
        module.script("C_WaitForSlotEvent", "handle=4294967295");
        long slot = pkcs11.C_WaitForSlotEvent(CKF_DONT_BLOCK, "ignored");
        assertEquals(4294967295L, slot);
        Call call = module.last("C_WaitForSlotEvent");
        assertTrue(call.isNull("pReserved"));
        assertEquals(CKF_DONT_BLOCK, call.num("flags"));
        module.script("C_WaitForSlotEvent", "rv=0x8");
        assertError(CKR_NO_EVENT, () -> pkcs11.C_WaitForSlotEvent(CKF_DONT_BLOCK, null));
    }

    @Test
    void unboundObjectGetsTheNotConnectedErrorBeforeAnyConversion() {
        PKCS11Impl unbound = new PKCS11Impl();
        assertNotConnected(unbound::C_GetInfo);
        // The initialization arguments would not convert; the binding is looked at first.
        CK_C_INITIALIZE_ARGS args = new CK_C_INITIALIZE_ARGS();
        args.pReserved = new Object();
        assertNotConnected(() -> unbound.C_Initialize(args));
    }
}
