package zandrop.tesk.pkcs11.vorlen.token;

/** A data object on a token ({@code CKO_DATA}): an application's bytes in {@code CKA_VALUE}. */
public final class DataObject extends TokenObject {
    private final String application;

    DataObject(long handle, AttributeValues values) {
        super(handle, values);
        this.application = values.get(Attr.APPLICATION).orElse(null);
    }

    /**
     * Returns the application that the object belongs to.
     *
     * @return {@code CKA_APPLICATION}, or null when it has none
     */
    public String application() {
        return application;
    }
}
