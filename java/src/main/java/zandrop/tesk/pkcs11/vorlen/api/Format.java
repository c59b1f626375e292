package zandrop.tesk.pkcs11.vorlen.api;

import java.util.Arrays;

/**
 * Text helpers shared by the {@code toString} methods of this package.
 *
 * <p>They show values the way a PKCS #11 developer reads them: character fields without their
 * blank padding, flags in hexadecimal with the names of their bits, counts as unsigned numbers with the special values by
 * name, byte arrays in hexadecimal. They never change the objects they describe.
 */
final class Format {

    /** Number of bytes of an array shown in hexadecimal before the rest is left out. */
    static final int MAX_BYTES_SHOWN = 64;

    private Format() {
    }

    /**
     * Returns the characters of a fixed-width field without its trailing padding (blanks, as the
     * standard prescribes, and zero characters, which some modules use instead).
     */
    static String chars(char[] value) {
        if (value == null) {
            return "null";
        }
        int end = value.length;
        while (end > 0 && (value[end - 1] == ' ' || value[end - 1] == '\0')) {
            end--;
        }
        return new String(value, 0, end);
    }

    /** Returns the bytes in hexadecimal, such as {@code 0A1B2C}; long arrays are cut short. */
    static String hex(byte[] value) {
        if (value == null) {
            return "null";
        }
        if (value.length == 0) {
            return "(empty)";
        }
        int shown = Math.min(value.length, MAX_BYTES_SHOWN);
        StringBuilder text = new StringBuilder(2 * shown + 24);
        for (int i = 0; i < shown; i++) {
            appendHexByte(text, value[i]);
        }
        if (shown < value.length) {
            text.append("...(").append(value.length).append(" bytes)");
        }
        return text.toString();
    }

    /**
     * Returns characters that stand for bytes (such as an initialization vector held in a
     * char[]) in hexadecimal: each character as the low byte that reaches the module.
     */
    static String hex(char[] value) {
        if (value == null) {
            return "null";
        }
        byte[] bytes = new byte[value.length];
        for (int i = 0; i < value.length; i++) {
            bytes[i] = (byte) value[i];
        }
        return hex(bytes);
    }

    /** Describes secret bytes (keys, passwords) by their length only. */
    static String hidden(byte[] value) {
        return value == null ? "null" : "(" + value.length + " bytes, hidden)";
    }

    /** Describes a secret character array (PINs, passwords) by its length only. */
    static String hidden(char[] value) {
        return value == null ? "null" : "(" + value.length + " chars, hidden)";
    }

    /** Returns flags as eight or more hexadecimal digits, such as {@code 0x0000040D}. */
    static String flags(long value) {
        return String.format("0x%08X", value);
    }

    /**
     * Returns flags in hexadecimal followed by the names of their bits, such as
     * {@code 0x00000006 (CKF_RW_SESSION|CKF_SERIAL_SESSION)}; no names for 0.
     *
     * @param value the flags
     * @param names the names of the bits that are set, from a flag decoder of
     *     {@link PKCS11Constants}
     */
    static String flags(long value, java.util.List<String> names) {
        return names.isEmpty() ? flags(value) : flags(value) + " (" + String.join("|", names) + ")";
    }

    /** Returns a {@code CK_ULONG} as an unsigned decimal number. */
    static String unsigned(long value) {
        return Long.toUnsignedString(value);
    }

    /**
     * Tells whether a {@code CK_ULONG} read from a module is
     * {@link PKCS11Constants#CK_UNAVAILABLE_INFORMATION}. All bits of the native value are set:
     * 4294967295 where a {@code CK_ULONG} has 32 bits, -1 where it has 64.
     */
    static boolean isUnavailable(long value) {
        return value == PKCS11Constants.CK_UNAVAILABLE_INFORMATION || value == -1L;
    }

    /** Returns a count or size, naming the unavailable-information marker. */
    static String count(long value) {
        return isUnavailable(value) ? "CK_UNAVAILABLE_INFORMATION" : unsigned(value);
    }

    /**
     * Returns a maximum count (of sessions), naming the unavailable-information marker and
     * {@link PKCS11Constants#CK_EFFECTIVELY_INFINITE}.
     */
    static String maxCount(long value) {
        if (value == PKCS11Constants.CK_EFFECTIVELY_INFINITE) {
            return "CK_EFFECTIVELY_INFINITE";
        }
        return count(value);
    }

    /**
     * Returns a named value: its name when it has one, otherwise the vendor-defined base plus
     * offset for values at or above {@code 0x80000000}, otherwise the value in hexadecimal.
     *
     * @param name the name that a look-up found, or null
     * @param vendorBase the name of the vendor-defined base, such as {@code "CKM_VENDOR_DEFINED"}
     * @param value the value
     */
    static String named(String name, String vendorBase, long value) {
        if (name != null) {
            return name;
        }
        if (Long.compareUnsigned(value, 0x80000000L) >= 0) {
            long offset = value - 0x80000000L;
            return offset == 0 ? vendorBase : vendorBase + "+" + flags(offset);
        }
        return flags(value);
    }

    /** Returns the name of a mechanism type, or the best description of an unnamed one. */
    static String mechanism(long type) {
        return named(PKCS11Constants.mechanismName(type), "CKM_VENDOR_DEFINED", type);
    }

    /** Returns the name of an attribute type, or the best description of an unnamed one. */
    static String attribute(long type) {
        return named(PKCS11Constants.attributeName(type), "CKA_VENDOR_DEFINED", type);
    }

    /**
     * Returns any value that may stand in an attribute or a mechanism parameter: arrays by their
     * elements (bytes in hexadecimal, characters as quoted text), strings quoted, everything
     * else by its own {@code toString}.
     */
    static String value(Object value) {
        if (value == null) {
            return "null";
        }
        if (value instanceof byte[]) {
            return hex((byte[]) value);
        }
        if (value instanceof char[]) {
            return '"' + chars((char[]) value) + '"';
        }
        if (value instanceof String) {
            return '"' + (String) value + '"';
        }
        if (value instanceof boolean[]) {
            return Arrays.toString((boolean[]) value);
        }
        if (value instanceof int[]) {
            return Arrays.toString((int[]) value);
        }
        if (value instanceof long[]) {
            return Arrays.toString((long[]) value);
        }
        if (value instanceof Object[]) {
            return Arrays.toString((Object[]) value);
        }
        return value.toString();
    }

    private static void appendHexByte(StringBuilder text, byte b) {
        final String digits = "0123456789ABCDEF";
        text.append(digits.charAt((b >> 4) & 0x0F)).append(digits.charAt(b & 0x0F));
    }

    /** Builds the text {@code ClassName[field=value, field=value]}. */
    static final class Fields {

        private final StringBuilder text;
        private boolean empty = true;

        Fields(String className) {
            text = new StringBuilder(className).append('[');
        }

        /** Adds one field; the value is shown with {@link String#valueOf(Object)}. */
        Fields add(String name, Object value) {
            if (!empty) {
                text.append(", ");
            }
            empty = false;
            text.append(name).append('=').append(value);
            return this;
        }

        /** Returns the finished text. */
        String build() {
            return text.toString() + ']';
        }
    }
}
