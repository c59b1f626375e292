package zandrop.tesk.pkcs11.vorlen.api;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertInstanceOf;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertSame;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static zandrop.tesk.pkcs11.vorlen.api.CryptoWrapperCases.bytes;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.*;

import java.lang.reflect.Method;
import java.util.Arrays;
import java.util.HexFormat;
import java.util.List;

import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.function.Executable;

import zandrop.tesk.pkcs11.vorlen.testmodule.Call;
import zandrop.tesk.pkcs11.vorlen.testmodule.TestModule;

/**
 * The functions of the 3.0 list against the 3.0 test module: how connect chooses the interface,
 * the interface list, and for every new method the bytes the module receives (per-message
 * parameters decoded at the platform's width) and what goes back into the caller's objects.
 */
class Version3FunctionsTest extends ConnectedToTestModule {
    private static final int WIDTH = Platform.ULONG_SIZE;
    private static final HexFormat HEX = HexFormat.of();

    @Override
    boolean v3Module() {
        return true;
    }

    /** Runs the body on a new connection to the 3.0 module (its record cleared first), then disconnects it. */
    private void connectAgain(TestModules.WithConnection body) throws Exception {
        module.clear();
        TestModules.withConnection(TestModules.v3(), body);
    }

    // ---- connecting

    @Test
    void connectTakesTheModulesDefaultInterfaceWithOneCall() throws Exception {
        assertEquals("3.0", pkcs11.getInterfaceVersion().toString());
        module.command("interfaces vendor:1.0,pkcs:3.1,pkcs:3.0");
        connectAgain(again -> {
            assertEquals("3.1", again.getInterfaceVersion().toString());
            Call get = module.last("C_GetInterface");
            assertEquals("PKCS 11", new String(get.bytes("pInterfaceName"), "US-ASCII"));
            assertTrue(get.isNull("pVersion"), "the module's default interface");
            assertEquals(1, module.count("C_GetInterface"));
            assertEquals(0, module.count("C_GetInterfaceList"), "the list is not asked for");
            assertEquals(0, module.count("C_GetFunctionList"), "the 2.x list is not asked for");
            again.C_SessionCancel(7, CKF_MESSAGE_ENCRYPT);
            assertEquals(7, module.last("C_SessionCancel").num("hSession"));
        });
    }

    /**
     * A module whose default interface is a 2.x list and whose C_GetInterfaceList writes through
     * a NULL list (OpenSC's pkcs11-spy.so over a 2.x module: the process dies if it is called)
     * connects through C_GetFunctionList, and nothing else of its 3.0 entries is called.
     */
    @Test
    void aDefault2xInterfaceConnectsThroughTheFunctionListAlone() throws Exception {
        module.command("interfaces pkcs:2.40,pkcs:3.0");
        module.script("C_GetInterfaceList", "writeThroughNull=1 times=1000");
        connectAgain(again -> {
            assertEquals("2.40", again.getInterfaceVersion().toString());
            assertEquals(1, module.count("C_GetInterface"));
            assertEquals(1, module.count("C_GetFunctionList"));
            assertEquals(0, module.count("C_GetInterfaceList"));
            assertError(CKR_FUNCTION_NOT_SUPPORTED, again::C_GetInterfaceList);  // a 2.x binding has no list to ask
            assertEquals(0, module.count("C_GetInterfaceList"));
            again.C_Finalize(null);
            assertEquals(1, module.count("C_Finalize"), "the 2.x list reaches the module");
        });
    }

