package zandrop.tesk.pkcs11.vorlen.token;

import java.io.ByteArrayOutputStream;
import java.nio.charset.StandardCharsets;
import java.util.Arrays;
import java.util.Collections;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.Objects;

import zandrop.tesk.pkcs11.vorlen.api.CK_INFO;
import zandrop.tesk.pkcs11.vorlen.api.CK_SLOT_INFO;
import zandrop.tesk.pkcs11.vorlen.api.CK_TOKEN_INFO;
import zandrop.tesk.pkcs11.vorlen.api.CK_VERSION;
import zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants;

/**
 * A PKCS #11 URI (RFC 7512), such as
 * {@code pkcs11:token=My%20token;object=signing%20key;type=private?module-path=/usr/lib/softhsm/libsofthsm2.so}:
 * it selects a module, a slot, a token and objects.
 *
 * <p>Every attribute of the RFC is understood: in the path {@code library-manufacturer},
 * {@code library-description}, {@code library-version}, {@code slot-manufacturer},
 * {@code slot-description}, {@code slot-id}, {@code model}, {@code manufacturer}, {@code serial},
 * {@code token}, {@code id}, {@code object} and {@code type}; in the query {@code pin-source},
 * {@code pin-value}, {@code module-name} and {@code module-path}. Other attributes (vendor
 * attributes, named {@code x-...} by the RFC, or attributes of a later revision) are kept with
 * their values and formatted again; an object with unknown path attributes never matches
 * anything, since the condition it states cannot be checked.
 *
 * <p>Values are kept as the bytes that the percent-decoding gives: {@code id} is binary, the
 * other values are UTF-8 text, and their accessors decode them as such (a byte sequence that is
 * not UTF-8, as a legacy token label may be, reads with replacement characters but is kept, so
 * that it formats and matches exactly). The matching methods compare bytes: a label or
 * description of a {@code CK_TOKEN_INFO}, {@code CK_SLOT_INFO} or {@code CK_INFO}, whose
 * characters each stand for one byte, is compared without its trailing blank padding.
 *
 * <p>{@link #toString()} formats the URI in the order that p11-kit (and with it GnuTLS's
 * p11tool) uses: module, slot, token and object attributes in the path, then the query. As
 * there, only letters, digits, {@code -}, {@code .} and {@code _} stay as they are, every other
 * byte is percent-encoded in upper-case hexadecimal, every byte of {@code id} too; but a
 * {@code /} in {@code module-path} and {@code pin-source} stays as it is, as the RFC allows in
 * the query, so that file names remain readable. A URI with {@code pin-value} carries the PIN in
 * its text.
 *
 * <p>The parser follows the RFC's grammar strictly where p11-kit is lenient: it refuses white
 * space (p11-kit drops it), an attribute given twice (p11-kit keeps the last), an empty
 * attribute such as a trailing {@code ;}, a {@code ;} in the query, and a {@code type} other than
 * the five the RFC defines. It takes the scheme in any case, as p11-kit does.
 *
 * <p>Objects of this class are immutable and thread-safe.
 */
public final class Pkcs11Uri {

    /** The scheme, with its colon. */
    public static final String SCHEME = "pkcs11:";

    // Path attributes in the order they are formatted.
    private static final List<String> PATH_ORDER = List.of(
            "library-description", "library-manufacturer", "library-version",
            "slot-description", "slot-manufacturer", "slot-id",
            "model", "manufacturer", "serial", "token",
            "id", "object", "type");
    // Query attributes in the order they are formatted.
    private static final List<String> QUERY_ORDER = List.of(
            "pin-source", "pin-value", "module-name", "module-path");
    /** The values of {@code type}, and the object classes they stand for. */
    private static final Map<String, Long> TYPES = Map.of(
            "public", PKCS11Constants.CKO_PUBLIC_KEY,
            "private", PKCS11Constants.CKO_PRIVATE_KEY,
            "cert", PKCS11Constants.CKO_CERTIFICATE,
            "secret-key", PKCS11Constants.CKO_SECRET_KEY,
            "data", PKCS11Constants.CKO_DATA);
    // RFC 7512's characters allowed unencoded in a value besides the unreserved ones.
    private static final String RES_AVAIL = ":[]@!$'()*+,=";
    private static final String PATH_AVAIL = RES_AVAIL + "&";
    private static final String QUERY_AVAIL = RES_AVAIL + "/?|";

