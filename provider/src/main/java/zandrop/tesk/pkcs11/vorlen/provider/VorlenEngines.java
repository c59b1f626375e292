package zandrop.tesk.pkcs11.vorlen.provider;

import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKM_AES_CBC;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKM_AES_CBC_PAD;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKM_AES_CMAC;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKM_AES_CTR;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKM_AES_ECB;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKM_AES_GCM;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKM_AES_KEY_GEN;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKM_AES_KEY_WRAP;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKM_CHACHA20_KEY_GEN;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKM_CHACHA20_POLY1305;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKM_ECDH1_DERIVE;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKM_EC_MONTGOMERY_KEY_PAIR_GEN;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKM_GENERIC_SECRET_KEY_GEN;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKM_RSA_PKCS;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKM_RSA_PKCS_OAEP;

import java.security.NoSuchAlgorithmException;
import java.security.Provider;
import java.util.List;
import java.util.Map;
import java.util.function.Predicate;
import java.util.function.Supplier;

import zandrop.tesk.pkcs11.vorlen.token.Hash;
import zandrop.tesk.pkcs11.vorlen.token.Mechanism;
import zandrop.tesk.pkcs11.vorlen.token.Token;

/**
 * The services of the ciphers, MACs, digests, key generators, secret key factories and key
 * agreements, each registered when the token offers its mechanism.
 */
final class VorlenEngines {
    private VorlenEngines() {
    }

