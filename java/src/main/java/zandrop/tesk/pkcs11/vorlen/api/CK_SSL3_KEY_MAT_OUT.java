package zandrop.tesk.pkcs11.vorlen.api;

/**
 * The keys and initialization vectors that an SSL 3.0 or TLS key and MAC derivation returns, part
 * of {@link CK_SSL3_KEY_MAT_PARAMS}.
 *
 * <p>The module always receives two initialization vector buffers of the library's own, each of
 * at least {@code ulIVSizeInBits / 8} bytes (holding this object's arrays, if any, then zeros),
 * whatever the two arrays hold. After {@link PKCS11Constants#CKM_SSL3_KEY_AND_MAC_DERIVE} the four
 * handles hold the module's new objects, and each array that was not null receives the vector,
 * as many bytes as both the array and the buffer hold. Supply two arrays of
 * {@code ulIVSizeInBits / 8} bytes to receive the vectors; a null array receives nothing. The
 * results go into this object and the arrays it held when the call began.
 */
public class CK_SSL3_KEY_MAT_OUT {

    /** Receives the handle of the client's MAC secret. */
    public long hClientMacSecret;

    /** Receives the handle of the server's MAC secret. */
    public long hServerMacSecret;

    /** Receives the handle of the client's key. */
    public long hClientKey;

    /** Receives the handle of the server's key. */
    public long hServerKey;

    /** Receives the client's initialization vector. */
    public byte[] pIVClient;

    /** Receives the server's initialization vector. */
    public byte[] pIVServer;

    /** Creates an object whose fields are null, 0 or false. */
    public CK_SSL3_KEY_MAT_OUT() {
    }

    /**
     * Creates an object with every field set. Arrays and objects are used as they are, not copied.
     *
     * @param hClientMacSecret receives the handle of the client's MAC secret
     * @param hServerMacSecret receives the handle of the server's MAC secret
     * @param hClientKey receives the handle of the client's key
     * @param hServerKey receives the handle of the server's key
     * @param pIVClient receives the client's initialization vector
     * @param pIVServer receives the server's initialization vector
     */
    public CK_SSL3_KEY_MAT_OUT(long hClientMacSecret, long hServerMacSecret, long hClientKey,
            long hServerKey, byte[] pIVClient, byte[] pIVServer) {
        this.hClientMacSecret = hClientMacSecret;
        this.hServerMacSecret = hServerMacSecret;
        this.hClientKey = hClientKey;
        this.hServerKey = hServerKey;
        this.pIVClient = pIVClient;
        this.pIVServer = pIVServer;
    }

    /** Returns every field; byte arrays in hexadecimal. */
    @Override
    public String toString() {
        return new Format.Fields("CK_SSL3_KEY_MAT_OUT")
                .add("hClientMacSecret", Format.unsigned(hClientMacSecret))
                .add("hServerMacSecret", Format.unsigned(hServerMacSecret))
                .add("hClientKey", Format.unsigned(hClientKey))
                .add("hServerKey", Format.unsigned(hServerKey))
                .add("pIVClient", Format.hex(pIVClient))
                .add("pIVServer", Format.hex(pIVServer))
                .build();
    }
}
