package example.consumer;

import java.nio.charset.StandardCharsets;
import java.security.KeyPair;
import java.security.KeyPairGenerator;
import java.security.KeyStore;
import java.security.PrivateKey;
import java.security.Provider;
import java.security.Signature;
import java.util.HexFormat;
import zandrop.tesk.pkcs11.vorlen.api.PKCS11Impl;
import zandrop.tesk.pkcs11.vorlen.provider.TokenKey;
import zandrop.tesk.pkcs11.vorlen.provider.VorlenProvider;

/**
 * Signs a text through the JCA provider Vorlen with an EC key that stays on a SoftHSM2 token
 * labelled "consumer": the provider generates the key on the token, the provider's key store
 * gives it back, and the JDK's own provider verifies the signature with the public key; the
 * key's entry is deleted at the end.
 *
 * <p>Usage: SignWithToken MODULE PIN
 */
public final class SignWithToken {

    private SignWithToken() {
    }

    public static void main(String[] args) throws Exception {
        Provider vorlen = new VorlenProvider("pkcs11:token=consumer?module-path=" + args[0]);
        char[] pin = args[1].toCharArray();
        KeyStore store = KeyStore.getInstance("PKCS11", vorlen);
        store.load(null, pin);

        // A P-256 key pair made on the token: the private key is sensitive and not extractable.
        KeyPair pair = KeyPairGenerator.getInstance("EC", vorlen).generateKeyPair();
        // Read again, the key store holds it; a key without a label is named by its CKA_ID in hex.
        store.load(null, pin);
        String alias = HexFormat.of().formatHex(((TokenKey) pair.getPrivate()).object().id());
        PrivateKey key = (PrivateKey) store.getKey(alias, null);

        byte[] data = "the request".getBytes(StandardCharsets.UTF_8);
        Signature signer = Signature.getInstance("SHA256withECDSA", vorlen);
        signer.initSign(key);
        signer.update(data);
        byte[] signature = signer.sign();

        Signature verifier = Signature.getInstance("SHA256withECDSA", "SunEC");
        verifier.initVerify(pair.getPublic());
        verifier.update(data);
        boolean valid = verifier.verify(signature);

        System.out.println("vorlen-pkcs11 " + PKCS11Impl.getVersion() + " (native library "
                + PKCS11Impl.getNativeLibraryVersion() + ", on the "
                + (SignWithToken.class.getModule().isNamed() ? "module path" : "class path") + "): provider "
                + signer.getProvider().getName() + ", key \"" + alias + "\" (" + (key.getEncoded() == null
                ? "on the token" : "EXPORTED") + "), " + signature.length + "-byte signature, "
                + (valid ? "valid" : "INVALID"));
        store.deleteEntry(alias);
        if (!valid) {
            System.exit(1);
        }
    }
}