    /** Adds the services the token's mechanisms allow. */
    static void register(VorlenProvider p, Token t, List<Provider.Service> services) {
        String secret = VorlenSecretKey.class.getName();
        for (VorlenBlockCipher.Mode mode : VorlenBlockCipher.Mode.values()) {
            long m = switch (mode) {
                case ECB -> CKM_AES_ECB;
                case CBC -> CKM_AES_CBC;
                case CBC_PAD -> CKM_AES_CBC_PAD;
                case CTR -> CKM_AES_CTR;
            };
            if (t.supports(m)) {
                VorlenBlockCipher probe = new VorlenBlockCipher(p, mode);
                services.add(new EngineService(p, "Cipher", mode.jcaName, VorlenBlockCipher.class, secret,
                        () -> new VorlenBlockCipher(p, mode), probe::accepts));
            }
        }
        if (t.supports(CKM_AES_GCM)) {
            VorlenAead probe = new VorlenAead(p, true);
            services.add(new EngineService(p, "Cipher", "AES/GCM/NoPadding", VorlenAead.class, secret,
                    () -> new VorlenAead(p, true), probe::accepts));
        }
        if (t.supports(CKM_CHACHA20_POLY1305)) {
            VorlenAead probe = new VorlenAead(p, false);
            services.add(new EngineService(p, "Cipher", "ChaCha20-Poly1305", VorlenAead.class, secret,
                    () -> new VorlenAead(p, false), probe::accepts));
        }
        String rsaKeys = VorlenPrivateKey.Rsa.class.getName() + "|java.security.interfaces.RSAPublicKey";
        if (t.supports(CKM_RSA_PKCS)) {
            services.add(new EngineService(p, "Cipher", "RSA/ECB/PKCS1Padding", VorlenRsaCipher.class, rsaKeys,
                    () -> new VorlenRsaCipher(p, false), k -> VorlenRsaCipher.accepts(p, k)));
        }
        if (t.supports(CKM_RSA_PKCS_OAEP)) {
            services.add(new EngineService(p, "Cipher", "RSA/ECB/OAEPWithSHA-256AndMGF1Padding", VorlenRsaCipher.class, rsaKeys,
                    () -> new VorlenRsaCipher(p, true), k -> VorlenRsaCipher.accepts(p, k)));
        }
        Predicate<Object> aesKey = k -> k instanceof java.security.Key key
                && SecretKeys.fits(key, p, zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKK_AES);
        if (t.supports(CKM_AES_KEY_WRAP)) {
            services.add(new EngineService(p, "Cipher", "AESWrap", VorlenKeyWrap.class, secret,
                    () -> new VorlenKeyWrap(p, false), aesKey));
        }
        if (t.supports(VorlenKeyWrap.padMechanism(t))) {
            services.add(new EngineService(p, "Cipher", "AESWrapPad", VorlenKeyWrap.class, secret,
                    () -> new VorlenKeyWrap(p, true), aesKey));
        }
        for (Hash hash : Hash.values()) {
            String hmac = "Hmac" + hash.jdkName().replace("-", "");
            if (t.supports(Mechanism.hmac(hash).type())) {
                services.add(new EngineService(p, "Mac", hmac, VorlenMac.class, secret,
                        () -> new VorlenMac(p, hash), k -> VorlenMac.accepts(p, hash, k)));
                services.add(new EngineService(p, "SecretKeyFactory", hmac, VorlenSecretKeyFactory.class, null,
                        () -> new VorlenSecretKeyFactory(p, hmac), null));
                if (t.supports(CKM_GENERIC_SECRET_KEY_GEN)) {
                    services.add(new EngineService(p, "KeyGenerator", hmac, VorlenKeyGenerator.class, null,
                            () -> new VorlenKeyGenerator(p, hmac, hash), null));
                }
            }
            if (t.supports(hash.mechanism())) {
                services.add(new EngineService(p, "MessageDigest", hash.jdkName(), VorlenDigest.class, null,
                        () -> new VorlenDigest(p, hash), null));
            }
        }
        if (t.supports(CKM_AES_CMAC)) {
            services.add(new EngineService(p, "Mac", "AESCMAC", VorlenMac.class, secret,
                    () -> new VorlenMac(p, null), k -> VorlenMac.accepts(p, null, k)));
        }
        if (t.supports(CKM_AES_KEY_GEN)) {
            services.add(new EngineService(p, "KeyGenerator", "AES", VorlenKeyGenerator.class, null,
                    () -> new VorlenKeyGenerator(p, "AES", null), null));
        }
        if (t.supports(CKM_AES_ECB) || t.supports(CKM_AES_CBC) || t.supports(CKM_AES_GCM)) {
            services.add(new EngineService(p, "SecretKeyFactory", "AES", VorlenSecretKeyFactory.class, null,
                    () -> new VorlenSecretKeyFactory(p, "AES"), null));
        }
        if (t.supports(CKM_CHACHA20_POLY1305)) {
            services.add(new EngineService(p, "SecretKeyFactory", "ChaCha20", VorlenSecretKeyFactory.class, null,
                    () -> new VorlenSecretKeyFactory(p, "ChaCha20"), null));
            if (t.supports(CKM_CHACHA20_KEY_GEN)) {
                services.add(new EngineService(p, "KeyGenerator", "ChaCha20", VorlenKeyGenerator.class, null,
                        () -> new VorlenKeyGenerator(p, "ChaCha20", null), null));
            }
        }
        if (t.supports(CKM_ECDH1_DERIVE)) {
            services.add(new EngineService(p, "KeyAgreement", "ECDH", VorlenKeyAgreement.class,
                    VorlenPrivateKey.Ec.class.getName(), () -> new VorlenKeyAgreement(p, false),
                    k -> VorlenKeyAgreement.accepts(p, false, k)));
            if (t.supports(CKM_EC_MONTGOMERY_KEY_PAIR_GEN)) {
                services.add(new EngineService(p, "KeyAgreement", "X25519", VorlenKeyAgreement.class,
                        VorlenPrivateKey.class.getName(), () -> new VorlenKeyAgreement(p, true),
                        k -> VorlenKeyAgreement.accepts(p, true, k)));
            }
        }
    }

    /** A service whose engine is made by a function of this provider and which takes only the keys it can use. */
    private static final class EngineService extends Provider.Service {
        private final Supplier<Object> factory;
        private final Predicate<Object> keys;

        EngineService(VorlenProvider owner, String type, String algorithm, Class<?> engine, String keyClasses,
                Supplier<Object> factory, Predicate<Object> keys) {
            super(owner, type, algorithm, engine.getName(), null,
                    keyClasses == null ? null : Map.of("SupportedKeyClasses", keyClasses));
            this.factory = factory;
            this.keys = keys;
        }

        @Override
        public Object newInstance(Object parameter) throws NoSuchAlgorithmException {
            return factory.get();
        }

        @Override
        public boolean supportsParameter(Object parameter) {
            return keys == null ? super.supportsParameter(parameter) : keys.test(parameter);
        }
    }
}