    private final Map<String, byte[]> path;
    private final Map<String, byte[]> query;

    private Pkcs11Uri(Map<String, byte[]> path, Map<String, byte[]> query) {
        this.path = path;
        this.query = query;
    }

    // ---- parsing

    /**
     * Parses a PKCS #11 URI.
     *
     * @param text the URI, beginning with {@code pkcs11:} (the scheme in any case)
     * @return the URI
     * @throws IllegalArgumentException when the text is not a PKCS #11 URI: another scheme, an
     *     attribute without {@code =} or with an empty or malformed name, a character that must
     *     be percent-encoded, a malformed percent-encoding, an attribute given twice, or an
     *     invalid value of {@code type}, {@code slot-id} or {@code library-version}; the message
     *     says which and where
     * @throws NullPointerException when the text is null
     */
    public static Pkcs11Uri parse(String text) {
        Objects.requireNonNull(text, "text");
        if (!text.regionMatches(true, 0, SCHEME, 0, SCHEME.length())) {
            throw new IllegalArgumentException("not a PKCS#11 URI (it must begin with \"pkcs11:\"): " + quoted(text));
        }
        int queryStart = text.indexOf('?', SCHEME.length());
        int pathEnd = queryStart < 0 ? text.length() : queryStart;
        Map<String, byte[]> path = new LinkedHashMap<>();
        Map<String, byte[]> query = new LinkedHashMap<>();
        parseComponent(text, SCHEME.length(), pathEnd, ';', PATH_AVAIL, path, "path");
        if (queryStart >= 0) {
            parseComponent(text, queryStart + 1, text.length(), '&', QUERY_AVAIL, query, "query");
        }
        for (Map.Entry<String, byte[]> attribute : path.entrySet()) {
            attribute.setValue(checkValue(attribute.getKey(), attribute.getValue(), text));
        }
        return new Pkcs11Uri(path, query);
    }

    private static void parseComponent(String text, int start, int end, char separator, String avail,
            Map<String, byte[]> into, String component) {
        if (start == end) {
            return;
        }
        int at = start;
        while (true) {
            int next = text.indexOf(separator, at);
            if (next < 0 || next > end) {
                next = end;
            }
            int equals = text.indexOf('=', at);
            if (equals < 0 || equals >= next) {
                throw new IllegalArgumentException(component + " attribute without '=' at index " + at
                        + " of " + quoted(text));
            }
            String name = text.substring(at, equals);
            if (!validName(name)) {
                throw new IllegalArgumentException("malformed attribute name " + quoted(name) + " at index " + at
                        + " of " + quoted(text));
            }
            byte[] value = decode(text, equals + 1, next, avail, component);
            if (into.containsKey(name) || ("path".equals(component) ? QUERY_ORDER : PATH_ORDER).contains(name)) {
                throw new IllegalArgumentException(into.containsKey(name)
                        ? "attribute " + name + " is given twice in " + quoted(text)
                        : "attribute " + name + " belongs in the " + ("path".equals(component) ? "query" : "path")
                                + ", not the " + component + ", of " + quoted(text));
            }
            into.put(name, value);
            if (next == end) {
                return;
            }
            at = next + 1;
        }
    }

    private static boolean validName(String name) {
        if (name.isEmpty()) {
            return false;
        }
        for (int i = 0; i < name.length(); i++) {
            char c = name.charAt(i);
            if (!(isAlphaNum(c) || c == '-' || c == '_')) {
                return false;
            }
        }
        return true;
    }

