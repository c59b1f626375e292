package zandrop.tesk.pkcs11.vorlen.api;

import java.io.IOException;
import java.nio.ByteBuffer;

/**
 * A connection to one PKCS #11 module, whose functions it offers as native methods of the same
 * names.
 *
 * <p>A typical session signs data with a key found by its label:
 * <pre>{@code
 * PKCS11Impl module = new PKCS11Impl("/path/to/module.so");
 * module.C_Initialize(new CK_C_INITIALIZE_ARGS(PKCS11Constants.CKF_OS_LOCKING_OK));
 * long[] slots = module.C_GetSlotList(true);
 * long session = module.C_OpenSession(slots[0], PKCS11Constants.CKF_SERIAL_SESSION, null, null);
 * module.C_Login(session, PKCS11Constants.CKU_USER, pin);
 * module.C_FindObjectsInit(session, new CK_ATTRIBUTE[] {
 *         new CK_ATTRIBUTE(PKCS11Constants.CKA_LABEL, "signing key".toCharArray())});
 * long[] keys = module.C_FindObjects(session, 1);
 * module.C_FindObjectsFinal(session);
 * module.C_SignInit(session, new CK_MECHANISM(PKCS11Constants.CKM_SHA256_RSA_PKCS), keys[0]);
 * byte[] signature = module.C_Sign(session, data);
 * module.C_CloseSession(session);
 * module.C_Finalize(null);
 * module.disconnect();
 * }</pre>
 *
 * <h2>Life cycle</h2>
 *
 * <p>Loading this class loads the native library (see the system property
 * {@code zandrop.tesk.pkcs11.vorlen.library}) and initialises it with
 * {@link #initializeLibrary()}, so that objects can connect at once. {@link #finalizeLibrary()}
 * releases the library's process-wide state; a program that calls it must call
 * {@link #initializeLibrary()} again before it connects another object.
 *
 * <p>An object is connected to at most one module at a time. {@link #connect(String)} loads the
 * module file and binds the object to it; connecting again binds it to the new module;
 * {@link #disconnect()} unbinds the object and unloads the module. The binding belongs to the
 * object's identity: an {@code equals} method of a subclass plays no part in it.
 * {@code disconnect} does not finalise the module: call {@link #C_Finalize(Object)} first.
 *
 * <h2>Values</h2>
 *
 * <p>Slot IDs, session and object handles, flags, types and lengths are Java {@code long}s. A
 * value passed to the module keeps the low bits that fit in the platform's {@code CK_ULONG};
 * a value returned by the module is zero-extended. Where a {@code CK_ULONG} has 32 bits, a
 * handle or code with all bits set therefore reads 4294967295, never -1.
 *
 * <p>{@code CK_ULONG} has 32 bits on Linux i386, on 32-bit Windows and on Windows x64, where
 * {@code unsigned long} keeps 32 bits while pointers have 64 (LLP64); it has 64 bits on 64-bit
 * Linux and macOS. On Windows x64 a Java {@code long} above 2<sup>32</sup> - 1 (or a negative
 * one) therefore reaches the module as its low 32 bits: {@code 0x1_0000_0005L} is the handle 5,
 * and -1 is 0xFFFFFFFF. Lengths the library takes from Java arrays or buffers never exceed
 * 2<sup>31</sup> - 1 and so always fit.
 *
 * <p>PINs, labels and other character data are {@code char[]}s of which each element stands for
 * one byte: only its low 8 bits reach the module, without any character-set conversion, so a
 * character above U+00FF reaches it as another byte (U+20AC as 0xAC) and two texts that differ
 * only there reach it alike: a PIN in another script must be given as the bytes the token
 * expects, one per {@code char}. The text of the 3.0 additions that the standard defines as UTF-8
 * ({@link #C_LoginUser}'s PIN and user name, the password of {@link CK_PKCS5_PBKD2_PARAMS2}) is
 * encoded as UTF-8 instead; an unpaired surrogate there is an {@link IllegalArgumentException}. A
 * {@code byte[]} argument is copied. A null array reaches the module as a null pointer of
 * length 0, an empty one as a valid pointer of length 0. Attribute values and mechanism
 * parameters are converted by their Java class, as {@link CK_ATTRIBUTE} and
 * {@link CK_MECHANISM} describe.
 *
 * <p>Memory that the library hands a module for its outputs (byte results, lists, records,
 * attribute values) is zero-filled before the call: a byte that the module leaves unwritten,
 * even while it answers {@code CKR_OK}, reads as zero, never as memory left over from earlier.
 *
 * <h2>Errors</h2>
 *
 * <ul>
 * <li>A module function that returns anything but {@code CKR_OK} throws a
 *     {@link PKCS11Exception} carrying that value; the method returns no result.</li>
 * <li>A PKCS #11 method called on an object that is not connected throws a
 *     {@link PKCS11RuntimeException} with the message "This object is not connected to a
 *     module."; nothing is converted and the module is not called. (The methods' own
 *     {@code @throws} lists say this only where they add another case.)</li>
 * <li>Arguments are converted before the module is called; when that fails, it is not called.
 *     An attribute value or mechanism parameter of a class that cannot be converted throws a
 *     {@link PKCS11RuntimeException} whose message names the class; a null {@code pMechanism},
 *     or a null object that its parameter must hold, a {@link NullPointerException}; a value
 *     that its native record cannot take (such as a {@link CK_RC2_CBC_PARAMS} IV that is not 8
 *     bytes long) an {@link IllegalArgumentException}.</li>
 * <li>A method that returns bytes (or a list) asks the module for the length first, then
 *     passes a zero-filled buffer of that length; a module that answers {@code CKR_OK} with
 *     more than it was given room for gives a {@link PKCS11RuntimeException}.</li>
 * </ul>
 *
 * <h2>PKCS #11 3.0</h2>
 *
 * <p>The 3.0 methods ({@link #C_LoginUser}, {@link #C_SessionCancel} and the message-based
 * functions) exist in the 3.0 function list only: on an object whose module offered a 2.x list
 * (see {@link #getInterfaceVersion()}) each throws a {@link PKCS11Exception} with
 * {@code CKR_FUNCTION_NOT_SUPPORTED}, converting nothing and not calling the module. A
 * per-message parameter ({@code pParameter}) is converted by its class as the parameter of a
 * {@link CK_MECHANISM} is ({@link CK_GCM_MESSAGE_PARAMS}, {@link CK_CCM_MESSAGE_PARAMS},
 * {@link CK_SALSA20_CHACHA20_POLY1305_MSG_PARAMS}, a {@code byte[]}, ...). What the module writes
 * into it goes back into the caller's objects after each call: a generated IV or nonce into
 * {@code pIv} or {@code pNonce}, the tag of an encryption into {@code pTag} or {@code pMAC};
 * {@link #C_EncryptMessage} says which arrays cannot take them.
 *
 * <p>A callback ({@link CK_NOTIFY}, the mutex callbacks of {@link CK_C_INITIALIZE_ARGS}) that
 * throws answers the module with an error, never with {@code CKR_OK}: the error code of a
 * {@link PKCS11Exception}, or {@code CKR_GENERAL_ERROR} for any other throwable and for a
 * {@code PKCS11Exception} whose code reads {@code CKR_OK} in the platform's {@code CK_ULONG}
 * (0, or a multiple of 2<sup>32</sup> where {@code CK_ULONG} has 32 bits). When the callback
 * ran on the thread of a method of this class, what it threw is also kept for that method:
 * <ul>
 * <li>when the module's function fails, the first throwable becomes the cause of the
 *     {@link PKCS11Exception} (an {@link Error} takes the place of an earlier exception);</li>
 * <li>when the module's function nevertheless returns {@code CKR_OK}, an {@link Error}
 *     (such as {@link OutOfMemoryError} or {@link StackOverflowError}) is thrown by the method,
 *     which then returns no result (a session the module opened stays recorded and is closed
 *     as any other); an {@link Exception} ({@code PKCS11Exception} or
 *     {@link RuntimeException}) is dropped: the module has seen the error code and judged it,
 *     and the call's result reaches the caller.</li>
 * </ul>
 * A callback on a thread that the module created has nobody to throw to: only the module sees
 * its error code.
 *
 * <p>A length or count that a module reports and no Java array can hold (more than
 * {@code Integer.MAX_VALUE}, {@code CK_UNAVAILABLE_INFORMATION} among them) is refused with a
 * {@link PKCS11RuntimeException} naming the function, before any memory is allocated for it.
 * When the module reported it in answer to a size query, the module was only asked for a
 * length: an operation it had under way (an encryption, a digest, ...) stays active, as after
 * {@code CKR_BUFFER_TOO_SMALL}, and a new one on the session fails with
 * {@code CKR_OPERATION_ACTIVE} until {@link #C_CloseSession(long)} ends it. The library does
 * not end it by itself: no call of the standard ends every kind of operation safely.
 *
 * <h2>Threads</h2>
 *
 * <p>Any thread may call any method, on one object or on several. The library holds no lock
 * while a module function runs, so a module sees concurrent calls; how it protects itself is
 * what {@link #C_Initialize(Object)} tells it. The module may call the callbacks of
 * {@link CK_C_INITIALIZE_ARGS} and {@link CK_NOTIFY} on any thread, its own included.
 */
