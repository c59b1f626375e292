package zandrop.tesk.pkcs11.vorlen.provider;

import java.lang.ref.Cleaner;

import zandrop.tesk.pkcs11.vorlen.token.Session;

/**
 * A session of the token's pool that an engine keeps for an operation in parts, from the part
 * that starts it to its end. Closing gives the session back; one with an operation still active
 * is closed on the module instead of going back to the pool (the session layer's rule), so no
 * pooled session carries an operation. An engine dropped in the middle of an operation has its
 * session closed so by a cleaner once the engine is unreachable.
 */
final class HeldSession implements AutoCloseable {
    private static final Cleaner CLEANER = Cleaner.create();

    /** What the cleaner runs: it must not refer to the engine. */
    private static final class Holder implements Runnable {
        private Session session;

        Holder(Session session) {
            this.session = session;
        }

        @Override
        public synchronized void run() {
            Session s = session;
            session = null;
            if (s != null) {
                s.close();
            }
        }
    }

    private final Session session;
    private final Cleaner.Cleanable cleanable;

    /**
     * Borrows a session of the provider's pool for the engine.
     *
     * @param owner the engine: when it becomes unreachable the session is closed
     * @param provider the provider whose token lends the session
     */
    HeldSession(Object owner, VorlenProvider provider) {
        this.session = provider.token().borrow(false);
        this.cleanable = CLEANER.register(owner, new Holder(session));
    }

    Session session() {
        return session;
    }

    /** Gives the session back, or closes it when an operation is still active on it. Idempotent. */
    @Override
    public void close() {
        cleanable.clean();
    }

    @Override
    public String toString() {
        return "held " + session;
    }
}
