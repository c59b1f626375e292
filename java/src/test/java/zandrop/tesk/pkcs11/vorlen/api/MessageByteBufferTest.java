package zandrop.tesk.pkcs11.vorlen.api;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static zandrop.tesk.pkcs11.vorlen.api.CryptoWrapperCases.bytes;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.*;

import java.nio.ByteBuffer;
import java.nio.ReadOnlyBufferException;
import java.util.Arrays;
import java.util.HexFormat;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.function.IntFunction;

import org.junit.jupiter.api.Test;

import zandrop.tesk.pkcs11.vorlen.testmodule.Call;

/**
 * The ByteBuffer overloads of the message functions, on the 3.0 test module: the region from
 * position to limit, the output at the position with its room offered in one call, positions
 * moved only on success, heap buffers copied, the per-message parameter converted and copied
 * back, and a short output refused with nothing consumed.
 */
class MessageByteBufferTest extends CryptoWrapperCases {
    private static final HexFormat HEX = HexFormat.of();

    @FunctionalInterface
    interface Transform {
        int apply(ByteBuffer in, ByteBuffer out) throws PKCS11Exception;
    }

    @Override
    boolean v3Module() {
        return true;
    }

    /** The five forms with output, by "function:input key:output length key" of the record. */
    private Map<String, Transform> transforms(CK_GCM_MESSAGE_PARAMS params) {
        Map<String, Transform> m = new LinkedHashMap<>();
        m.put("C_EncryptMessage:pPlaintext:pulCiphertextLen", (in, out) -> pkcs11.C_EncryptMessage(3, params, bytes(4, 0x60), in, out));
        m.put("C_DecryptMessage:pCiphertext:pulPlaintextLen", (in, out) -> pkcs11.C_DecryptMessage(3, params, null, in, out));
        m.put("C_EncryptMessageNext:pPlaintextPart:pulCiphertextPartLen",
                (in, out) -> pkcs11.C_EncryptMessageNext(3, params, in, out, CKF_END_OF_MESSAGE));
        m.put("C_DecryptMessageNext:pCiphertextPart:pulPlaintextPartLen", (in, out) -> pkcs11.C_DecryptMessageNext(3, params, in, out, 0));
        m.put("C_SignMessage:pData:pulSignatureLen", (in, out) -> pkcs11.C_SignMessage(3, params, in, out));
        return m;
    }

    @Test
    void eachFormTakesItsRegionsAndItsParameterInOneCall() throws Exception {
        for (IntFunction<ByteBuffer> allocate : List.<IntFunction<ByteBuffer>>of(ByteBuffer::allocateDirect,
                ByteBuffer::allocate)) {
            byte[] iv = new byte[12];
            CK_GCM_MESSAGE_PARAMS params = new CK_GCM_MESSAGE_PARAMS(iv, 0, CKG_GENERATE, new byte[16], 128);
            for (Map.Entry<String, Transform> t : transforms(params).entrySet()) {
                String fn = t.getKey().split(":")[0];
                String what = fn + (allocate.apply(1).isDirect() ? " direct" : " heap");
                module.script(fn, "decode=CK_GCM_MESSAGE_PARAMS out=A1B2C3 write=pIv:" + HEX.formatHex(bytes(12, 0xA0)));
                Arrays.fill(iv, (byte) 0);
                ByteBuffer in = input(allocate);
                ByteBuffer out = allocate.apply(16).limit(12).position(2);
                assertEquals(3, t.getValue().apply(in, out), what);
                assertEquals(8, in.position(), what);
                assertEquals(5, out.position(), what);
                assertArrayEquals(writtenAt(2, (byte) 0xA1, (byte) 0xB2, (byte) 0xC3), contents(out),
                        what + ": nothing written outside the result");
                assertArrayEquals(bytes(12, 0xA0), iv, what + ": the parameter's results went back");

                assertEquals(1, module.count(fn), what + ": one call, no size query");
                Call call = module.last(fn);
                assertEquals(3, call.num("hSession"), what);
                assertEquals(128, call.num("param.ulTagBits"), what);
                assertArrayEquals(bytes(5, 0x13), call.bytes(t.getKey().split(":")[1]), what);
                assertEquals(10, call.num(t.getKey().split(":")[2]), what + ": the room up to the limit");
                if (fn.equals("C_EncryptMessage")) {
                    assertArrayEquals(bytes(4, 0x60), call.bytes("pAssociatedData"), what);
                }
                if (fn.endsWith("Next")) {
                    assertEquals(fn.startsWith("C_Encrypt") ? CKF_END_OF_MESSAGE : 0, call.num("flags"), what);
                }
                module.clear();
            }
        }

        ByteBuffer data = input(ByteBuffer::allocateDirect);
        ByteBuffer signature = ByteBuffer.wrap(bytes(6, 0x70), 2, 3).asReadOnlyBuffer();
        pkcs11.C_VerifyMessage(3, null, data, signature);
        Call verify = module.last("C_VerifyMessage");
        assertArrayEquals(bytes(5, 0x13), verify.bytes("pData"));
        assertArrayEquals(bytes(3, 0x72), verify.bytes("pSignature"), "a read-only heap buffer, copied");
        assertEquals(8, data.position());
        assertEquals(5, signature.position());
    }

