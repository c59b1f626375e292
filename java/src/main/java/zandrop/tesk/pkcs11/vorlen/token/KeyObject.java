package zandrop.tesk.pkcs11.vorlen.token;

import zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants;

/** A key on a token: private, public or secret. */
public final class KeyObject extends TokenObject {
    private final long keyType;

    KeyObject(long handle, AttributeValues values) {
        super(handle, values);
        this.keyType = values.get(Attr.KEY_TYPE).orElse(-1L);
    }

    /**
     * Returns the key type.
     *
     * @return the {@code CK_KEY_TYPE}, such as {@code CKK_EC}, or -1 when it could not be read
     */
    public long keyType() {
        return keyType;
    }

    /**
     * Whether this is a private key.
     *
     * @return the class is {@code CKO_PRIVATE_KEY}
     */
    public boolean isPrivate() {
        return objectClass() == PKCS11Constants.CKO_PRIVATE_KEY;
    }

    /**
     * Whether this is a secret key.
     *
     * @return the class is {@code CKO_SECRET_KEY}
     */
    public boolean isSecret() {
        return objectClass() == PKCS11Constants.CKO_SECRET_KEY;
    }
}
