package example.consumer;

import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.*;

import java.math.BigInteger;
import java.nio.charset.StandardCharsets;
import java.security.KeyFactory;
import java.security.PublicKey;
import java.security.Signature;
import java.security.spec.RSAPublicKeySpec;
import zandrop.tesk.pkcs11.vorlen.api.CK_ATTRIBUTE;
import zandrop.tesk.pkcs11.vorlen.api.CK_C_INITIALIZE_ARGS;
import zandrop.tesk.pkcs11.vorlen.api.CK_MECHANISM;
import zandrop.tesk.pkcs11.vorlen.api.PKCS11Impl;

/**
 * Signs a text with an RSA key that it generates on the first token of a PKCS#11 module (a
 * SoftHSM2 token), and verifies the signature with the JDK from the public key read back.
 *
 * <p>Usage: SignWithToken MODULE PIN
 */
public final class SignWithToken {

    private SignWithToken() {
    }

    public static void main(String[] args) throws Exception {
        PKCS11Impl pkcs11 = new PKCS11Impl(args[0]);
        pkcs11.C_Initialize(new CK_C_INITIALIZE_ARGS(CKF_OS_LOCKING_OK));
        try {
            long slot = pkcs11.C_GetSlotList(true)[0];
            long session = pkcs11.C_OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, null, null);
            pkcs11.C_Login(session, CKU_USER, args[1].toCharArray());

            long[] keys = pkcs11.C_GenerateKeyPair(session, new CK_MECHANISM(CKM_RSA_PKCS_KEY_PAIR_GEN),
                    new CK_ATTRIBUTE[] {
                        new CK_ATTRIBUTE(CKA_MODULUS_BITS, 2048L),
                        new CK_ATTRIBUTE(CKA_PUBLIC_EXPONENT, new byte[] {1, 0, 1}),
                        new CK_ATTRIBUTE(CKA_VERIFY, true)},
                    new CK_ATTRIBUTE[] {
                        new CK_ATTRIBUTE(CKA_SIGN, true),
                        new CK_ATTRIBUTE(CKA_SENSITIVE, true)});
            byte[] data = "the request".getBytes(StandardCharsets.UTF_8);
            pkcs11.C_SignInit(session, new CK_MECHANISM(CKM_SHA256_RSA_PKCS), keys[1]);
            byte[] signature = pkcs11.C_Sign(session, data);

            CK_ATTRIBUTE[] pub = {new CK_ATTRIBUTE(CKA_MODULUS), new CK_ATTRIBUTE(CKA_PUBLIC_EXPONENT)};
            pkcs11.C_GetAttributeValue(session, keys[0], pub);
            PublicKey publicKey = KeyFactory.getInstance("RSA").generatePublic(new RSAPublicKeySpec(
                    new BigInteger(1, pub[0].getByteArray()), new BigInteger(1, pub[1].getByteArray())));
            Signature verifier = Signature.getInstance("SHA256withRSA");
            verifier.initVerify(publicKey);
            verifier.update(data);
            boolean valid = verifier.verify(signature);

            pkcs11.C_Logout(session);
            pkcs11.C_CloseSession(session);
            System.out.println("vorlen-pkcs11 " + PKCS11Impl.getVersion() + " (native library "
                    + PKCS11Impl.getNativeLibraryVersion() + ", on the "
                    + (SignWithToken.class.getModule().isNamed() ? "module path" : "class path") + "): "
                    + signature.length + "-byte signature, " + (valid ? "valid" : "INVALID"));
            if (!valid) {
                System.exit(1);
            }
        } finally {
            pkcs11.C_Finalize(null);
            pkcs11.disconnect();
        }
    }
}