    private static byte[] decode(String text, int start, int end, String avail, String component) {
        ByteArrayOutputStream bytes = new ByteArrayOutputStream(end - start);
        for (int i = start; i < end; i++) {
            char c = text.charAt(i);
            if (c == '%') {
                int high = i + 2 < end ? hexDigit(text.charAt(i + 1)) : -1;
                int low = i + 2 < end ? hexDigit(text.charAt(i + 2)) : -1;
                if (high < 0 || low < 0) {
                    throw new IllegalArgumentException("malformed percent-encoding at index " + i + " of "
                            + quoted(text) + ": '%' must be followed by two hexadecimal digits");
                }
                bytes.write(high << 4 | low);
                i += 2;
            } else if (isUnreserved(c) || avail.indexOf(c) >= 0) {
                bytes.write(c);
            } else {
                throw new IllegalArgumentException("character " + describe(c) + " at index " + i + " of "
                        + quoted(text) + " must be percent-encoded in the " + component);
            }
        }
        return bytes.toByteArray();
    }

    /**
     * Checks the values that have a syntax of their own; returns the value, a library-version
     * as "major.minor".
     */
    private static byte[] checkValue(String name, byte[] value, String text) {
        String string = new String(value, StandardCharsets.UTF_8);
        switch (name) {
            case "type":
                if (!TYPES.containsKey(string)) {
                    throw new IllegalArgumentException("type=" + string + " is none of public, private, cert,"
                            + " secret-key, data" + (text == null ? "" : ", in " + quoted(text)));
                }
                break;
            case "slot-id":
                if (!string.matches("[0-9]{1,20}") || !fitsUnsignedLong(string)) {
                    throw new IllegalArgumentException("slot-id=" + string + " is not a decimal slot number"
                            + (text == null ? "" : ", in " + quoted(text)));
                }
                break;
            case "library-version":
                int[] version = parseVersion(string);
                if (version == null) {
                    throw new IllegalArgumentException("library-version=" + string
                            + " is not a version \"major\" or \"major.minor\" (numbers 0 to 255)"
                            + (text == null ? "" : ", in " + quoted(text)));
                }
                return (version[0] + "." + version[1]).getBytes(StandardCharsets.US_ASCII);
            default:
                break;
        }
        return value;
    }

    private static boolean fitsUnsignedLong(String digits) {
        try {
            Long.parseUnsignedLong(digits);
            return true;
        } catch (NumberFormatException e) {
            return false;
        }
    }

    private static int[] parseVersion(String text) {
        if (!text.matches("[0-9]{1,3}(\\.[0-9]{1,3})?")) {
            return null;
        }
        int dot = text.indexOf('.');
        int major = Integer.parseInt(dot < 0 ? text : text.substring(0, dot));
        int minor = dot < 0 ? 0 : Integer.parseInt(text.substring(dot + 1));
        return major > 255 || minor > 255 ? null : new int[] {major, minor};
    }

    // ---- building

    /** Returns a builder of a URI without attributes ({@code pkcs11:}). */
    public static Builder builder() {
        return new Builder(new LinkedHashMap<>(), new LinkedHashMap<>());
    }

    /** Returns a builder that starts with this URI's attributes. */
    public Builder toBuilder() {
        return new Builder(copy(path), copy(query));
    }

    /**
     * The URI of a module, as p11-kit formats it: {@code library-description},
     * {@code library-manufacturer} (without their padding) and {@code library-version}.
     *
     * @param info the module's information
     * @return the URI
     */
    public static Pkcs11Uri forModule(CK_INFO info) {
        return builder().put("library-description", padded(info.libraryDescription))
                .put("library-manufacturer", padded(info.manufacturerID))
                .libraryVersion(info.libraryVersion.major & 0xFF, info.libraryVersion.minor & 0xFF)
                .build();
    }