    @Test
    void anInterfaceThatCannotBeUsedFallsBackToTheFunctionList() throws Exception {
        String[][] cases = {  // entry, its script, the version then used
            {"C_GetInterface", "rv=" + CKR_GENERAL_ERROR, "2.40"},
            {"C_GetInterface", "null=1", "2.40"},
            {"C_GetInterface", "listVersion=2.40", "2.40"},
            {"C_GetInterface", "listVersion=3.1", "3.1"},  // the list's own version counts
            {"C_GetInterfaceList", "rv=" + CKR_GENERAL_ERROR + " times=2", "3.0"},  // never asked
        };
        for (String[] c : cases) {
            module.reset();
            module.script(c[0], c[1]);
            connectAgain(again -> {
                boolean usable = c[2].startsWith("3.");
                assertEquals(c[2], again.getInterfaceVersion().toString(), c[1]);
                assertEquals(usable ? 0 : 1, module.count("C_GetFunctionList"), c[1]);
                assertEquals(0, module.count("C_GetInterfaceList"), c[1]);
                if (usable) {
                    assertTrue(module.last("C_GetInterface").isNull("pVersion"), "the module's default interface");
                } else {
                    assertError(CKR_FUNCTION_NOT_SUPPORTED, () -> again.C_SessionCancel(1, 0));
                    assertEquals(0, module.count("C_SessionCancel"));
                }
            });
        }
        module.reset();
        module.command("interfaces vendor:3.0,pkcs:2.40");  // no "PKCS 11" of a 3.x version
        connectAgain(twoX -> assertEquals("2.40", twoX.getInterfaceVersion().toString()));
    }

    /** The explicit 2.x road: C_GetFunctionList only, with connect's rebinding and failures. */
    @Test
    void connectFunctionListOnlyAsksNothingElse() throws Exception {
        module.clear();
        PKCS11Impl object = new PKCS11Impl();
        try {
            object.connectFunctionListOnly(TestModules.v3());
            assertEquals("2.40", object.getInterfaceVersion().toString());
            assertEquals(0, module.count("C_GetInterface"));
            assertEquals(0, module.count("C_GetInterfaceList"));
            assertEquals(1, module.count("C_GetFunctionList"));
            assertError(CKR_FUNCTION_NOT_SUPPORTED, () -> object.C_SessionCancel(1, 0));

            object.connect(TestModules.v3());  // rebinding works both ways
            assertEquals("3.0", object.getInterfaceVersion().toString());
            assertModuleError("C_GetFunctionList", CKR_HOST_MEMORY, () -> object.connectFunctionListOnly(TestModules.v3()));
            assertEquals("3.0", object.getInterfaceVersion().toString(), "a failed connect keeps the earlier binding");
            assertThrows(java.io.IOException.class, () -> object.connectFunctionListOnly(TestModules.withoutFunctionList()));
            assertThrows(NullPointerException.class, () -> object.connectFunctionListOnly(null));
            assertEquals("3.0", object.getInterfaceVersion().toString());
        } finally {
            object.disconnect();
        }
    }

    @Test
    void theInterfaceListInTheModulesOrder() throws Exception {
        module.command("interfaces vendor:1.2:1,pkcs:3.0:1,pkcs:2.40");
        CK_INTERFACE[] list = pkcs11.C_GetInterfaceList();
        assertEquals(3, list.length);
        assertEquals("Vorlen vendor", new String(list[0].pInterfaceName));
        assertEquals("1.2", list[0].version.toString());
        assertEquals(CKF_INTERFACE_FORK_SAFE, list[0].flags);
        assertEquals("PKCS 11", new String(list[1].pInterfaceName));
        assertEquals("3.0", list[1].version.toString());
        assertEquals("2.40", list[2].version.toString());
        assertEquals(0, list[2].flags);
        List<Call> calls = module.calls("C_GetInterfaceList");
        assertTrue(calls.get(calls.size() - 2).isNull("pInterfacesList"), "a size query first");
        assertEquals(3, calls.get(calls.size() - 1).num("pulCount"));
    }

    /** Every 3.0 method on a 2.x binding: CKR_FUNCTION_NOT_SUPPORTED, nothing converted or called. */
    @Test
    void onA2xListEveryNewMethodIsRefusedBeforeTheModule() throws Exception {
        TestModule first = TestModules.firstModule();
        TestModules.withConnection(TestModules.first(), twoX -> {
            assertEquals("2.40", twoX.getInterfaceVersion().toString());
            long blocks = PKCS11Impl.heapBlockCount();
            for (Method method : AllMethods.version3Methods()) {
                // Plain arguments, but an Object, which is not convertible: refused all the same.
                Object[] arguments = Arrays.stream(method.getParameterTypes())
                        .map(type -> type == Object.class ? new Object() : AllMethods.argument(type, 1)).toArray();
                Object outcome = AllMethods.invoke(method, twoX, arguments);
                PKCS11Exception e = assertInstanceOf(PKCS11Exception.class, outcome, method.getName());
                assertEquals(CKR_FUNCTION_NOT_SUPPORTED, e.getErrorCode(), method.getName());
            }
            assertEquals(1, first.calls().size(), "only C_GetFunctionList: " + first.calls());
            assertEquals(blocks, PKCS11Impl.heapBlockCount());
        });
    }

