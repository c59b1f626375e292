package zandrop.tesk.pkcs11.vorlen.token;

import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.*;

import java.util.Locale;
import java.util.Objects;
import java.util.function.Supplier;

import zandrop.tesk.pkcs11.vorlen.api.CK_AES_CTR_PARAMS;
import zandrop.tesk.pkcs11.vorlen.api.CK_ECDH1_DERIVE_PARAMS;
import zandrop.tesk.pkcs11.vorlen.api.CK_GCM_PARAMS;
import zandrop.tesk.pkcs11.vorlen.api.CK_HKDF_PARAMS;
import zandrop.tesk.pkcs11.vorlen.api.CK_MECHANISM;
import zandrop.tesk.pkcs11.vorlen.api.CK_RSA_PKCS_OAEP_PARAMS;
import zandrop.tesk.pkcs11.vorlen.api.CK_RSA_PKCS_PSS_PARAMS;
import zandrop.tesk.pkcs11.vorlen.api.CK_SALSA20_CHACHA20_POLY1305_PARAMS;
import zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants;

/**
 * A mechanism with its parameters, immutable: each call gets a new {@code CK_MECHANISM} with
 * new parameter records, so one {@code Mechanism} may serve any number of threads.
 *
 * <p>Hash-and-sign mechanisms ({@link #ecdsa(Hash)}, {@link #rsaPss(Hash)},
 * {@link #rsaPkcs1(Hash)}) know their parts: on a token that lacks the combined mechanism but
 * has the plain one (SoftHSM2 2.6 offers {@code CKM_ECDSA} but no {@code CKM_ECDSA_SHA256}),
 * signing and verifying hash the data on the host with the JDK and pass the digest (for
 * PKCS#1 v1.5 its DigestInfo) to the plain mechanism. The signature is the same.
 */
public final class Mechanism {
    private final long type;
    private final Supplier<Object> parameter;
    private final Hash hash;          // for hash-and-sign mechanisms
    private final long plainType;     // the mechanism that signs a digest
    private final Supplier<Object> plainParameter;
    private final boolean derSignature;  // ECDSA signatures in the JDK's DER form

    private Mechanism(long type, Supplier<Object> parameter, Hash hash, long plainType, Supplier<Object> plainParameter) {
        this(type, parameter, hash, plainType, plainParameter, false);
    }

    private Mechanism(long type, Supplier<Object> parameter, Hash hash, long plainType, Supplier<Object> plainParameter,
            boolean derSignature) {
        this.type = type;
        this.parameter = parameter;
        this.hash = hash;
        this.plainType = plainType;
        this.plainParameter = plainParameter;
        this.derSignature = derSignature;
    }

    /**
     * A mechanism without a parameter.
     *
     * @param type the mechanism type
     * @return the mechanism
     */
    public static Mechanism of(long type) {
        return new Mechanism(type, () -> null, null, 0, null);
    }

    /**
     * A mechanism with a parameter made new for every call, for the records this class has no
     * factory for.
     *
     * @param type the mechanism type
     * @param parameter makes the parameter: a record of the {@code api} package, a
     *     {@code byte[]}, a {@code Long}...
     * @return the mechanism
     */
    public static Mechanism of(long type, Supplier<Object> parameter) {
        return new Mechanism(type, Objects.requireNonNull(parameter), null, 0, null);
    }

    /**
     * ECDSA over a hash of the data ({@code CKM_ECDSA_SHA256}...), with signatures in the DER
     * form of the JDK's {@code SHA256withECDSA} (and X.509, CMS, TLS): signing turns the
     * token's r‖s into DER, verifying turns DER back, both for the key's curve.
     *
     * @param hash the hash
     * @return the mechanism
     */
    public static Mechanism ecdsa(Hash hash) {
        Mechanism raw = ecdsaP1363(hash);
        return new Mechanism(raw.type, raw.parameter, hash, CKM_ECDSA, raw.plainParameter, true);
    }

    /**
     * ECDSA over a hash of the data, with signatures as the token makes them: r‖s, each as
     * long as the curve's order (the JDK's {@code SHA256withECDSAinP1363Format}).
     *
     * @param hash the hash
     * @return the mechanism
     */
    public static Mechanism ecdsaP1363(Hash hash) {
        long type = switch (hash) {
            case SHA1 -> CKM_ECDSA_SHA1;
            case SHA224 -> CKM_ECDSA_SHA224;
            case SHA256 -> CKM_ECDSA_SHA256;
            case SHA384 -> CKM_ECDSA_SHA384;
            case SHA512 -> CKM_ECDSA_SHA512;
        };
        return new Mechanism(type, () -> null, hash, CKM_ECDSA, () -> null);
    }

