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
     *     such as {@link PKCS11Constants#CKR_HOST_MEMORY}
     */
    Object CK_CREATEMUTEX() throws PKCS11Exception;
}
