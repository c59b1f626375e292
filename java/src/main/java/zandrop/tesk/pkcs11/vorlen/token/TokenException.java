package zandrop.tesk.pkcs11.vorlen.token;

import java.util.Locale;

import zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants;
import zandrop.tesk.pkcs11.vorlen.api.PKCS11Exception;

/**
 * A module's error in an operation of this layer: unchecked, and named by the function, what
 * it was called with and the module's return value, such as
 * {@code C_SignInit(CKM_ECDSA_SHA256, private key "k1"): CKR_MECHANISM_INVALID (0x00000070)}.
 * The {@link PKCS11Exception} with the module's code is the cause.
 */
public class TokenException extends RuntimeException {
    private static final long serialVersionUID = 1L;

    /** The PKCS#11 function that failed. */
    private final String function;
    /** The module's return value. */
    private final long code;

    /**
     * Creates the exception for a module's error.
     *
     * @param function the PKCS#11 function, such as {@code "C_SignInit"}
     * @param subject what the function was called with (mechanism, object), or null for nothing
     * @param cause the module's error
     */
    public TokenException(String function, String subject, PKCS11Exception cause) {
        super(function + "(" + (subject == null ? "" : subject) + "): " + codeText(cause.getErrorCode()), cause);
        this.function = function;
        this.code = cause.getErrorCode();
    }

    /**
     * Returns the function that failed.
     *
     * @return the PKCS#11 function's name
     */
    public String function() {
        return function;
    }

    /**
     * Returns the module's return value.
     *
     * @return the {@code CK_RV}, zero-extended
     */
    public long code() {
        return code;
    }

    /**
     * Returns the return value as text: its name (when it has one) and its value.
     *
     * @param code a {@code CK_RV}
     * @return such as {@code "CKR_MECHANISM_INVALID (0x00000070)"}
     */
    static String codeText(long code) {
        String name = PKCS11Constants.returnValueName(code);
        String hex = String.format(Locale.ROOT, "0x%08X", code);
        return name == null ? hex : name + " (" + hex + ")";
    }
}
