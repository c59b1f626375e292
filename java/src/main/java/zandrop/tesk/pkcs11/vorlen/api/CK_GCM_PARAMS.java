package zandrop.tesk.pkcs11.vorlen.api;

/**
 * The parameters of {@link PKCS11Constants#CKM_AES_GCM}: the initialization vector, the additional
 * authenticated data and the length of the tag, in the layout of PKCS #11 v2.40 and later, which
 * has a member {@code ulIvBits}.
 *
 * <p>Modules built on headers older than 2.40 expect the record without {@code ulIvBits}; for them
 * use {@link CK_GCM_PARAMS_WITHOUT_IV_BITS}. Nothing in the record tells the two layouts apart, so
 * the library never guesses: the class of the parameter object chooses the layout.
 *
 * <p>The native library reads this object when it converts a {@link CK_MECHANISM} whose parameter
 * it is: a {@code long} passes the low bits that fit in a {@code CK_ULONG}, a {@code boolean}
 * becomes {@code CK_TRUE} or {@code CK_FALSE}, and arrays are copied, a null array giving a null
 * pointer of length 0.
 */
public class CK_GCM_PARAMS {

    /** The initialization vector, usually 12 bytes. Required. */
    public byte[] pIv;

    /**
     * The length of the initialization vector in bits; 0 (the default) passes 8 times the length
     * of pIv.
     */
    public long ulIvBits;

    /** The additional authenticated data, or null for none. */
    public byte[] pAAD;

    /**
     * The length of the authentication tag in bits, a multiple of 8 from 0 to 128, such as 128 or
     * 96.
     */
    public long ulTagBits;

    /** Creates an object whose fields are null, 0 or false. */
    public CK_GCM_PARAMS() {
    }

    /**
     * Creates an object with every field set. Arrays and objects are used as they are, not copied.
     *
     * @param pIv the initialization vector, usually 12 bytes
     * @param ulIvBits the length of the initialization vector in bits; 0 (the default) passes 8
     *     times the length of pIv
     * @param pAAD the additional authenticated data, or null for none
     * @param ulTagBits the length of the authentication tag in bits, a multiple of 8 from 0 to 128,
     *     such as 128 or 96
     */
    public CK_GCM_PARAMS(byte[] pIv, long ulIvBits, byte[] pAAD, long ulTagBits) {
        this.pIv = pIv;
        this.ulIvBits = ulIvBits;
        this.pAAD = pAAD;
        this.ulTagBits = ulTagBits;
    }

    /** Returns every field; byte arrays in hexadecimal. */
    @Override
    public String toString() {
        return new Format.Fields("CK_GCM_PARAMS")
                .add("pIv", Format.hex(pIv))
                .add("ulIvBits", Format.count(ulIvBits))
                .add("pAAD", Format.hex(pAAD))
                .add("ulTagBits", Format.count(ulTagBits))
                .build();
    }
}
