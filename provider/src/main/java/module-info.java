/**
 * A JCA provider over one PKCS#11 token: {@code KeyStore} type {@code PKCS11}, {@code Signature},
 * {@code Cipher} {@code AES/GCM/NoPadding} and {@code SecureRandom}, named "Vorlen"
 * ({@link zandrop.tesk.pkcs11.vorlen.provider.VorlenProvider}).
 */
// The name is the package's root, digits and all.
@SuppressWarnings("module")
module zandrop.tesk.pkcs11.vorlen.provider {
    requires transitive zandrop.tesk.pkcs11.vorlen;
    exports zandrop.tesk.pkcs11.vorlen.provider;
    provides java.security.Provider with zandrop.tesk.pkcs11.vorlen.provider.VorlenProvider;
}
