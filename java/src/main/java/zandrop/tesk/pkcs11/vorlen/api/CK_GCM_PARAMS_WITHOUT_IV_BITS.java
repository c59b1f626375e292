package zandrop.tesk.pkcs11.vorlen.api;

/**
 * The parameters of {@link PKCS11Constants#CKM_AES_GCM} in the layout of the 2.30 text, which
 * modules built on headers older than 2.40 expect: {@link CK_GCM_PARAMS} without its member
 * {@code ulIvBits}.
 *
 * <p>Choose this class for such a module, and {@link CK_GCM_PARAMS} for every other: a module that
 * reads one layout where the caller wrote the other takes the pointer to the additional data for a
 * length. The library never guesses the layout; the class of the parameter object chooses it.
 *
 * <p>The native library reads this object when it converts a {@link CK_MECHANISM} whose parameter
 * it is: a {@code long} passes the low bits that fit in a {@code CK_ULONG}, a {@code boolean}
 * becomes {@code CK_TRUE} or {@code CK_FALSE}, and arrays are copied, a null array giving a null
 * pointer of length 0.
 */
public class CK_GCM_PARAMS_WITHOUT_IV_BITS {

    /** The initialization vector, usually 12 bytes. Required. */
    public byte[] pIv;

    /** The additional authenticated data, or null for none. */
    public byte[] pAAD;

    /**
     * The length of the authentication tag in bits, a multiple of 8 from 0 to 128, such as 128 or
     * 96.
     */
    public long ulTagBits;

    /** Creates an object whose fields are null, 0 or false. */
    public CK_GCM_PARAMS_WITHOUT_IV_BITS() {
    }

    /**
     * Creates an object with every field set. Arrays and objects are used as they are, not copied.
     *
     * @param pIv the initialization vector, usually 12 bytes
     * @param pAAD the additional authenticated data, or null for none
     * @param ulTagBits the length of the authentication tag in bits, a multiple of 8 from 0 to 128,
     *     such as 128 or 96
     */
    public CK_GCM_PARAMS_WITHOUT_IV_BITS(byte[] pIv, byte[] pAAD, long ulTagBits) {
        this.pIv = pIv;
        this.pAAD = pAAD;
        this.ulTagBits = ulTagBits;
    }

    /** Returns every field; byte arrays in hexadecimal. */
    @Override
    public String toString() {
        return new Format.Fields("CK_GCM_PARAMS_WITHOUT_IV_BITS")
                .add("pIv", Format.hex(pIv))
                .add("pAAD", Format.hex(pAAD))
                .add("ulTagBits", Format.count(ulTagBits))
                .build();
    }
}
