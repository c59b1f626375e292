package zandrop.tesk.pkcs11.vorlen.bench;

import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.*;

import java.security.KeyPair;
import java.security.KeyPairGenerator;
import java.security.KeyStore;
import java.security.MessageDigest;
import java.security.PrivateKey;
import java.security.Security;
import java.security.Signature;
import java.security.cert.X509Certificate;
import java.security.spec.ECGenParameterSpec;
import java.util.Arrays;

import zandrop.tesk.pkcs11.vorlen.api.CK_MECHANISM;
import zandrop.tesk.pkcs11.vorlen.api.PKCS11Exception;
import zandrop.tesk.pkcs11.vorlen.api.PKCS11Impl;
import zandrop.tesk.pkcs11.vorlen.provider.VorlenProvider;
import zandrop.tesk.pkcs11.vorlen.token.CertificateBuilder;
import zandrop.tesk.pkcs11.vorlen.token.Hash;
import zandrop.tesk.pkcs11.vorlen.token.JdkFormats;
import zandrop.tesk.pkcs11.vorlen.token.Mechanism;
import zandrop.tesk.pkcs11.vorlen.token.PinSource;
import zandrop.tesk.pkcs11.vorlen.token.Pkcs11Module;
import zandrop.tesk.pkcs11.vorlen.token.Token;
import zandrop.tesk.pkcs11.vorlen.token.TokenObject;

/**
 * The provider benchmark's signers of 64 bytes on a SoftHSM2 token: an RSA-2048 and a P-256 key
 * made by the JDK, put on the token with self-signed certificates under labels of this run's
 * own, and three ways to sign with each: the provider's {@code Signature}, the session layer
 * (a session of the pool per signature, as the provider's) and {@link PKCS11Impl} directly
 * (C_SignInit and C_Sign on a session of its own). Closing destroys the run's objects.
 */
final class ProviderSigners implements AutoCloseable {
    static final String[] ALGORITHMS = {"SHA256withRSA", "SHA256withECDSA"};
    static final byte[] MESSAGE = new byte[64];

    static {
        Arrays.fill(MESSAGE, (byte) 0x5A);
    }

    /** One signature; its result is kept so that the work is not dropped. */
    @FunctionalInterface
    interface Op {
        Object run() throws Exception;
    }

    final KeyPair rsa;
    final KeyPair ec;
    final X509Certificate rsaCert;
    final X509Certificate ecCert;
    final String rsaAlias;
    final String ecAlias;
    final Pkcs11Module module;
    final Token token;
    final VorlenProvider provider;
    final KeyStore store;
    private final TokenObject[] objects;
    private final PKCS11Impl pkcs11;
    private final long session;

    ProviderSigners(String path, String label, char[] pin) throws Exception {
        KeyPairGenerator rsaGen = KeyPairGenerator.getInstance("RSA");
        rsaGen.initialize(2048);
        rsa = rsaGen.generateKeyPair();
        KeyPairGenerator ecGen = KeyPairGenerator.getInstance("EC");
        ecGen.initialize(new ECGenParameterSpec("secp256r1"));
        ec = ecGen.generateKeyPair();
        rsaCert = CertificateBuilder.of(rsa.getPublic(), "CN=bench-rsa").sign(rsa.getPrivate(), null);
        ecCert = CertificateBuilder.of(ec.getPublic(), "CN=localhost").sign(ec.getPrivate(), null);
        String run = Long.toHexString(System.nanoTime());
        rsaAlias = "rsa-" + run;
        ecAlias = "ec-" + run;

        module = Pkcs11Module.open(path);
        try {
            token = module.token(label);
            token.login(PinSource.of(pin));
            objects = token.withSession(true, s -> new TokenObject[] {
                s.importObject(rsa.getPrivate(), JdkFormats.ImportOptions.defaults().label(rsaAlias).id(new byte[] {1})),
                s.importObject(rsaCert, JdkFormats.ImportOptions.defaults().label(rsaAlias).id(new byte[] {1})),
                s.importObject(ec.getPrivate(), JdkFormats.ImportOptions.defaults().label(ecAlias).id(new byte[] {2})),
                s.importObject(ecCert, JdkFormats.ImportOptions.defaults().label(ecAlias).id(new byte[] {2}))});
            provider = new VorlenProvider("pkcs11:token=" + label + "?module-path=" + path);
            // JSSE finds its signers by name: the provider must be installed.
            Security.addProvider(provider);
            store = KeyStore.getInstance("PKCS11", provider);
            store.load(null, pin);
            pkcs11 = module.pkcs11();
            session = pkcs11.C_OpenSession(token.slotId(), CKF_SERIAL_SESSION, null, null);
        } catch (Exception | Error e) {
            module.close();
            throw e;
        }
    }

