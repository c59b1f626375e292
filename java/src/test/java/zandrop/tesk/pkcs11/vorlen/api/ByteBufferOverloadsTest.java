package zandrop.tesk.pkcs11.vorlen.api;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.*;

import java.lang.reflect.InvocationTargetException;
import java.lang.reflect.Method;
import java.nio.ByteBuffer;
import java.nio.ReadOnlyBufferException;
import java.util.Arrays;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.function.IntFunction;

import org.junit.jupiter.api.Test;

import zandrop.tesk.pkcs11.vorlen.testmodule.Call;

/**
 * The ByteBuffer overloads: regions from position to limit, output at the position, positions
 * moved only on success, heap buffers copied, a short output refused with nothing consumed, and
 * bad arguments.
 */
class ByteBufferOverloadsTest extends CryptoWrapperCases {

    @FunctionalInterface
    interface Transform {
        int apply(long hSession, ByteBuffer in, ByteBuffer out) throws PKCS11Exception;
    }

    @FunctionalInterface
    interface Finish {
        int apply(long hSession, ByteBuffer out) throws PKCS11Exception;
    }

    private Map<String, Transform> transforms() {
        Map<String, Transform> m = new LinkedHashMap<>();
        m.put("C_Encrypt", pkcs11::C_Encrypt);
        m.put("C_EncryptUpdate", pkcs11::C_EncryptUpdate);
        m.put("C_Decrypt", pkcs11::C_Decrypt);
        m.put("C_DecryptUpdate", pkcs11::C_DecryptUpdate);
        m.put("C_Digest", pkcs11::C_Digest);
        m.put("C_Sign", pkcs11::C_Sign);
        return m;
    }

    /** 16 zero bytes, position 2, limit 12: room for 10. */
    private static ByteBuffer output(IntFunction<ByteBuffer> allocate) {
        return allocate.apply(16).limit(12).position(2);
    }

    @Test
    void transformsTakeTheRegionAndWriteAtThePositionInDirectAndHeapBuffers() throws Exception {
        Map<String, IntFunction<ByteBuffer>> kinds = Map.of("direct", ByteBuffer::allocateDirect,
                "heap", ByteBuffer::allocate,
                "heap slice", n -> ByteBuffer.allocate(n + 5).position(5).slice());
        for (Map.Entry<String, IntFunction<ByteBuffer>> kind : kinds.entrySet()) {
            for (Map.Entry<String, Transform> t : transforms().entrySet()) {
                String what = t.getKey() + " with " + kind.getKey() + " buffers";
                ByteBuffer in = input(kind.getValue());
                ByteBuffer out = output(kind.getValue());
                module.script(t.getKey(), "out=A1B2C3");
                assertEquals(3, t.getValue().apply(7, in, out), what);
                assertEquals(8, in.position(), what);
                assertEquals(5, out.position(), what);
                assertArrayEquals(writtenAt(2, (byte) 0xA1, (byte) 0xB2, (byte) 0xC3), contents(out),
                        what + ": nothing written outside the result");
                Call call = module.last(t.getKey());
                assertEquals(1, module.count(t.getKey()), what + ": one call, no size query");
                assertEquals(List.of("hex:" + Platform.hex(bytes(5, 0x13)), "5", "ptr", "10"), arguments(call, 1, 4),
                        what + ": the region, and the room up to the limit");
                module.clear();
            }
        }
        // A read-only heap input is copied as well.
        ByteBuffer readOnly = ByteBuffer.wrap(bytes(4, 1)).asReadOnlyBuffer();
        ByteBuffer out = ByteBuffer.allocateDirect(4);
        assertEquals(4, pkcs11.C_Encrypt(1, readOnly, out));
        assertArrayEquals(bytes(4, 1), contents(out), "the test module echoes its input");
        assertEquals(4, readOnly.position());
    }

    @Test
    void aShortOutputIsBufferTooSmallWithNothingConsumedAndTheCallCanBeRepeated() throws Exception {
        for (IntFunction<ByteBuffer> allocate : List.<IntFunction<ByteBuffer>>of(ByteBuffer::allocateDirect,
                ByteBuffer::allocate)) {
            for (Map.Entry<String, Transform> t : transforms().entrySet()) {
                String fn = t.getKey();
                ByteBuffer in = input(allocate);
                ByteBuffer out = output(allocate).limit(4);  // room for 2
                module.script(fn, "out=A1B2C3 times=2");
                assertError(CKR_BUFFER_TOO_SMALL, () -> t.getValue().apply(1, in, out), fn);
                assertEquals(3, in.position(), fn + ": input not consumed");
                assertEquals(2, out.position(), fn);
                assertArrayEquals(new byte[16], contents(out), fn + ": nothing written");

                out.limit(12);
                assertEquals(3, t.getValue().apply(1, in, out), fn);
                List<Call> calls = module.calls(fn);
                assertEquals(2, calls.size(), fn);
                assertEquals(argument(calls.get(0), 1), argument(calls.get(1), 1), fn + ": the same input again");
                module.clear();
            }
        }
    }

