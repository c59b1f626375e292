package zandrop.tesk.pkcs11.vorlen.api;

/**
 * The arguments of {@link PKCS11Impl#C_Initialize(Object)}: how the module may protect itself
 * against concurrent calls.
 *
 * <p>An application that calls the module from several threads either sets
 * {@link PKCS11Constants#CKF_OS_LOCKING_OK} in {@link #flags}, so that the module uses the
 * operating system's locks, or supplies all four mutex callbacks, which the module then calls to
 * create, destroy, lock and unlock its mutexes. The module may call them on any thread, its own
 * included.
 *
 * <p>The callbacks are read from this object each time the module calls one, so the object
 * must stay unchanged while the module is initialised. One set of callbacks serves the whole
 * process: initialising a module with callbacks makes every module's mutex callbacks call the
 * objects of the latest such initialisation.
 *
 * <p>A callback that the module makes on a thread of its own runs on a Java thread attached for
 * that one call and detached afterwards, so the lock and the unlock of one mutex may come from
 * two different {@link Thread} objects. Use a lock that has no owner, such as a
 * {@link java.util.concurrent.Semaphore} with one permit, not a {@code ReentrantLock} or a
 * monitor. A callback reports failure by throwing {@link PKCS11Exception}; the module receives
 * its error code (any other throwable gives {@code CKR_GENERAL_ERROR}).
 */
public class CK_C_INITIALIZE_ARGS {

    /** Creates a new mutex for the module; null when the application supplies no callbacks. */
    public CK_CREATEMUTEX CreateMutex;

    /** Destroys a mutex of the module; null when the application supplies no callbacks. */
    public CK_DESTROYMUTEX DestroyMutex;

    /** Locks a mutex of the module; null when the application supplies no callbacks. */
    public CK_LOCKMUTEX LockMutex;

    /** Unlocks a mutex of the module; null when the application supplies no callbacks. */
    public CK_UNLOCKMUTEX UnlockMutex;

    /**
     * Bit flags: {@link PKCS11Constants#CKF_LIBRARY_CANT_CREATE_OS_THREADS} and
     * {@link PKCS11Constants#CKF_OS_LOCKING_OK}.
     */
    public long flags;

    /** Reserved by the standard; must be null. */
    public Object pReserved;

    /** Creates arguments without callbacks and without flags. */
    public CK_C_INITIALIZE_ARGS() {
    }

    /**
     * Creates arguments with flags only, such as {@link PKCS11Constants#CKF_OS_LOCKING_OK}.
     *
     * @param flags the flags
     */
    public CK_C_INITIALIZE_ARGS(long flags) {
        this.flags = flags;
    }

    /**
     * Creates arguments with all four mutex callbacks.
     *
     * @param createMutex creates a mutex
     * @param destroyMutex destroys a mutex
     * @param lockMutex locks a mutex
     * @param unlockMutex unlocks a mutex
     * @param flags the flags
     */
    public CK_C_INITIALIZE_ARGS(CK_CREATEMUTEX createMutex, CK_DESTROYMUTEX destroyMutex,
            CK_LOCKMUTEX lockMutex, CK_UNLOCKMUTEX unlockMutex, long flags) {
        this.CreateMutex = createMutex;
        this.DestroyMutex = destroyMutex;
        this.LockMutex = lockMutex;
        this.UnlockMutex = unlockMutex;
        this.flags = flags;
    }

    /** Returns which callbacks are set, and the flags in hexadecimal. */
    @Override
    public String toString() {
        return new Format.Fields("CK_C_INITIALIZE_ARGS")
                .add("CreateMutex", CreateMutex == null ? "null" : "set")
                .add("DestroyMutex", DestroyMutex == null ? "null" : "set")
                .add("LockMutex", LockMutex == null ? "null" : "set")
                .add("UnlockMutex", UnlockMutex == null ? "null" : "set")
                .add("flags", Format.flags(flags))
                .add("pReserved", Format.value(pReserved))
                .build();
    }
}