public class PKCS11Impl extends ByteBufferCalls {

    static {
        NativeLibraryLoader.load();
        initializeLibrary();
    }

    /**
     * Internal: an opaque handle of this object's binding to its module. Only the native
     * library writes it, and it checks the handle before using it; Java code never reads or
     * writes it.
     */
    private long bindingHandle;

    /** Creates an object that is not connected to a module; call {@link #connect(String)}. */
    public PKCS11Impl() {
    }

    /**
     * Creates an object and connects it to a module, as {@link #connect(String)} does. When the
     * connection fails, the object is disconnected again before the exception is thrown, so
     * that the module is not left loaded for an object that nobody can reach.
     *
     * @param modulePath the path of the module file
     * @throws IOException if the module file cannot be loaded or exports no
     *     {@code C_GetFunctionList}; the message is the system's description of the error
     * @throws PKCS11Exception if the module's {@code C_GetFunctionList} fails
     */
    public PKCS11Impl(String modulePath) throws IOException, PKCS11Exception {
        boolean connected = false;
        try {
            connect(modulePath);
            connected = true;
        } finally {
            if (!connected) {
                disconnect();
            }
        }
    }

    // ---- The library and the connection to a module.

    /**
     * Sets up the library's process-wide state. Loading this class calls it; call it again
     * only after {@link #finalizeLibrary()}. Further calls change nothing.
     */
    public static native void initializeLibrary();

    /**
     * Releases the library's process-wide state: every object is unbound from its module, and
     * the mutex callbacks of {@link #C_Initialize(Object)} are dropped. No module is finalised
     * or unloaded: finalise and disconnect every module first. Afterwards,
     * {@link #initializeLibrary()} must be called before an object connects again.
     *
     * <p>The {@link CK_NOTIFY} objects of sessions that are still open stay held, because their
     * modules stay loaded and may still notify them; they are released when such a session is
     * closed (or the module finalised with {@code C_Finalize}) through an object connected to
     * the same module file again, or when that module file is unloaded.
     */
    public static native void finalizeLibrary();

    /**
     * Connects this object to a module: loads the module file and obtains its function list.
     * A module that exports {@code C_GetInterface} is asked once for its default "PKCS 11"
     * interface (no version named); when that is a list of a 3.x version, this object uses it.
     * Otherwise (the module has no such entry, the call fails, or its default is a 2.x list) the
     * list of {@code C_GetFunctionList} is used, as for every 2.x module (see
     * {@link #getInterfaceVersion()}). No other 3.0 entry is called: {@code C_GetInterfaceList}
     * only by {@link #C_GetInterfaceList()}. {@link #connectFunctionListOnly(String)} does not
     * call {@code C_GetInterface} either. An object that is connected already is bound to the new
     * module; the old module stays loaded until its other connections, if any, are
     * disconnected.
     *
     * <p>This does not initialise the module: call {@link #C_Initialize(Object)} next.
     *
     * @param modulePath the path of the module file
     * @throws IOException if the module file cannot be loaded or exports no
     *     {@code C_GetFunctionList}; the message is the system's description of the error
     * @throws PKCS11Exception if the module's {@code C_GetFunctionList} fails; the object is
     *     connected all the same, and {@link #disconnect()} unloads the module
     */
    public native void connect(String modulePath) throws IOException, PKCS11Exception;

    /**
     * Connects this object to a module through its {@code C_GetFunctionList} alone, whatever
     * else the module exports: for a module known to misbehave in its 3.0 entries. The object
     * then uses the module's 2.x list ({@link #getInterfaceVersion()} reads 2.40, and every 3.0
     * method throws {@code PKCS11Exception} with {@code CKR_FUNCTION_NOT_SUPPORTED}). In every
     * other respect it is {@link #connect(String)}: rebinding, failures and messages are the
     * same.
     *
     * @param modulePath the path of the module file
     * @throws IOException if the module file cannot be loaded or exports no
     *     {@code C_GetFunctionList}; the message is the system's description of the error
     * @throws PKCS11Exception if the module's {@code C_GetFunctionList} fails; the object is
     *     connected all the same, and {@link #disconnect()} unloads the module
     */
    public native void connectFunctionListOnly(String modulePath) throws IOException, PKCS11Exception;

    /**
     * Disconnects this object from its module and unloads the module file. It does not call
     * {@code C_Finalize}. An object that is not connected is left as it is.
     */
    public native void disconnect();

    /**
     * Returns the version of the native library that this class has loaded, as its build wrote
     * it (such as {@code 0.1.0}). It equals {@link #getVersion()} unless a library of another
     * build was loaded (through the system property {@code zandrop.tesk.pkcs11.vorlen.library}
     * or {@code java.library.path}).
     *
     * @return the native library's version
     */
    public static native String getNativeLibraryVersion();

    /**
     * Returns the version of these Java classes: that of the module {@code
     * zandrop.tesk.pkcs11.vorlen} on the module path, else the {@code Implementation-Version}
     * of the manifest of the jar this class was loaded from.
     *
     * @return the version, or {@code null} where neither says one (classes outside the jar)
     */
    public static String getVersion() {
        Module module = PKCS11Impl.class.getModule();
        if (module.isNamed() && module.getDescriptor().rawVersion().isPresent()) {
            return module.getDescriptor().rawVersion().get();
        }
        // The manifest of the jar this class came from: the package may have been defined by a
        // class of another folder or jar (a split package on the class path) without one.
        java.net.URL self = PKCS11Impl.class.getResource("PKCS11Impl.class");
        if (self != null && self.getProtocol().equals("jar")) {
            String url = self.toString();
            try (java.io.InputStream in = new java.net.URL(url.substring(0, url.indexOf("!/") + 2)
                    + "META-INF/MANIFEST.MF").openStream()) {
                String version = new java.util.jar.Manifest(in).getMainAttributes()
                        .getValue(java.util.jar.Attributes.Name.IMPLEMENTATION_VERSION);
                if (version != null) {
                    return version;
                }
            } catch (IOException e) {
                // Then the package's, below.
            }
        }
        return PKCS11Impl.class.getPackage().getImplementationVersion();
    }

    // ---- Test hooks.

    /**
     * Returns the number of JNI global references that the library has made and not yet
     * deleted; tests use it to find leaks.
     *
     * @return the number of live global references of the library's own
     */
    static native long globalReferenceCount();

    /**
     * Returns the number of native heap blocks that the library holds; tests use it to find
     * leaks.
     *
     * @return the number of heap blocks the library has allocated and not yet freed
     */
    static native long heapBlockCount();

    // ---- General-purpose functions.

