package zandrop.tesk.pkcs11.vorlen.api;

/**
 * A PKCS #11 function returned a value other than {@code CKR_OK}.
 *
 * <p>The error code is the module's {@code CK_RV}, zero-extended: values from
 * {@code 0x80000000} upwards (the vendor-defined range) are positive. The message names the
 * code and shows it in hexadecimal, for example {@code CKR_PIN_INCORRECT (0x000000A0)},
 * {@code CKR_VENDOR_DEFINED+0x00000001 (0x80000001)} or
 * {@code unknown return value (0x00000FFF)}.
 *
 * <p>Callbacks given to a module ({@link CK_NOTIFY}, the mutex callbacks of
 * {@link CK_C_INITIALIZE_ARGS}) throw it to return a code to the module.
 */
public class PKCS11Exception extends Exception {

    private static final long serialVersionUID = 1L;

    /** The module's return value. */
    private final long errorCode;

    /**
     * Creates the exception for a return value.
     *
     * @param errorCode the {@code CK_RV}, zero-extended
     */
    public PKCS11Exception(long errorCode) {
        super(describe(errorCode));
        this.errorCode = errorCode;
    }

    /**
     * Creates the exception for a return value, with the exception that caused it.
     *
     * @param errorCode the {@code CK_RV}, zero-extended
     * @param cause the cause, or null
     */
    public PKCS11Exception(long errorCode, Throwable cause) {
        super(describe(errorCode), cause);
        this.errorCode = errorCode;
    }

    /**
     * Returns the module's return value.
     *
     * @return the {@code CK_RV}, zero-extended, such as
     *     {@link PKCS11Constants#CKR_PIN_INCORRECT}
     */
    public long getErrorCode() {
        return errorCode;
    }

    /**
     * Describes a return value: its name, or its offset in the vendor-defined range, or that it
     * is unknown; then the value in hexadecimal, eight digits or more.
     */
    private static String describe(long code) {
        String hex = String.format("(0x%08X)", code);
        String name = PKCS11Constants.returnValueName(code);
        if (name != null) {
            return name + " " + hex;
        }
        if (Long.compareUnsigned(code, PKCS11Constants.CKR_VENDOR_DEFINED) > 0) {
            long offset = code - PKCS11Constants.CKR_VENDOR_DEFINED;
            return String.format("CKR_VENDOR_DEFINED+0x%08X %s", offset, hex);
        }
        return "unknown return value " + hex;
    }
}