    @Test
    void finalsFeedsAndVerifyUseTheirRegions() throws Exception {
        Map<String, Finish> finals = new LinkedHashMap<>();
        finals.put("C_EncryptFinal", pkcs11::C_EncryptFinal);
        finals.put("C_DecryptFinal", pkcs11::C_DecryptFinal);
        finals.put("C_DigestFinal", pkcs11::C_DigestFinal);
        finals.put("C_SignFinal", pkcs11::C_SignFinal);
        for (Map.Entry<String, Finish> f : finals.entrySet()) {
            ByteBuffer out = ByteBuffer.allocateDirect(8).position(1);
            module.script(f.getKey(), "out=0102");
            assertEquals(2, f.getValue().apply(1, out), f.getKey());
            assertEquals(3, out.position(), f.getKey());
            assertArrayEquals(new byte[] {0, 1, 2, 0, 0, 0, 0, 0}, contents(out), f.getKey());
            assertEquals("7", argument(module.last(f.getKey()), 2), f.getKey());

            module.script(f.getKey(), "out=010203");
            ByteBuffer tight = ByteBuffer.allocate(4).position(2);
            assertError(CKR_BUFFER_TOO_SMALL, () -> f.getValue().apply(1, tight), f.getKey());
            assertEquals(2, tight.position(), f.getKey());
        }

        Map<String, Feed<ByteBuffer>> feeds = new LinkedHashMap<>();
        feeds.put("C_DigestUpdate", pkcs11::C_DigestUpdate);
        feeds.put("C_SignUpdate", pkcs11::C_SignUpdate);
        feeds.put("C_VerifyUpdate", pkcs11::C_VerifyUpdate);
        feeds.put("C_VerifyFinal", pkcs11::C_VerifyFinal);
        for (Map.Entry<String, Feed<ByteBuffer>> f : feeds.entrySet()) {
            ByteBuffer in = input(ByteBuffer::allocateDirect);
            f.getValue().apply(1, in);
            assertEquals(8, in.position(), f.getKey());
            assertEquals("hex:" + Platform.hex(bytes(5, 0x13)), argument(module.last(f.getKey()), 1), f.getKey());

            ByteBuffer failing = input(ByteBuffer::allocate);
            module.script(f.getKey(), "rv=" + CKR_SIGNATURE_INVALID);
            assertError(CKR_SIGNATURE_INVALID, () -> f.getValue().apply(1, failing), f.getKey());
            assertEquals(3, failing.position(), f.getKey() + ": positions move only on success");
        }

        ByteBuffer data = input(ByteBuffer::allocateDirect);
        ByteBuffer signature = ByteBuffer.wrap(bytes(6, 0x70), 2, 3);
        pkcs11.C_Verify(1, data, signature);
        Call verify = module.last("C_Verify");
        assertArrayEquals(bytes(5, 0x13), verify.bytes("pData"));
        assertArrayEquals(bytes(3, 0x72), verify.bytes("pSignature"));
        assertEquals(8, data.position());
        assertEquals(5, signature.position());
    }

    @Test
    void overlappingRegionsReadTheInputBeforeTheOutputIsWritten() throws Exception {
        ByteBuffer whole = ByteBuffer.allocateDirect(16).put(bytes(16, 0x40)).clear();
        ByteBuffer in = whole.duplicate().position(2).limit(10);
        ByteBuffer out = whole.duplicate().position(5);
        assertEquals(8, pkcs11.C_Encrypt(1, in, out));  // the test module echoes its input
        byte[] expected = bytes(16, 0x40);
        System.arraycopy(bytes(8, 0x42), 0, expected, 5, 8);
        assertArrayEquals(expected, contents(whole));
    }

