package zandrop.tesk.pkcs11.vorlen.testmodule;

import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collections;
import java.util.HexFormat;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.NoSuchElementException;
import java.util.stream.Collectors;

/**
 * One line of the test module's record: a call of a module entry with its arguments as the module
 * received them, or a {@code callback} pseudo-call made by the module. See {@link TestModule} for
 * the line format.
 */
public final class Call {

    /**
     * One entry of a recorded template.
     *
     * @param type the attribute type
     * @param len the value length as the module received it
     * @param value the value bytes, or null when the value pointer was null or its bytes were not
     *     recorded (an output buffer, or a length too large to read)
     */
    public record Attr(long type, long len, byte[] value, List<Attr> nested) {
        /** An entry without nested attributes. */
        public Attr(long type, long len, byte[] value) {
            this(type, len, value, null);
        }
    }

    private final String line;
    private final String function;
    private final Map<String, String> fields;

    private Call(String line, String function, Map<String, String> fields) {
        this.line = line;
        this.function = function;
        this.fields = fields;
    }

    /**
     * Parses one record line: the function name, then space-separated {@code key=value} fields.
     *
     * @throws IllegalArgumentException for a line that does not have this form
     */
    static Call parse(String line) {
        String[] tokens = line.trim().split(" +");
        if (tokens.length == 0 || tokens[0].isEmpty() || tokens[0].contains("=")) {
            throw new IllegalArgumentException("not a record line: '" + line + "'");
        }
        Map<String, String> fields = new LinkedHashMap<>();
        for (int i = 1; i < tokens.length; i++) {
            int eq = tokens[i].indexOf('=');
            if (eq <= 0) {
                throw new IllegalArgumentException("bad field '" + tokens[i] + "' in '" + line + "'");
            }
            fields.put(tokens[i].substring(0, eq), tokens[i].substring(eq + 1));
        }
        return new Call(line, tokens[0], Collections.unmodifiableMap(fields));
    }

    /** The entry name, such as {@code C_Sign}, or {@code callback}. */
    public String function() {
        return function;
    }

    /** The kernel thread id of the thread that made the call or ran the callback. */
    public long thread() {
        return num("thread");
    }

    /** Whether the line has the field {@code key}. */
    public boolean has(String key) {
        return fields.containsKey(key);
    }

    /** All fields in line order. */
    public Map<String, String> fields() {
        return fields;
    }

    /**
     * The raw text of field {@code key}.
     *
     * @throws NoSuchElementException when the line has no such field
     */
    public String get(String key) {
        String value = fields.get(key);
        if (value == null) {
            throw new NoSuchElementException("no field '" + key + "' in: " + line);
        }
        return value;
    }

    /**
     * A numeric field, read as an unsigned decimal number into the bit pattern of a long (so a
     * 64-bit CK_ULONG with all bits set reads as -1).
     *
     * @throws NoSuchElementException when the field is missing
     * @throws IllegalStateException when it is not a number
     */
    public long num(String key) {
        String value = get(key);
        try {
            return Long.parseUnsignedLong(value);
        } catch (NumberFormatException e) {
            throw new IllegalStateException("field '" + key + "' is not a number in: " + line, e);
        }
    }

    /** Whether field {@code key} records a null pointer. */
    public boolean isNull(String key) {
        return get(key).equals("null");
    }

    /**
     * The bytes of a buffer field ({@code hex:...}), or null for a null pointer.
     *
     * @throws IllegalStateException when the field holds no bytes (for example {@code ptr})
     */
    public byte[] bytes(String key) {
        String value = get(key);
        if (value.equals("null")) {
            return null;
        }
        if (!value.startsWith("hex:")) {
            throw new IllegalStateException("field '" + key + "' holds no bytes in: " + line);
        }
        return HexFormat.of().parseHex(value.substring(4));
    }

    /**
     * A template field ({@code [type:len:value;...]}), or null for a null template pointer.
     *
     * @throws IllegalStateException when the field is not a template
     */
    public List<Attr> template(String key) {
        String value = get(key);
        if (value.equals("null")) {
            return null;
        }
        if (!value.startsWith("[") || !value.endsWith("]")) {
            throw new IllegalStateException("field '" + key + "' is not a template in: " + line);
        }
        return attrs(value.substring(1, value.length() - 1), ";");
    }

    // The entries of `body` (none when it is empty), separated by `separator`.
    private List<Attr> attrs(String body, String separator) {
        return body.isEmpty() ? new ArrayList<>()
                : Arrays.stream(body.split(separator, -1)).map(this::attr).collect(Collectors.toCollection(ArrayList::new));
    }

    // One entry: type:len:value, the value hex, null, ptr or {nested entries, comma-separated}.
    private Attr attr(String entry) {
        String[] parts = entry.split(":", 3);
        if (parts.length != 3) {
            throw new IllegalStateException("bad template entry '" + entry + "' in: " + line);
        }
        long type = Long.parseUnsignedLong(parts[0]);
        long len = Long.parseUnsignedLong(parts[1]);
        if (parts[2].startsWith("{") && parts[2].endsWith("}")) {
            return new Attr(type, len, null, attrs(parts[2].substring(1, parts[2].length() - 1), ","));
        }
        byte[] bytes = parts[2].equals("null") || parts[2].equals("ptr") ? null : HexFormat.of().parseHex(parts[2]);
        return new Attr(type, len, bytes);
    }

    /** The record line as the module wrote it. */
    @Override
    public String toString() {
        return line;
    }
}
