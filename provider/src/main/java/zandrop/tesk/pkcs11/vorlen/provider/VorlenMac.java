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
 * AES key of the token. Up to {@link VorlenDigest#BUFFERED} bytes are collected and the MAC
 * computed in one call of the token; longer data is streamed: the engine keeps a session of the
 * pool from then on ({@code C_SignInit}, {@code C_SignUpdate}...) until {@code doFinal},
 * {@code reset} or an error, so the memory it holds stays bounded (such an engine cannot be
 * cloned). {@code doFinal} and its failures reset the engine. A key whose length
 * is outside the range the token gives for the mechanism ({@code C_GetMechanismInfo}; SoftHSM2
 * wants HMAC keys at least as long as the hash) is refused at {@code init} with that range.
 */
final class VorlenMac extends MacSpi implements Cloneable {
    private final VorlenProvider provider;
    private final Hash hash;  // null for AESCMAC
    private final String name;
    private ByteArrayOutputStream data = new ByteArrayOutputStream();
    private VorlenSecretKey key;
    private HeldSession held;  // while streaming

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
        engineReset();
        key = secret;
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
        engineUpdate(new byte[] {input}, 0, 1);
    }

    @Override
    protected void engineUpdate(byte[] input, int offset, int len) {
        checkReady();
        if (held == null && data.size() + len <= VorlenDigest.BUFFERED) {
            data.write(input, offset, len);
            return;
        }
        try {
            if (held == null) {
                held = new HeldSession(this, provider);
                held.session().signInit(mechanism(), key.object());
                byte[] collected = data.toByteArray();
                clearData();
                held.session().signUpdate(collected, 0, collected.length);
                Arrays.fill(collected, (byte) 0);
            }
            held.session().signUpdate(input, offset, len);
        } catch (TokenException e) {
            engineReset();
            throw failure(e);
        }
    }

    private ProviderException failure(TokenException e) {
        String why = e.code() == CKR_KEY_SIZE_RANGE ? ": the token does not take a key of this size for " + mechanism() : "";
        return new ProviderException(name + " with " + key + " failed" + why + ": " + e.getMessage(), e);
    }

    /** Empties the collected data, overwriting it first. */
    private void clearData() {
        byte[] zeros = new byte[data.size()];
        data.reset();
        data.write(zeros, 0, zeros.length);
        data.reset();
    }

    @Override
    protected byte[] engineDoFinal() {
        checkReady();
        if (held != null) {
            try {
                return held.session().signFinal();
            } catch (TokenException e) {
                throw failure(e);
            } finally {
                engineReset();
            }
        }
        byte[] message = data.toByteArray();
        clearData();
        Mechanism m = mechanism();
        try {
            return provider.withKey(key, (s, object) -> s.mac(m, object, message));
        } catch (TokenException e) {
            throw failure(e);
        } finally {
            Arrays.fill(message, (byte) 0);
        }
    }

    @Override
    protected void engineReset() {
        clearData();
        HeldSession h = held;
        held = null;
        if (h != null) {
            if (h.session().operationActive()) {
                try {
                    h.session().signFinal();  // ends the operation, so that the session can go back to the pool
                } catch (TokenException e) {
                    // The session is closed below rather than lent again.
                }
            }
            h.close();
        }
    }

    @Override
    public Object clone() throws CloneNotSupportedException {
        if (held != null) {
            throw new CloneNotSupportedException(name + " streams more than " + VorlenDigest.BUFFERED
                    + " bytes to the token and cannot be copied");
        }
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
