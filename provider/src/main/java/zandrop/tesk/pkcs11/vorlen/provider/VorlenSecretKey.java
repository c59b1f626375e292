package zandrop.tesk.pkcs11.vorlen.provider;

import javax.crypto.SecretKey;

import zandrop.tesk.pkcs11.vorlen.token.KeyObject;

/** A secret key that stays on the token (AES in this version). */
public final class VorlenSecretKey extends TokenKey implements SecretKey {
    private static final long serialVersionUID = 1L;

    VorlenSecretKey(VorlenProvider provider, KeyObject object, String algorithm) {
        super(provider, object, algorithm);
    }

    @Override
    String kind() {
        return "secret key";
    }
}
