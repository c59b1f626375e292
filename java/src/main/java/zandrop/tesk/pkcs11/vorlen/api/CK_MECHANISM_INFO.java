package zandrop.tesk.pkcs11.vorlen.api;

/**
 * Information about a mechanism that a token supports, as
 * {@link PKCS11Impl#C_GetMechanismInfo(long, long)} returns it. The native library creates these
 * objects without running a constructor and sets every field.
 */
public class CK_MECHANISM_INFO {

    /** Smallest key size, in bits or bytes as the mechanism defines it. */
    public long ulMinKeySize;

    /** Largest key size, in bits or bytes as the mechanism defines it. */
    public long ulMaxKeySize;

    /** Bit flags, such as {@link PKCS11Constants#CKF_SIGN} and {@link PKCS11Constants#CKF_HW}. */
    public long flags;

    /** Creates an object whose fields are 0. */
    public CK_MECHANISM_INFO() {
    }

    /**
     * Returns every field; the sizes as unsigned numbers, flags in hexadecimal with their
     * names.
     */
    @Override
    public String toString() {
        return new Format.Fields("CK_MECHANISM_INFO")
                .add("ulMinKeySize", Format.count(ulMinKeySize))
                .add("ulMaxKeySize", Format.count(ulMaxKeySize))
                .add("flags", Format.flags(flags, PKCS11Constants.mechanismFlagNames(flags)))
                .build();
    }
}
