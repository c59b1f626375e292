package zandrop.tesk.pkcs11.vorlen.provider;

import java.io.ByteArrayOutputStream;
import java.security.MessageDigestSpi;
import java.security.ProviderException;

import zandrop.tesk.pkcs11.vorlen.token.Hash;
import zandrop.tesk.pkcs11.vorlen.token.Mechanism;
import zandrop.tesk.pkcs11.vorlen.token.TokenException;

/**
 * {@code SHA-1}, {@code SHA-224} ... {@code SHA-512} computed by the token ({@code CKM_SHA256}...).
 * Up to {@link #BUFFERED} bytes are collected and digested by one {@code C_Digest} on a session
 * borrowed for it; longer data is streamed: the engine keeps a session of the pool from then on
 * ({@code C_DigestInit}, {@code C_DigestUpdate}...) until {@code digest}, {@code reset} or an
 * error, so the memory it holds stays bounded. Cloning copies what was collected; an engine
 * already streaming cannot be cloned (the token's state is not copied).
 */
final class VorlenDigest extends MessageDigestSpi implements Cloneable {
    /** The data collected before the digest goes to the token in parts. */
    static final int BUFFERED = 64 * 1024;

    private final VorlenProvider provider;
    private final Hash hash;
    private ByteArrayOutputStream data = new ByteArrayOutputStream();
    private HeldSession held;  // while streaming

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
        engineUpdate(new byte[] {input}, 0, 1);
    }

    @Override
    protected void engineUpdate(byte[] input, int offset, int len) {
        if (held == null && data.size() + len <= BUFFERED) {
            data.write(input, offset, len);
            return;
        }
        try {
            if (held == null) {
                held = new HeldSession(this, provider);
                held.session().digestInit(Mechanism.digest(hash));
                byte[] collected = data.toByteArray();
                data.reset();
                held.session().digestUpdate(collected, 0, collected.length);
            }
            held.session().digestUpdate(input, offset, len);
        } catch (TokenException e) {
            engineReset();
            throw new ProviderException(hash.jdkName() + " on " + provider + " failed: " + e.getMessage(), e);
        }
    }

    @Override
    protected byte[] engineDigest() {
        try {
            if (held != null) {
                return held.session().digestFinal();
            }
            byte[] message = data.toByteArray();
            return provider.token().withSession(false, s -> s.digest(Mechanism.digest(hash), message));
        } catch (TokenException e) {
            throw new ProviderException(hash.jdkName() + " on " + provider + " failed: " + e.getMessage(), e);
        } finally {
            engineReset();
        }
    }

    @Override
    protected void engineReset() {
        data.reset();
        HeldSession h = held;
        held = null;
        if (h != null) {
            if (h.session().operationActive()) {
                try {
                    h.session().digestFinal();  // ends the operation, so that the session can go back to the pool
                } catch (TokenException e) {
                    // The session is closed below rather than lent again.
                }
            }
            h.close();
        }
    }

    @Override
    public Object clone() throws CloneNotSupportedException {
        if (held != null) {
            throw new CloneNotSupportedException(hash.jdkName() + " of " + provider + " streams more than "
                    + BUFFERED + " bytes to the token and cannot be copied");
        }
        VorlenDigest copy = (VorlenDigest) super.clone();
        copy.data = new ByteArrayOutputStream();
        copy.data.writeBytes(data.toByteArray());
        return copy;
    }

    @Override
    public String toString() {
        return "Vorlen MessageDigest " + hash.jdkName() + " of " + provider + (held == null ? "" : ", streaming on " + held.session());
    }
}
