package zandrop.tesk.pkcs11.vorlen.demo;

import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.*;

import java.security.MessageDigest;
import java.security.NoSuchAlgorithmException;

import zandrop.tesk.pkcs11.vorlen.api.CK_MECHANISM;

/**
 * How a key of a given type signs: RSA keys with CKM_SHA256_RSA_PKCS; EC keys with
 * CKM_ECDSA_SHA256 where the token offers it, otherwise with CKM_ECDSA over a SHA-256 digest
 * that this program computes.
 */
final class Signing {

    final long mechanism;
    private final boolean digestFirst;

    private Signing(long mechanism, boolean digestFirst) {
        this.mechanism = mechanism;
        this.digestFirst = digestFirst;
    }

    static Signing forKey(Token token, long slot, long keyType) throws DemoException {
        if (keyType == CKK_RSA) {
            return new Signing(CKM_SHA256_RSA_PKCS, false);
        }
        if (keyType == CKK_EC) {
            if (token.hasMechanism(slot, CKM_ECDSA_SHA256)) {
                return new Signing(CKM_ECDSA_SHA256, false);
            }
            return new Signing(CKM_ECDSA, true);
        }
        throw new DemoException("the key is of type " + Text.keyType(keyType)
                + ": sign and verify need an RSA or EC key");
    }

    CK_MECHANISM mechanism() {
        return new CK_MECHANISM(mechanism);
    }

    /** What the module is given to sign: the data, or its SHA-256 digest. */
    byte[] input(byte[] data) {
        if (!digestFirst) {
            return data;
        }
        try {
            return MessageDigest.getInstance("SHA-256").digest(data);
        } catch (NoSuchAlgorithmException e) {
            throw new IllegalStateException("every Java runtime has SHA-256", e);
        }
    }

    String describe() {
        return Text.mechanism(mechanism) + (digestFirst ? " over the SHA-256 digest of the data" : "");
    }
}
