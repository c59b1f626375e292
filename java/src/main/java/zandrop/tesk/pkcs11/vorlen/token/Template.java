package zandrop.tesk.pkcs11.vorlen.token;

import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.*;

import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collections;
import java.util.HexFormat;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.StringJoiner;

import zandrop.tesk.pkcs11.vorlen.api.CK_ATTRIBUTE;

/**
 * An immutable list of typed attribute values, for creating objects, generating keys and
 * searching. Each value is checked against its attribute's class when it is added, so a wrong
 * one fails with an exception naming the attribute before any module is called:
 * <pre>{@code
 * Template t = Template.of(Attr.CLASS, CKO_SECRET_KEY).with(Attr.LABEL, "k1").with(Attr.TOKEN, true);
 * }</pre>
 * Adding an attribute that is already there replaces its value, at its place.
 */
public final class Template {
    private static final Template EMPTY = new Template(new LinkedHashMap<>());

    private final Map<Attr<?>, Object> values;  // attribute -> the value of its class

    private Template(Map<Attr<?>, Object> values) {
        this.values = values;
    }

    /**
     * Returns the empty template, which matches every object in a search.
     *
     * @return the empty template
     */
    public static Template empty() {
        return EMPTY;
    }

    /**
     * Returns a template of one attribute.
     *
     * @param <T> the class of the value
     * @param attr the attribute
     * @param value its value
     * @return the template
     * @throws IllegalArgumentException naming the attribute, when the value is null or not of
     *     its class (possible through raw types)
     */
    public static <T> Template of(Attr<T> attr, T value) {
        return EMPTY.with(attr, value);
    }

    /**
     * Returns this template with one more attribute (or with a new value for it).
     *
     * @param <T> the class of the value
     * @param attr the attribute
     * @param value its value
     * @return the new template
     * @throws IllegalArgumentException naming the attribute, when the value is null or not of
     *     its class (possible through raw types)
     */
    public <T> Template with(Attr<T> attr, T value) {
        attr.toNative(value);  // checks the class and the range now, not at the module
        Map<Attr<?>, Object> copy = new LinkedHashMap<>(values);
        copy.put(key(attr), value instanceof byte[] b ? b.clone() : value instanceof long[] l ? l.clone() : value);
        return new Template(copy);
    }

    /**
     * Returns this template with the attributes of another added (its values win).
     *
     * @param other the other template
     * @return the combined template
     */
    public Template with(Template other) {
        Map<Attr<?>, Object> copy = new LinkedHashMap<>(values);
        copy.putAll(other.values);
        return new Template(copy);
    }

    // Attributes of one type are one entry, whichever Attr object stands for the type.
    private static Attr<?> key(Attr<?> attr) {
        Attr<?> known = Attr.known(attr.type());
        return known != null ? known : attr;
    }

    /**
     * Returns the value of an attribute.
     *
     * @param <T> the class of the value
     * @param attr the attribute
     * @return the value, or null when the template does not hold it
     */
    public <T> T get(Attr<T> attr) {
        for (Map.Entry<Attr<?>, Object> e : values.entrySet()) {
            if (e.getKey().type() == attr.type()) {
                Object v = e.getValue();
                return attr.valueClass().cast(v instanceof byte[] b ? b.clone() : v instanceof long[] l ? l.clone() : v);
            }
        }
        return null;
    }

    /**
     * Returns the attributes, in the order they were added.
     *
     * @return the attributes
     */
    public List<Attr<?>> attributes() {
        return Collections.unmodifiableList(new ArrayList<>(values.keySet()));
    }

    /**
     * Returns the number of attributes.
     *
     * @return the count
     */
    public int size() {
        return values.size();
    }

    /**
     * Returns the template in the form {@code PKCS11Impl} takes: new records on every call.
     *
     * @return the records
     */
    public CK_ATTRIBUTE[] toAttributes() {
        CK_ATTRIBUTE[] out = new CK_ATTRIBUTE[values.size()];
        int i = 0;
        for (Map.Entry<Attr<?>, Object> e : values.entrySet()) {
            out[i++] = new CK_ATTRIBUTE(e.getKey().type(), e.getKey().toNative(e.getValue()));
        }
        return out;
    }

    /** A template from nested attributes a module reported, each typed as far as known. */
    static Template fromAttributes(CK_ATTRIBUTE[] nested) {
        Map<Attr<?>, Object> map = new LinkedHashMap<>();
        for (CK_ATTRIBUTE a : nested) {
            if (a == null || a.pValue == null) {
                continue;
            }
            Attr<?> known = Attr.known(a.type);
            Attr<?> attr = known != null ? known : Attr.of(a.type, byte[].class);
            try {
                map.put(attr, attr.fromNative(a.pValue));
            } catch (IllegalStateException e) {
                map.put(Attr.of(a.type, byte[].class), a.pValue instanceof byte[] b ? b : null);
            }
        }
        map.values().removeIf(v -> v == null);
        return new Template(map);
    }

    static String text(Object value) {
        if (value instanceof byte[] b) {
            return HexFormat.of().formatHex(b);
        }
        if (value instanceof long[] l) {
            return Arrays.toString(l);
        }
        if (value instanceof String s) {
            return '"' + s + '"';
        }
        return String.valueOf(value);
    }

    @Override
    public boolean equals(Object o) {
        if (!(o instanceof Template t) || t.values.size() != values.size()) {
            return false;
        }
        for (Map.Entry<Attr<?>, Object> e : values.entrySet()) {
            Object v = t.values.get(e.getKey());
            if (!Arrays.deepEquals(new Object[] {e.getValue()}, new Object[] {v})) {
                return false;
            }
        }
        return true;
    }

    @Override
    public int hashCode() {
        return values.keySet().hashCode();
    }

    /**
     * Returns the attributes and their values, except secret ones: the values of
     * {@code CKA_VALUE} and of the private parts of RSA keys show only their length, so that
     * error messages, which quote templates, carry no key material.
     */
    @Override
    public String toString() {
        StringJoiner j = new StringJoiner(", ", "{", "}");
        values.forEach((a, v) -> j.add(a.name() + "=" + (isSecret(a.type()) ? hidden(v) : text(v))));
        return j.toString();
    }

    static boolean isSecret(long type) {
        return type == CKA_VALUE || type == CKA_PRIVATE_EXPONENT || type == CKA_PRIME_1 || type == CKA_PRIME_2
                || type == CKA_EXPONENT_1 || type == CKA_EXPONENT_2 || type == CKA_COEFFICIENT;
    }

    private static String hidden(Object v) {
        if (v instanceof byte[] b) {
            return "(" + b.length + " bytes)";
        }
        return v instanceof java.math.BigInteger i ? "(" + i.bitLength() + " bits)" : "(hidden)";
    }
}
