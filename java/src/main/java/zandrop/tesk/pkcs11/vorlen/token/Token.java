package zandrop.tesk.pkcs11.vorlen.token;

import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.*;

import java.security.MessageDigest;
import java.security.NoSuchAlgorithmException;
import java.security.SecureRandom;
import java.time.Duration;
import java.util.Arrays;
import java.util.HashSet;
import java.util.Set;
import java.util.function.Function;

import zandrop.tesk.pkcs11.vorlen.api.CK_MECHANISM_INFO;
import zandrop.tesk.pkcs11.vorlen.api.PKCS11Exception;
import zandrop.tesk.pkcs11.vorlen.api.PKCS11Impl;

/**
 * The token in one slot, with the application's login state and its session pool.
 *
 * <p>The standard keeps one login state per token and application: a login serves every
 * session, and closing the last session ends it. This object therefore logs in on a session
 * of its own that it never lends and keeps open until {@link #logout()} or the module's close;
 * {@code CKR_USER_ALREADY_LOGGED_IN} is no error. Given a {@link PinSource}, it logs in again
 * when an operation in {@link #withSession} meets {@code CKR_USER_NOT_LOGGED_IN} (the token was
 * removed, its server restarted). Thread-safe.
 * <pre>{@code
 * Token token = module.token("my token");
 * token.login(PinSource.of(pin));
 * byte[] signature = token.withSession(false, s -> s.sign(Mechanism.ecdsa(Hash.SHA256), key, data));
 * }</pre>
 */
public final class Token {
    /** Sessions lent at once by the pool unless {@link #configurePool} says otherwise. */
    public static final int DEFAULT_POOL_SIZE = 16;
    /** How long a borrower waits for a session unless {@link #configurePool} says otherwise. */
    public static final Duration DEFAULT_POOL_WAIT = Duration.ofSeconds(30);
    /** How often {@link #withSession} runs the work at most, the first time included. */
    static final int MAX_ATTEMPTS = 5;

    private final Pkcs11Module.Shared module;
    private final long slotId;
    private final Object loginLock = new Object();
    private long anchor;             // the session that holds the login
    private boolean anchorOpen;      // and of the module's current generation
    private volatile PinSource pinSource;
    /**
     * A salted SHA-256 of the PIN that C_Login last accepted on this token (null: none since the
     * last logout), so that a PIN offered while logged in is checked without logging out.
     */
    private byte[] acceptedPin;
    private final byte[] pinSalt = newSalt();
    private volatile SessionPool pool;
    private volatile Set<Long> mechanisms;
    private volatile String label;   // as last read, for messages
    private volatile int logins;     // counts the logins made, for operations that overlapped one

    Token(Pkcs11Module.Shared module, long slotId) {
        this.module = module;
        this.slotId = slotId;
    }

    /** Whether an error means that the session is gone (and the token's other sessions likely too). */
    static boolean isSessionLost(long code) {
        return code == CKR_SESSION_HANDLE_INVALID || code == CKR_SESSION_CLOSED || code == CKR_DEVICE_REMOVED
                || code == CKR_TOKEN_NOT_PRESENT;
    }

    PKCS11Impl pkcs11() {
        return module.pkcs11();
    }

    /** The module's generation: a session handle opened in an earlier one is void. */
    int generation() {
        return module.generation;
    }

    /**
     * Returns the slot's ID.
     *
     * @return the {@code CK_SLOT_ID}
     */
    public long slotId() {
        return slotId;
    }

    /**
     * Reads the token's information.
     *
     * @return the information, decoded
     */
    public TokenInfo info() {
        try {
            TokenInfo info = new TokenInfo(pkcs11().C_GetTokenInfo(slotId));
            label = info.label();
            return info;
        } catch (PKCS11Exception e) {
            throw new TokenException("C_GetTokenInfo", "slot " + slotId, e);
        }
    }

    /**
     * Returns the token's PKCS#11 URI, as p11tool prints it.
     *
     * @return the URI with the token's attributes
     */
    public Pkcs11Uri uri() {
        try {
            return Pkcs11Uri.forToken(pkcs11().C_GetTokenInfo(slotId));
        } catch (PKCS11Exception e) {
            throw new TokenException("C_GetTokenInfo", "slot " + slotId, e);
        }
    }

    /**
     * Returns the mechanisms the token offers (read once, then kept).
     *
     * @return the mechanism types
     */
    public long[] mechanisms() {
        return mechanismSet().stream().mapToLong(Long::longValue).sorted().toArray();
    }

