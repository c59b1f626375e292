package zandrop.tesk.pkcs11.vorlen.provider;

import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKK_AES;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKK_CHACHA20;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKK_GENERIC_SECRET;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKK_SHA224_HMAC;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKK_SHA256_HMAC;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKK_SHA384_HMAC;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKK_SHA512_HMAC;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKK_SHA_1_HMAC;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKO_SECRET_KEY;

import java.security.InvalidKeyException;
import java.security.Key;
import java.security.NoSuchAlgorithmException;
import java.util.Locale;

import zandrop.tesk.pkcs11.vorlen.token.Attr;
import zandrop.tesk.pkcs11.vorlen.token.KeyObject;
import zandrop.tesk.pkcs11.vorlen.token.Template;

/**
 * The secret keys the provider makes on its token (key generators, the secret key factory,
 * unwrapping, key agreement): their JCA names, key types and templates.
 *
 * <p>The keys are session objects ({@code CKA_TOKEN} false: they go with the session that made
 * them, or with the module), sensitive (the value does not leave the token in the clear) and
 * extractable (a wrapping key may carry them off the token).
 */
final class SecretKeys {
    private SecretKeys() {
    }

    /** The key type of a JCA secret key algorithm: AES, ChaCha20, Hmac... (a generic secret). */
    static long keyType(String algorithm) throws NoSuchAlgorithmException {
        String a = algorithm.toUpperCase(Locale.ROOT);
        if (a.equals("AES")) {
            return CKK_AES;
        }
        if (a.equals("CHACHA20")) {
            return CKK_CHACHA20;
        }
        if (a.startsWith("HMAC") || a.equals("GENERIC") || a.equals("TLSPREMASTERSECRET")) {
            return CKK_GENERIC_SECRET;
        }
        throw new NoSuchAlgorithmException("no secret key of algorithm " + algorithm + " on a token");
    }

    /** The JCA name for a key of the token, as the key store and the engines show it. */
    static String algorithmOf(long keyType) {
        if (keyType == CKK_AES) {
            return "AES";
        }
        if (keyType == CKK_CHACHA20) {
            return "ChaCha20";
        }
        return "Generic";
    }

    /** The template of a new secret key: what it may be used for follows its type. */
    static Template template(long keyType, boolean sensitive) {
        boolean cipher = keyType == CKK_AES || keyType == CKK_CHACHA20;
        Template t = Template.of(Attr.CLASS, CKO_SECRET_KEY).with(Attr.KEY_TYPE, keyType)
                .with(Attr.TOKEN, false).with(Attr.PRIVATE, false)
                .with(Attr.SENSITIVE, sensitive).with(Attr.EXTRACTABLE, true)
                .with(Attr.SIGN, keyType != CKK_CHACHA20).with(Attr.VERIFY, keyType != CKK_CHACHA20);
        if (cipher) {
            t = t.with(Attr.ENCRYPT, true).with(Attr.DECRYPT, true);
        }
        if (keyType == CKK_AES) {
            t = t.with(Attr.WRAP, true).with(Attr.UNWRAP, true);
        }
        if (keyType == CKK_GENERIC_SECRET) {
            t = t.with(Attr.DERIVE, true);
        }
        return t;
    }

    /** A key of the token made here, under the JCA name the caller asked for. */
    static VorlenSecretKey key(VorlenProvider provider, KeyObject object, String algorithm) {
        return new VorlenSecretKey(provider, object, algorithm);
    }

    /** Whether a token key may serve a MAC or cipher that wants keys of the given kind. */
    static boolean fits(Key key, VorlenProvider provider, long wantedType) {
        if (!(key instanceof VorlenSecretKey k) || k.provider() != provider) {
            return false;
        }
        long type = k.object().keyType();
        if (wantedType == CKK_GENERIC_SECRET) {
            return type == CKK_GENERIC_SECRET || type == CKK_SHA_1_HMAC || type == CKK_SHA224_HMAC
                    || type == CKK_SHA256_HMAC || type == CKK_SHA384_HMAC || type == CKK_SHA512_HMAC;
        }
        return type == wantedType;
    }

    /** The message of a key an engine cannot take. */
    static InvalidKeyException refused(String engine, VorlenProvider provider, String wanted, Key key) {
        return new InvalidKeyException(engine + " of " + provider + " takes " + wanted + " of its token, not "
                + (key == null ? "null" : key.getClass().getName() + " (" + key.getAlgorithm() + ")"));
    }
}
