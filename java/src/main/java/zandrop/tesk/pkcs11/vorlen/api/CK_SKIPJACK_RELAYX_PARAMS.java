package zandrop.tesk.pkcs11.vorlen.api;

/**
 * The parameters of {@link PKCS11Constants#CKM_SKIPJACK_RELAYX}.
 *
 * <p>The native library reads this object when it converts a {@link CK_MECHANISM} whose parameter
 * it is: a {@code long} passes the low bits that fit in a {@code CK_ULONG}, a {@code boolean}
 * becomes {@code CK_TRUE} or {@code CK_FALSE}, and arrays are copied, a null array giving a null
 * pointer of length 0.
 */
public class CK_SKIPJACK_RELAYX_PARAMS {

    /** The old wrapped key. */
    public byte[] pOldWrappedX;

    /** The old user's password. */
    public byte[] pOldPassword;

    /** The old key exchange public key value. */
    public byte[] pOldPublicData;

    /** The old random value Ra. */
    public byte[] pOldRandomA;

    /** The new user's password. */
    public byte[] pNewPassword;

    /** The new key exchange public key value. */
    public byte[] pNewPublicData;

    /** The new random value Ra. */
    public byte[] pNewRandomA;

    /** Creates an object whose fields are null, 0 or false. */
    public CK_SKIPJACK_RELAYX_PARAMS() {
    }

    /**
     * Creates an object with every field set. Arrays and objects are used as they are, not copied.
     *
     * @param pOldWrappedX the old wrapped key
     * @param pOldPassword the old user's password
     * @param pOldPublicData the old key exchange public key value
     * @param pOldRandomA the old random value Ra
     * @param pNewPassword the new user's password
     * @param pNewPublicData the new key exchange public key value
     * @param pNewRandomA the new random value Ra
     */
    public CK_SKIPJACK_RELAYX_PARAMS(byte[] pOldWrappedX, byte[] pOldPassword,
            byte[] pOldPublicData, byte[] pOldRandomA, byte[] pNewPassword, byte[] pNewPublicData,
            byte[] pNewRandomA) {
        this.pOldWrappedX = pOldWrappedX;
        this.pOldPassword = pOldPassword;
        this.pOldPublicData = pOldPublicData;
        this.pOldRandomA = pOldRandomA;
        this.pNewPassword = pNewPassword;
        this.pNewPublicData = pNewPublicData;
        this.pNewRandomA = pNewRandomA;
    }

    /** Returns every field; byte arrays in hexadecimal, passwords by their length only. */
    @Override
    public String toString() {
        return new Format.Fields("CK_SKIPJACK_RELAYX_PARAMS")
                .add("pOldWrappedX", Format.hex(pOldWrappedX))
                .add("pOldPassword", Format.hidden(pOldPassword))
                .add("pOldPublicData", Format.hex(pOldPublicData))
                .add("pOldRandomA", Format.hex(pOldRandomA))
                .add("pNewPassword", Format.hidden(pNewPassword))
                .add("pNewPublicData", Format.hex(pNewPublicData))
                .add("pNewRandomA", Format.hex(pNewRandomA))
                .build();
    }
}