    /**
     * Initialises the module. It has the module to itself, as {@link #C_Finalize(Object)} has:
     * it waits for the calls in flight on the module (through any object connected to the same
     * module file) to return, and calls that arrive while it runs are refused with
     * {@code CKR_CRYPTOKI_NOT_INITIALIZED} without reaching the module.
     *
     * @param pInitArgs a {@link CK_C_INITIALIZE_ARGS} that says how the module may protect
     *     itself against concurrent calls (operating-system locks or the mutex callbacks it
     *     holds), or null when the application calls the module from one thread only
     * @throws PKCS11Exception with the module's error, such as
     *     {@code CKR_CRYPTOKI_ALREADY_INITIALIZED} or {@code CKR_CANT_LOCK}
     */
    public native void C_Initialize(Object pInitArgs) throws PKCS11Exception;

    /**
     * Finalises the module: it closes its sessions and releases its resources. The library's
     * own state stays as it is; the object stays connected. When the module answers
     * {@code CKR_OK}, the {@link CK_NOTIFY} objects of the sessions it ended are released.
     *
     * <p>Any thread may call it while others call the module: it first waits for the calls in
     * flight on the module, through every object connected to the same module file, to return;
     * calls that arrive meanwhile, and until it has returned, are refused with
     * {@code CKR_CRYPTOKI_NOT_INITIALIZED} without reaching the module. It does not wait for a
     * blocking {@link #C_WaitForSlotEvent(long, Object)}, which the module's {@code C_Finalize}
     * ends. Called from inside a callback ({@link CK_NOTIFY}, a mutex callback) it waits for
     * nothing, since the calls in flight may be waiting for that very callback; the same
     * holds when another {@code C_Initialize} or {@code C_Finalize} has the module, which
     * then refuses this call with {@code CKR_CRYPTOKI_NOT_INITIALIZED} if waiting could
     * deadlock (a callback, or a call of this thread in flight on the module), and is waited
     * for otherwise.
     *
     * @param pReserved reserved by the standard; pass null
     * @throws PKCS11Exception with the module's error, such as
     *     {@code CKR_CRYPTOKI_NOT_INITIALIZED}
     */
    public native void C_Finalize(Object pReserved) throws PKCS11Exception;

    /**
     * Returns general information about the module.
     *
     * @return the module's information
     * @throws PKCS11Exception with the module's error
     */
    public native CK_INFO C_GetInfo() throws PKCS11Exception;

    // ---- Slot and token management functions.

    /**
     * Returns the slots of the module.
     *
     * @param tokenPresent true for the slots that hold a token, false for all slots
     * @return the slot IDs, possibly none
     * @throws PKCS11Exception with the module's error
     */
    public native long[] C_GetSlotList(boolean tokenPresent) throws PKCS11Exception;

    /**
     * Returns information about a slot.
     *
     * @param slotID the slot
     * @return the slot's information
     * @throws PKCS11Exception with the module's error, such as {@code CKR_SLOT_ID_INVALID}
     */
    public native CK_SLOT_INFO C_GetSlotInfo(long slotID) throws PKCS11Exception;

    /**
     * Returns information about the token in a slot.
     *
     * @param slotID the slot
     * @return the token's information
     * @throws PKCS11Exception with the module's error, such as {@code CKR_TOKEN_NOT_PRESENT}
     */
    public native CK_TOKEN_INFO C_GetTokenInfo(long slotID) throws PKCS11Exception;

    /**
     * Returns the mechanisms that the token in a slot supports.
     *
     * @param slotID the slot
     * @return the mechanism types, possibly none
     * @throws PKCS11Exception with the module's error
     */
    public native long[] C_GetMechanismList(long slotID) throws PKCS11Exception;

    /**
     * Returns information about a mechanism that the token in a slot supports.
     *
     * @param slotID the slot
     * @param type the mechanism type, such as {@link PKCS11Constants#CKM_AES_CBC}
     * @return the mechanism's key sizes and flags
     * @throws PKCS11Exception with the module's error, such as {@code CKR_MECHANISM_INVALID}
     */
    public native CK_MECHANISM_INFO C_GetMechanismInfo(long slotID, long type)
            throws PKCS11Exception;

    /**
     * Initialises the token in a slot, destroying its objects.
     *
     * @param slotID the slot
     * @param pPin the security officer's PIN, or null where the token has a protected
     *     authentication path
     * @param pLabel the token's label: 32 characters, padded with blanks
     * @throws PKCS11Exception with the module's error, such as {@code CKR_PIN_INCORRECT}
     */
    public native void C_InitToken(long slotID, char[] pPin, char[] pLabel) throws PKCS11Exception;

    /**
     * Initialises the normal user's PIN; the security officer must be logged in.
     *
     * @param hSession a read/write session
     * @param pPin the user's new PIN, or null where the token has a protected authentication
     *     path
     * @throws PKCS11Exception with the module's error, such as {@code CKR_USER_NOT_LOGGED_IN}
     */
    public native void C_InitPIN(long hSession, char[] pPin) throws PKCS11Exception;

    /**
     * Changes the PIN of the user who is logged in, or of the normal user when nobody is.
     *
     * @param hSession a read/write session
     * @param pOldPin the old PIN, or null where the token has a protected authentication path
     * @param pNewPin the new PIN, or null where the token has a protected authentication path
     * @throws PKCS11Exception with the module's error, such as {@code CKR_PIN_INCORRECT}
     */
    public native void C_SetPIN(long hSession, char[] pOldPin, char[] pNewPin)
            throws PKCS11Exception;

    /**
     * Waits for a slot event, such as the insertion or removal of a token. A blocking wait does
     * not hold {@link #C_Finalize(Object)} up: the module's {@code C_Finalize} ends it.
     *
     * @param flags {@link PKCS11Constants#CKF_DONT_BLOCK} to return at once, or 0 to wait for
     *     the next event; without {@code CKF_DONT_BLOCK} the calling thread may wait for a long
     *     time
     * @param pReserved reserved by the standard; ignored
     * @return the slot where the event happened
     * @throws PKCS11Exception with the module's error, such as {@code CKR_NO_EVENT} when
     *     {@code CKF_DONT_BLOCK} is given and nothing has happened
     */
    public native long C_WaitForSlotEvent(long flags, Object pReserved) throws PKCS11Exception;

    // ---- Session management functions.

    /**
     * Opens a session with the token in a slot.
     *
     * <p>With a {@code Notify}, the module may call it on any thread from the start of this
     * call (before the handle has been returned) until the session is closed; an exception it
     * throws answers the module with the exception's error code ({@code CKR_GENERAL_ERROR} for
     * anything but a {@link PKCS11Exception}). {@code Notify} and {@code pApplication} are
     * held until the module has confirmed that the session is closed: by
     * {@link #C_CloseSession(long)} of its handle, {@link #C_CloseAllSessions(long)} of its
     * slot or {@link #C_Finalize(Object)}, called on any object connected to the same module
     * file; or until that module file is unloaded. When this call fails they are released at
     * once. A notification that the module sends for a session after it was closed (late, or
     * racing the close) is dropped: it never reaches the {@code Notify} of another session,
     * also not one whose {@code C_OpenSession} is still running.
     *
     * @param slotID the slot
     * @param flags {@link PKCS11Constants#CKF_SERIAL_SESSION}, which the standard requires,
     *     and {@link PKCS11Constants#CKF_RW_SESSION} for a read/write session; passed on
     *     unchanged
     * @param pApplication an object that the notifications of this session pass to
     *     {@code Notify}, or null; ignored (not passed to the module) when {@code Notify} is null
     * @param Notify receives the session's notifications, or null for none
     * @return the session handle
     * @throws PKCS11Exception with the module's error, such as {@code CKR_TOKEN_NOT_PRESENT}
     * @throws OutOfMemoryError if there is no room to hold {@code Notify}; the module is then
     *     not called
     */
    public native long C_OpenSession(long slotID, long flags, Object pApplication, CK_NOTIFY Notify)
            throws PKCS11Exception;

    /**
     * Closes a session, and releases its {@link CK_NOTIFY} when it has one. Only the session of
     * this object's module is concerned, also when another module has a session with the same
     * handle. When the module fails to close the session, its {@code CK_NOTIFY} stays held, and
     * a later successful close releases it.
     *
     * @param hSession the session
     * @throws PKCS11Exception with the module's error, such as
     *     {@code CKR_SESSION_HANDLE_INVALID}
     */
    public native void C_CloseSession(long hSession) throws PKCS11Exception;