    /**
     * The URI of a slot: {@code slot-description}, {@code slot-manufacturer} and {@code slot-id}.
     *
     * @param slotId the slot's identifier
     * @param info the slot's information
     * @return the URI
     */
    public static Pkcs11Uri forSlot(long slotId, CK_SLOT_INFO info) {
        return builder().put("slot-description", padded(info.slotDescription))
                .put("slot-manufacturer", padded(info.manufacturerID))
                .slotId(slotId)
                .build();
    }

    /**
     * The URI of a token: {@code model}, {@code manufacturer}, {@code serial} and {@code token}
     * (the label), without their padding; the URI that p11tool prints for the token.
     *
     * @param info the token's information
     * @return the URI
     */
    public static Pkcs11Uri forToken(CK_TOKEN_INFO info) {
        return builder().put("model", padded(info.model))
                .put("manufacturer", padded(info.manufacturerID))
                .put("serial", padded(info.serialNumber))
                .put("token", padded(info.label))
                .build();
    }

    /**
     * This URI with the attributes of one object: {@code id}, {@code object} (the label) and
     * {@code type}, each left out when the object has none or an empty one, as p11tool does.
     *
     * @param objectClass the object's {@code CKA_CLASS}; a class without a {@code type} value
     *     (such as {@code CKO_HW_FEATURE}) leaves {@code type} out
     * @param label the object's {@code CKA_LABEL}, or null
     * @param id the object's {@code CKA_ID}, or null
     * @return the new URI
     */
    public Pkcs11Uri withObject(long objectClass, String label, byte[] id) {
        Builder builder = toBuilder()
                .object(label == null || label.isEmpty() ? null : label)
                .id(id == null || id.length == 0 ? null : id)
                .type(null);
        for (Map.Entry<String, Long> type : TYPES.entrySet()) {
            if (type.getValue() == objectClass) {
                builder.type(type.getKey());
            }
        }
        return builder.build();
    }

    /**
     * Assembles a URI attribute by attribute. A null value removes the attribute. Text values
     * are encoded as UTF-8.
     */
    public static final class Builder {
        private final Map<String, byte[]> path;
        private final Map<String, byte[]> query;

        private Builder(Map<String, byte[]> path, Map<String, byte[]> query) {
            this.path = path;
            this.query = query;
        }

        private Builder put(String name, byte[] value) {
            if (value == null) {
                path.remove(name);
            } else {
                path.put(name, checkValue(name, value.clone(), null));
            }
            return this;
        }

        private Builder putText(String name, String value) {
            return put(name, value == null ? null : value.getBytes(StandardCharsets.UTF_8));
        }

        private Builder putQuery(String name, String value) {
            if (value == null) {
                query.remove(name);
            } else {
                query.put(name, value.getBytes(StandardCharsets.UTF_8));
            }
            return this;
        }

        /** Sets {@code token}, the token's label. */
        public Builder token(String label) {
            return putText("token", label);
        }

        /** Sets {@code manufacturer}, the token's manufacturer. */
        public Builder manufacturer(String manufacturer) {
            return putText("manufacturer", manufacturer);
        }

        /** Sets {@code serial}, the token's serial number. */
        public Builder serial(String serial) {
            return putText("serial", serial);
        }

        /** Sets {@code model}, the token's model. */
        public Builder model(String model) {
            return putText("model", model);
        }

        /** Sets {@code library-manufacturer}. */
        public Builder libraryManufacturer(String manufacturer) {
            return putText("library-manufacturer", manufacturer);
        }

        /** Sets {@code library-description}. */
        public Builder libraryDescription(String description) {
            return putText("library-description", description);
        }

        /**
         * Sets {@code library-version}.
         *
         * @throws IllegalArgumentException when a number is outside 0 to 255
         */
        public Builder libraryVersion(int major, int minor) {
            if (major < 0 || major > 255 || minor < 0 || minor > 255) {
                throw new IllegalArgumentException("library-version " + major + "." + minor
                        + ": each number must be 0 to 255");
            }
            return putText("library-version", major + "." + minor);
        }