    /**
     * Whether the token offers a mechanism.
     *
     * @param type the mechanism type
     * @return whether the token's list holds it
     */
    public boolean supports(long type) {
        return mechanismSet().contains(type);
    }

    private Set<Long> mechanismSet() {
        Set<Long> set = mechanisms;
        if (set == null) {
            long[] list;
            try {
                list = pkcs11().C_GetMechanismList(slotId);
            } catch (PKCS11Exception e) {
                throw new TokenException("C_GetMechanismList", "slot " + slotId, e);
            }
            set = new HashSet<>();
            for (long m : list) {
                set.add(m);
            }
            mechanisms = set;
        }
        return set;
    }

    /**
     * Reads what the token says of a mechanism.
     *
     * @param type the mechanism type
     * @return key sizes and {@code CKF_} flags
     */
    public CK_MECHANISM_INFO mechanismInfo(long type) {
        try {
            return pkcs11().C_GetMechanismInfo(slotId, type);
        } catch (PKCS11Exception e) {
            throw new TokenException("C_GetMechanismInfo", Mechanism.of(type).toString(), e);
        }
    }

    // ---- Login ----

    /**
     * Logs the user in, once for every session of the application. The PIN is not kept: a
     * token that forgets the login stays logged out (see {@link #login(PinSource)}).
     *
     * @param pin the user PIN; null for the protected authentication path
     */
    public void login(char[] pin) {
        synchronized (loginLock) {
            loginWith(pin == null ? null : pin.clone());
        }
    }

    /**
     * Logs the user in, once for every session of the application, and keeps the source to log
     * in again when the token forgets the login.
     *
     * @param source where the PIN comes from
     */
    public void login(PinSource source) {
        synchronized (loginLock) {
            pinSource = source;
            loginWith(source.pin());
        }
    }

    /**
     * Logs the user in like {@link #login(PinSource)}, but checks the PIN also when the
     * application is logged in already, where {@code C_Login} answers
     * {@code CKR_USER_ALREADY_LOGGED_IN} without looking at the PIN. The PIN that this layer's
     * last login made the token accept is the same one: accepted as it is, and nothing else
     * happens (a logout would void the process's handles of private objects and destroy its
     * private session objects). Any other PIN (or a login made outside this layer): the login
     * is ended ({@code C_Logout}) and made again with this PIN. When the token refuses the PIN,
     * the earlier login is made again where its {@link PinSource} is known (else the token stays
     * logged out), and the refusal is thrown. Operations of other threads that meet the short
     * logout run again as {@link #withSession} describes.
     *
     * @param source where the PIN comes from
     * @throws TokenException the token's refusal, such as {@code CKR_PIN_INCORRECT}
     */
    public void loginChecked(PinSource source) {
        synchronized (loginLock) {
            PinSource earlier = pinSource;
            char[] pin = source.pin();
            byte[] offered = pinDigest(pin);
            if (loginWith(pin) || acceptedPin != null && MessageDigest.isEqual(acceptedPin, offered)) {
                pinSource = source;
                return;
            }
            try {
                pkcs11().C_Logout(anchor);
            } catch (PKCS11Exception e) {
                if (e.getErrorCode() != CKR_USER_NOT_LOGGED_IN) {
                    throw new TokenException("C_Logout", toString(), e);
                }
            }
            try {
                loginWith(source.pin());
                pinSource = source;
            } catch (TokenException refused) {
                if (earlier != null) {
                    try {
                        loginWith(earlier.pin());
                    } catch (RuntimeException e) {
                        refused.addSuppressed(e);
                    }
                } else {
                    pinSource = null;
                }
                throw refused;
            }
        }
    }

    /**
     * Logs in on the anchor session, opening it (again) when needed; clears the PIN. Returns
     * false when the application was logged in already (the PIN was not checked).
     */
    private boolean loginWith(char[] pin) {
        try {
            for (int attempt = 0;; attempt++) {
                if (!anchorOpen) {
                    anchor = openHandle(false);
                    anchorOpen = true;
                }
                try {
                    pkcs11().C_Login(anchor, CKU_USER, pin);
                    logins++;
                    acceptedPin = pinDigest(pin);
                    return true;
                } catch (PKCS11Exception e) {
                    if (e.getErrorCode() == CKR_USER_ALREADY_LOGGED_IN) {
                        return false;
                    }
                    if (isSessionLost(e.getErrorCode()) && attempt == 0) {
                        anchorOpen = false;  // gone with the others: a new one, once
                        continue;
                    }
                    throw new TokenException("C_Login", "CKU_USER, " + this, e);
                }
            }
        } finally {
            if (pin != null) {
                Arrays.fill(pin, '\0');
            }
        }
    }

