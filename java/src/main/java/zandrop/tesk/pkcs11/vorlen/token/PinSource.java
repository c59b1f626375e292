package zandrop.tesk.pkcs11.vorlen.token;

/**
 * Where a token's PIN comes from when the layer logs in, also again after the token forgot
 * its login (a removal, a restart of a remote module). Each call returns a new array, which
 * the layer clears after use.
 */
@FunctionalInterface
public interface PinSource {

    /**
     * Returns the PIN.
     *
     * @return a new array holding the PIN; null for the token's protected authentication path
     */
    char[] pin();

    /**
     * A source that hands out copies of a PIN it keeps.
     *
     * @param pin the PIN, copied
     * @return the source
     */
    static PinSource of(char[] pin) {
        char[] kept = pin.clone();
        return kept::clone;
    }

    /**
     * The PIN that a PKCS#11 URI gives: its {@code pin-value}, or the first line of the file
     * its {@code pin-source} names (a path, or a {@code file:} URI), read at each login.
     *
     * @param uri the URI
     * @return the source
     * @throws IllegalArgumentException if the URI gives no PIN
     */
    static PinSource of(Pkcs11Uri uri) {
        if (uri.pinValue() != null) {
            return of(uri.pinValue().toCharArray());
        }
        String source = uri.pinSource();
        if (source == null) {
            throw new IllegalArgumentException("the URI gives no pin-value or pin-source: " + uri);
        }
        java.nio.file.Path file = source.startsWith("file:") ? java.nio.file.Path.of(java.net.URI.create(source))
                : java.nio.file.Path.of(source);
        return () -> {
            try {
                byte[] bytes = java.nio.file.Files.readAllBytes(file);
                String text = new String(bytes, java.nio.charset.StandardCharsets.UTF_8);
                java.util.Arrays.fill(bytes, (byte) 0);
                int end = text.indexOf('\n');
                String line = end < 0 ? text : text.substring(0, end);
                return (line.endsWith("\r") ? line.substring(0, line.length() - 1) : line).toCharArray();
            } catch (java.io.IOException e) {
                throw new java.io.UncheckedIOException("the PIN file " + file + " cannot be read", e);
            }
        };
    }
}
