package zandrop.tesk.pkcs11.vorlen.token;

import zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants;

/** A key on a token: private, public or secret. */
public final class KeyObject extends TokenObject {
    private final long keyType;
    private final byte[] ecParams;
    private final Curve curve;  // read once: every ECDSA signature in DER wants it

    KeyObject(long handle, AttributeValues values) {
        super(handle, values);
        this.keyType = values.get(Attr.KEY_TYPE).orElse(-1L);
        this.ecParams = values.get(Attr.EC_PARAMS).orElse(null);
        this.curve = readCurve(ecParams);
    }

    /**
     * Returns the curve of an EC, Edwards or Montgomery key.
     *
     * @return the curve its {@code CKA_EC_PARAMS} names, or null for another key or a curve
     *     this library does not know
     */
    public Curve curve() {
        return curve;
    }

    private static Curve readCurve(byte[] ecParams) {
        if (ecParams == null) {
            return null;
        }
        try {
            return JdkFormats.curve(ecParams);
        } catch (IllegalArgumentException e) {
            return null;
        }
    }

    /** The key's {@code CKA_EC_PARAMS}, or null. */
    byte[] ecParams() {
        return ecParams == null ? null : ecParams.clone();
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

    @Override
    public String toString() {
        String type = PKCS11Constants.keyTypeName(keyType);
        return super.toString() + " " + (type != null ? type : "key type " + keyType);
    }
}