    private static byte[] newSalt() {
        byte[] salt = new byte[16];
        new SecureRandom().nextBytes(salt);
        return salt;
    }

    private byte[] pinDigest(char[] pin) {
        try {
            MessageDigest sha = MessageDigest.getInstance("SHA-256");
            sha.update(pinSalt);
            for (char c : pin == null ? new char[0] : pin) {
                sha.update((byte) (c >>> 8));
                sha.update((byte) c);
            }
            return sha.digest();
        } catch (NoSuchAlgorithmException e) {
            throw new IllegalStateException("the JDK has no SHA-256", e);
        }
    }

    /**
     * Logs in again when the token forgot the login: false without a PIN source, or when the
     * login session is still open and logged in (the error had another cause).
     */
    boolean loginAgain() {
        synchronized (loginLock) {
            PinSource source = pinSource;
            if (source == null) {
                return false;
            }
            if (anchorOpen) {
                try {
                    long state = pkcs11().C_GetSessionInfo(anchor).state;
                    if (state == CKS_RO_USER_FUNCTIONS || state == CKS_RW_USER_FUNCTIONS) {
                        return false;
                    }
                } catch (PKCS11Exception e) {
                    closeHandle(anchor);
                    anchorOpen = false;
                }
            }
            loginWith(source.pin());
            return true;
        }
    }

    /**
     * A new session of a token that should be logged in (a PIN source was given) but shows the
     * public state: the token forgot the login (all its sessions were closed, it was removed),
     * and it is logged in again before the session is used, so that its private objects are
     * seen.
     */
    void restoreLogin(long session) {
        if (pinSource == null) {
            return;
        }
        long state;
        try {
            state = pkcs11().C_GetSessionInfo(session).state;
        } catch (PKCS11Exception e) {
            return;  // the session's first use reports what is wrong
        }
        if (state != CKS_RO_USER_FUNCTIONS && state != CKS_RW_USER_FUNCTIONS) {
            loginAgain();
        }
    }

    /**
     * Logs the user out of every session of the application, and forgets the PIN source.
     * A token that was not logged in is no error.
     */
    public void logout() {
        synchronized (loginLock) {
            pinSource = null;
            acceptedPin = null;
            if (!anchorOpen) {
                return;
            }
            try {
                pkcs11().C_Logout(anchor);
            } catch (PKCS11Exception e) {
                if (e.getErrorCode() != CKR_USER_NOT_LOGGED_IN && !isSessionLost(e.getErrorCode())) {
                    throw new TokenException("C_Logout", toString(), e);
                }
            } finally {
                closeHandle(anchor);
                anchorOpen = false;
            }
        }
    }

    // ---- Sessions ----

    /**
     * Opens a session of its own, outside the pool; {@link Session#close()} closes it on the
     * module.
     *
     * @param readWrite whether the session is read-write
     * @return the session
     */
    public Session openSession(boolean readWrite) {
        int generation = generation();
        return new Session(this, generation, openHandle(readWrite), readWrite, null);
    }

    long openHandle(boolean readWrite) {
        long flags = CKF_SERIAL_SESSION | (readWrite ? CKF_RW_SESSION : 0);
        try {
            return pkcs11().C_OpenSession(slotId, flags, null, null);
        } catch (PKCS11Exception e) {
            throw new TokenException("C_OpenSession", (readWrite ? "read-write, " : "read-only, ") + this, e);
        }
    }

    void closeHandle(long handle) {
        try {
            pkcs11().C_CloseSession(handle);
        } catch (PKCS11Exception e) {
            // Gone already.
        }
    }

    /**
     * Sets the pool's size and wait, replacing the pool; sessions lent from the old one are
     * closed when they come back.
     *
     * @param maxSize the most sessions lent at once
     * @param wait how long a borrower waits
     */
    public synchronized void configurePool(int maxSize, Duration wait) {
        SessionPool old = pool;
        pool = new SessionPool(this, maxSize, wait);
        if (old != null) {
            old.close();
        }
    }