    // ---- login and cancellation

    @Test
    void loginUserAndSessionCancel() throws Exception {
        pkcs11.C_LoginUser(3, CKU_USER, "1234".toCharArray(), "alice".toCharArray());
        Call login = module.last("C_LoginUser");
        assertEquals(3, login.num("hSession"));
        assertEquals(CKU_USER, login.num("userType"));
        assertArrayEquals("1234".getBytes(), login.bytes("pPin"));
        assertEquals(4, login.num("ulPinLen"));
        assertArrayEquals("alice".getBytes(), login.bytes("pUsername"));
        assertEquals(5, login.num("ulUsernameLen"));
        pkcs11.C_LoginUser(3, CKU_SO, null, null);
        assertTrue(module.last("C_LoginUser").isNull("pUsername"));
        pkcs11.C_SessionCancel(4, CKF_MESSAGE_ENCRYPT | CKF_MESSAGE_DECRYPT);
        assertEquals(CKF_MESSAGE_ENCRYPT | CKF_MESSAGE_DECRYPT, module.last("C_SessionCancel").num("flags"));
        assertModuleError("C_SessionCancel", CKR_OPERATION_CANCEL_FAILED, () -> pkcs11.C_SessionCancel(4, 0));
    }

    // ---- message-based encryption: the per-message records and their copy-back

    @Test
    void gcmMessageParametersByteForByteWithIvAndTagCopiedBack() throws Exception {
        pkcs11.C_MessageEncryptInit(1, new CK_MECHANISM(CKM_AES_GCM), 9);
        assertEquals(9, module.last("C_MessageEncryptInit").num("hKey"));
        byte[] iv = new byte[12];
        byte[] tag = new byte[16];
        CK_GCM_MESSAGE_PARAMS params = new CK_GCM_MESSAGE_PARAMS(iv, 32, CKG_GENERATE_COUNTER, tag, 128);
        module.script("C_EncryptMessage", "decode=CK_GCM_MESSAGE_PARAMS times=2 write=pIv:" + HEX.formatHex(bytes(12, 0xA0))
                + " write=pTag:" + HEX.formatHex(bytes(16, 0x50)));
        byte[] ciphertext = pkcs11.C_EncryptMessage(1, params, bytes(5, 1), bytes(20, 0x30));
        assertArrayEquals(bytes(20, 0x30), ciphertext, "the module echoes");
        assertArrayEquals(bytes(12, 0xA0), iv, "the generated IV went back into the caller's array");
        assertArrayEquals(bytes(16, 0x50), tag, "the tag went back into the caller's array");
        assertSame(iv, params.pIv);

        List<Call> calls = module.calls("C_EncryptMessage");
        assertEquals(2, calls.size(), "a size query, then the call");
        assertTrue(calls.get(0).isNull("pCiphertext"));
        Call call = calls.get(1);
        assertEquals(6 * WIDTH, call.num("ulParameterLen"), "sizeof at this width");
        assertEquals("CK_GCM_MESSAGE_PARAMS", call.get("param"));
        assertArrayEquals(new byte[12], call.bytes("param.pIv"), "the caller's IV as it was");
        assertEquals(12, call.num("param.ulIvLen"));
        assertEquals(32, call.num("param.ulIvFixedBits"));
        assertEquals(CKG_GENERATE_COUNTER, call.num("param.ivGenerator"));
        assertEquals(128, call.num("param.ulTagBits"));
        assertArrayEquals(new byte[16], call.bytes("param.pTag"));
        assertArrayEquals(bytes(5, 1), call.bytes("pAssociatedData"));
        assertEquals(20, call.num("ulPlaintextLen"));
        assertEquals(20, call.num("pulCiphertextLen"));
    }

