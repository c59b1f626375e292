package zandrop.tesk.pkcs11.vorlen.api;

/**
 * One input of an SP 800-108 key derivation, part of {@link CK_SP800_108_KDF_PARAMS} and
 * {@link CK_SP800_108_FEEDBACK_KDF_PARAMS} (PKCS #11 v3.0). Its type says what its value is: a
 * {@link CK_SP800_108_COUNTER_FORMAT} for the iteration variable or the counter, a
 * {@link CK_SP800_108_DKM_LENGTH_FORMAT} for the length of the derived key material, a
 * {@code byte[]} for a byte array.
 */
public class CK_PRF_DATA_PARAM {

    /** The kind of input, such as {@link PKCS11Constants#CK_SP800_108_BYTE_ARRAY}. */
    public long type;

    /**
     * The value: a CK_SP800_108_COUNTER_FORMAT, a CK_SP800_108_DKM_LENGTH_FORMAT or a byte[], as
     * type requires.
     */
    public Object pValue;

    /** Creates an object whose fields are null, 0 or false. */
    public CK_PRF_DATA_PARAM() {
    }

    /**
     * Creates an object with every field set. Arrays and objects are used as they are, not copied.
     *
     * @param type the kind of input, such as {@link PKCS11Constants#CK_SP800_108_BYTE_ARRAY}
     * @param pValue the value: a CK_SP800_108_COUNTER_FORMAT, a CK_SP800_108_DKM_LENGTH_FORMAT or a
     *     byte[], as type requires
     */
    public CK_PRF_DATA_PARAM(long type, Object pValue) {
        this.type = type;
        this.pValue = pValue;
    }

    /** Returns every field; byte arrays in hexadecimal. */
    @Override
    public String toString() {
        return new Format.Fields("CK_PRF_DATA_PARAM")
                .add("type", Format.flags(type))
                .add("pValue", Format.value(pValue))
                .build();
    }
}
