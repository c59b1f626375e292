package zandrop.tesk.pkcs11.vorlen.token;

/** A certificate on a token. Its DER bytes are {@code CKA_VALUE}. */
public final class CertificateObject extends TokenObject {
    private final long certificateType;

    CertificateObject(long handle, AttributeValues values) {
        super(handle, values);
        this.certificateType = values.get(Attr.CERTIFICATE_TYPE).orElse(-1L);
    }

    /**
     * Returns the certificate type.
     *
     * @return the {@code CK_CERTIFICATE_TYPE}, such as {@code CKC_X_509}, or -1 when it could
     *     not be read
     */
    public long certificateType() {
        return certificateType;
    }

    @Override
    public String toString() {
        String type = zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.certificateTypeName(certificateType);
        return super.toString() + " " + (type != null ? type : "certificate type " + certificateType);
    }
}
