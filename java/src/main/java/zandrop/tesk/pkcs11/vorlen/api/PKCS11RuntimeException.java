package zandrop.tesk.pkcs11.vorlen.api;

/**
 * An error of this library's own, not of a module: a {@link PKCS11Impl} that is not connected
 * to a module ("This object is not connected to a module."), or a Java value that cannot be
 * converted to its native form, such as an attribute value or mechanism parameter of an
 * unsupported class.
 */
public class PKCS11RuntimeException extends RuntimeException {

    private static final long serialVersionUID = 1L;

    /** Creates the exception without a message. */
    public PKCS11RuntimeException() {
        super();
    }

    /**
     * Creates the exception with a message.
     *
     * @param message the message
     */
    public PKCS11RuntimeException(String message) {
        super(message);
    }

    /**
     * Creates the exception with a message and the exception that caused it.
     *
     * @param message the message
     * @param cause the cause, or null
     */
    public PKCS11RuntimeException(String message, Throwable cause) {
        super(message, cause);
    }
}
