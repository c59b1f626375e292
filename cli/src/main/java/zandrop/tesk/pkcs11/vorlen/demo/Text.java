package zandrop.tesk.pkcs11.vorlen.demo;

import java.io.PrintStream;
import java.util.ArrayList;
import java.util.HexFormat;
import java.util.List;

import zandrop.tesk.pkcs11.vorlen.api.CK_VERSION;
import zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants;

/** Plain text for the terminal: names of values, hexadecimal, and aligned tables. */
final class Text {

    private Text() {
    }

    /** A blank-padded character field of the module, without the padding. */
    static String chars(char[] field) {
        if (field == null) {
            return "";
        }
        return new String(field).stripTrailing();
    }

    static String hex(byte[] bytes) {
        return HexFormat.of().formatHex(bytes);
    }

    /** Long byte strings by their ends: "3a4f5c6d...e1f2 (256 bytes)". */
    static String shortHex(byte[] bytes) {
        if (bytes.length <= 16) {
            return hex(bytes) + " (" + bytes.length + " bytes)";
        }
        HexFormat hex = HexFormat.of();
        return hex.formatHex(bytes, 0, 8) + "..." + hex.formatHex(bytes, bytes.length - 4, bytes.length)
                + " (" + bytes.length + " bytes)";
    }

    static String handle(long value) {
        return "0x" + Long.toHexString(value);
    }

    static String version(CK_VERSION version) {
        return version == null ? "?" : version.toString();
    }

    static String mechanism(long type) {
        String name = PKCS11Constants.mechanismName(type);
        return name != null ? name : String.format("0x%08X", type);
    }

    static String objectClass(long value) {
        String name = PKCS11Constants.objectClassName(value);
        return name != null ? name : String.format("0x%08X", value);
    }

    static String keyType(long value) {
        String name = PKCS11Constants.keyTypeName(value);
        return name != null ? name : String.format("0x%08X", value);
    }

    /**
     * The flag names that {@code PKCS11Constants} decodes, short: without "CKF_", in lower case,
     * words joined by '-' ("token-present", "sign"); a bit without a name stays in hex.
     */
    static String flagNames(List<String> names) {
        List<String> shown = new ArrayList<>();
        for (String name : names) {
            shown.add(name.startsWith("CKF_") ? name.substring(4).toLowerCase(java.util.Locale.ROOT).replace('_', '-')
                    : name);
        }
        return shown.isEmpty() ? "-" : String.join(" ", shown);
    }

    /** Rows printed as columns, each as wide as its widest cell; the last column is not padded. */
    static final class Table {
        private final List<String[]> rows = new ArrayList<>();
        private final String indent;

        Table(String indent) {
            this.indent = indent;
        }

        Table row(String... cells) {
            rows.add(cells);
            return this;
        }

        void print(PrintStream out) {
            int columns = 0;
            for (String[] row : rows) {
                columns = Math.max(columns, row.length);
            }
            int[] widths = new int[columns];
            for (String[] row : rows) {
                for (int i = 0; i < row.length - 1; i++) {
                    widths[i] = Math.max(widths[i], row[i].length());
                }
            }
            for (String[] row : rows) {
                StringBuilder line = new StringBuilder(indent);
                for (int i = 0; i < row.length; i++) {
                    if (i < row.length - 1) {
                        line.append(String.format("%-" + Math.max(1, widths[i]) + "s  ", row[i]));
                    } else {
                        line.append(row[i]);
                    }
                }
                out.println(line.toString().stripTrailing());
            }
        }
    }
}