        /** Sets {@code slot-manufacturer}. */
        public Builder slotManufacturer(String manufacturer) {
            return putText("slot-manufacturer", manufacturer);
        }

        /** Sets {@code slot-description}. */
        public Builder slotDescription(String description) {
            return putText("slot-description", description);
        }

        /** Sets {@code slot-id}, a {@code CK_SLOT_ID} (unsigned). */
        public Builder slotId(long slotId) {
            return putText("slot-id", Long.toUnsignedString(slotId));
        }

        /** Sets {@code object}, the object's label. */
        public Builder object(String label) {
            return putText("object", label);
        }

        /** Sets {@code id}, the object's {@code CKA_ID}. */
        public Builder id(byte[] id) {
            return put("id", id);
        }

        /**
         * Sets {@code type}.
         *
         * @param type {@code public}, {@code private}, {@code cert}, {@code secret-key},
         *     {@code data}, or null
         * @throws IllegalArgumentException for any other value
         */
        public Builder type(String type) {
            return putText("type", type);
        }

        /** Sets {@code pin-value}, the PIN itself. */
        public Builder pinValue(String pin) {
            return putQuery("pin-value", pin);
        }

        /** Sets {@code pin-source}, where the PIN is to be read from (such as a file's URI). */
        public Builder pinSource(String source) {
            return putQuery("pin-source", source);
        }

        /** Sets {@code module-name}, the module's name without path and suffix. */
        public Builder moduleName(String name) {
            return putQuery("module-name", name);
        }

        /** Sets {@code module-path}, the module's file. */
        public Builder modulePath(String modulePath) {
            return putQuery("module-path", modulePath);
        }

        /**
         * Sets a vendor attribute (or one that this class does not know) in the path or the
         * query.
         *
         * @param inQuery true for the query, false for the path
         * @param name the name, letters, digits, {@code -} and {@code _}; the RFC wants vendor
         *     attributes to begin with {@code x-}
         * @param value the value, or null to remove it
         * @throws IllegalArgumentException for a malformed name or a name that this class
         *     knows (set those with their own methods)
         */
        public Builder vendorAttribute(boolean inQuery, String name, String value) {
            if (!validName(name) || PATH_ORDER.contains(name) || QUERY_ORDER.contains(name)) {
                throw new IllegalArgumentException("not a vendor attribute name: " + quoted(name));
            }
            return inQuery ? putQuery(name, value) : putText(name, value);
        }

        /**
         * Removes an attribute of the path or the query, known or not.
         *
         * @param name the attribute's name
         */
        public Builder remove(String name) {
            path.remove(name);
            query.remove(name);
            return this;
        }

        /** Returns the URI. */
        public Pkcs11Uri build() {
            return new Pkcs11Uri(copy(path), copy(query));
        }
    }

    // ---- attributes

    /** The token's label ({@code token}), or null. */
    public String token() {
        return text(path, "token");
    }

    /** The token's manufacturer ({@code manufacturer}), or null. */
    public String manufacturer() {
        return text(path, "manufacturer");
    }

    /** The token's serial number ({@code serial}), or null. */
    public String serial() {
        return text(path, "serial");
    }

    /** The token's model ({@code model}), or null. */
    public String model() {
        return text(path, "model");
    }

    /** The module's manufacturer ({@code library-manufacturer}), or null. */
    public String libraryManufacturer() {
        return text(path, "library-manufacturer");
    }

    /** The module's description ({@code library-description}), or null. */
    public String libraryDescription() {
        return text(path, "library-description");
    }

    /** The module's version ({@code library-version}; "1" reads, and formats, as 1.0), or null. */
    public CK_VERSION libraryVersion() {
        String text = text(path, "library-version");
        if (text == null) {
            return null;
        }
        int[] version = parseVersion(text);
        return new CK_VERSION(version[0], version[1]);
    }

