package zandrop.tesk.pkcs11.vorlen.provider;

import java.util.HexFormat;

import zandrop.tesk.pkcs11.vorlen.token.KeyObject;

/**
 * What a key of the provider holds of the token: the provider that found it and its key object,
 * replaced when the token forgets the handle and the provider finds the key again.
 */
final class TokenKeyRef {
    final VorlenProvider provider;
    private volatile KeyObject object;

    TokenKeyRef(VorlenProvider provider, KeyObject object) {
        this.provider = provider;
        this.object = object;
    }

    KeyObject object() {
        return object;
    }

    void object(KeyObject fresh) {
        object = fresh;
    }

    /** "Vorlen RSA private key "label" (id 01, handle 5)". */
    String describe(String algorithm, String kind) {
        KeyObject o = object;
        byte[] id = o.id();
        return "Vorlen " + algorithm + " " + kind + " " + (o.label() == null ? "" : "\"" + o.label() + "\" ")
                + "(id " + (id == null ? "none" : HexFormat.of().formatHex(id)) + ", handle " + o.handle() + ")";
    }
}