    /** C_EncryptMessage of four bytes with the given per-message parameter. */
    private Executable encrypting(Object parameter) {
        return () -> pkcs11.C_EncryptMessage(1, parameter, null, bytes(4, 0));
    }

    @Test
    void encryptionsRefuseArraysThatWouldLoseTheTagOrTheGeneratedIvBeforeTheModule() throws Exception {
        // Until now a null or short tag array returned normally and the tag was lost.
        java.nio.ByteBuffer out = java.nio.ByteBuffer.allocate(64);
        CK_GCM_MESSAGE_PARAMS noTag = new CK_GCM_MESSAGE_PARAMS(new byte[12], 0, CKG_NO_GENERATE, null, 128);
        Object[][] refused = {
            {"C_EncryptMessage", "pTag has room for 0 bytes of a 16-byte tag", encrypting(noTag)},
            {"C_EncryptMessage", "pTag has room for 4 bytes of a 15-byte tag",
                encrypting(new CK_GCM_MESSAGE_PARAMS(new byte[12], 0, CKG_NO_GENERATE, new byte[4], 120))},
            {"C_EncryptMessage", "ulTagBits is " + (8L * Integer.MAX_VALUE & Platform.ALL_BITS) + ", more than 128",
                encrypting(new CK_GCM_MESSAGE_PARAMS(new byte[12], 0, CKG_NO_GENERATE, new byte[16], 8L * Integer.MAX_VALUE))},
            {"C_EncryptMessage", "ulTagBits is 136, more than 128",
                encrypting(new CK_GCM_MESSAGE_PARAMS(new byte[12], 0, CKG_NO_GENERATE, new byte[17], 136))},
            {"C_EncryptMessage", "pIv has 0 bytes, no room for what the module generates",
                encrypting(new CK_GCM_MESSAGE_PARAMS(null, 0, CKG_GENERATE, new byte[16], 128))},
            {"C_EncryptMessage", "pIv has 4 bytes, no room",
                encrypting(new CK_GCM_MESSAGE_PARAMS(new byte[4], 64, CKG_GENERATE_COUNTER, new byte[16], 128))},
            {"C_EncryptMessage", "pMAC has room for 0 bytes", encrypting(new CK_CCM_MESSAGE_PARAMS(4, new byte[12], 0, CKG_NO_GENERATE, null))},
            {"C_EncryptMessage", "pNonce has 0 bytes", encrypting(new CK_CCM_MESSAGE_PARAMS(4, new byte[0], 0, CKG_GENERATE, new byte[8]))},
            {"C_EncryptMessage", "pTag has room for 8 bytes of a 16-byte tag",
                encrypting(new CK_SALSA20_CHACHA20_POLY1305_MSG_PARAMS(new byte[12], new byte[8]))},
            {"C_EncryptMessage", "pTag has room for 0 bytes",
                (Executable) () -> pkcs11.C_EncryptMessage(1, noTag, null, java.nio.ByteBuffer.wrap(bytes(4, 0)), out)},
            {"C_EncryptMessageBegin", "pIv has 0 bytes", (Executable) () -> pkcs11.C_EncryptMessageBegin(1,
                    new CK_GCM_MESSAGE_PARAMS(null, 0, CKG_GENERATE, new byte[16], 128), null)},
            {"C_EncryptMessageNext", "pTag has room for 0 bytes",
                (Executable) () -> pkcs11.C_EncryptMessageNext(1, noTag, bytes(4, 0), CKF_END_OF_MESSAGE)},
            {"C_EncryptMessageNext", "pTag has room for 0 bytes",
                (Executable) () -> pkcs11.C_EncryptMessageNext(1, noTag, java.nio.ByteBuffer.wrap(bytes(4, 0)), out, CKF_END_OF_MESSAGE)},
        };
        for (Object[] row : refused) {
            assertMessage(IllegalArgumentException.class, (String) row[1], (Executable) row[2]);
            assertEquals(0, module.count((String) row[0]), row[1] + ": the module was not called");
        }
        // Accepted: a part that is not the last (no tag yet), a decryption (the module judges),
        // a tag array of the whole tag, which receives all of it.
        pkcs11.C_EncryptMessageNext(1, new CK_GCM_MESSAGE_PARAMS(new byte[12], 0, CKG_NO_GENERATE, null, 128), bytes(4, 0), 0);
        pkcs11.C_DecryptMessage(1, new CK_GCM_MESSAGE_PARAMS(new byte[12], 0, CKG_NO_GENERATE, null, 128), null, bytes(4, 0));
        module.setDefault("C_EncryptMessage", "decode=CK_GCM_MESSAGE_PARAMS write=pTag:" + HEX.formatHex(bytes(15, 0x70)));
        byte[] tag = new byte[15];
        pkcs11.C_EncryptMessage(1, new CK_GCM_MESSAGE_PARAMS(new byte[12], 0, CKG_NO_GENERATE, tag, 120), null, bytes(4, 0));
        assertArrayEquals(bytes(15, 0x70), tag);
        assertTrue(module.count("C_EncryptMessageNext") > 0, "the part reached the module");
        assertTrue(module.count("C_DecryptMessage") > 0, "the decryption reached the module");
    }

