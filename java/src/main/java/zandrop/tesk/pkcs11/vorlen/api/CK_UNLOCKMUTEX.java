package zandrop.tesk.pkcs11.vorlen.api;

/**
 * Unlocks a mutex of a module, as part of {@link CK_C_INITIALIZE_ARGS}.
 *
 * <p>The module may call it on any thread, its own included, and from several threads at once.
 */
@FunctionalInterface
public interface CK_UNLOCKMUTEX {

    /**
     * Unlocks a mutex that the calling thread holds.
     *
     * @param pMutex the mutex, as the create callback returned it
     * @throws PKCS11Exception to make the module's call fail with the exception's error code,
     *     such as {@link PKCS11Constants#CKR_MUTEX_NOT_LOCKED} (an error code that reads
     *     {@code CKR_OK} gives {@code CKR_GENERAL_ERROR}: a callback that throws never answers
     *     success). Any other throwable answers {@code CKR_GENERAL_ERROR}; what happens to the
     *     throwable afterwards is described in {@link PKCS11Impl} under "Errors".
     */
    void CK_UNLOCKMUTEX(Object pMutex) throws PKCS11Exception;
}
