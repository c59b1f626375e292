package zandrop.tesk.pkcs11.vorlen.token;

import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.*;

import java.math.BigInteger;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.charset.StandardCharsets;
import java.time.DateTimeException;
import java.time.LocalDate;
import java.util.HashMap;
import java.util.Locale;
import java.util.Map;

import zandrop.tesk.pkcs11.vorlen.api.CK_ATTRIBUTE;
import zandrop.tesk.pkcs11.vorlen.api.CK_DATE;
import zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants;

/**
 * An attribute type together with the Java type of its value. The value classes and their
 * native forms:
 * <ul>
 * <li>{@link Boolean}: a {@code CK_BBOOL};</li>
 * <li>{@link Long}: a {@code CK_ULONG} (classes, key types, lengths);</li>
 * <li>{@code byte[]}: the bytes unchanged;</li>
 * <li>{@link String}: its UTF-8 bytes ({@code CKA_LABEL}, {@code CKA_APPLICATION});</li>
 * <li>{@link LocalDate}: a {@code CK_DATE};</li>
 * <li>{@code long[]}: {@code CK_MECHANISM_TYPE}s ({@code CKA_ALLOWED_MECHANISMS});</li>
 * <li>{@link Template}: nested attributes ({@code CKA_WRAP_TEMPLATE} and its kin);</li>
 * <li>{@link BigInteger}: a big-endian unsigned integer ({@code CKA_MODULUS} and its kin).</li>
 * </ul>
 * The constants cover the common standard attributes; {@link #of(long, Class)} makes one for
 * any other type, a vendor-defined one included, with the class its value has. A standard
 * attribute keeps its class: asking for {@code CKA_TOKEN} as a {@code Long} is refused.
 *
 * @param <T> the class of the value
 */
public final class Attr<T> {
    private static final Map<Long, Attr<?>> KNOWN = new HashMap<>();