    @Test
    void loginUserTextIsUtf8() throws Exception {
        // Until now "p\u00e4\u20acs" reached the module as 70 e4 ac 73.
        pkcs11.C_LoginUser(3, CKU_USER, "p\u00e4\u20acs".toCharArray(), "\ud83d\ude00".toCharArray());
        Call login = module.last("C_LoginUser");
        assertEquals("70c3a4e282ac73", HEX.formatHex(login.bytes("pPin")));
        assertEquals(7, login.num("ulPinLen"));
        assertEquals("f09f9880", HEX.formatHex(login.bytes("pUsername")), "a surrogate pair is one character");
        for (String unpaired : new String[] {"a\ud83d", "\ude00b", "\ud83d\ud83d"}) {
            assertMessage(IllegalArgumentException.class, "unpaired surrogate",
                    () -> pkcs11.C_LoginUser(3, CKU_USER, unpaired.toCharArray(), null));
        }
        assertEquals(1, module.count("C_LoginUser"));
    }

    @Test
    void decryptionHandsTheTagToTheModule() throws Exception {
        pkcs11.C_MessageDecryptInit(1, new CK_MECHANISM(CKM_AES_GCM), 5);
        module.setDefault("C_DecryptMessage", "decode=CK_GCM_MESSAGE_PARAMS");
        byte[] tag = bytes(16, 0x20);
        byte[] plaintext = pkcs11.C_DecryptMessage(1, new CK_GCM_MESSAGE_PARAMS(bytes(12, 1), 0, CKG_NO_GENERATE, tag, 128),
                bytes(3, 7), bytes(9, 0x40));
        assertArrayEquals(bytes(9, 0x40), plaintext);
        Call call = module.last("C_DecryptMessage");
        assertArrayEquals(bytes(16, 0x20), call.bytes("param.pTag"));
        assertArrayEquals(bytes(12, 1), call.bytes("param.pIv"));
        assertArrayEquals(bytes(9, 0x40), call.bytes("pCiphertext"));
        assertArrayEquals(bytes(16, 0x20), tag, "the caller's tag unchanged");
        assertModuleError("C_DecryptMessage", CKR_ENCRYPTED_DATA_INVALID, () -> pkcs11.C_DecryptMessage(1,
                new CK_GCM_MESSAGE_PARAMS(bytes(12, 1), 0, CKG_NO_GENERATE, tag, 128), null, bytes(9, 0)));
        pkcs11.C_MessageDecryptFinal(1);
        assertEquals(1, module.count("C_MessageDecryptFinal"));
    }