    /** The slot's manufacturer ({@code slot-manufacturer}), or null. */
    public String slotManufacturer() {
        return text(path, "slot-manufacturer");
    }

    /** The slot's description ({@code slot-description}), or null. */
    public String slotDescription() {
        return text(path, "slot-description");
    }

    /** The slot's identifier ({@code slot-id}, an unsigned {@code CK_SLOT_ID}), or null. */
    public Long slotId() {
        String text = text(path, "slot-id");
        return text == null ? null : Long.parseUnsignedLong(text);
    }

    /** The object's label ({@code object}), or null. */
    public String object() {
        return text(path, "object");
    }

    /** The object's {@code CKA_ID} ({@code id}), a new array, or null. */
    public byte[] id() {
        byte[] id = path.get("id");
        return id == null ? null : id.clone();
    }

    /** The object's type ({@code type}: public, private, cert, secret-key or data), or null. */
    public String type() {
        return text(path, "type");
    }

    /**
     * The object class that {@code type} stands for ({@code CKO_PUBLIC_KEY},
     * {@code CKO_PRIVATE_KEY}, {@code CKO_CERTIFICATE}, {@code CKO_SECRET_KEY}, {@code CKO_DATA}),
     * or null without {@code type}.
     */
    public Long objectClass() {
        String type = type();
        return type == null ? null : TYPES.get(type);
    }

    /** The PIN ({@code pin-value}), or null. */
    public String pinValue() {
        return text(query, "pin-value");
    }

    /** Where the PIN is to be read from ({@code pin-source}), or null. */
    public String pinSource() {
        return text(query, "pin-source");
    }

    /** The module's name ({@code module-name}), or null. */
    public String moduleName() {
        return text(query, "module-name");
    }

    /** The module's file ({@code module-path}), or null. */
    public String modulePath() {
        return text(query, "module-path");
    }

    /**
     * The value of any attribute of the path or the query, as the bytes that percent-decoding
     * gave (text values are UTF-8; a label that is not keeps its bytes here).
     *
     * @param name the attribute's name, such as {@code token} or {@code x-vendor}
     * @return a new array, or null when the URI does not have the attribute
     */
    public byte[] value(String name) {
        byte[] value = path.containsKey(name) ? path.get(name) : query.get(name);
        return value == null ? null : value.clone();
    }

    /**
     * The path attributes that this class does not know (vendor attributes), in their order,
     * values decoded as UTF-8.
     */
    public Map<String, String> vendorPathAttributes() {
        return vendor(path, PATH_ORDER);
    }

    /**
     * The query attributes that this class does not know (vendor attributes), in their order,
     * values decoded as UTF-8.
     */
    public Map<String, String> vendorQueryAttributes() {
        return vendor(query, QUERY_ORDER);
    }

    /** Whether the URI has a path attribute that this class does not know. */
    public boolean hasUnknownPathAttributes() {
        return !vendorPathAttributes().isEmpty();
    }

    // ---- matching

    /**
     * Whether a module matches: {@code library-manufacturer}, {@code library-description} and
     * {@code library-version}, where the URI has them (trailing blanks of the padded fields
     * are ignored). A URI with unknown path attributes matches no module.
     *
     * @param info the module's information
     * @return true when every one of these attributes of the URI agrees
     */
    public boolean matchesModule(CK_INFO info) {
        if (hasUnknownPathAttributes()) {
            return false;
        }
        CK_VERSION version = libraryVersion();
        return matchesPadded("library-manufacturer", info.manufacturerID)
                && matchesPadded("library-description", info.libraryDescription)
                && (version == null || info.libraryVersion != null
                        && version.major == info.libraryVersion.major && version.minor == info.libraryVersion.minor);
    }

