package zandrop.tesk.pkcs11.vorlen.api;

import java.util.StringJoiner;

/**
 * One attribute of an object template: an attribute type and its value.
 *
 * <p>The Java class of the value decides its native form:
 * <ul>
 * <li>{@link Long} and {@link Integer}: a {@code CK_ULONG} (a {@code Long} keeps the low bits
 *     that fit; an {@code Integer} is an unsigned 32-bit number, so that
 *     {@code CKK_VENDOR_DEFINED} given as {@code (int) 0x80000000} stays 0x80000000 also where
 *     a {@code CK_ULONG} has 64 bits, except -1, which gives all bits set, as
 *     {@code CK_UNAVAILABLE_INFORMATION} has them at either width);</li>
 * <li>{@link Boolean}: a {@code CK_BBOOL};</li>
 * <li>{@code byte[]}: the bytes unchanged;</li>
 * <li>{@code char[]}: one byte per character, its low 8 bits (no character-set conversion);</li>
 * <li>{@link Byte}, {@link Character}: one byte;</li>
 * <li>{@link CK_DATE}: the eight characters of a date;</li>
 * <li>{@code boolean[]}, {@code int[]}, {@code long[]}: arrays of {@code CK_BBOOL} or
 *     {@code CK_ULONG}, each element as a single value of its class (a {@code long[]} is the
 *     value of {@code CKA_ALLOWED_MECHANISMS}: {@code CK_MECHANISM_TYPE}s);</li>
 * <li>{@link String}: its modified UTF-8 bytes;</li>
 * <li>{@code CK_ATTRIBUTE[]}, in a template only (the value of {@code CKA_WRAP_TEMPLATE},
 *     {@code CKA_UNWRAP_TEMPLATE}, {@code CKA_DERIVE_TEMPLATE}): an array of native
 *     {@code CK_ATTRIBUTE}s, its length n times the size of one, each nested value converted
 *     by these same rules. Arrays nest one level, as the standard uses them: a nested attribute
 *     whose value is a {@code CK_ATTRIBUTE[]} again (an array that contains itself among them)
 *     makes the call fail with an {@link IllegalArgumentException} before the module is called.
 *     As a mechanism parameter or {@code pReserved} it is refused like any other class;</li>
 * <li>{@code null}: no value, length 0 (as in a template for
 *     {@link PKCS11Impl#C_GetAttributeValue(long, long, CK_ATTRIBUTE[])}).</li>
 * </ul>
 * A value of any other class makes the call fail with a {@link PKCS11RuntimeException}.
 *
 * <p>Values read from a module come back typed by the attribute type: {@link Long} for types
 * such as {@code CKA_CLASS}, {@code CKA_KEY_TYPE} and {@code CKA_VALUE_LEN}; {@link Boolean}
 * for flags such as {@code CKA_TOKEN} and {@code CKA_SENSITIVE}; {@code char[]} for
 * {@code CKA_LABEL} and {@code CKA_APPLICATION}; {@link CK_DATE} for {@code CKA_START_DATE} and
 * {@code CKA_END_DATE}; {@code CK_ATTRIBUTE[]} for {@code CKA_WRAP_TEMPLATE},
 * {@code CKA_UNWRAP_TEMPLATE} and {@code CKA_DERIVE_TEMPLATE}, read with the standard's nested
 * length protocol (a third call of {@code C_GetAttributeValue} for the nested values), each
 * nested value typed by its own type as above (nesting is not followed further: a nested
 * attribute of one of these three types comes back as the bytes the module wrote); {@code long[]} for
 * {@code CKA_ALLOWED_MECHANISMS} (each {@code CK_ULONG} zero-extended; a length that is not a
 * whole number of them gives {@code byte[]}); {@code byte[]} for every other type. A value that
 * the module cannot report, or reports inconsistently, reads {@code null}; an empty one too. The accessors {@link #getLong()}, {@link #getBoolean()},
 * {@link #getByteArray()}, {@link #getCharArray()} and {@link #getDate()} return the value in
 * the expected class.
 */
public class CK_ATTRIBUTE {

    /** The attribute type, such as {@link PKCS11Constants#CKA_LABEL}. */
    public long type;

    /** The value, of one of the classes listed above, or null. */
    public Object pValue;

    /** Creates an attribute of type 0 ({@code CKA_CLASS}) without a value. */
    public CK_ATTRIBUTE() {
    }

    /**
     * Creates an attribute without a value, as a template for reading it.
     *
     * @param type the attribute type
     */
    public CK_ATTRIBUTE(long type) {
        this.type = type;
    }