    /**
     * Closes every session with the token in a slot, and releases their {@link CK_NOTIFY}s.
     * Sessions of other slots and of other modules, and their {@code CK_NOTIFY}s, are not
     * touched. When the module fails, nothing is released.
     *
     * @param slotID the slot
     * @throws PKCS11Exception with the module's error
     */
    public native void C_CloseAllSessions(long slotID) throws PKCS11Exception;

    /**
     * Returns information about a session.
     *
     * @param hSession the session
     * @return the session's slot, state and flags
     * @throws PKCS11Exception with the module's error, such as
     *     {@code CKR_SESSION_HANDLE_INVALID}
     */
    public native CK_SESSION_INFO C_GetSessionInfo(long hSession) throws PKCS11Exception;

    /**
     * Saves the state of the session's active operations. The module is asked for the length
     * first, then for the state; a state that grew in between gives the module's
     * {@code CKR_BUFFER_TOO_SMALL}.
     *
     * @param hSession the session
     * @return the saved state, for {@link #C_SetOperationState(long, char[], long, long)}
     * @throws PKCS11Exception with the module's error, such as {@code CKR_STATE_UNSAVEABLE}
     * @throws PKCS11RuntimeException if this object is not connected to a module, or the module
     *     reports a length that no Java array can hold or, with {@code CKR_OK}, more bytes than
     *     it was given room for
     */
    public native byte[] C_GetOperationState(long hSession) throws PKCS11Exception;

    /**
     * Restores the state of a session's operations that
     * {@link #C_GetOperationState(long)} saved.
     *
     * @param hSession the session
     * @param pOperationState the saved state, each byte widened to one {@code char} (for
     *     example {@code (char) (b & 0xFF)}): only the low 8 bits of each element reach the
     *     module
     * @param hEncryptionKey the key of the restored encryption or decryption operation, or 0
     * @param hAuthenticationKey the key of the restored signature, MAC or verification
     *     operation, or 0
     * @throws PKCS11Exception with the module's error, such as {@code CKR_SAVED_STATE_INVALID}
     */
    public native void C_SetOperationState(long hSession, char[] pOperationState,
            long hEncryptionKey, long hAuthenticationKey) throws PKCS11Exception;

    /**
     * Logs a user in to the token.
     *
     * @param hSession a session with the token
     * @param userType {@link PKCS11Constants#CKU_USER}, {@link PKCS11Constants#CKU_SO} or
     *     {@link PKCS11Constants#CKU_CONTEXT_SPECIFIC}
     * @param pPin the PIN, or null where the token has a protected authentication path
     * @throws PKCS11Exception with the module's error, such as {@code CKR_PIN_INCORRECT}
     */
    public native void C_Login(long hSession, long userType, char[] pPin) throws PKCS11Exception;

    /**
     * Logs the user out of the token.
     *
     * @param hSession a session with the token
     * @throws PKCS11Exception with the module's error, such as {@code CKR_USER_NOT_LOGGED_IN}
     */
    public native void C_Logout(long hSession) throws PKCS11Exception;

    // ---- Object management functions.

    /**
     * Creates an object.
     *
     * @param hSession the session
     * @param pTemplate the object's attributes
     * @return the handle of the new object
     * @throws PKCS11Exception with the module's error, such as {@code CKR_TEMPLATE_INCOMPLETE}
     */
    public native long C_CreateObject(long hSession, CK_ATTRIBUTE[] pTemplate)
            throws PKCS11Exception;

    /**
     * Copies an object.
     *
     * @param hSession the session
     * @param hObject the object to copy
     * @param pTemplate attributes in which the copy differs, or null
     * @return the handle of the copy
     * @throws PKCS11Exception with the module's error, such as {@code CKR_ACTION_PROHIBITED}
     */
    public native long C_CopyObject(long hSession, long hObject, CK_ATTRIBUTE[] pTemplate)
            throws PKCS11Exception;

    /**
     * Destroys an object.
     *
     * @param hSession the session
     * @param hObject the object
     * @throws PKCS11Exception with the module's error, such as {@code CKR_OBJECT_HANDLE_INVALID}
     */
    public native void C_DestroyObject(long hSession, long hObject) throws PKCS11Exception;

    /**
     * Returns the size of an object on the token.
     *
     * @param hSession the session
     * @param hObject the object
     * @return the size in bytes
     * @throws PKCS11Exception with the module's error, such as {@code CKR_INFORMATION_SENSITIVE}
     */
    public native long C_GetObjectSize(long hSession, long hObject) throws PKCS11Exception;

    /**
     * Reads attribute values of an object.
     *
     * <p>The template names the attributes to read; their values are ignored. The module is
     * asked for the lengths of the values first, then for the values. After the second call,
     * every element of the array is replaced by a new {@link CK_ATTRIBUTE} of the same type
     * whose value has the Java class of its type, or null when the module reports none (an
     * empty value, or the length {@code CK_UNAVAILABLE_INFORMATION}). This happens also when
     * the module reports an error in the second call, before the exception is thrown; a value
     * that grew between the two calls is such an error ({@code CKR_BUFFER_TOO_SMALL}), and it
     * reads null.
     *
     * <p>All or nothing, as the standard has it: when one attribute of the template is
     * sensitive ({@code CKR_ATTRIBUTE_SENSITIVE}) or unknown to the object
     * ({@code CKR_ATTRIBUTE_TYPE_INVALID}), the module reports that error in the first call,
     * the method throws it, and no element of the array is touched: not even the values the
     * object would have given. To read what can be read, ask for the attributes one at a time,
     * or use the session layer's lenient read, which does so.
     * A value that the module does not write in the second call (one that failed, say because
     * another thread destroyed the object in between) holds zero bytes of the first call's
     * length.
     *
     * <p>Lengths the module reports are not trusted beyond the memory they were given:
     * <ul>
     * <li>an attribute whose first length is one no Java array can hold, such as
     *     {@code CK_UNAVAILABLE_INFORMATION} together with {@code CKR_OK}, gets no buffer in
     *     the second call and reads null;</li>
     * <li>an attribute whose length in the second call is larger than the one of the first,
     *     while the module answers {@code CKR_OK}, is not read and reads null; after the whole
     *     array has been filled, a {@link PKCS11RuntimeException} names the function, the
     *     attribute type and both byte counts (for the first such attribute).</li>
     * </ul>
     *
     * @param hSession the session
     * @param hObject the object
     * @param pTemplate the attributes to read; receives the values
     * @throws PKCS11Exception with the module's error, such as
     *     {@code CKR_ATTRIBUTE_SENSITIVE} or {@code CKR_ATTRIBUTE_TYPE_INVALID}
     * @throws PKCS11RuntimeException if this object is not connected to a module, an element of
     *     the template holds a value that cannot be converted (the module is then not called),
     *     or the module reports a length over the buffer it was given, as described above
     * @throws NullPointerException if an element of the template is null; the module is not
     *     called
     * @throws ArrayStoreException if the array's component type is a subclass of
     *     {@code CK_ATTRIBUTE}, which cannot hold the new objects
     */
    public native void C_GetAttributeValue(long hSession, long hObject, CK_ATTRIBUTE[] pTemplate)
            throws PKCS11Exception;

