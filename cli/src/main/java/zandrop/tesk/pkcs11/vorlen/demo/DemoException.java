package zandrop.tesk.pkcs11.vorlen.demo;

import zandrop.tesk.pkcs11.vorlen.api.PKCS11Exception;

/**
 * A failure that the program reports as one line and exit status 1: a PKCS #11 function that
 * failed (its name and the module's CKR_ code), or a request that cannot be carried out.
 */
final class DemoException extends Exception {

    private static final long serialVersionUID = 1L;

    /** The module's return value, or -1 when the failure is not a module's. */
    private final long errorCode;

    DemoException(String message) {
        super(message);
        this.errorCode = -1;
    }

    /** A PKCS #11 function failed: "C_Login: CKR_PIN_INCORRECT (0x000000A0)". */
    DemoException(String function, PKCS11Exception cause) {
        super(function + ": " + cause.getMessage(), cause);
        this.errorCode = cause.getErrorCode();
    }

    long errorCode() {
        return errorCode;
    }
}