    @Test
    void chachaAndCcmMessageParameters() throws Exception {
        byte[] nonce = new byte[12];
        byte[] tag = new byte[16];
        module.setDefault("C_EncryptMessage", "decode=CK_SALSA20_CHACHA20_POLY1305_MSG_PARAMS write=pNonce:"
                + HEX.formatHex(bytes(12, 0x11)) + " write=pTag:" + HEX.formatHex(bytes(16, 0x33)));
        pkcs11.C_EncryptMessage(1, new CK_SALSA20_CHACHA20_POLY1305_MSG_PARAMS(nonce, tag), null, bytes(2, 0));
        Call call = module.last("C_EncryptMessage");
        assertEquals(3 * WIDTH, call.num("ulParameterLen"));
        assertEquals(12, call.num("param.ulNonceLen"));
        assertArrayEquals(bytes(12, 0x11), nonce);
        assertArrayEquals(bytes(16, 0x33), tag);

        byte[] mac = new byte[8];
        byte[] ccmNonce = bytes(7, 3);
        module.setDefault("C_EncryptMessage", "decode=CK_CCM_MESSAGE_PARAMS write=pMAC:" + HEX.formatHex(bytes(8, 0x60)));
        pkcs11.C_EncryptMessage(1, new CK_CCM_MESSAGE_PARAMS(2, ccmNonce, 0, CKG_NO_GENERATE, mac), null, bytes(2, 0));
        Call ccm = module.last("C_EncryptMessage");
        assertEquals(2, ccm.num("param.ulDataLen"));
        assertArrayEquals(bytes(7, 3), ccm.bytes("param.pNonce"));
        assertEquals(8, ccm.num("param.ulMACLen"));
        assertArrayEquals(bytes(8, 0x60), mac);
        assertArrayEquals(bytes(7, 3), ccmNonce, "a nonce the module did not write stays");
    }

    @Test
    void encryptionInPartsCopiesTheTagBackWithTheLastPart() throws Exception {
        byte[] tag = new byte[16];
        CK_GCM_MESSAGE_PARAMS params = new CK_GCM_MESSAGE_PARAMS(bytes(12, 0), 0, CKG_NO_GENERATE, tag, 128);
        module.setDefault("C_EncryptMessageBegin", "decode=CK_GCM_MESSAGE_PARAMS");
        pkcs11.C_EncryptMessageBegin(2, params, bytes(4, 0x10));
        Call begin = module.last("C_EncryptMessageBegin");
        assertArrayEquals(bytes(4, 0x10), begin.bytes("pAssociatedData"));
        assertArrayEquals(bytes(12, 0), begin.bytes("param.pIv"));

        assertArrayEquals(bytes(6, 1), pkcs11.C_EncryptMessageNext(2, params, bytes(6, 1), 0));
        assertEquals(0, module.last("C_EncryptMessageNext").num("flags"));
        module.setDefault("C_EncryptMessageNext", "decode=CK_GCM_MESSAGE_PARAMS write=pTag:" + HEX.formatHex(bytes(16, 0x44)));
        assertArrayEquals(bytes(3, 9), pkcs11.C_EncryptMessageNext(2, params, bytes(3, 9), CKF_END_OF_MESSAGE));
        Call last = module.last("C_EncryptMessageNext");
        assertEquals(CKF_END_OF_MESSAGE, last.num("flags"));
        assertArrayEquals(bytes(3, 9), last.bytes("pPlaintextPart"));
        assertArrayEquals(bytes(16, 0x44), tag);
        pkcs11.C_MessageEncryptFinal(2);

        pkcs11.C_DecryptMessageBegin(2, params, null);
        assertArrayEquals(bytes(5, 2), pkcs11.C_DecryptMessageNext(2, params, bytes(5, 2), CKF_END_OF_MESSAGE));
        assertEquals(CKF_END_OF_MESSAGE, module.last("C_DecryptMessageNext").num("flags"));
    }

    // ---- message-based signing and verification