    /** The token key of an algorithm, read through the provider's key store. */
    PrivateKey providerKey(String algorithm) throws Exception {
        return (PrivateKey) store.getKey(rsa(algorithm) ? rsaAlias : ecAlias, null);
    }

    /** The provider's signer: one Signature, updated and signed each time. */
    Op viaProvider(String algorithm) throws Exception {
        Signature signature = Signature.getInstance(algorithm, provider);
        signature.initSign(providerKey(algorithm));
        return () -> {
            signature.update(MESSAGE);
            return signature.sign();
        };
    }

    /** The session layer's signer: a session of the pool for each signature, as the provider's. */
    Op viaLayer(String algorithm) {
        TokenObject key = objects[rsa(algorithm) ? 0 : 2];
        Mechanism mechanism = rsa(algorithm) ? Mechanism.rsaPkcs1(Hash.SHA256) : Mechanism.ecdsa(Hash.SHA256);
        return () -> token.withSession(false, s -> s.sign(mechanism, key, MESSAGE));
    }

    /** A direct signer: C_SignInit and C_Sign with the combined mechanism, or host SHA-256 and the plain one. */
    Op direct(String algorithm) throws Exception {
        long key = objects[rsa(algorithm) ? 0 : 2].handle();
        long combined = rsa(algorithm) ? CKM_SHA256_RSA_PKCS : CKM_ECDSA_SHA256;
        long plain = rsa(algorithm) ? CKM_RSA_PKCS : CKM_ECDSA;
        if (token.supports(combined)) {
            CK_MECHANISM m = new CK_MECHANISM(combined);
            return () -> {
                pkcs11.C_SignInit(session, m, key);
                return pkcs11.C_Sign(session, MESSAGE);
            };
        }
        System.out.println("  (the token lacks " + Long.toHexString(combined) + ": both hash on the host)");
        CK_MECHANISM m = new CK_MECHANISM(plain);
        return () -> {
            byte[] digest = MessageDigest.getInstance("SHA-256").digest(MESSAGE);
            pkcs11.C_SignInit(session, m, key);
            return pkcs11.C_Sign(session, plain == CKM_RSA_PKCS ? digestInfo(digest) : digest);
        };
    }

    private static boolean rsa(String algorithm) {
        return algorithm.endsWith("RSA");
    }

    private static byte[] digestInfo(byte[] sha256) {
        byte[] prefix = {0x30, 0x31, 0x30, 0x0d, 0x06, 0x09, 0x60, (byte) 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20};
        byte[] out = Arrays.copyOf(prefix, prefix.length + sha256.length);
        System.arraycopy(sha256, 0, out, prefix.length, sha256.length);
        return out;
    }

    @Override
    public void close() {
        try {
            pkcs11.C_CloseSession(session);
        } catch (PKCS11Exception e) {
            throw new IllegalStateException("closing the benchmark's session: " + e.getMessage(), e);
        } finally {
            removeObjects();
        }
    }

    private void removeObjects() {
        try {
            token.withSession(true, s -> {
                for (TokenObject object : objects) {
                    s.destroy(object);
                }
                return null;
            });
            provider.close();
            Security.removeProvider(provider.getName());
        } finally {
            module.close();
        }
    }
}
