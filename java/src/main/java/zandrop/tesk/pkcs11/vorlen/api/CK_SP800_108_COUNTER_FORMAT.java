package zandrop.tesk.pkcs11.vorlen.api;

/**
 * How an SP 800-108 key derivation encodes its counter: the value of a {@link CK_PRF_DATA_PARAM} of
 * type {@link PKCS11Constants#CK_SP800_108_ITERATION_VARIABLE} or
 * {@link PKCS11Constants#CK_SP800_108_OPTIONAL_COUNTER} (PKCS #11 v3.0).
 */
public class CK_SP800_108_COUNTER_FORMAT {

    /** True for little-endian, false for big-endian. */
    public boolean bLittleEndian;

    /** The width of the counter in bits: 8, 16, 24 or 32. */
    public long ulWidthInBits;

    /** Creates an object whose fields are null, 0 or false. */
    public CK_SP800_108_COUNTER_FORMAT() {
    }

    /**
     * Creates an object with every field set. Arrays and objects are used as they are, not copied.
     *
     * @param bLittleEndian true for little-endian, false for big-endian
     * @param ulWidthInBits the width of the counter in bits: 8, 16, 24 or 32
     */
    public CK_SP800_108_COUNTER_FORMAT(boolean bLittleEndian, long ulWidthInBits) {
        this.bLittleEndian = bLittleEndian;
        this.ulWidthInBits = ulWidthInBits;
    }

    /** Returns every field; byte arrays in hexadecimal. */
    @Override
    public String toString() {
        return new Format.Fields("CK_SP800_108_COUNTER_FORMAT")
                .add("bLittleEndian", bLittleEndian)
                .add("ulWidthInBits", Format.count(ulWidthInBits))
                .build();
    }
}
