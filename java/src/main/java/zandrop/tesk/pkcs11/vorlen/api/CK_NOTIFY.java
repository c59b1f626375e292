package zandrop.tesk.pkcs11.vorlen.api;

/**
 * Receives the notifications of a session, given to
 * {@link PKCS11Impl#C_OpenSession(long, long, Object, CK_NOTIFY)}.
 *
 * <p>The module may call it on any thread, its own included, from the start of
 * {@code C_OpenSession} (before the session handle has been returned) until the session is
 * closed.
 */
@FunctionalInterface
public interface CK_NOTIFY {

    /**
     * Handles one notification. Returning normally answers {@code CKR_OK}.
     *
     * @param hSession the session handle
     * @param event the event, such as {@link PKCS11Constants#CKN_SURRENDER}
     * @param pApplication the application object given to {@code C_OpenSession}, or null
     * @throws PKCS11Exception to answer the module with the exception's error code, such as
     *     {@link PKCS11Constants#CKR_CANCEL} to refuse to surrender (an error code that reads
     *     {@code CKR_OK} gives {@code CKR_GENERAL_ERROR}: a callback that throws never answers
     *     success). Any other throwable answers {@code CKR_GENERAL_ERROR}; what happens to the
     *     throwable afterwards is described in {@link PKCS11Impl} under "Errors".
     */
    void CK_NOTIFY(long hSession, long event, Object pApplication) throws PKCS11Exception;
}
