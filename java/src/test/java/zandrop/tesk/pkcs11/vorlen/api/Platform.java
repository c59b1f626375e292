package zandrop.tesk.pkcs11.vorlen.api;

import java.nio.ByteBuffer;
import java.nio.ByteOrder;

/**
 * The native widths of the platform the tests run on, so that one suite states its expectations
 * for 32-bit and 64-bit CK_ULONG alike.
 */
final class Platform {
    private Platform() {
    }

    /** sizeof(CK_ULONG): 4 on Windows and 32-bit Linux, 8 on 64-bit Linux. */
    static final int ULONG_SIZE = System.getProperty("os.name").startsWith("Windows")
            || "32".equals(System.getProperty("sun.arch.data.model")) ? 4 : 8;

    /** All bits of a CK_ULONG set, as a Java long (zero-extended): CK_UNAVAILABLE_INFORMATION. */
    static final long ALL_BITS = ULONG_SIZE == 8 ? -1L : 0xFFFFFFFFL;

    /** A Java long as the CK_ULONG it becomes: the low bits that fit. */
    static long ulong(long value) {
        return ULONG_SIZE == 8 ? value : value & 0xFFFFFFFFL;
    }

    /** The native bytes of a CK_ULONG holding the low bits of {@code value}. */
    static byte[] ulongBytes(long... values) {
        ByteBuffer buffer = ByteBuffer.allocate(values.length * ULONG_SIZE).order(ByteOrder.nativeOrder());
        for (long value : values) {
            if (ULONG_SIZE == 8) {
                buffer.putLong(value);
            } else {
                buffer.putInt((int) value);
            }
        }
        return buffer.array();
    }

    /** {@code length} bytes counting from {@code start} in steps of {@code step} (mod 256). */
    static byte[] counting(int length, int start, int step) {
        byte[] bytes = new byte[length];
        for (int i = 0; i < length; i++) {
            bytes[i] = (byte) (start + step * i);
        }
        return bytes;
    }

    /** A fixed-width character field as a module fills it: the text, then the padding. */
    static char[] padded(String text, int width, char pad) {
        char[] field = new char[width];
        java.util.Arrays.fill(field, pad);
        text.getChars(0, text.length(), field, 0);
        return field;
    }

    /** The parts one after the other. */
    static byte[] concat(byte[]... parts) {
        java.io.ByteArrayOutputStream out = new java.io.ByteArrayOutputStream();
        java.util.Arrays.stream(parts).forEach(out::writeBytes);
        return out.toByteArray();
    }

    /** Hex of the native bytes of CK_ULONGs, for scripting the test module. */
    static String ulongHex(long... values) {
        return hex(ulongBytes(values));
    }

    /** Hex of a byte string, for scripting the test module. */
    static String hex(byte[] bytes) {
        return java.util.HexFormat.of().formatHex(bytes);
    }
}