    /**
     * Whether a slot matches: {@code slot-manufacturer}, {@code slot-description} and
     * {@code slot-id}, where the URI has them. A URI with unknown path attributes matches no
     * slot.
     *
     * @param slotId the slot's identifier
     * @param info the slot's information
     * @return true when every one of these attributes of the URI agrees
     */
    public boolean matchesSlot(long slotId, CK_SLOT_INFO info) {
        if (hasUnknownPathAttributes()) {
            return false;
        }
        Long id = slotId();
        return matchesPadded("slot-manufacturer", info.manufacturerID)
                && matchesPadded("slot-description", info.slotDescription)
                && (id == null || id == slotId);
    }

    /**
     * Whether a token matches: {@code token} (its label), {@code manufacturer}, {@code model}
     * and {@code serial}, where the URI has them. A URI with unknown path attributes matches no
     * token.
     *
     * @param info the token's information
     * @return true when every one of these attributes of the URI agrees
     */
    public boolean matchesToken(CK_TOKEN_INFO info) {
        return !hasUnknownPathAttributes()
                && matchesPadded("token", info.label)
                && matchesPadded("manufacturer", info.manufacturerID)
                && matchesPadded("model", info.model)
                && matchesPadded("serial", info.serialNumber);
    }

    /**
     * Whether an object matches: {@code type} (its class), {@code object} (its label) and
     * {@code id}, where the URI has them; a label is compared exactly. A URI with unknown path
     * attributes matches no object.
     *
     * @param objectClass the object's {@code CKA_CLASS}
     * @param label the object's {@code CKA_LABEL}, or null when it has none
     * @param id the object's {@code CKA_ID}, or null when it has none
     * @return true when every one of these attributes of the URI agrees
     */
    public boolean matchesObject(long objectClass, String label, byte[] id) {
        Long wanted = objectClass();
        byte[] object = path.get("object");
        byte[] wantedId = path.get("id");
        return !hasUnknownPathAttributes()
                && (wanted == null || wanted == objectClass)
                && (object == null || label != null && Arrays.equals(object, label.getBytes(StandardCharsets.UTF_8)))
                && (wantedId == null || id != null && Arrays.equals(wantedId, id));
    }

    private boolean matchesPadded(String name, char[] field) {
        byte[] wanted = path.get(name);
        return wanted == null || field != null && Arrays.equals(trimmed(wanted), trimmed(padded(field)));
    }

    // ---- text

    /**
     * Formats the URI: the path attributes this class knows in p11-kit's order (module, slot,
     * token, object), then the unknown ones in their order; then the query likewise, values
     * encoded as the class description says. Parsing the text gives an equal URI.
     */
    @Override
    public String toString() {
        StringBuilder text = new StringBuilder(SCHEME);
        boolean first = true;
        for (Map.Entry<String, byte[]> attribute : ordered(path, PATH_ORDER).entrySet()) {
            if (!first) {
                text.append(';');
            }
            first = false;
            appendAttribute(text, attribute.getKey(), attribute.getValue(), false);
        }
        first = true;
        for (Map.Entry<String, byte[]> attribute : ordered(query, QUERY_ORDER).entrySet()) {
            text.append(first ? '?' : '&');
            first = false;
            appendAttribute(text, attribute.getKey(), attribute.getValue(), true);
        }
        return text.toString();
    }

    private static void appendAttribute(StringBuilder text, String name, byte[] value, boolean inQuery) {
        text.append(name).append('=');
        boolean everyByte = "id".equals(name);
        boolean slash = inQuery && ("module-path".equals(name) || "pin-source".equals(name));
        for (byte b : value) {
            char c = (char) (b & 0xFF);
            if (!everyByte && (isAlphaNum(c) || c == '-' || c == '.' || c == '_' || slash && c == '/')) {
                text.append(c);
            } else {
                text.append('%').append(HEX[(b >> 4) & 0xF]).append(HEX[b & 0xF]);
            }
        }
    }

    private static final char[] HEX = "0123456789ABCDEF".toCharArray();

