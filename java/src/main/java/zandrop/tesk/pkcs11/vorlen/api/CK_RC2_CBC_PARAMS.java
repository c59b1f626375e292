package zandrop.tesk.pkcs11.vorlen.api;

/**
 * The parameters of {@link PKCS11Constants#CKM_RC2_CBC} and
 * {@link PKCS11Constants#CKM_RC2_CBC_PAD}.
 *
 * <p>The native library reads this object when it converts a {@link CK_MECHANISM} whose parameter
 * it is: a {@code long} passes the low bits that fit in a {@code CK_ULONG}, a {@code boolean}
 * becomes {@code CK_TRUE} or {@code CK_FALSE}, and arrays are copied, a null array giving a null
 * pointer of length 0.
 */
public class CK_RC2_CBC_PARAMS {

    /** The effective number of key bits, 1 to 1024. */
    public long ulEffectiveBits;

    /** The initialization vector, exactly 8 bytes. */
    public byte[] iv;

    /** Creates an object whose fields are null, 0 or false. */
    public CK_RC2_CBC_PARAMS() {
    }

    /**
     * Creates an object with every field set. Arrays and objects are used as they are, not copied.
     *
     * @param ulEffectiveBits the effective number of key bits, 1 to 1024
     * @param iv the initialization vector, exactly 8 bytes
     */
    public CK_RC2_CBC_PARAMS(long ulEffectiveBits, byte[] iv) {
        this.ulEffectiveBits = ulEffectiveBits;
        this.iv = iv;
    }

    /** Returns every field; byte arrays in hexadecimal. */
    @Override
    public String toString() {
        return new Format.Fields("CK_RC2_CBC_PARAMS")
                .add("ulEffectiveBits", Format.count(ulEffectiveBits))
                .add("iv", Format.hex(iv))
                .build();
    }
}