    /**
     * RSA PSS over a hash, MGF1 of the same hash, salt as long as the digest.
     *
     * @param hash the hash
     * @return the mechanism
     */
    public static Mechanism rsaPss(Hash hash) {
        long type = switch (hash) {
            case SHA1 -> CKM_SHA1_RSA_PKCS_PSS;
            case SHA224 -> CKM_SHA224_RSA_PKCS_PSS;
            case SHA256 -> CKM_SHA256_RSA_PKCS_PSS;
            case SHA384 -> CKM_SHA384_RSA_PKCS_PSS;
            case SHA512 -> CKM_SHA512_RSA_PKCS_PSS;
        };
        Supplier<Object> params = () -> new CK_RSA_PKCS_PSS_PARAMS(hash.mechanism(), hash.mgf(), hash.length());
        return new Mechanism(type, params, hash, CKM_RSA_PKCS_PSS, params);
    }

    /**
     * RSA PKCS#1 v1.5 signatures over a hash ({@code CKM_SHA256_RSA_PKCS}...).
     *
     * @param hash the hash
     * @return the mechanism
     */
    public static Mechanism rsaPkcs1(Hash hash) {
        long type = switch (hash) {
            case SHA1 -> CKM_SHA1_RSA_PKCS;
            case SHA224 -> CKM_SHA224_RSA_PKCS;
            case SHA256 -> CKM_SHA256_RSA_PKCS;
            case SHA384 -> CKM_SHA384_RSA_PKCS;
            case SHA512 -> CKM_SHA512_RSA_PKCS;
        };
        return new Mechanism(type, () -> null, hash, CKM_RSA_PKCS, () -> null);
    }

    /**
     * RSA OAEP with a hash, MGF1 of the same hash, no label.
     *
     * @param hash the hash
     * @return the mechanism
     */
    public static Mechanism rsaOaep(Hash hash) {
        return of(CKM_RSA_PKCS_OAEP, () -> new CK_RSA_PKCS_OAEP_PARAMS(hash.mechanism(), hash.mgf(),
                CKZ_DATA_SPECIFIED, null));
    }

    /**
     * EdDSA (Ed25519, Ed448) without context: {@code CKM_EDDSA}.
     *
     * @return the mechanism
     */
    public static Mechanism eddsa() {
        return of(CKM_EDDSA);
    }

    /**
     * A digest: {@code CKM_SHA256}...
     *
     * @param hash the hash
     * @return the mechanism
     */
    public static Mechanism digest(Hash hash) {
        return of(hash.mechanism());
    }

    /**
     * HMAC: {@code CKM_SHA256_HMAC}...
     *
     * @param hash the hash
     * @return the mechanism
     */
    public static Mechanism hmac(Hash hash) {
        long type = switch (hash) {
            case SHA1 -> CKM_SHA_1_HMAC;
            case SHA224 -> CKM_SHA224_HMAC;
            case SHA256 -> CKM_SHA256_HMAC;
            case SHA384 -> CKM_SHA384_HMAC;
            case SHA512 -> CKM_SHA512_HMAC;
        };
        return of(type);
    }

    /**
     * AES-GCM.
     *
     * @param iv the IV (12 bytes is the common length)
     * @param aad the additional authenticated data, or null
     * @param tagBits the tag's length in bits, such as 128
     * @return the mechanism
     */
    public static Mechanism aesGcm(byte[] iv, byte[] aad, int tagBits) {
        byte[] ivCopy = iv.clone();
        byte[] aadCopy = aad == null ? null : aad.clone();
        return of(CKM_AES_GCM, () -> new CK_GCM_PARAMS(ivCopy.clone(), ivCopy.length * 8L,
                aadCopy == null ? null : aadCopy.clone(), tagBits));
    }

    /**
     * AES-CTR.
     *
     * @param counterBits how many low bits of the block are the counter
     * @param counterBlock the first counter block, 16 bytes
     * @return the mechanism
     */
    public static Mechanism aesCtr(int counterBits, byte[] counterBlock) {
        byte[] cb = counterBlock.clone();
        return of(CKM_AES_CTR, () -> new CK_AES_CTR_PARAMS(counterBits, cb.clone()));
    }

    /**
     * AES-CBC with PKCS#7 padding.
     *
     * @param iv the IV (16 bytes)
     * @return the mechanism
     */
    public static Mechanism aesCbcPad(byte[] iv) {
        byte[] copy = iv.clone();
        return of(CKM_AES_CBC_PAD, copy::clone);
    }

    /**
     * AES key wrap (RFC 3394): {@code CKM_AES_KEY_WRAP}.
     *
     * @return the mechanism
     */
    public static Mechanism aesKeyWrap() {
        return of(CKM_AES_KEY_WRAP);
    }

