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
}
