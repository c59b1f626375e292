package zandrop.tesk.pkcs11.vorlen.provider;

import java.security.ProviderException;
import java.security.SecureRandomSpi;

import zandrop.tesk.pkcs11.vorlen.token.TokenException;

/**
 * Random bytes from the token's generator ({@code C_GenerateRandom}), each request through a
 * session borrowed for it. Thread-safe (the service says {@code ThreadSafe=true}). A seed given
 * by the caller is not passed on: the token seeds its own generator.
 */
final class VorlenRandom extends SecureRandomSpi {
    private static final long serialVersionUID = 1L;
    private final transient VorlenProvider provider;

    VorlenRandom(VorlenProvider provider) {
        this.provider = provider;
    }

    @Override
    protected void engineSetSeed(byte[] seed) {
        // The token's generator seeds itself.
    }

    @Override
    protected void engineNextBytes(byte[] bytes) {
        if (bytes.length == 0) {
            return;
        }
        try {
            byte[] random = provider.token().withSession(false, s -> s.random(bytes.length));
            System.arraycopy(random, 0, bytes, 0, bytes.length);
            java.util.Arrays.fill(random, (byte) 0);
        } catch (TokenException e) {
            throw new ProviderException("the token's random generator failed: " + e.getMessage(), e);
        }
    }

    @Override
    protected byte[] engineGenerateSeed(int numBytes) {
        byte[] seed = new byte[numBytes];
        engineNextBytes(seed);
        return seed;
    }

    @Override
    public String toString() {
        return "Vorlen SecureRandom of " + provider;
    }
}
