package zandrop.tesk.pkcs11.vorlen.api;

/**
 * The parameters of {@link PKCS11Constants#CKM_AES_CCM}: the length of the data, the nonce, the
 * additional authenticated data and the length of the MAC.
 *
 * <p>The native library reads this object when it converts a {@link CK_MECHANISM} whose parameter
 * it is: a {@code long} passes the low bits that fit in a {@code CK_ULONG}, a {@code boolean}
 * becomes {@code CK_TRUE} or {@code CK_FALSE}, and arrays are copied, a null array giving a null
 * pointer of length 0.
 */
public class CK_CCM_PARAMS {

    /** The length in bytes of the data to encrypt or decrypt, which CCM must know in advance. */
    public long ulDataLen;

    /** The nonce, 7 to 13 bytes. Required. */
    public byte[] pNonce;

    /** The additional authenticated data, or null for none. */
    public byte[] pAAD;

    /** The length of the MAC in bytes: 4, 6, 8, 10, 12, 14 or 16. */
    public long ulMACLen;

    /** Creates an object whose fields are null, 0 or false. */
    public CK_CCM_PARAMS() {
    }

    /**
     * Creates an object with every field set. Arrays and objects are used as they are, not copied.
     *
     * @param ulDataLen the length in bytes of the data to encrypt or decrypt, which CCM must know
     *     in advance
     * @param pNonce the nonce, 7 to 13 bytes
     * @param pAAD the additional authenticated data, or null for none
     * @param ulMACLen the length of the MAC in bytes: 4, 6, 8, 10, 12, 14 or 16
     */
    public CK_CCM_PARAMS(long ulDataLen, byte[] pNonce, byte[] pAAD, long ulMACLen) {
        this.ulDataLen = ulDataLen;
        this.pNonce = pNonce;
        this.pAAD = pAAD;
        this.ulMACLen = ulMACLen;
    }

    /** Returns every field; byte arrays in hexadecimal. */
    @Override
    public String toString() {
        return new Format.Fields("CK_CCM_PARAMS")
                .add("ulDataLen", Format.count(ulDataLen))
                .add("pNonce", Format.hex(pNonce))
                .add("pAAD", Format.hex(pAAD))
                .add("ulMACLen", Format.count(ulMACLen))
                .build();
    }
}
