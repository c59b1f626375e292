package zandrop.tesk.pkcs11.vorlen.provider;

import java.io.ByteArrayOutputStream;
import java.security.MessageDigestSpi;
import java.security.ProviderException;

import zandrop.tesk.pkcs11.vorlen.token.Hash;
import zandrop.tesk.pkcs11.vorlen.token.Mechanism;
import zandrop.tesk.pkcs11.vorlen.token.TokenException;

/**
 * {@code SHA-1}, {@code SHA-224} ... {@code SHA-512} computed by the token ({@code CKM_SHA256}...).
 * The data is collected until {@code digest}, which runs one {@code C_Digest} on a session
 * borrowed for it; cloning copies what was collected.
 */
final class VorlenDigest extends MessageDigestSpi implements Cloneable {
    private final VorlenProvider provider;
    private final Hash hash;
    private ByteArrayOutputStream data = new ByteArrayOutputStream();

    VorlenDigest(VorlenProvider provider, Hash hash) {
        this.provider = provider;
        this.hash = hash;
    }

    @Override
    protected int engineGetDigestLength() {
        return hash.length();
    }

    @Override
    protected void engineUpdate(byte input) {
        data.write(input);
    }

    @Override
    protected void engineUpdate(byte[] input, int offset, int len) {
        data.write(input, offset, len);
    }

    @Override
    protected byte[] engineDigest() {
        byte[] message = data.toByteArray();
        data.reset();
        try {
            return provider.token().withSession(false, s -> s.digest(Mechanism.digest(hash), message));
        } catch (TokenException e) {
            throw new ProviderException(hash.jdkName() + " on " + provider + " failed: " + e.getMessage(), e);
        }
    }

    @Override
    protected void engineReset() {
        data.reset();
    }

    @Override
    public Object clone() throws CloneNotSupportedException {
        VorlenDigest copy = (VorlenDigest) super.clone();
        copy.data = new ByteArrayOutputStream();
        copy.data.writeBytes(data.toByteArray());
        return copy;
    }

    @Override
    public String toString() {
        return "Vorlen MessageDigest " + hash.jdkName() + " of " + provider;
    }
}