    /**
     * Creates an attribute with a value.
     *
     * @param type the attribute type
     * @param pValue the value, of one of the classes listed above, or null
     */
    public CK_ATTRIBUTE(long type, Object pValue) {
        this.type = type;
        this.pValue = pValue;
    }

    /**
     * Returns the value as a number.
     *
     * @return the value, or null when there is none
     * @throws ClassCastException if the value is not a {@link Long}
     */
    public Long getLong() {
        return valueAs(Long.class);
    }

    /**
     * Returns the value as a truth value.
     *
     * @return the value, or null when there is none
     * @throws ClassCastException if the value is not a {@link Boolean}
     */
    public Boolean getBoolean() {
        return valueAs(Boolean.class);
    }

    /**
     * Returns the value as bytes. The array is the value itself, not a copy.
     *
     * @return the value, or null when there is none
     * @throws ClassCastException if the value is not a {@code byte[]}
     */
    public byte[] getByteArray() {
        return valueAs(byte[].class);
    }

    /**
     * Returns the value as characters. The array is the value itself, not a copy.
     *
     * @return the value, or null when there is none
     * @throws ClassCastException if the value is not a {@code char[]}
     */
    public char[] getCharArray() {
        return valueAs(char[].class);
    }

    /**
     * Returns the value as a date.
     *
     * @return the value, or null when there is none
     * @throws ClassCastException if the value is not a {@link CK_DATE}
     */
    public CK_DATE getDate() {
        return valueAs(CK_DATE.class);
    }

    private <T> T valueAs(Class<T> expected) {
        if (pValue == null) {
            return null;
        }
        if (!expected.isInstance(pValue)) {
            throw new ClassCastException("The value of " + Format.attribute(type) + " is a "
                    + pValue.getClass().getTypeName() + ", not a " + expected.getTypeName());
        }
        return expected.cast(pValue);
    }

    /**
     * Returns the attribute as {@code CKA_NAME = value}: byte arrays in hexadecimal, characters
     * quoted, object classes, key types, certificate types and mechanism types by name. The values of attributes that hold
     * secret key material ({@code CKA_VALUE}, the private exponent, primes, exponents and
     * coefficient of an RSA private key) are shown by their length only.
     */
    @Override
    public String toString() {
        return Format.attribute(type) + " = " + valueText();
    }

    private String valueText() {
        if (pValue instanceof byte[] && isSecret(type)) {
            return Format.hidden((byte[]) pValue);
        }
        if (pValue instanceof Long) {
            long value = (Long) pValue;
            if (type == PKCS11Constants.CKA_CLASS) {
                String name = PKCS11Constants.objectClassName(value);
                return Format.named(name, "CKO_VENDOR_DEFINED", value);
            }
            if (type == PKCS11Constants.CKA_KEY_TYPE && !Format.isUnavailable(value)) {
                return Format.named(PKCS11Constants.keyTypeName(value), "CKK_VENDOR_DEFINED", value);
            }
            if (type == PKCS11Constants.CKA_CERTIFICATE_TYPE && !Format.isUnavailable(value)) {
                return Format.named(PKCS11Constants.certificateTypeName(value), "CKC_VENDOR_DEFINED", value);
            }
            if (type == PKCS11Constants.CKA_KEY_GEN_MECHANISM && !Format.isUnavailable(value)) {
                return Format.mechanism(value);
            }
            return Format.count(value);
        }
        if (pValue instanceof CK_ATTRIBUTE[] nested) {
            // One level shown; a deeper array (or one that contains itself) as [...].
            StringJoiner text = new StringJoiner(", ", "[", "]");
            for (CK_ATTRIBUTE attribute : nested) {
                text.add(attribute == null ? "null"
                        : attribute.pValue instanceof CK_ATTRIBUTE[]
                                ? Format.attribute(attribute.type) + " = [...]"
                                : attribute.toString());
            }
            return text.toString();
        }
        return Format.value(pValue);
    }

    private static boolean isSecret(long type) {
        return type == PKCS11Constants.CKA_VALUE
                || type == PKCS11Constants.CKA_PRIVATE_EXPONENT
                || type == PKCS11Constants.CKA_PRIME_1
                || type == PKCS11Constants.CKA_PRIME_2
                || type == PKCS11Constants.CKA_EXPONENT_1
                || type == PKCS11Constants.CKA_EXPONENT_2
                || type == PKCS11Constants.CKA_COEFFICIENT;
    }
}