    /** {@code CKA_CLASS}, a Long. */
    public static final Attr<Long> CLASS = known(CKA_CLASS, Long.class);
    /** {@code CKA_TOKEN}, a Boolean. */
    public static final Attr<Boolean> TOKEN = known(CKA_TOKEN, Boolean.class);
    /** {@code CKA_PRIVATE}, a Boolean. */
    public static final Attr<Boolean> PRIVATE = known(CKA_PRIVATE, Boolean.class);
    /** {@code CKA_LABEL}, a String. */
    public static final Attr<String> LABEL = known(CKA_LABEL, String.class);
    /** {@code CKA_APPLICATION}, a String. */
    public static final Attr<String> APPLICATION = known(CKA_APPLICATION, String.class);
    /** {@code CKA_VALUE}, a byte[]. */
    public static final Attr<byte[]> VALUE = known(CKA_VALUE, byte[].class);
    /** {@code CKA_OBJECT_ID}, a byte[]. */
    public static final Attr<byte[]> OBJECT_ID = known(CKA_OBJECT_ID, byte[].class);
    /** {@code CKA_CERTIFICATE_TYPE}, a Long. */
    public static final Attr<Long> CERTIFICATE_TYPE = known(CKA_CERTIFICATE_TYPE, Long.class);
    /** {@code CKA_ISSUER}, a byte[]. */
    public static final Attr<byte[]> ISSUER = known(CKA_ISSUER, byte[].class);
    /** {@code CKA_SERIAL_NUMBER}, a byte[]. */
    public static final Attr<byte[]> SERIAL_NUMBER = known(CKA_SERIAL_NUMBER, byte[].class);
    /** {@code CKA_TRUSTED}, a Boolean. */
    public static final Attr<Boolean> TRUSTED = known(CKA_TRUSTED, Boolean.class);
    /** {@code CKA_CERTIFICATE_CATEGORY}, a Long. */
    public static final Attr<Long> CERTIFICATE_CATEGORY = known(CKA_CERTIFICATE_CATEGORY, Long.class);
    /** {@code CKA_CHECK_VALUE}, a byte[]. */
    public static final Attr<byte[]> CHECK_VALUE = known(CKA_CHECK_VALUE, byte[].class);
    /** {@code CKA_KEY_TYPE}, a Long. */
    public static final Attr<Long> KEY_TYPE = known(CKA_KEY_TYPE, Long.class);
    /** {@code CKA_SUBJECT}, a byte[]. */
    public static final Attr<byte[]> SUBJECT = known(CKA_SUBJECT, byte[].class);
    /** {@code CKA_ID}, a byte[]. */
    public static final Attr<byte[]> ID = known(CKA_ID, byte[].class);
    /** {@code CKA_SENSITIVE}, a Boolean. */
    public static final Attr<Boolean> SENSITIVE = known(CKA_SENSITIVE, Boolean.class);
    /** {@code CKA_ENCRYPT}, a Boolean. */
    public static final Attr<Boolean> ENCRYPT = known(CKA_ENCRYPT, Boolean.class);
    /** {@code CKA_DECRYPT}, a Boolean. */
    public static final Attr<Boolean> DECRYPT = known(CKA_DECRYPT, Boolean.class);
    /** {@code CKA_WRAP}, a Boolean. */
    public static final Attr<Boolean> WRAP = known(CKA_WRAP, Boolean.class);
    /** {@code CKA_UNWRAP}, a Boolean. */
    public static final Attr<Boolean> UNWRAP = known(CKA_UNWRAP, Boolean.class);
    /** {@code CKA_SIGN}, a Boolean. */
    public static final Attr<Boolean> SIGN = known(CKA_SIGN, Boolean.class);
    /** {@code CKA_SIGN_RECOVER}, a Boolean. */
    public static final Attr<Boolean> SIGN_RECOVER = known(CKA_SIGN_RECOVER, Boolean.class);
    /** {@code CKA_VERIFY}, a Boolean. */
    public static final Attr<Boolean> VERIFY = known(CKA_VERIFY, Boolean.class);
    /** {@code CKA_VERIFY_RECOVER}, a Boolean. */
    public static final Attr<Boolean> VERIFY_RECOVER = known(CKA_VERIFY_RECOVER, Boolean.class);
    /** {@code CKA_DERIVE}, a Boolean. */
    public static final Attr<Boolean> DERIVE = known(CKA_DERIVE, Boolean.class);
    /** {@code CKA_START_DATE}, a LocalDate. */
    public static final Attr<LocalDate> START_DATE = known(CKA_START_DATE, LocalDate.class);
    /** {@code CKA_END_DATE}, a LocalDate. */
    public static final Attr<LocalDate> END_DATE = known(CKA_END_DATE, LocalDate.class);
    /** {@code CKA_MODULUS}, a BigInteger. */
    public static final Attr<BigInteger> MODULUS = known(CKA_MODULUS, BigInteger.class);
    /** {@code CKA_MODULUS_BITS}, a Long. */
    public static final Attr<Long> MODULUS_BITS = known(CKA_MODULUS_BITS, Long.class);
    /** {@code CKA_PUBLIC_EXPONENT}, a BigInteger. */
    public static final Attr<BigInteger> PUBLIC_EXPONENT = known(CKA_PUBLIC_EXPONENT, BigInteger.class);
    /** {@code CKA_PRIVATE_EXPONENT}, a BigInteger. */
    public static final Attr<BigInteger> PRIVATE_EXPONENT = known(CKA_PRIVATE_EXPONENT, BigInteger.class);
    /** {@code CKA_PRIME_1}, a BigInteger. */
    public static final Attr<BigInteger> PRIME_1 = known(CKA_PRIME_1, BigInteger.class);
    /** {@code CKA_PRIME_2}, a BigInteger. */
    public static final Attr<BigInteger> PRIME_2 = known(CKA_PRIME_2, BigInteger.class);
    /** {@code CKA_VALUE_LEN}, a Long. */
    public static final Attr<Long> VALUE_LEN = known(CKA_VALUE_LEN, Long.class);
    /** {@code CKA_EXTRACTABLE}, a Boolean. */
    public static final Attr<Boolean> EXTRACTABLE = known(CKA_EXTRACTABLE, Boolean.class);
    /** {@code CKA_LOCAL}, a Boolean. */
    public static final Attr<Boolean> LOCAL = known(CKA_LOCAL, Boolean.class);
    /** {@code CKA_NEVER_EXTRACTABLE}, a Boolean. */
    public static final Attr<Boolean> NEVER_EXTRACTABLE = known(CKA_NEVER_EXTRACTABLE, Boolean.class);
    /** {@code CKA_ALWAYS_SENSITIVE}, a Boolean. */
    public static final Attr<Boolean> ALWAYS_SENSITIVE = known(CKA_ALWAYS_SENSITIVE, Boolean.class);
    /** {@code CKA_KEY_GEN_MECHANISM}, a Long. */
    public static final Attr<Long> KEY_GEN_MECHANISM = known(CKA_KEY_GEN_MECHANISM, Long.class);
    /** {@code CKA_MODIFIABLE}, a Boolean. */
    public static final Attr<Boolean> MODIFIABLE = known(CKA_MODIFIABLE, Boolean.class);
    /** {@code CKA_COPYABLE}, a Boolean. */
    public static final Attr<Boolean> COPYABLE = known(CKA_COPYABLE, Boolean.class);
    /** {@code CKA_DESTROYABLE}, a Boolean. */
    public static final Attr<Boolean> DESTROYABLE = known(CKA_DESTROYABLE, Boolean.class);
    /** {@code CKA_EC_PARAMS}, a byte[]. */
    public static final Attr<byte[]> EC_PARAMS = known(CKA_EC_PARAMS, byte[].class);
    /** {@code CKA_EC_POINT}, a byte[]. */
    public static final Attr<byte[]> EC_POINT = known(CKA_EC_POINT, byte[].class);
    /** {@code CKA_ALWAYS_AUTHENTICATE}, a Boolean. */
    public static final Attr<Boolean> ALWAYS_AUTHENTICATE = known(CKA_ALWAYS_AUTHENTICATE, Boolean.class);
    /** {@code CKA_WRAP_WITH_TRUSTED}, a Boolean. */
    public static final Attr<Boolean> WRAP_WITH_TRUSTED = known(CKA_WRAP_WITH_TRUSTED, Boolean.class);
    /** {@code CKA_WRAP_TEMPLATE}, a Template. */
    public static final Attr<Template> WRAP_TEMPLATE = known(CKA_WRAP_TEMPLATE, Template.class);
    /** {@code CKA_UNWRAP_TEMPLATE}, a Template. */
    public static final Attr<Template> UNWRAP_TEMPLATE = known(CKA_UNWRAP_TEMPLATE, Template.class);
    /** {@code CKA_DERIVE_TEMPLATE}, a Template. */
    public static final Attr<Template> DERIVE_TEMPLATE = known(CKA_DERIVE_TEMPLATE, Template.class);
    /** {@code CKA_ALLOWED_MECHANISMS}, a long[]. */
    public static final Attr<long[]> ALLOWED_MECHANISMS = known(CKA_ALLOWED_MECHANISMS, long[].class);