    @Test
    void signingAndVerifyingMessages() throws Exception {
        pkcs11.C_MessageSignInit(1, new CK_MECHANISM(CKM_SHA256_HMAC), 8);
        assertArrayEquals(bytes(64, 0), pkcs11.C_SignMessage(1, null, bytes(10, 0)));
        assertNullOfLengthZero(module.last("C_SignMessage"), "pParameter", "ulParameterLen");
        assertArrayEquals(bytes(10, 0), module.last("C_SignMessage").bytes("pData"));

        pkcs11.C_SignMessageBegin(1, bytes(4, 0));
        assertArrayEquals(bytes(4, 0), module.last("C_SignMessageBegin").bytes("pParameter"), "a byte[] parameter");
        assertNull(pkcs11.C_SignMessageNext(1, null, bytes(3, 0), false));
        Call part = module.last("C_SignMessageNext");
        assertTrue(part.isNull("pSignature"));
        assertEquals("null", part.get("pulSignatureLen"), "no signature asked for before the last part");
        module.clear();
        assertArrayEquals(bytes(64, 0), pkcs11.C_SignMessageNext(1, null, bytes(3, 0), true));
        List<Call> lastParts = module.calls("C_SignMessageNext");
        assertEquals(2, lastParts.size(), "the size protocol with the last part");
        assertTrue(lastParts.get(0).isNull("pSignature"));
        assertEquals(64, lastParts.get(1).num("pulSignatureLen"));
        pkcs11.C_MessageSignFinal(1);

        pkcs11.C_MessageVerifyInit(1, new CK_MECHANISM(CKM_SHA256_HMAC), 8);
        pkcs11.C_VerifyMessage(1, null, bytes(10, 0), bytes(32, 5));
        assertArrayEquals(bytes(32, 5), module.last("C_VerifyMessage").bytes("pSignature"));
        pkcs11.C_VerifyMessageBegin(1, null);
        pkcs11.C_VerifyMessageNext(1, null, bytes(2, 0), null);
        assertNullOfLengthZero(module.last("C_VerifyMessageNext"), "pSignature", "ulSignatureLen");
        assertModuleError("C_VerifyMessageNext", CKR_SIGNATURE_INVALID,
                () -> pkcs11.C_VerifyMessageNext(1, null, bytes(2, 0), bytes(32, 0)));
        pkcs11.C_MessageVerifyFinal(1);
        assertEquals(1, module.count("C_MessageVerifyFinal"));
    }

    @Test
    void aParameterThatCannotBeConvertedNeverReachesTheModule() throws Exception {
        module.clear();
        assertMessage(PKCS11RuntimeException.class, "java.lang.Object",
                () -> pkcs11.C_EncryptMessage(1, new Object(), null, bytes(2, 0)));
        assertThrows(NullPointerException.class, () -> pkcs11.C_MessageSignInit(1, null, 0));
        assertEquals(0, module.calls().size(), module.calls().toString());
    }

    // ---- SP 800-108: arrays of records, values by class, templates, handles copied back

    /** A record of a CK_BBOOL-or-CK_ULONG sequence as the platform lays it out (zero padding). */
    private static byte[] layout(Object... members) {
        boolean packed = System.getProperty("os.name").startsWith("Windows");
        java.io.ByteArrayOutputStream out = new java.io.ByteArrayOutputStream();
        for (Object m : members) {
            if (m instanceof Boolean flag) {
                out.write(flag ? 1 : 0);
            } else {
                while (!packed && out.size() % WIDTH != 0) {
                    out.write(0);
                }
                out.writeBytes(Platform.ulongBytes((Long) m));
            }
        }
        while (!packed && out.size() % WIDTH != 0) {
            out.write(0);
        }
        return out.toByteArray();
    }