    /**
     * Reads attribute values of an object, reporting for each attribute whether it could be read
     * instead of failing the whole read for one of them.
     *
     * <p>As {@link #C_GetAttributeValue(long, long, CK_ATTRIBUTE[])}, the module is asked for
     * the lengths, then for the values (and, for nested templates, for the nested values), and
     * every element of the array is replaced by a new {@link CK_ATTRIBUTE} holding what was
     * read. A module that answers {@code CKR_ATTRIBUTE_SENSITIVE},
     * {@code CKR_ATTRIBUTE_TYPE_INVALID} or {@code CKR_BUFFER_TOO_SMALL} still fills every other
     * attribute and marks the failed ones with the length {@code CK_UNAVAILABLE_INFORMATION};
     * here those answers are no errors. The module names one reason for the whole call: when
     * more than one attribute failed, each failed one is asked for alone (its length only), so
     * that every attribute gets its own reason.
     *
     * <p>The same rules as for {@code C_GetAttributeValue} keep a module's lengths within the
     * memory it was given; an attribute whose length went over its buffer, or whose nested
     * array was inconsistent, is not read and is reported as not read (no exception).
     *
     * @param hSession the session
     * @param hObject the object
     * @param pTemplate the attributes to read; receives the values (null for one not read)
     * @return one outcome per attribute, in order: 0 for a value read (null when empty),
     *     {@code CKR_ATTRIBUTE_SENSITIVE} or {@code CKR_ATTRIBUTE_TYPE_INVALID} for the
     *     module's reason, {@code CKR_BUFFER_TOO_SMALL} for a value that did not fit the room
     *     its length had asked for, or {@code CK_UNAVAILABLE_INFORMATION} (zero-extended) for
     *     a value not read for another reason
     * @throws PKCS11Exception with any other error of the module, such as
     *     {@code CKR_OBJECT_HANDLE_INVALID}; the template is then left as
     *     {@code C_GetAttributeValue} leaves it
     * @throws PKCS11RuntimeException if this object is not connected to a module, or an element
     *     of the template holds a value that cannot be converted (the module is then not called)
     * @throws NullPointerException if an element of the template is null; the module is not
     *     called
     */
    public native long[] readAttributeValues(long hSession, long hObject, CK_ATTRIBUTE[] pTemplate)
            throws PKCS11Exception;

    /**
     * Changes attribute values of an object.
     *
     * @param hSession the session
     * @param hObject the object
     * @param pTemplate the attributes and their new values
     * @throws PKCS11Exception with the module's error, such as {@code CKR_ATTRIBUTE_READ_ONLY}
     */
    public native void C_SetAttributeValue(long hSession, long hObject, CK_ATTRIBUTE[] pTemplate)
            throws PKCS11Exception;

    /**
     * Starts a search for objects.
     *
     * @param hSession the session
     * @param pTemplate the attributes that the objects found must have; null or empty to find
     *     every object
     * @throws PKCS11Exception with the module's error, such as {@code CKR_OPERATION_ACTIVE}
     */
    public native void C_FindObjectsInit(long hSession, CK_ATTRIBUTE[] pTemplate)
            throws PKCS11Exception;

    /**
     * Continues a search for objects.
     *
     * <p>The module is asked for at most 2<sup>20</sup> (1,048,576) handles in one call: a
     * larger maximum, such as {@code Long.MAX_VALUE} or -1 for "all of them", asks for
     * 2<sup>20</sup>, and the handles beyond come with the next calls, as the search goes on.
     * The maximum is read as the {@code CK_ULONG} its low bits give, so a negative one is large.
     *
     * @param hSession the session
     * @param ulMaxObjectCount the most handles to return
     * @return the handles found, as many as the module reports; none when the search is over
     * @throws PKCS11Exception with the module's error, such as
     *     {@code CKR_OPERATION_NOT_INITIALIZED}
     */
    public native long[] C_FindObjects(long hSession, long ulMaxObjectCount) throws PKCS11Exception;

    /**
     * Ends a search for objects.
     *
     * @param hSession the session
     * @throws PKCS11Exception with the module's error
     */
    public native void C_FindObjectsFinal(long hSession) throws PKCS11Exception;

    // ---- Encryption functions.

    /**
     * Starts an encryption.
     *
     * @param hSession the session
     * @param pMechanism the encryption mechanism and its parameter
     * @param hKey the encryption key
     * @throws PKCS11Exception with the module's error, such as {@code CKR_MECHANISM_INVALID}
     */
    public native void C_EncryptInit(long hSession, CK_MECHANISM pMechanism, long hKey)
            throws PKCS11Exception;

    /**
     * Encrypts data in one part, ending the encryption.
     *
     * @param hSession the session
     * @param pData the data
     * @return the encrypted data
     * @throws PKCS11Exception with the module's error, such as {@code CKR_DATA_LEN_RANGE}
     */
    public native byte[] C_Encrypt(long hSession, byte[] pData) throws PKCS11Exception;

    /**
     * Continues a multi-part encryption.
     *
     * @param hSession the session
     * @param pPart the next part of the data
     * @return the encrypted data that this part completes, possibly none
     * @throws PKCS11Exception with the module's error
     */
    public native byte[] C_EncryptUpdate(long hSession, byte[] pPart) throws PKCS11Exception;

    /**
     * Ends a multi-part encryption.
     *
     * @param hSession the session
     * @return the last encrypted data, possibly none
     * @throws PKCS11Exception with the module's error
     */
    public native byte[] C_EncryptFinal(long hSession) throws PKCS11Exception;

    // ---- Decryption functions.

    /**
     * Starts a decryption.
     *
     * @param hSession the session
     * @param pMechanism the decryption mechanism and its parameter
     * @param hKey the decryption key
     * @throws PKCS11Exception with the module's error, such as {@code CKR_KEY_TYPE_INCONSISTENT}
     */
    public native void C_DecryptInit(long hSession, CK_MECHANISM pMechanism, long hKey)
            throws PKCS11Exception;

    /**
     * Decrypts data in one part, ending the decryption.
     *
     * @param hSession the session
     * @param pEncryptedData the encrypted data
     * @return the decrypted data
     * @throws PKCS11Exception with the module's error, such as
     *     {@code CKR_ENCRYPTED_DATA_INVALID}
     */
    public native byte[] C_Decrypt(long hSession, byte[] pEncryptedData) throws PKCS11Exception;

    /**
     * Continues a multi-part decryption.
     *
     * @param hSession the session
     * @param pEncryptedPart the next part of the encrypted data
     * @return the decrypted data that this part completes, possibly none
     * @throws PKCS11Exception with the module's error
     */
    public native byte[] C_DecryptUpdate(long hSession, byte[] pEncryptedPart)
            throws PKCS11Exception;

    /**
     * Ends a multi-part decryption.
     *
     * @param hSession the session
     * @return the last decrypted data, possibly none
     * @throws PKCS11Exception with the module's error
     */
    public native byte[] C_DecryptFinal(long hSession) throws PKCS11Exception;

    // ---- Message digesting functions.

    /**
     * Starts a digest.
     *
     * @param hSession the session
     * @param pMechanism the digest mechanism, such as {@link PKCS11Constants#CKM_SHA256}
     * @throws PKCS11Exception with the module's error, such as {@code CKR_MECHANISM_INVALID}
     */
    public native void C_DigestInit(long hSession, CK_MECHANISM pMechanism) throws PKCS11Exception;

    /**
     * Digests data in one part, ending the digest.
     *
     * @param hSession the session
     * @param pData the data
     * @return the digest
     * @throws PKCS11Exception with the module's error
     */
    public native byte[] C_Digest(long hSession, byte[] pData) throws PKCS11Exception;

    /**
     * Continues a multi-part digest with data.
     *
     * @param hSession the session
     * @param pPart the next part of the data
     * @throws PKCS11Exception with the module's error
     */
    public native void C_DigestUpdate(long hSession, byte[] pPart) throws PKCS11Exception;

    /**
     * Continues a multi-part digest with the value of a secret key.
     *
     * @param hSession the session
     * @param hKey the secret key
     * @throws PKCS11Exception with the module's error, such as {@code CKR_KEY_INDIGESTIBLE}
     */
    public native void C_DigestKey(long hSession, long hKey) throws PKCS11Exception;

    /**
     * Ends a multi-part digest.
     *
     * @param hSession the session
     * @return the digest
     * @throws PKCS11Exception with the module's error
     */
    public native byte[] C_DigestFinal(long hSession) throws PKCS11Exception;

    // ---- Signing and MACing functions.