    private final long type;
    private final Class<T> valueClass;

    private Attr(long type, Class<T> valueClass) {
        this.type = type;
        this.valueClass = valueClass;
    }

    private static <T> Attr<T> known(long type, Class<T> valueClass) {
        Attr<T> attr = new Attr<>(type, valueClass);
        KNOWN.put(type, attr);
        return attr;
    }

    /**
     * Returns the attribute of a type with the class of its value: the constant for a standard
     * type of this class, a new key for any other type (a vendor-defined one).
     *
     * @param <T> the class of the value
     * @param type the attribute type
     * @param valueClass one of the classes listed above
     * @return the attribute
     * @throws IllegalArgumentException if the class is not one of those listed, or the type is
     *     a standard attribute whose value has another class
     */
    @SuppressWarnings("unchecked")
    public static <T> Attr<T> of(long type, Class<T> valueClass) {
        if (valueClass != Boolean.class && valueClass != Long.class && valueClass != byte[].class
                && valueClass != String.class && valueClass != LocalDate.class && valueClass != long[].class
                && valueClass != Template.class && valueClass != BigInteger.class) {
            throw new IllegalArgumentException("no attribute value is a " + valueClass.getName());
        }
        Attr<?> known = KNOWN.get(type);
        if (known != null) {
            if (known.valueClass != valueClass) {
                throw new IllegalArgumentException(known.name() + " holds a " + known.valueClass.getSimpleName()
                        + ", not a " + valueClass.getSimpleName());
            }
            return (Attr<T>) known;
        }
        return new Attr<>(type, valueClass);
    }

    /**
     * Returns the standard attribute of a type, with the class its value has.
     *
     * @param type the attribute type
     * @return the attribute, or null when this layer does not know the type's class
     */
    public static Attr<?> known(long type) {
        return KNOWN.get(type);
    }

    /**
     * Returns the attribute type.
     *
     * @return the {@code CK_ATTRIBUTE_TYPE}
     */
    public long type() {
        return type;
    }

    /**
     * Returns the class of the value.
     *
     * @return the class
     */
    public Class<T> valueClass() {
        return valueClass;
    }

    /**
     * Returns the attribute's name.
     *
     * @return such as {@code "CKA_LABEL"}, or the type in hex for a type without a name
     */
    public String name() {
        String name = PKCS11Constants.attributeName(type);
        return name != null ? name : String.format(Locale.ROOT, "CKA_0x%08X", type);
    }