    /**
     * AES key wrap with padding (RFC 5649): {@code CKM_AES_KEY_WRAP_KWP}.
     *
     * @return the mechanism
     */
    public static Mechanism aesKeyWrapPad() {
        return of(CKM_AES_KEY_WRAP_KWP);
    }

    /**
     * ChaCha20-Poly1305.
     *
     * @param nonce the nonce (12 bytes)
     * @param aad the additional authenticated data, or null
     * @return the mechanism
     */
    public static Mechanism chacha20Poly1305(byte[] nonce, byte[] aad) {
        byte[] n = nonce.clone();
        byte[] a = aad == null ? null : aad.clone();
        return of(CKM_CHACHA20_POLY1305, () -> new CK_SALSA20_CHACHA20_POLY1305_PARAMS(n.clone(),
                a == null ? null : a.clone()));
    }

    /**
     * HKDF (extract and expand) from a base key, with the salt as data.
     *
     * @param hash the hash of the HMAC
     * @param salt the salt, or null for none
     * @param info the context information, or null
     * @return the mechanism ({@code CKM_HKDF_DERIVE})
     */
    public static Mechanism hkdf(Hash hash, byte[] salt, byte[] info) {
        byte[] s = salt == null ? null : salt.clone();
        byte[] i = info == null ? null : info.clone();
        return of(CKM_HKDF_DERIVE, () -> {
            CK_HKDF_PARAMS p = new CK_HKDF_PARAMS();
            p.bExtract = true;
            p.bExpand = true;
            p.prfHashMechanism = hash.mechanism();
            p.ulSaltType = s == null ? CKF_HKDF_SALT_NULL : CKF_HKDF_SALT_DATA;
            p.pSalt = s == null ? null : s.clone();
            p.pInfo = i == null ? null : i.clone();
            return p;
        });
    }

    /**
     * ECDH (also X25519 and X448) with the other party's public value, no KDF: the derived key
     * is the shared secret.
     *
     * @param otherPublic the other party's public point (uncompressed, or the raw X25519 bytes)
     * @return the mechanism ({@code CKM_ECDH1_DERIVE})
     */
    public static Mechanism ecdh(byte[] otherPublic) {
        byte[] p = otherPublic.clone();
        return of(CKM_ECDH1_DERIVE, () -> new CK_ECDH1_DERIVE_PARAMS(CKD_NULL, null, p.clone()));
    }

    /**
     * Generates AES keys.
     *
     * @return the mechanism
     */
    public static Mechanism aesKeyGen() {
        return of(CKM_AES_KEY_GEN);
    }

    /**
     * Generates generic secrets (HMAC keys).
     *
     * @return the mechanism
     */
    public static Mechanism genericSecretKeyGen() {
        return of(CKM_GENERIC_SECRET_KEY_GEN);
    }

    /**
     * Generates EC key pairs (the curve is the public template's {@code CKA_EC_PARAMS}).
     *
     * @return the mechanism
     */
    public static Mechanism ecKeyPairGen() {
        return of(CKM_EC_KEY_PAIR_GEN);
    }

    /**
     * Generates Ed25519 and Ed448 key pairs.
     *
     * @return the mechanism
     */
    public static Mechanism edwardsKeyPairGen() {
        return of(CKM_EC_EDWARDS_KEY_PAIR_GEN);
    }

    /**
     * Generates RSA key pairs.
     *
     * @return the mechanism
     */
    public static Mechanism rsaKeyPairGen() {
        return of(CKM_RSA_PKCS_KEY_PAIR_GEN);
    }

    /**
     * Returns the mechanism type.
     *
     * @return the {@code CK_MECHANISM_TYPE}
     */
    public long type() {
        return type;
    }

    /** The hash a hash-and-sign mechanism may compute on the host, or null. */
    Hash hash() {
        return hash;
    }

    /** Whether signatures are given and taken in DER and the token's r‖s is converted. */
    boolean derSignature() {
        return derSignature;
    }

    /** The mechanism that signs a digest computed on the host. */
    Mechanism plain() {
        return new Mechanism(plainType, plainParameter, null, 0, null);
    }

    /** A new record for one call. */
    CK_MECHANISM toCk() {
        return new CK_MECHANISM(type, parameter.get());
    }

    /**
     * Returns the mechanism's name.
     *
     * @return such as {@code "CKM_AES_GCM"}, or the type in hex
     */
    @Override
    public String toString() {
        String name = PKCS11Constants.mechanismName(type);
        return name != null ? name : String.format(Locale.ROOT, "CKM_0x%08X", type);
    }
}
