package zandrop.tesk.pkcs11.vorlen.token;

import java.time.Duration;
import java.util.ArrayDeque;
import java.util.ArrayList;
import java.util.Deque;
import java.util.List;
import java.util.concurrent.Semaphore;
import java.util.concurrent.TimeUnit;

/**
 * Sessions of one token lent to many threads: at most a fixed number open at once (lent and
 * idle together), read-write or read-only as asked, a borrower waiting up to a timeout for one to come back. A session
 * returns to the pool when it is closed; one that the module no longer knows
 * ({@code CKR_SESSION_HANDLE_INVALID}, {@code CKR_SESSION_CLOSED}, {@code CKR_DEVICE_REMOVED},
 * {@code CKR_TOKEN_NOT_PRESENT}) or that may still have an operation active is closed instead,
 * and a new one takes its place at the next borrowing; such an error also drops every idle
 * session, which a token removal or restart ends together. Thread-safe.
 *
 * <p>{@link Token#withSession} borrows, runs the work, returns the session, and runs the work
 * once more on a fresh session after such an error, after logging in again when the token
 * forgot its login.
 */
public final class SessionPool {
    private final Token token;
    private final int maxSize;
    private final Duration wait;
    private final Semaphore permits;
    private final Deque<Idle> idleReadWrite = new ArrayDeque<>();
    private final Deque<Idle> idleReadOnly = new ArrayDeque<>();
    private boolean closed;

    SessionPool(Token token, int maxSize, Duration wait) {
        if (maxSize < 1) {
            throw new IllegalArgumentException("a pool holds at least one session, not " + maxSize);
        }
        this.token = token;
        this.maxSize = maxSize;
        this.wait = wait;
        this.permits = new Semaphore(maxSize, true);
    }

    /**
     * Borrows a session, waiting up to the pool's timeout. Close it to give it back.
     *
     * @param readWrite whether the session must be read-write
     * @return the session
     * @throws PoolTimeoutException if none came free in time
     */
    public Session borrow(boolean readWrite) {
        return borrow(readWrite, wait);
    }

    /**
     * Borrows a session, waiting up to a timeout. Close it to give it back.
     *
     * @param readWrite whether the session must be read-write
     * @param timeout the longest wait
     * @return the session
     * @throws PoolTimeoutException if none came free in time, or the thread was interrupted
     *     (its interrupt status is then set again)
     */
    public Session borrow(boolean readWrite, Duration timeout) {
        try {
            if (!permits.tryAcquire(timeout.toNanos(), TimeUnit.NANOSECONDS)) {
                throw new PoolTimeoutException("no session of " + token + " came free within " + timeout + " ("
                        + maxSize + " in use)");
            }
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            throw new PoolTimeoutException("interrupted while waiting for a session of " + token);
        }
        Idle idle;
        Idle surplus = null;
        synchronized (this) {
            if (closed) {
                permits.release();
                throw new IllegalStateException("the pool of " + token + " is closed");
            }
            idle = (readWrite ? idleReadWrite : idleReadOnly).pollFirst();
            // The sessions lent and idle stay within the bound: a new session of one kind
            // replaces the longest idle one of the other when they would exceed it.
            Deque<Idle> other = readWrite ? idleReadOnly : idleReadWrite;
            if (idle == null && maxSize - permits.availablePermits() + other.size() > maxSize) {
                surplus = other.pollLast();
            }
        }
        if (surplus != null) {
            closeIdle(surplus);
        }
        if (idle == null) {
            try {
                int generation = token.generation();
                long handle = token.openHandle(readWrite);
                idle = new Idle(handle, generation);
                token.restoreLogin(handle);
            } catch (RuntimeException | Error e) {
                if (idle != null) {
                    closeIdle(idle);
                }
                permits.release();
                throw e;
            }
        }
        return new Session(token, idle.generation, idle.handle, readWrite, this);
    }

    /** Closes an idle session on the module, unless the module was initialised again since. */
    private void closeIdle(Idle idle) {
        if (idle.generation == token.generation()) {
            token.closeHandle(idle.handle);
        }
    }

    void giveBack(Session session) {
        boolean keep = session.reusable();
        synchronized (this) {
            if (keep && !closed) {
                (session.isReadWrite() ? idleReadWrite : idleReadOnly).addFirst(
                        new Idle(session.handle(), session.generation()));
            } else {
                keep = false;
            }
        }
        if (!keep) {
            session.closeOnModule();
        }
        permits.release();
    }

    /** Closes every idle session: the module lost them, or the pool closes. */
    void evictIdle() {
        List<Idle> gone = new ArrayList<>();
        synchronized (this) {
            gone.addAll(idleReadWrite);
            gone.addAll(idleReadOnly);
            idleReadWrite.clear();
            idleReadOnly.clear();
        }
        for (Idle idle : gone) {
            closeIdle(idle);
        }
    }

    /** Forgets every idle session without closing it: the module was initialised again. */
    synchronized void forget() {
        idleReadWrite.clear();
        idleReadOnly.clear();
    }

    /** An idle session: its handle, and the module's generation it was opened in. */
    private record Idle(long handle, int generation) {
    }

    void close() {
        synchronized (this) {
            closed = true;
        }
        evictIdle();
    }

    /**
     * Returns the most sessions lent at once.
     *
     * @return the bound
     */
    public int maxSize() {
        return maxSize;
    }

    /**
     * Returns how many idle sessions the pool holds.
     *
     * @return the count
     */
    public synchronized int idle() {
        return idleReadWrite.size() + idleReadOnly.size();
    }

    @Override
    public String toString() {
        return "pool of " + token + ": " + (maxSize - permits.availablePermits()) + " of " + maxSize + " lent, "
                + idle() + " idle";
    }

    /** No session came free in time. */
    public static final class PoolTimeoutException extends RuntimeException {
        private static final long serialVersionUID = 1L;

        PoolTimeoutException(String message) {
            super(message);
        }
    }
}
