package zandrop.tesk.pkcs11.vorlen.api;

/**
 * Information about a session, as {@link PKCS11Impl#C_GetSessionInfo(long)} returns it. The
 * native library creates these objects without running a constructor and sets every field.
 */
public class CK_SESSION_INFO {

    /** The slot that the session belongs to. */
    public long slotID;

    /** The session state, such as {@link PKCS11Constants#CKS_RW_USER_FUNCTIONS}. */
    public long state;

    /**
     * Bit flags: {@link PKCS11Constants#CKF_RW_SESSION},
     * {@link PKCS11Constants#CKF_SERIAL_SESSION}.
     */
    public long flags;

    /** An error code of the device, defined by the module. */
    public long ulDeviceError;

    /** Creates an object whose fields are 0. */
    public CK_SESSION_INFO() {
    }

    /**
     * Returns every field; the state by name, flags in hexadecimal with their names, the device
     * error in hexadecimal.
     */
    @Override
    public String toString() {
        return new Format.Fields("CK_SESSION_INFO")
                .add("slotID", Format.unsigned(slotID))
                .add("state", stateName(state))
                .add("flags", Format.flags(flags, PKCS11Constants.sessionFlagNames(flags)))
                .add("ulDeviceError", Format.flags(ulDeviceError))
                .build();
    }

    private static String stateName(long state) {
        if (state == PKCS11Constants.CKS_RO_PUBLIC_SESSION) {
            return "CKS_RO_PUBLIC_SESSION";
        } else if (state == PKCS11Constants.CKS_RO_USER_FUNCTIONS) {
            return "CKS_RO_USER_FUNCTIONS";
        } else if (state == PKCS11Constants.CKS_RW_PUBLIC_SESSION) {
            return "CKS_RW_PUBLIC_SESSION";
        } else if (state == PKCS11Constants.CKS_RW_USER_FUNCTIONS) {
            return "CKS_RW_USER_FUNCTIONS";
        } else if (state == PKCS11Constants.CKS_RW_SO_FUNCTIONS) {
            return "CKS_RW_SO_FUNCTIONS";
        }
        return Format.unsigned(state);
    }
}
