/**
 * The Java side of vorlen-pkcs11: {@code PKCS11Impl} and the PKCS#11 records, constants and
 * exceptions in {@code zandrop.tesk.pkcs11.vorlen.api}; the layer above it for Java developers
 * (PKCS#11 URIs, the JDK's key and certificate formats, ...) in
 * {@code zandrop.tesk.pkcs11.vorlen.token}. The jar carries the native library it loads.
 *
 * <p>On the module path, JDK 24 and later want native access granted to this module by name,
 * {@code --enable-native-access=zandrop.tesk.pkcs11.vorlen}; on the class path (where this
 * descriptor is ignored) {@code --enable-native-access=ALL-UNNAMED}, or the manifest attribute
 * {@code Enable-Native-Access: ALL-UNNAMED} of an executable jar.
 */
// The name is the package's root, digits and all.
@SuppressWarnings("module")
module zandrop.tesk.pkcs11.vorlen {
    exports zandrop.tesk.pkcs11.vorlen.api;
    exports zandrop.tesk.pkcs11.vorlen.token;
}
