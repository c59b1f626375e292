package zandrop.tesk.pkcs11.vorlen.api;

/**
 * Creates a mutex for a module, as part of {@link CK_C_INITIALIZE_ARGS}.
 *
 * <p>The module may call it on any thread, its own included, and from several threads at once.
 */
@FunctionalInterface
public interface CK_CREATEMUTEX {

    /**
     * Creates a new mutex. The module keeps the object and passes it back to the destroy, lock
     * and unlock callbacks.
     *
     * @return the new mutex, any object
     * @throws PKCS11Exception to make the module's call fail with the exception's error code,
     *     such as {@link PKCS11Constants#CKR_HOST_MEMORY} (an error code that reads
     *     {@code CKR_OK} gives {@code CKR_GENERAL_ERROR}: a callback that throws never answers
     *     success). Any other throwable answers {@code CKR_GENERAL_ERROR}; what happens to the
     *     throwable afterwards is described in {@link PKCS11Impl} under "Errors".
     */
    Object CK_CREATEMUTEX() throws PKCS11Exception;
}
