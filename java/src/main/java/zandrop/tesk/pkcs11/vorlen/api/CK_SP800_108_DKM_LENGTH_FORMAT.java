package zandrop.tesk.pkcs11.vorlen.api;

/**
 * How an SP 800-108 key derivation encodes the length of the derived key material: the value of a
 * {@link CK_PRF_DATA_PARAM} of type {@link PKCS11Constants#CK_SP800_108_DKM_LENGTH} (PKCS #11
 * v3.0).
 */
public class CK_SP800_108_DKM_LENGTH_FORMAT {

    /**
     * What the length counts: {@link PKCS11Constants#CK_SP800_108_DKM_LENGTH_SUM_OF_KEYS} or
     * {@link PKCS11Constants#CK_SP800_108_DKM_LENGTH_SUM_OF_SEGMENTS}.
     */
    public long dkmLengthMethod;

    /** True for little-endian, false for big-endian. */
    public boolean bLittleEndian;

    /** The width of the encoded length in bits: 8, 16, 24, 32 or 64. */
    public long ulWidthInBits;

    /** Creates an object whose fields are null, 0 or false. */
    public CK_SP800_108_DKM_LENGTH_FORMAT() {
    }

    /**
     * Creates an object with every field set. Arrays and objects are used as they are, not copied.
     *
     * @param dkmLengthMethod what the length counts:
     *     {@link PKCS11Constants#CK_SP800_108_DKM_LENGTH_SUM_OF_KEYS} or
     *     {@link PKCS11Constants#CK_SP800_108_DKM_LENGTH_SUM_OF_SEGMENTS}
     * @param bLittleEndian true for little-endian, false for big-endian
     * @param ulWidthInBits the width of the encoded length in bits: 8, 16, 24, 32 or 64
     */
    public CK_SP800_108_DKM_LENGTH_FORMAT(long dkmLengthMethod, boolean bLittleEndian,
            long ulWidthInBits) {
        this.dkmLengthMethod = dkmLengthMethod;
        this.bLittleEndian = bLittleEndian;
        this.ulWidthInBits = ulWidthInBits;
    }

    /** Returns every field; byte arrays in hexadecimal. */
    @Override
    public String toString() {
        return new Format.Fields("CK_SP800_108_DKM_LENGTH_FORMAT")
                .add("dkmLengthMethod", Format.flags(dkmLengthMethod))
                .add("bLittleEndian", bLittleEndian)
                .add("ulWidthInBits", Format.count(ulWidthInBits))
                .build();
    }
}