    /** Equal when both have the same attributes with the same values (in any order). */
    @Override
    public boolean equals(Object other) {
        return other instanceof Pkcs11Uri
                && sameEntries(path, ((Pkcs11Uri) other).path) && sameEntries(query, ((Pkcs11Uri) other).query);
    }

    @Override
    public int hashCode() {
        int hash = 0;
        for (Map.Entry<String, byte[]> attribute : path.entrySet()) {
            hash += attribute.getKey().hashCode() ^ Arrays.hashCode(attribute.getValue());
        }
        for (Map.Entry<String, byte[]> attribute : query.entrySet()) {
            hash += 31 * (attribute.getKey().hashCode() ^ Arrays.hashCode(attribute.getValue()));
        }
        return hash;
    }

    // ---- helpers

    private static boolean sameEntries(Map<String, byte[]> a, Map<String, byte[]> b) {
        if (!a.keySet().equals(b.keySet())) {
            return false;
        }
        for (Map.Entry<String, byte[]> attribute : a.entrySet()) {
            if (!Arrays.equals(attribute.getValue(), b.get(attribute.getKey()))) {
                return false;
            }
        }
        return true;
    }

    private static Map<String, byte[]> ordered(Map<String, byte[]> attributes, List<String> order) {
        Map<String, byte[]> result = new LinkedHashMap<>();
        for (String name : order) {
            if (attributes.containsKey(name)) {
                result.put(name, attributes.get(name));
            }
        }
        for (Map.Entry<String, byte[]> attribute : attributes.entrySet()) {
            result.putIfAbsent(attribute.getKey(), attribute.getValue());
        }
        return result;
    }

    private static Map<String, String> vendor(Map<String, byte[]> attributes, List<String> known) {
        Map<String, String> result = new LinkedHashMap<>();
        for (Map.Entry<String, byte[]> attribute : attributes.entrySet()) {
            if (!known.contains(attribute.getKey())) {
                result.put(attribute.getKey(), new String(attribute.getValue(), StandardCharsets.UTF_8));
            }
        }
        return Collections.unmodifiableMap(result);
    }

    private static Map<String, byte[]> copy(Map<String, byte[]> attributes) {
        Map<String, byte[]> copy = new LinkedHashMap<>();
        attributes.forEach((name, value) -> copy.put(name, value.clone()));
        return copy;
    }

    private static String text(Map<String, byte[]> attributes, String name) {
        byte[] value = attributes.get(name);
        return value == null ? null : new String(value, StandardCharsets.UTF_8);
    }

    /** The bytes of a fixed-width character field (one byte per character) without padding. */
    private static byte[] padded(char[] field) {
        if (field == null) {
            return null;
        }
        byte[] bytes = new byte[field.length];
        for (int i = 0; i < field.length; i++) {
            bytes[i] = (byte) field[i];
        }
        return trimmed(bytes);
    }

    private static byte[] trimmed(byte[] bytes) {
        int end = bytes.length;
        while (end > 0 && (bytes[end - 1] == ' ' || bytes[end - 1] == 0)) {
            end--;
        }
        return end == bytes.length ? bytes : Arrays.copyOf(bytes, end);
    }

    /** The value of an ASCII hexadecimal digit, or -1. */
    private static int hexDigit(char c) {
        return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    }

    private static boolean isAlphaNum(char c) {
        return c >= 'a' && c <= 'z' || c >= 'A' && c <= 'Z' || c >= '0' && c <= '9';
    }

    private static boolean isUnreserved(char c) {
        return isAlphaNum(c) || c == '-' || c == '.' || c == '_' || c == '~';
    }

    private static String describe(char c) {
        return c < 0x20 || c > 0x7E ? String.format("U+%04X", (int) c) : "'" + c + "'";
    }

    /** The text in quotes for a message, the value of a pin-value left out. */
    private static String quoted(String text) {
        return '"' + text.replaceAll("(pin-value=)[^&]*", "$1...") + '"';
    }
}