    /**
     * Starts a signature or MAC.
     *
     * @param hSession the session
     * @param pMechanism the signature or MAC mechanism and its parameter
     * @param hKey the signing key
     * @throws PKCS11Exception with the module's error, such as
     *     {@code CKR_KEY_FUNCTION_NOT_PERMITTED}
     */
    public native void C_SignInit(long hSession, CK_MECHANISM pMechanism, long hKey)
            throws PKCS11Exception;

    /**
     * Signs data in one part, ending the signature.
     *
     * @param hSession the session
     * @param pData the data
     * @return the signature or MAC
     * @throws PKCS11Exception with the module's error, such as {@code CKR_DATA_LEN_RANGE}
     */
    public native byte[] C_Sign(long hSession, byte[] pData) throws PKCS11Exception;

    /**
     * Continues a multi-part signature or MAC.
     *
     * @param hSession the session
     * @param pPart the next part of the data
     * @throws PKCS11Exception with the module's error
     */
    public native void C_SignUpdate(long hSession, byte[] pPart) throws PKCS11Exception;

    /**
     * Ends a multi-part signature or MAC.
     *
     * @param hSession the session
     * @return the signature or MAC
     * @throws PKCS11Exception with the module's error
     */
    public native byte[] C_SignFinal(long hSession) throws PKCS11Exception;

    /**
     * Starts a signature from which the data can be recovered.
     *
     * @param hSession the session
     * @param pMechanism the signature mechanism and its parameter
     * @param hKey the signing key
     * @throws PKCS11Exception with the module's error
     */
    public native void C_SignRecoverInit(long hSession, CK_MECHANISM pMechanism, long hKey)
            throws PKCS11Exception;

    /**
     * Signs data in one part so that the data can be recovered from the signature.
     *
     * @param hSession the session
     * @param pData the data
     * @return the signature
     * @throws PKCS11Exception with the module's error
     */
    public native byte[] C_SignRecover(long hSession, byte[] pData) throws PKCS11Exception;

    // ---- Functions for verifying signatures and MACs.

    /**
     * Starts a verification of a signature or MAC.
     *
     * @param hSession the session
     * @param pMechanism the signature or MAC mechanism and its parameter
     * @param hKey the verification key
     * @throws PKCS11Exception with the module's error
     */
    public native void C_VerifyInit(long hSession, CK_MECHANISM pMechanism, long hKey)
            throws PKCS11Exception;

    /**
     * Verifies a signature or MAC of data in one part, ending the verification. A signature
     * that does not verify is an error: the method returns normally only for a valid one.
     *
     * @param hSession the session
     * @param pData the data
     * @param pSignature the signature or MAC
     * @throws PKCS11Exception with the module's error: {@code CKR_SIGNATURE_INVALID} or
     *     {@code CKR_SIGNATURE_LEN_RANGE} for a signature that does not verify
     */
    public native void C_Verify(long hSession, byte[] pData, byte[] pSignature)
            throws PKCS11Exception;

    /**
     * Continues a multi-part verification.
     *
     * @param hSession the session
     * @param pPart the next part of the data
     * @throws PKCS11Exception with the module's error
     */
    public native void C_VerifyUpdate(long hSession, byte[] pPart) throws PKCS11Exception;

    /**
     * Ends a multi-part verification. A signature that does not verify is an error: the
     * method returns normally only for a valid one.
     *
     * @param hSession the session
     * @param pSignature the signature or MAC
     * @throws PKCS11Exception with the module's error: {@code CKR_SIGNATURE_INVALID} or
     *     {@code CKR_SIGNATURE_LEN_RANGE} for a signature that does not verify
     */
    public native void C_VerifyFinal(long hSession, byte[] pSignature) throws PKCS11Exception;

    /**
     * Starts a verification that recovers the data from the signature.
     *
     * @param hSession the session
     * @param pMechanism the signature mechanism and its parameter
     * @param hKey the verification key
     * @throws PKCS11Exception with the module's error
     */
    public native void C_VerifyRecoverInit(long hSession, CK_MECHANISM pMechanism, long hKey)
            throws PKCS11Exception;

    /**
     * Verifies a signature and recovers the signed data from it.
     *
     * @param hSession the session
     * @param pSignature the signature
     * @return the recovered data
     * @throws PKCS11Exception with the module's error, such as {@code CKR_SIGNATURE_INVALID}
     */
    public native byte[] C_VerifyRecover(long hSession, byte[] pSignature) throws PKCS11Exception;

    // ---- Dual-function cryptographic functions.

    /**
     * Continues a digest and an encryption of the same data at once.
     *
     * @param hSession the session
     * @param pPart the next part of the data
     * @return the encrypted data that this part completes, possibly none
     * @throws PKCS11Exception with the module's error
     */
    public native byte[] C_DigestEncryptUpdate(long hSession, byte[] pPart) throws PKCS11Exception;

    /**
     * Continues a decryption and a digest of the decrypted data at once.
     *
     * @param hSession the session
     * @param pEncryptedPart the next part of the encrypted data
     * @return the decrypted data that this part completes, possibly none
     * @throws PKCS11Exception with the module's error
     */
    public native byte[] C_DecryptDigestUpdate(long hSession, byte[] pEncryptedPart)
            throws PKCS11Exception;

    /**
     * Continues a signature and an encryption of the same data at once.
     *
     * @param hSession the session
     * @param pPart the next part of the data
     * @return the encrypted data that this part completes, possibly none
     * @throws PKCS11Exception with the module's error
     */
    public native byte[] C_SignEncryptUpdate(long hSession, byte[] pPart) throws PKCS11Exception;

    /**
     * Continues a decryption and a verification of the decrypted data at once.
     *
     * @param hSession the session
     * @param pEncryptedPart the next part of the encrypted data
     * @return the decrypted data that this part completes, possibly none
     * @throws PKCS11Exception with the module's error
     */
    public native byte[] C_DecryptVerifyUpdate(long hSession, byte[] pEncryptedPart)
            throws PKCS11Exception;

    // ---- Key management functions.

    /**
     * Generates a secret key or a set of domain parameters.
     *
     * <p>For the password-based mechanisms {@link PKCS11Constants#CKM_PBE_MD2_DES_CBC} to
     * {@link PKCS11Constants#CKM_PBE_SHA1_CAST128_CBC}, the initialization vector that the
     * module generates is written into the {@code pInitVector} array of the
     * {@link CK_PBE_PARAMS} parameter, also when the module reports an error.
     *
     * @param hSession the session
     * @param pMechanism the key generation mechanism and its parameter
     * @param pTemplate the attributes of the new key
     * @return the handle of the new key
     * @throws PKCS11Exception with the module's error, such as {@code CKR_TEMPLATE_INCONSISTENT}
     */
    public native long C_GenerateKey(long hSession, CK_MECHANISM pMechanism,
            CK_ATTRIBUTE[] pTemplate) throws PKCS11Exception;

    /**
     * Generates a public and private key pair.
     *
     * @param hSession the session
     * @param pMechanism the key pair generation mechanism and its parameter
     * @param pPublicKeyTemplate the attributes of the public key
     * @param pPrivateKeyTemplate the attributes of the private key
     * @return two handles: the public key's first, then the private key's
     * @throws PKCS11Exception with the module's error, such as {@code CKR_TEMPLATE_INCOMPLETE}
     */
    public native long[] C_GenerateKeyPair(long hSession, CK_MECHANISM pMechanism,
            CK_ATTRIBUTE[] pPublicKeyTemplate, CK_ATTRIBUTE[] pPrivateKeyTemplate)
            throws PKCS11Exception;

    /**
     * Wraps (encrypts) a key.
     *
     * @param hSession the session
     * @param pMechanism the wrapping mechanism and its parameter
     * @param hWrappingKey the key that encrypts
     * @param hKey the key to wrap
     * @return the wrapped key
     * @throws PKCS11Exception with the module's error, such as {@code CKR_KEY_UNEXTRACTABLE}
     */
    public native byte[] C_WrapKey(long hSession, CK_MECHANISM pMechanism, long hWrappingKey,
            long hKey) throws PKCS11Exception;