    /**
     * Checks a value and returns it in the form {@link CK_ATTRIBUTE} sends.
     *
     * @param value the value
     * @return its native form
     * @throws IllegalArgumentException naming the attribute, when the value is not of its class
     */
    Object toNative(Object value) {
        if (value == null) {
            throw new IllegalArgumentException(name() + " needs a " + valueClass.getSimpleName() + ", not null");
        }
        if (!valueClass.isInstance(value)) {
            throw new IllegalArgumentException(name() + " holds a " + valueClass.getSimpleName() + ", not a "
                    + value.getClass().getSimpleName() + " (" + value + ")");
        }
        if (value instanceof String s) {
            return s.getBytes(StandardCharsets.UTF_8);
        }
        if (value instanceof LocalDate d) {
            if (d.getYear() < 0 || d.getYear() > 9999) {
                throw new IllegalArgumentException(name() + ": a CK_DATE holds years 0 to 9999, not " + d);
            }
            String text = String.format(Locale.ROOT, "%04d%02d%02d", d.getYear(), d.getMonthValue(), d.getDayOfMonth());
            return new CK_DATE(text.substring(0, 4).toCharArray(), text.substring(4, 6).toCharArray(),
                    text.substring(6).toCharArray());
        }
        if (value instanceof BigInteger b) {
            if (b.signum() < 0) {
                throw new IllegalArgumentException(name() + " holds an unsigned integer, not " + b);
            }
            byte[] bytes = b.toByteArray();
            if (bytes.length > 1 && bytes[0] == 0) {
                return java.util.Arrays.copyOfRange(bytes, 1, bytes.length);
            }
            return bytes;
        }
        if (value instanceof Template t) {
            return t.toAttributes();
        }
        if (value instanceof byte[] b) {
            return b.clone();
        }
        if (value instanceof long[] l) {
            return l.clone();
        }
        return value;
    }

    /**
     * Converts a value that {@link CK_ATTRIBUTE} read into this attribute's class.
     *
     * @param value the value read, not null
     * @return the value of this attribute's class
     * @throws IllegalStateException when the module's bytes cannot be a value of that class
     */
    T fromNative(Object value) {
        Object converted = convert(value);
        if (converted == null) {
            throw new IllegalStateException(name() + ": the module's value " + describe(value)
                    + " is no " + valueClass.getSimpleName());
        }
        return valueClass.cast(converted);
    }

    private Object convert(Object value) {
        if (valueClass.isInstance(value)) {
            return value instanceof byte[] b ? b.clone() : value;
        }
        byte[] bytes = value instanceof char[] c ? latin1(c) : value instanceof byte[] b ? b : null;
        if (valueClass == String.class && bytes != null) {
            return new String(bytes, StandardCharsets.UTF_8);
        }
        if (valueClass == byte[].class && bytes != null) {
            return bytes;
        }
        if (valueClass == BigInteger.class && bytes != null) {
            return new BigInteger(1, bytes);
        }
        if (valueClass == Boolean.class && bytes != null && bytes.length == 1) {
            return bytes[0] == 1;
        }
        if (valueClass == Long.class && bytes != null && bytes.length == NativeWidth.ULONG) {
            return NativeWidth.readULong(bytes, 0);
        }
        if (valueClass == long[].class && bytes != null && bytes.length % NativeWidth.ULONG == 0) {
            long[] values = new long[bytes.length / NativeWidth.ULONG];
            for (int i = 0; i < values.length; i++) {
                values[i] = NativeWidth.readULong(bytes, i * NativeWidth.ULONG);
            }
            return values;
        }
        if (valueClass == LocalDate.class && value instanceof CK_DATE d) {
            try {
                return LocalDate.of(Integer.parseInt(new String(d.year)), Integer.parseInt(new String(d.month)),
                        Integer.parseInt(new String(d.day)));
            } catch (NumberFormatException | DateTimeException | NullPointerException e) {
                return null;
            }
        }
        if (valueClass == Template.class && value instanceof CK_ATTRIBUTE[] nested) {
            return Template.fromAttributes(nested);
        }
        return null;
    }

    private static byte[] latin1(char[] chars) {
        byte[] bytes = new byte[chars.length];
        for (int i = 0; i < chars.length; i++) {
            bytes[i] = (byte) chars[i];
        }
        return bytes;
    }

    private static String describe(Object value) {
        return value instanceof byte[] b ? b.length + " bytes" : value.getClass().getSimpleName();
    }

    /** Two attributes are equal when their types and value classes are. */
    @Override
    public boolean equals(Object o) {
        return o instanceof Attr<?> a && a.type == type && a.valueClass == valueClass;
    }

    @Override
    public int hashCode() {
        return Long.hashCode(type) * 31 + valueClass.hashCode();
    }

    @Override
    public String toString() {
        return name() + ": " + valueClass.getSimpleName();
    }

    /** The width of a {@code CK_ULONG} on this platform, learnt from the data model. */
    static final class NativeWidth {
        static final int ULONG = "32".equals(System.getProperty("sun.arch.data.model"))
                || System.getProperty("os.name", "").startsWith("Windows") ? 4 : 8;

        private NativeWidth() {
        }

        static long readULong(byte[] bytes, int offset) {
            ByteBuffer buffer = ByteBuffer.wrap(bytes, offset, ULONG).order(ByteOrder.nativeOrder());
            return ULONG == 4 ? Integer.toUnsignedLong(buffer.getInt()) : buffer.getLong();
        }
    }
}