    /**
     * Returns the token's session pool, made on first use with the default size (bounded by
     * the token's own session limit, one session kept for the login) and wait.
     *
     * @return the pool
     */
    public SessionPool pool() {
        SessionPool p = pool;
        if (p != null) {
            return p;
        }
        synchronized (this) {
            if (pool == null) {
                long max = info().maxSessions();
                int size = DEFAULT_POOL_SIZE;
                if (max > 1 && max - 1 < size) {
                    size = (int) (max - 1);
                }
                pool = new SessionPool(this, size, DEFAULT_POOL_WAIT);
            }
            return pool;
        }
    }

    /**
     * Borrows a session of the pool; close it to give it back.
     *
     * @param readWrite whether the session must be read-write
     * @return the session
     */
    public Session borrow(boolean readWrite) {
        return pool().borrow(readWrite);
    }

    /**
     * Runs work on a session of the pool and gives the session back. When the work fails
     * because the session is gone (the errors {@link SessionPool} names, or any error of a
     * session the module closed meanwhile) it runs again on a fresh session; when it fails
     * while the login came from a {@link PinSource} and the token no longer holds it
     * ({@code CKR_USER_NOT_LOGGED_IN}, or a private object not found), it logs in again and
     * runs again, as it does when another thread logged in again while the work ran; five runs
     * at most. When the work fails with {@code CKR_DEVICE_ERROR}, {@code CKR_DEVICE_REMOVED},
     * {@code CKR_CRYPTOKI_NOT_INITIALIZED} or {@code CKR_SLOT_ID_INVALID} and the module's
     * {@code C_GetSlotList} fails too or lacks this slot (a client module whose server was
     * restarted, such as p11-kit's), the module is finalised and initialised again, which ends every session and
     * login of it in this application, and the work runs again on a new session, logged in
     * again from the PIN source. The work should therefore be safe to repeat, as reads,
     * signatures and decryptions are.
     *
     * @param <R> the result's class
     * @param readWrite whether the session must be read-write
     * @param work the work
     * @return its result
     */
    public <R> R withSession(boolean readWrite, Function<Session, R> work) {
        for (int attempt = 1;; attempt++) {
            int loginsBefore = logins;
            int generation = generation();
            Session session = null;
            try {
                session = pool().borrow(readWrite);
                return work.apply(session);
            } catch (SessionPool.PoolTimeoutException e) {
                throw e;
            } catch (RuntimeException e) {
                // Another error of a session that the module closed meanwhile is its loss too.
                boolean lost = e instanceof TokenException t && isSessionLost(t.code())
                        || session != null && session.lost();
                if (session != null) {
                    session.close();
                }
                if (attempt >= MAX_ATTEMPTS) {
                    throw e;
                }
                if (e instanceof TokenException t && Pkcs11Module.Shared.isModuleLost(t.code())
                        && restartModule(generation, t.code(), e)) {
                    continue;
                }
                // A token that forgot the login answers CKR_USER_NOT_LOGGED_IN, or hides its
                // private objects (CKR_OBJECT_HANDLE_INVALID, nothing found); one that was being
                // logged in again meanwhile may have failed in any way.
                if (lost || logins != loginsBefore || loginAgain()) {
                    continue;
                }
                throw e;
            } finally {
                if (session != null) {
                    session.close();
                }
            }
        }
    }

    /** Initialises the module again when it lost its device; its failure is added to the work's. */
    private boolean restartModule(int generation, long code, RuntimeException failure) {
        try {
            return module.restart(generation, slotId, code);
        } catch (TokenException e) {
            failure.addSuppressed(e);
            throw failure;
        }
    }

    /**
     * The module was initialised again: its sessions of before are void, and their handles may
     * name new sessions, so they are forgotten, not closed.
     */
    void moduleRestarted() {
        SessionPool p = pool;
        if (p != null) {
            p.forget();
        }
        synchronized (loginLock) {
            anchorOpen = false;
            acceptedPin = null;
        }
    }

    /** The module lost sessions of this token: the idle ones are dropped. */
    void sessionsLost() {
        SessionPool p = pool;
        if (p != null) {
            p.evictIdle();
        }
    }

    /** The module closes: the pool and the login session go. */
    void shutDown() {
        SessionPool p = pool;
        if (p != null) {
            p.close();
        }
        synchronized (loginLock) {
            if (anchorOpen) {
                closeHandle(anchor);
                anchorOpen = false;
            }
        }
    }

    @Override
    public String toString() {
        String known = label;
        return "token " + (known == null ? "" : "\"" + known + "\" ") + "in slot " + slotId;
    }
}