    /**
     * Unwraps (decrypts) a wrapped key, creating a new key object.
     *
     * <p>With {@link PKCS11Constants#CKM_KEY_WRAP_SET_OAEP}, the block contents byte and the
     * bytes of X that the module returns are written into the
     * {@link CK_KEY_WRAP_SET_OAEP_PARAMS} parameter, also when the module reports an error.
     *
     * @param hSession the session
     * @param pMechanism the unwrapping mechanism and its parameter
     * @param hUnwrappingKey the key that decrypts
     * @param pWrappedKey the wrapped key
     * @param pTemplate the attributes of the new key
     * @return the handle of the new key
     * @throws PKCS11Exception with the module's error, such as {@code CKR_WRAPPED_KEY_INVALID}
     */
    public native long C_UnwrapKey(long hSession, CK_MECHANISM pMechanism, long hUnwrappingKey,
            byte[] pWrappedKey, CK_ATTRIBUTE[] pTemplate) throws PKCS11Exception;

    /**
     * Derives a key from a base key.
     *
     * <p>With {@link PKCS11Constants#CKM_SSL3_MASTER_KEY_DERIVE}, the protocol version that the
     * module returns is written into the {@code pVersion} object of the
     * {@link CK_SSL3_MASTER_KEY_DERIVE_PARAMS} parameter; with
     * {@link PKCS11Constants#CKM_SSL3_KEY_AND_MAC_DERIVE}, the handles and initialization
     * vectors are written into the {@code pReturnedKeyMaterial} object of the
     * {@link CK_SSL3_KEY_MAT_PARAMS} parameter. Both happen also when the module reports an
     * error.
     *
     * @param hSession the session
     * @param pMechanism the derivation mechanism and its parameter
     * @param hBaseKey the base key
     * @param pTemplate the attributes of the new key
     * @return the handle of the new key; not meaningful for
     *     {@link PKCS11Constants#CKM_SSL3_KEY_AND_MAC_DERIVE}, whose keys are returned in the
     *     parameter
     * @throws PKCS11Exception with the module's error, such as {@code CKR_KEY_TYPE_INCONSISTENT}
     */
    public native long C_DeriveKey(long hSession, CK_MECHANISM pMechanism, long hBaseKey,
            CK_ATTRIBUTE[] pTemplate) throws PKCS11Exception;

    // ---- Random number generation functions.

    /**
     * Mixes additional seed material into the token's random number generator.
     *
     * @param hSession the session
     * @param pSeed the seed material
     * @throws PKCS11Exception with the module's error, such as
     *     {@code CKR_RANDOM_SEED_NOT_SUPPORTED}
     */
    public native void C_SeedRandom(long hSession, byte[] pSeed) throws PKCS11Exception;

    /**
     * Fills an array with random bytes. Whatever the module wrote stays in the array also when
     * it reports an error. The array's earlier contents are not passed to the module: in an
     * array of up to 512 elements, an element that a failing module did not write reads 0
     * afterwards (a longer array keeps its earlier value there).
     *
     * @param hSession the session
     * @param RandomData the array to fill, as many bytes as it has elements; must not be null
     * @throws PKCS11Exception with the module's error, such as {@code CKR_RANDOM_NO_RNG}
     * @throws NullPointerException if RandomData is null; the module is then not called
     */
    public native void C_GenerateRandom(long hSession, byte[] RandomData) throws PKCS11Exception;

    // ---- Parallel function management functions.

    /**
     * Obtains the status of a function running in parallel. This is a legacy function: a
     * module that follows the standard answers {@code CKR_FUNCTION_NOT_PARALLEL}.
     *
     * @param hSession the session
     * @throws PKCS11Exception with the module's answer, normally
     *     {@code CKR_FUNCTION_NOT_PARALLEL}
     */
    public native void C_GetFunctionStatus(long hSession) throws PKCS11Exception;

    /**
     * Cancels a function running in parallel. This is a legacy function: a module that follows
     * the standard answers {@code CKR_FUNCTION_NOT_PARALLEL}.
     *
     * @param hSession the session
     * @throws PKCS11Exception with the module's answer, normally
     *     {@code CKR_FUNCTION_NOT_PARALLEL}
     */
    public native void C_CancelFunction(long hSession) throws PKCS11Exception;

    // ---- PKCS #11 3.0: interfaces, user login, cancellation (see the class comment).

    /**
     * Tells which function list of its module this object uses: the version of the "PKCS 11"
     * interface that {@link #connect(String)} obtained with {@code C_GetInterface}, or 2.40 when
     * the module offered only the list of {@code C_GetFunctionList} (whatever version that list
     * announces, the object then uses it as a 2.x list).
     *
     * @return a new CK_VERSION; 3.0 or later when the 3.0 methods reach the module
     */
    public native CK_VERSION getInterfaceVersion();

    /**
     * Lists the interfaces the module offers (the module's exported {@code C_GetInterfaceList};
     * a 2.x module has none).
     *
     * @return one new CK_INTERFACE per interface, in the module's order: its name (one char per
     *     byte, without the terminating zero), its version and its flags
     * @throws PKCS11Exception with {@code CKR_FUNCTION_NOT_SUPPORTED} if the module does not
     *     export {@code C_GetInterfaceList}, or with the module's error
     * @throws PKCS11RuntimeException if this object is not connected to a module, or the module
     *     reports more interfaces than it was given room for
     */
    public native CK_INTERFACE[] C_GetInterfaceList() throws PKCS11Exception;

    /**
     * Logs a named user in to the token (PKCS #11 3.0).
     *
     * @param hSession a session with the token
     * @param userType {@link PKCS11Constants#CKU_USER}, {@link PKCS11Constants#CKU_SO} or
     *     {@link PKCS11Constants#CKU_CONTEXT_SPECIFIC}
     * @param pPin the PIN, or null where the token has a protected authentication path
     * @param pUsername the user's name, or null; the PIN and the name are encoded as UTF-8 (the
     *     standard's {@code CK_UTF8CHAR}), a surrogate pair as one 4-byte character
     * @throws PKCS11Exception with the module's error
     * @throws IllegalArgumentException if the PIN or the name holds an unpaired surrogate; the
     *     module is not called
     */
    public native void C_LoginUser(long hSession, long userType, char[] pPin, char[] pUsername)
            throws PKCS11Exception;

    /**
     * Cancels operations of a session (PKCS #11 3.0).
     *
     * @param hSession the session
     * @param flags which operations: {@link PKCS11Constants#CKF_ENCRYPT},
     *     {@link PKCS11Constants#CKF_MESSAGE_ENCRYPT} and the other operation flags, or-ed
     * @throws PKCS11Exception with the module's error
     */
    public native void C_SessionCancel(long hSession, long flags) throws PKCS11Exception;

    // ---- PKCS #11 3.0: message-based encryption and decryption.

    /**
     * Prepares a session for message-based encryption with one key.
     *
     * @param hSession the session
     * @param pMechanism the mechanism, such as {@link PKCS11Constants#CKM_AES_GCM} (its
     *     parameter is usually null: each message brings its own)
     * @param hKey the key
     * @throws PKCS11Exception with the module's error
     */
    public native void C_MessageEncryptInit(long hSession, CK_MECHANISM pMechanism, long hKey)
            throws PKCS11Exception;

    /**
     * Encrypts one message.
     *
     * @param hSession the session
     * @param pParameter the per-message parameter; receives the generated IV and the tag
     * @param pAssociatedData the associated data, or null
     * @param pPlaintext the plaintext
     * @return the ciphertext
     * @throws PKCS11Exception with the module's error
     * @throws IllegalArgumentException before the module is called, if the parameter's arrays
     *     could not take what the module returns (a null tag array or one shorter than the tag,
     *     in {@code pTag} or {@code pMAC}; a null or empty {@code pIv} or {@code pNonce} that
     *     the module is to generate, or one shorter than its fixed bits), or it states a tag of
     *     more than 128 bits; the same holds for the {@code ByteBuffer} form, for
     *     {@link #C_EncryptMessageNext(long, Object, byte[], long)} with
     *     {@code CKF_END_OF_MESSAGE} (the tag) and for
     *     {@link #C_EncryptMessageBegin(long, Object, byte[])} (the generated IV)
     */
    public native byte[] C_EncryptMessage(long hSession, Object pParameter, byte[] pAssociatedData,
            byte[] pPlaintext) throws PKCS11Exception;

