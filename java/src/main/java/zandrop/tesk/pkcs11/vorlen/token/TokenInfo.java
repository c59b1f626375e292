package zandrop.tesk.pkcs11.vorlen.token;

import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKF_LOGIN_REQUIRED;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKF_PROTECTED_AUTHENTICATION_PATH;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKF_TOKEN_INITIALIZED;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKF_WRITE_PROTECTED;

import zandrop.tesk.pkcs11.vorlen.api.CK_TOKEN_INFO;
import zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants;

/**
 * A token's information, decoded: texts trimmed, versions as "major.minor", counts that a
 * module reports as {@code CK_UNAVAILABLE_INFORMATION} or {@code CK_EFFECTIVELY_INFINITE} as
 * -1 and 0 as the standard defines them.
 *
 * @param label the label
 * @param manufacturer the manufacturer's ID
 * @param model the model
 * @param serial the serial number
 * @param flags the {@code CKF_} flags
 * @param maxSessions the most sessions, 0 for no limit, -1 when not reported
 * @param maxRwSessions the most read-write sessions, 0 for no limit, -1 when not reported
 * @param minPinLength the shortest PIN
 * @param maxPinLength the longest PIN
 * @param hardwareVersion "major.minor"
 * @param firmwareVersion "major.minor"
 */
public record TokenInfo(String label, String manufacturer, String model, String serial, long flags,
        long maxSessions, long maxRwSessions, long minPinLength, long maxPinLength, String hardwareVersion,
        String firmwareVersion) {

    TokenInfo(CK_TOKEN_INFO info) {
        this(Slot.text(info.label), Slot.text(info.manufacturerID), Slot.text(info.model),
                Slot.text(info.serialNumber), info.flags, count(info.ulMaxSessionCount),
                count(info.ulMaxRwSessionCount), info.ulMinPinLen, info.ulMaxPinLen, Slot.version(info.hardwareVersion), Slot.version(info.firmwareVersion));
    }

    private static long count(long value) {
        return PKCS11Constants.isUnavailable(value) ? -1 : value;
    }

    /**
     * Whether a login is needed for the token's private objects and keys.
     *
     * @return {@code CKF_LOGIN_REQUIRED}
     */
    public boolean loginRequired() {
        return (flags & CKF_LOGIN_REQUIRED) != 0;
    }

    /**
     * Whether the token takes its PIN on a path of its own (a PIN pad).
     *
     * @return {@code CKF_PROTECTED_AUTHENTICATION_PATH}
     */
    public boolean protectedAuthenticationPath() {
        return (flags & CKF_PROTECTED_AUTHENTICATION_PATH) != 0;
    }

    /**
     * Whether the token is initialised.
     *
     * @return {@code CKF_TOKEN_INITIALIZED}
     */
    public boolean initialized() {
        return (flags & CKF_TOKEN_INITIALIZED) != 0;
    }

    /**
     * Whether the token is write-protected.
     *
     * @return {@code CKF_WRITE_PROTECTED}
     */
    public boolean writeProtected() {
        return (flags & CKF_WRITE_PROTECTED) != 0;
    }

    /**
     * Returns the names of the flags.
     *
     * @return such as {@code CKF_RNG}, {@code CKF_LOGIN_REQUIRED}; an unnamed bit in hex
     */
    public java.util.List<String> flagNames() {
        return PKCS11Constants.tokenFlagNames(flags);
    }

    @Override
    public String toString() {
        return "\"" + label + "\" (" + manufacturer + " " + model + ", serial " + serial + "), flags "
                + Flags.token(flags) + ", hardware " + hardwareVersion + ", firmware " + firmwareVersion;
    }
}
