package zandrop.tesk.pkcs11.vorlen.api;

/**
 * The client's and the server's random data of an SSL 3.0 or TLS handshake, part of
 * {@link CK_SSL3_MASTER_KEY_DERIVE_PARAMS} and {@link CK_SSL3_KEY_MAT_PARAMS}.
 */
public class CK_SSL3_RANDOM_DATA {

    /** The client's random data. */
    public byte[] pClientRandom;

    /** The server's random data. */
    public byte[] pServerRandom;

    /** Creates an object whose fields are null, 0 or false. */
    public CK_SSL3_RANDOM_DATA() {
    }

    /**
     * Creates an object with every field set. Arrays and objects are used as they are, not copied.
     *
     * @param pClientRandom the client's random data
     * @param pServerRandom the server's random data
     */
    public CK_SSL3_RANDOM_DATA(byte[] pClientRandom, byte[] pServerRandom) {
        this.pClientRandom = pClientRandom;
        this.pServerRandom = pServerRandom;
    }

    /** Returns every field; byte arrays in hexadecimal. */
    @Override
    public String toString() {
        return new Format.Fields("CK_SSL3_RANDOM_DATA")
                .add("pClientRandom", Format.hex(pClientRandom))
                .add("pServerRandom", Format.hex(pServerRandom))
                .build();
    }
}
