package zandrop.tesk.pkcs11.vorlen.api;

import java.nio.ByteBuffer;
import java.util.ArrayList;
import java.util.List;
import java.util.function.IntFunction;
import java.util.stream.IntStream;

import zandrop.tesk.pkcs11.vorlen.testmodule.Call;

/**
 * What the tests of the cryptographic wrappers share, over their byte[] and their ByteBuffer
 * overloads alike: a freshly connected test module (see {@link ConnectedToTestModule}), the
 * arguments as the module recorded them, and numbered input bytes.
 */
abstract class CryptoWrapperCases extends ConnectedToTestModule {

    /** A part fed into a multi-part operation (or C_VerifyFinal's signature), given as an I. */
    @FunctionalInterface
    interface Feed<I> {
        void apply(long hSession, I input) throws PKCS11Exception;
    }

    /** The value of the n-th argument of a record line (0 is hSession). */
    static String argument(Call call, int n) {
        List<String> keys = new ArrayList<>(call.fields().keySet());
        return call.get(keys.get(n + 1));  // after thread=
    }

    /** The values of the arguments {@code from} to {@code to} of a record line. */
    static List<String> arguments(Call call, int from, int to) {
        return IntStream.rangeClosed(from, to).mapToObj(n -> argument(call, n)).toList();
    }

    /** n bytes counting up from from. */
    static byte[] bytes(int n, int from) {
        return Platform.counting(n, from, 1);
    }

    /** 16 bytes 0x10.., position 3, limit 8: the region is 0x13..0x17. */
    static ByteBuffer input(IntFunction<ByteBuffer> allocate) {
        return allocate.apply(16).put(bytes(16, 0x10)).limit(8).position(3);
    }

    /** 16 zero bytes but for {@code written} at {@code at}: what an output buffer holds after a call. */
    static byte[] writtenAt(int at, byte... written) {
        byte[] all = new byte[16];
        System.arraycopy(written, 0, all, at, written.length);
        return all;
    }

    /** The whole buffer, whatever its position and limit. */
    static byte[] contents(ByteBuffer b) {
        byte[] all = new byte[b.capacity()];
        b.duplicate().clear().get(all);
        return all;
    }
}