    @Test
    void aShortOutputOrAnErrorConsumesNothingAndTheCallCanBeRepeated() throws Exception {
        for (IntFunction<ByteBuffer> allocate : List.<IntFunction<ByteBuffer>>of(ByteBuffer::allocateDirect,
                ByteBuffer::allocate)) {
            CK_GCM_MESSAGE_PARAMS params = new CK_GCM_MESSAGE_PARAMS(new byte[12], 0, CKG_NO_GENERATE, new byte[16], 128);
            for (Map.Entry<String, Transform> t : transforms(params).entrySet()) {
                String fn = t.getKey().split(":")[0];
                ByteBuffer in = input(allocate);
                ByteBuffer out = allocate.apply(16).limit(4).position(2);  // room for 2
                module.script(fn, "out=A1B2C3 times=2");
                assertError(CKR_BUFFER_TOO_SMALL, () -> t.getValue().apply(in, out), fn);
                assertEquals(3, in.position(), fn + ": input not consumed");
                assertEquals(2, out.position(), fn);
                assertArrayEquals(new byte[16], contents(out), fn + ": nothing written");

                out.limit(12);
                assertEquals(3, t.getValue().apply(in, out), fn);
                assertEquals(5, out.position(), fn);
                List<Call> calls = module.calls(fn);
                assertEquals(2, calls.size(), fn);
                module.clear();
            }
        }
        ByteBuffer data = input(ByteBuffer::allocate);
        ByteBuffer signature = input(ByteBuffer::allocateDirect);
        assertModuleError("C_VerifyMessage", CKR_SIGNATURE_INVALID, () -> pkcs11.C_VerifyMessage(3, null, data, signature));
        assertEquals(3, data.position());
        assertEquals(3, signature.position());
    }

    @Test
    void aTwoXListAndBadArgumentsReachNoModule() throws Exception {
        ByteBuffer in = input(ByteBuffer::allocateDirect);
        ByteBuffer out = ByteBuffer.allocateDirect(16);
        module.clear();
        assertThrows(NullPointerException.class, () -> pkcs11.C_SignMessage(1, null, in, null));
        assertThrows(IllegalArgumentException.class, () -> pkcs11.C_EncryptMessage(1, null, null, out, out));
        assertThrows(ReadOnlyBufferException.class,
                () -> pkcs11.C_DecryptMessageNext(1, null, in, out.asReadOnlyBuffer(), 0));
        assertEquals(0, module.calls().size(), "the module is not called");

        TestModules.withConnection(TestModules.first(),
                twoX -> assertError(CKR_FUNCTION_NOT_SUPPORTED, () -> twoX.C_EncryptMessage(1, null, null, in, out)));
        assertEquals(3, in.position());
        assertEquals(0, out.position());
    }
}
