package zandrop.tesk.pkcs11.vorlen.provider;

import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKK_AES;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKK_GENERIC_SECRET;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKM_AES_CMAC;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKR_KEY_SIZE_RANGE;

import java.io.ByteArrayOutputStream;
import java.security.InvalidAlgorithmParameterException;
import java.security.InvalidKeyException;
import java.security.Key;
import java.security.ProviderException;
import java.security.spec.AlgorithmParameterSpec;
import java.util.Arrays;

import javax.crypto.MacSpi;

import zandrop.tesk.pkcs11.vorlen.api.CK_MECHANISM_INFO;
import zandrop.tesk.pkcs11.vorlen.token.Attr;
import zandrop.tesk.pkcs11.vorlen.token.Hash;
import zandrop.tesk.pkcs11.vorlen.token.Mechanism;
import zandrop.tesk.pkcs11.vorlen.token.TokenException;

/**
 * {@code HmacSHA1}, {@code HmacSHA224} ... {@code HmacSHA512} ({@code CKM_SHA256_HMAC}...) with a
 * generic secret (or HMAC) key of the token, and {@code AESCMAC} ({@code CKM_AES_CMAC}) with an
 * AES key of the token. The data is collected until {@code doFinal}, which computes the MAC in
 * one call of the token; {@code doFinal} and its failures reset the engine. A key whose length
 * is outside the range the token gives for the mechanism ({@code C_GetMechanismInfo}; SoftHSM2
 * wants HMAC keys at least as long as the hash) is refused at {@code init} with that range.
 */
final class VorlenMac extends MacSpi implements Cloneable {
    private final VorlenProvider provider;
    private final Hash hash;  // null for AESCMAC
    private final String name;
    private ByteArrayOutputStream data = new ByteArrayOutputStream();
    private VorlenSecretKey key;

    VorlenMac(VorlenProvider provider, Hash hash) {
        this.provider = provider;
        this.hash = hash;
        this.name = hash == null ? "AESCMAC" : "Hmac" + hash.jdkName().replace("-", "");
    }

    /** Whether a key of this token fits the MAC. */
    static boolean accepts(VorlenProvider provider, Hash hash, Object key) {
        return key instanceof Key k && SecretKeys.fits(k, provider, hash == null ? CKK_AES : CKK_GENERIC_SECRET);
    }

    @Override
    protected int engineGetMacLength() {
        return hash == null ? 16 : hash.length();
    }

    @Override
    protected void engineInit(Key k, AlgorithmParameterSpec params) throws InvalidKeyException, InvalidAlgorithmParameterException {
        if (params != null) {
            throw new InvalidAlgorithmParameterException(name + " takes no parameters, not " + params);
        }
        if (!accepts(provider, hash, k)) {
            throw SecretKeys.refused(name, provider, hash == null ? "an AES key" : "a generic secret (HMAC) key", k);
        }
        VorlenSecretKey secret = (VorlenSecretKey) k;
        checkSize(secret);
        key = secret;
        data.reset();
    }

    /** Refuses a key whose length is outside the range the token gives for the mechanism. */
    private void checkSize(VorlenSecretKey secret) throws InvalidKeyException {
        long type = mechanism().type();
        try {
            CK_MECHANISM_INFO info = provider.token().mechanismInfo(type);
            long length = provider.withKey(secret, (s, object) -> s.get(object, Attr.VALUE_LEN)).orElse(0L);
            if (length > 0 && info.ulMaxKeySize > 0 && (length < info.ulMinKeySize || length > info.ulMaxKeySize)) {
                throw new InvalidKeyException("the token's " + mechanism() + " takes keys of " + info.ulMinKeySize + " to "
                        + info.ulMaxKeySize + " bytes, not of " + length + " (" + secret + ")");
            }
        } catch (TokenException e) {
            // The token tells nothing of the range or the length: the MAC itself will say.
        }
    }

    private Mechanism mechanism() {
        return hash == null ? Mechanism.of(CKM_AES_CMAC) : Mechanism.hmac(hash);
    }

    private void checkReady() {
        if (key == null) {
            throw new IllegalStateException(name + " is not initialised");
        }
    }

    @Override
    protected void engineUpdate(byte input) {
        checkReady();
        data.write(input);
    }

    @Override
    protected void engineUpdate(byte[] input, int offset, int len) {
        checkReady();
        data.write(input, offset, len);
    }

    @Override
    protected byte[] engineDoFinal() {
        checkReady();
        byte[] message = data.toByteArray();
        data.reset();
        Mechanism m = mechanism();
        try {
            return provider.withKey(key, (s, object) -> s.mac(m, object, message));
        } catch (TokenException e) {
            String why = e.code() == CKR_KEY_SIZE_RANGE ? ": the token does not take a key of this size for " + m : "";
            throw new ProviderException(name + " with " + key + " failed" + why + ": " + e.getMessage(), e);
        } finally {
            Arrays.fill(message, (byte) 0);
        }
    }

    @Override
    protected void engineReset() {
        data.reset();
    }

    @Override
    public Object clone() throws CloneNotSupportedException {
        VorlenMac copy = (VorlenMac) super.clone();
        copy.data = new ByteArrayOutputStream();
        copy.data.writeBytes(data.toByteArray());
        return copy;
    }

    @Override
    public String toString() {
        return "Vorlen Mac " + name + (key == null ? " (not initialised)" : " with " + key);
    }
}