    /**
     * Starts a message encrypted in parts.
     *
     * @param hSession the session
     * @param pParameter the per-message parameter; receives a generated IV
     * @param pAssociatedData the associated data, or null
     * @throws PKCS11Exception with the module's error
     */
    public native void C_EncryptMessageBegin(long hSession, Object pParameter, byte[] pAssociatedData)
            throws PKCS11Exception;

    /**
     * Encrypts the next part of a message.
     *
     * @param hSession the session
     * @param pParameter the per-message parameter given to Begin; receives the tag with the
     *     last part
     * @param pPlaintextPart the part
     * @param flags {@link PKCS11Constants#CKF_END_OF_MESSAGE} with the last part, otherwise 0
     * @return the encrypted part
     * @throws PKCS11Exception with the module's error
     */
    public native byte[] C_EncryptMessageNext(long hSession, Object pParameter, byte[] pPlaintextPart,
            long flags) throws PKCS11Exception;

    /**
     * Ends message-based encryption in the session.
     *
     * @param hSession the session
     * @throws PKCS11Exception with the module's error
     */
    public native void C_MessageEncryptFinal(long hSession) throws PKCS11Exception;

    /**
     * Prepares a session for message-based decryption with one key.
     *
     * @param hSession the session
     * @param pMechanism the mechanism
     * @param hKey the key
     * @throws PKCS11Exception with the module's error
     */
    public native void C_MessageDecryptInit(long hSession, CK_MECHANISM pMechanism, long hKey)
            throws PKCS11Exception;

    /**
     * Decrypts one message.
     *
     * @param hSession the session
     * @param pParameter the per-message parameter with the IV and the tag to check
     * @param pAssociatedData the associated data, or null
     * @param pCiphertext the ciphertext
     * @return the plaintext
     * @throws PKCS11Exception with the module's error such as {@code CKR_ENCRYPTED_DATA_INVALID}
     *     for a tag that does not match
     */
    public native byte[] C_DecryptMessage(long hSession, Object pParameter, byte[] pAssociatedData,
            byte[] pCiphertext) throws PKCS11Exception;

    /**
     * Starts a message decrypted in parts.
     *
     * @param hSession the session
     * @param pParameter the per-message parameter
     * @param pAssociatedData the associated data, or null
     * @throws PKCS11Exception with the module's error
     */
    public native void C_DecryptMessageBegin(long hSession, Object pParameter, byte[] pAssociatedData)
            throws PKCS11Exception;

    /**
     * Decrypts the next part of a message.
     *
     * @param hSession the session
     * @param pParameter the per-message parameter given to Begin
     * @param pCiphertextPart the part
     * @param flags {@link PKCS11Constants#CKF_END_OF_MESSAGE} with the last part, otherwise 0
     * @return the decrypted part
     * @throws PKCS11Exception with the module's error
     */
    public native byte[] C_DecryptMessageNext(long hSession, Object pParameter, byte[] pCiphertextPart,
            long flags) throws PKCS11Exception;

    /**
     * Ends message-based decryption in the session.
     *
     * @param hSession the session
     * @throws PKCS11Exception with the module's error
     */
    public native void C_MessageDecryptFinal(long hSession) throws PKCS11Exception;

    // ---- PKCS #11 3.0: message-based signing and verification.

    /**
     * Prepares a session for message-based signing or MACing with one key.
     *
     * @param hSession the session
     * @param pMechanism the mechanism
     * @param hKey the key
     * @throws PKCS11Exception with the module's error
     */
    public native void C_MessageSignInit(long hSession, CK_MECHANISM pMechanism, long hKey)
            throws PKCS11Exception;

    /**
     * Signs one message.
     *
     * @param hSession the session
     * @param pParameter the per-message parameter, or null
     * @param pData the message
     * @return the signature or MAC
     * @throws PKCS11Exception with the module's error
     */
    public native byte[] C_SignMessage(long hSession, Object pParameter, byte[] pData)
            throws PKCS11Exception;

    /**
     * Starts a message signed in parts.
     *
     * @param hSession the session
     * @param pParameter the per-message parameter, or null
     * @throws PKCS11Exception with the module's error
     */
    public native void C_SignMessageBegin(long hSession, Object pParameter) throws PKCS11Exception;

    /**
     * Signs the next part of a message.
     *
     * @param hSession the session
     * @param pParameter the per-message parameter given to Begin
     * @param pData the part
     * @param last true with the last part: the module then returns the signature (asked for
     *     with the size protocol); otherwise no signature is asked for
     * @return the signature when {@code last}, otherwise null
     * @throws PKCS11Exception with the module's error
     */
    public native byte[] C_SignMessageNext(long hSession, Object pParameter, byte[] pData, boolean last)
            throws PKCS11Exception;

    /**
     * Ends message-based signing in the session.
     *
     * @param hSession the session
     * @throws PKCS11Exception with the module's error
     */
    public native void C_MessageSignFinal(long hSession) throws PKCS11Exception;

    /**
     * Prepares a session for message-based verification with one key.
     *
     * @param hSession the session
     * @param pMechanism the mechanism
     * @param hKey the key
     * @throws PKCS11Exception with the module's error
     */
    public native void C_MessageVerifyInit(long hSession, CK_MECHANISM pMechanism, long hKey)
            throws PKCS11Exception;

    /**
     * Verifies the signature of one message. A signature that does not verify is the module's
     * error.
     *
     * @param hSession the session
     * @param pParameter the per-message parameter, or null
     * @param pData the message
     * @param pSignature the signature or MAC
     * @throws PKCS11Exception with the module's error, such as {@code CKR_SIGNATURE_INVALID}
     */
    public native void C_VerifyMessage(long hSession, Object pParameter, byte[] pData, byte[] pSignature)
            throws PKCS11Exception;

    /**
     * Starts a message verified in parts.
     *
     * @param hSession the session
     * @param pParameter the per-message parameter, or null
     * @throws PKCS11Exception with the module's error
     */
    public native void C_VerifyMessageBegin(long hSession, Object pParameter) throws PKCS11Exception;

    /**
     * Verifies the next part of a message.
     *
     * @param hSession the session
     * @param pParameter the per-message parameter given to Begin
     * @param pData the part
     * @param pSignature null for every part but the last; the signature with the last part
     *     (which then ends the message)
     * @throws PKCS11Exception with the module's error, such as {@code CKR_SIGNATURE_INVALID}
     */
    public native void C_VerifyMessageNext(long hSession, Object pParameter, byte[] pData,
            byte[] pSignature) throws PKCS11Exception;

    /**
     * Ends message-based verification in the session.
     *
     * @param hSession the session
     * @throws PKCS11Exception with the module's error
     */
    public native void C_MessageVerifyFinal(long hSession) throws PKCS11Exception;

    // ---- The native side of the ByteBuffer overloads (inherited from ByteBufferCalls).

    @Override
    native int bufferCall(int function, long hSession, ByteBuffer inBuffer, int inCapacity, byte[] inArray,
            int inOffset, int inLength, ByteBuffer outBuffer, int outCapacity, byte[] outArray, int outOffset,
            int outLength) throws PKCS11Exception;

    @Override
    native int messageBufferCall(int function, long hSession, Object parameter, byte[] associatedData,
            ByteBuffer inBuffer, int inCapacity, byte[] inArray, int inOffset, int inLength, ByteBuffer outBuffer,
            int outCapacity, byte[] outArray, int outOffset, int outLength, long flags) throws PKCS11Exception;

    /** Returns {@code PKCS11Impl@} followed by this object's identity hash code in hexadecimal. */
    @Override
    public String toString() {
        return "PKCS11Impl@" + Integer.toHexString(System.identityHashCode(this));
    }
}