    @Test
    void badArgumentsAndModulesAreRefusedWithoutMovingAnything() throws Exception {
        ByteBuffer in = input(ByteBuffer::allocateDirect);
        ByteBuffer out = output(ByteBuffer::allocateDirect);
        module.clear();
        assertThrows(NullPointerException.class, () -> pkcs11.C_Encrypt(1, null, out));
        assertThrows(NullPointerException.class, () -> pkcs11.C_Digest(1, in, null));
        assertThrows(NullPointerException.class, () -> pkcs11.C_Verify(1, in, null));
        assertThrows(NullPointerException.class, () -> pkcs11.C_DigestUpdate(1, (ByteBuffer) null));
        assertThrows(ReadOnlyBufferException.class, () -> pkcs11.C_Decrypt(1, in, out.asReadOnlyBuffer()));
        assertThrows(ReadOnlyBufferException.class,
                () -> pkcs11.C_SignFinal(1, ByteBuffer.allocate(4).asReadOnlyBuffer()));
        assertThrows(IllegalArgumentException.class, () -> pkcs11.C_Encrypt(1, out, out));
        assertEquals(0, module.calls().size(), "the module is not called");

        module.script("C_Digest", "out=01020304 len=11");
        assertRefused("C_Digest reported 11 bytes but only 10 were allocated", () -> pkcs11.C_Digest(1, in, out));
        assertEquals(3, in.position());
        assertEquals(2, out.position());

        PKCS11Impl disconnected = new PKCS11Impl();
        ByteBuffer untouched = output(ByteBuffer::allocate);
        assertNotConnected(() -> disconnected.C_Encrypt(1, in, untouched));
        assertEquals(3, in.position());
        assertEquals(2, untouched.position());
        assertArrayEquals(new byte[16], contents(untouched));
    }

    /**
     * The native side checks the regions itself, though the Java side never passes a bad one:
     * each row (function, input buffer, capacity, array, offset, length, then the same for the
     * output) is refused with its message before the module is called.
     */
    @Test
    void theNativeSideRefusesRegionsThatDoNotFit() throws Exception {
        Method call = PKCS11Impl.class.getDeclaredMethod("bufferCall", int.class, long.class,
                ByteBuffer.class, int.class, byte[].class, int.class, int.class, ByteBuffer.class, int.class,
                byte[].class, int.class, int.class);
        call.setAccessible(true);
        ByteBuffer direct = ByteBuffer.allocateDirect(8);
        byte[] array = new byte[8];
        Object[][] rows = {
            {99, null, 0, null, 0, 0, null, 0, null, 0, 0, "no such buffer function"},
            {-1, null, 0, null, 0, 0, null, 0, null, 0, 0, "no such buffer function"},
            {0, null, 0, array, -1, 2, null, 0, array, 0, 8, "a negative buffer offset or length"},
            {0, null, 0, array, 0, 2, null, 0, array, 0, -8, "a negative buffer offset or length"},
            {0, direct, -1, null, 0, 2, null, 0, array, 0, 8, "the buffer is not a direct buffer"},
            {0, ByteBuffer.allocate(8), 8, null, 0, 2, null, 0, array, 0, 8, "the buffer is not a direct buffer"},
            {0, direct, 8, null, 6, 3, null, 0, array, 0, 8, "the region lies outside the buffer"},
            {0, null, 0, null, 0, 3, null, 0, array, 0, 8, "no buffer for a region of bytes"},
            {0, null, 0, array, 0, 2, null, 0, array, 4, 5, "the region lies outside the array"},
        };
        module.clear();
        for (Object[] row : rows) {
            Object[] arguments = new Object[12];
            arguments[0] = row[0];
            arguments[1] = 1L; // the session
            System.arraycopy(row, 1, arguments, 2, 10);
            InvocationTargetException e = assertThrows(InvocationTargetException.class,
                    () -> call.invoke(pkcs11, arguments), Arrays.toString(row));
            assertTrue(e.getCause() instanceof IllegalArgumentException
                    && e.getCause().getMessage().equals(row[11]), Arrays.toString(row) + ": " + e.getCause());
        }
        Method message = PKCS11Impl.class.getDeclaredMethod("messageBufferCall", int.class, long.class, Object.class,
                byte[].class, ByteBuffer.class, int.class, byte[].class, int.class, int.class, ByteBuffer.class,
                int.class, byte[].class, int.class, int.class, long.class);
        message.setAccessible(true);
        InvocationTargetException e = assertThrows(InvocationTargetException.class, () -> message.invoke(pkcs11, 99, 1L,
                null, null, null, 0, null, 0, 0, null, 0, null, 0, 0, 0L));
        assertEquals("no such message buffer function", e.getCause().getMessage());
        assertEquals(0, module.calls().size(), "the module is not called");
    }
}