    @Test
    void sp800108RecordsByteForByteAndTheFurtherKeysHandlesCopiedBack() throws Exception {
        CK_DERIVED_KEY first = new CK_DERIVED_KEY(new CK_ATTRIBUTE[] {new CK_ATTRIBUTE(CKA_VALUE_LEN, 16L)}, 0);
        CK_DERIVED_KEY second = new CK_DERIVED_KEY(null, 77);
        CK_SP800_108_KDF_PARAMS params = new CK_SP800_108_KDF_PARAMS(CKM_SHA256_HMAC, new CK_PRF_DATA_PARAM[] {
            new CK_PRF_DATA_PARAM(CK_SP800_108_ITERATION_VARIABLE, new CK_SP800_108_COUNTER_FORMAT(true, 16)),
            new CK_PRF_DATA_PARAM(CK_SP800_108_BYTE_ARRAY, bytes(3, 0x61)),
            new CK_PRF_DATA_PARAM(CK_SP800_108_DKM_LENGTH,
                    new CK_SP800_108_DKM_LENGTH_FORMAT(CK_SP800_108_DKM_LENGTH_SUM_OF_SEGMENTS, false, 8)),
        }, new CK_DERIVED_KEY[] {first, second});
        module.script("C_DeriveKey", "decode=CK_SP800_108_KDF_PARAMS sp800Keys=501,502 handle=500");
        assertEquals(500, pkcs11.C_DeriveKey(1, new CK_MECHANISM(CKM_SP800_108_COUNTER_KDF, params), 4, null));
        assertEquals(501, first.phKey);
        assertEquals(502, second.phKey);

        Call call = module.last("C_DeriveKey");
        assertEquals(5 * WIDTH, call.num("ulParameterLen"));
        assertEquals(CKM_SHA256_HMAC, call.num("param.prfType"));
        assertEquals(3, call.num("param.ulNumberOfDataParams"));
        assertEquals(CK_SP800_108_ITERATION_VARIABLE, call.num("param.pDataParams[0].type"));
        assertArrayEquals(layout(true, 16L), call.bytes("param.pDataParams[0].pValue"));
        assertEquals(layout(true, 16L).length, call.num("param.pDataParams[0].ulValueLen"));
        assertArrayEquals(bytes(3, 0x61), call.bytes("param.pDataParams[1].pValue"));
        assertEquals(3, call.num("param.pDataParams[1].ulValueLen"));
        assertArrayEquals(layout(CK_SP800_108_DKM_LENGTH_SUM_OF_SEGMENTS, false, 8L),
                call.bytes("param.pDataParams[2].pValue"));
        assertEquals(2, call.num("param.ulAdditionalDerivedKeys"));
        List<Call.Attr> template = call.template("param.pAdditionalDerivedKeys[0].pTemplate");
        assertEquals(1, template.size());
        assertEquals(CKA_VALUE_LEN, template.get(0).type());
        assertArrayEquals(Platform.ulongBytes(16), template.get(0).value());
        assertEquals(1, call.num("param.pAdditionalDerivedKeys[0].ulAttributeCount"));
        assertEquals(0, call.num("param.pAdditionalDerivedKeys[0].phKey"), "the caller's value, before the module");
        assertTrue(call.isNull("param.pAdditionalDerivedKeys[1].pTemplate"));
        assertEquals(77, call.num("param.pAdditionalDerivedKeys[1].phKey"));
    }

    @Test
    void sp800108PartsThatCannotBeConvertedNeverReachTheModule() throws Exception {
        module.clear();
        CK_SP800_108_KDF_PARAMS nullKey = new CK_SP800_108_KDF_PARAMS(CKM_SHA256_HMAC, null,
                new CK_DERIVED_KEY[] {new CK_DERIVED_KEY(null, 0), null});
        NullPointerException npe = assertThrows(NullPointerException.class,
                () -> pkcs11.C_DeriveKey(1, new CK_MECHANISM(CKM_SP800_108_COUNTER_KDF, nullKey), 4, null));
        assertEquals("CK_SP800_108_KDF_PARAMS.pAdditionalDerivedKeys[1] is null", npe.getMessage());
        CK_SP800_108_KDF_PARAMS text = new CK_SP800_108_KDF_PARAMS(CKM_SHA256_HMAC,
                new CK_PRF_DATA_PARAM[] {new CK_PRF_DATA_PARAM(CK_SP800_108_BYTE_ARRAY, "label")}, null);
        assertMessage(PKCS11RuntimeException.class, "java.lang.String",
                () -> pkcs11.C_DeriveKey(1, new CK_MECHANISM(CKM_SP800_108_COUNTER_KDF, text), 4, null));
        CK_SP800_108_KDF_PARAMS badTemplate = new CK_SP800_108_KDF_PARAMS(CKM_SHA256_HMAC, null,
                new CK_DERIVED_KEY[] {new CK_DERIVED_KEY(
                        new CK_ATTRIBUTE[] {new CK_ATTRIBUTE(CKA_LABEL, new StringBuilder("key"))}, 0)});
        assertMessage(PKCS11RuntimeException.class, "java.lang.StringBuilder",
                () -> pkcs11.C_DeriveKey(1, new CK_MECHANISM(CKM_SP800_108_COUNTER_KDF, badTemplate), 4, null));
        assertEquals(0, module.calls().size());
    }
}
