package zandrop.tesk.pkcs11.vorlen.token;

import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKF_DONT_BLOCK;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKF_OS_LOCKING_OK;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKR_CRYPTOKI_ALREADY_INITIALIZED;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKR_CRYPTOKI_NOT_INITIALIZED;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKR_DEVICE_ERROR;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKR_DEVICE_REMOVED;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKR_FUNCTION_NOT_SUPPORTED;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKR_NO_EVENT;
import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.CKR_SLOT_ID_INVALID;

import java.io.IOException;
import java.io.UncheckedIOException;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.NoSuchElementException;
import java.util.Optional;
import java.util.concurrent.ConcurrentHashMap;
import java.util.function.Predicate;

import zandrop.tesk.pkcs11.vorlen.api.CK_C_INITIALIZE_ARGS;
import zandrop.tesk.pkcs11.vorlen.api.CK_INFO;
import zandrop.tesk.pkcs11.vorlen.api.PKCS11Exception;
import zandrop.tesk.pkcs11.vorlen.api.PKCS11Impl;

/**
 * A PKCS#11 module, loaded and initialised, with its slots and tokens.
 *
 * <p>Every part of a program that opens the same module file (the same canonical path) shares
 * one loaded and initialised instance: the first {@link #open} initialises it (with the
 * operating system's locking), and the last {@link #close} finalises and unloads it. A module
 * that something else in the process initialised already ({@code CKR_CRYPTOKI_ALREADY_INITIALIZED})
 * is used as it is and left initialised. Each {@code Pkcs11Module} object is closed once; closing it
 * again does nothing. The objects are thread-safe.
 * <pre>{@code
 * try (Pkcs11Module module = Pkcs11Module.open(Path.of("/usr/lib/softhsm/libsofthsm2.so"))) {
 *     Token token = module.token("my token");
 *     ...
 * }
 * }</pre>
 */
public final class Pkcs11Module implements AutoCloseable {

    /** One loaded module file and the number of open Pkcs11Module objects on it. */
    static final class Shared {
        final String path;
        final PKCS11Impl impl;
        final boolean initializedHere;
        final String initParameters;
        final Map<Long, Token> tokens = new ConcurrentHashMap<>();
        int users;
        volatile boolean live = true;
        /** Counts the times this layer initialised the module again: handles of before are void. */
        volatile int generation;

        /** The connected object, while some Pkcs11Module object on it is open. */
        PKCS11Impl pkcs11() {
            if (!live) {
                throw new IllegalStateException("the module " + path + " is closed");
            }
            return impl;
        }

        Shared(String path, PKCS11Impl impl, boolean initializedHere, String initParameters) {
            this.path = path;
            this.impl = impl;
            this.initializedHere = initializedHere;
            this.initParameters = initParameters;
        }

        /** Whether an error may mean that the module lost its device or connection as a whole. */
        static boolean isModuleLost(long code) {
            return code == CKR_DEVICE_ERROR || code == CKR_DEVICE_REMOVED || code == CKR_CRYPTOKI_NOT_INITIALIZED
                    || code == CKR_SLOT_ID_INVALID;
        }

        /**
         * Finalises and initialises the module again when it no longer answers even
         * {@code C_GetSlotList}, or its list lost the slot (a client module whose server was
         * restarted keeps answering {@code CKR_DEVICE_ERROR} until then; initialised while the
         * server was away, it shows no slot). Every session and login of the module ends
         * with it: the tokens forget their pooled and login sessions without closing them,
         * since their handles may name new sessions afterwards. Only a module that this layer
         * initialised is initialised again.
         *
         * @param seen the generation in which the caller's failure happened
         * @param slotId the slot of the caller's token
         * @param code the caller's error
         * @return whether the caller's work is worth running again: the module was initialised
         *     anew, now or since that failure, or the call was refused while it was
         * @throws TokenException if {@code C_Initialize} fails (the next call tries again)
         */
        synchronized boolean restart(int seen, long slotId, long code) {
            if (generation != seen) {
                return true;
            }
            if (!live || !initializedHere) {
                return false;
            }
            try {
                for (long slot : impl.C_GetSlotList(false)) {
                    if (slot == slotId) {
                        // The module answers: the failure was not the module's loss, unless the
                        // call came while another thread was initialising the module again.
                        return code == CKR_CRYPTOKI_NOT_INITIALIZED;
                    }
                }
            } catch (PKCS11Exception e) {
                if (!isModuleLost(e.getErrorCode())) {
                    return false;
                }
            }
            generation++;
            for (Token token : tokens.values()) {
                token.moduleRestarted();
            }
            try {
                impl.C_Finalize(null);
            } catch (PKCS11Exception e) {
                // Not initialised any more (a failed restart before): initialised below.
            }
            try {
                impl.C_Initialize(initializeArgs(initParameters));
            } catch (PKCS11Exception e) {
                if (e.getErrorCode() != CKR_CRYPTOKI_ALREADY_INITIALIZED) {
                    throw new TokenException("C_Initialize", "CKF_OS_LOCKING_OK, again after " + path
                            + " lost its device", e);
                }
            }
            return true;
        }
    }

    static CK_C_INITIALIZE_ARGS initializeArgs(String initParameters) {
        CK_C_INITIALIZE_ARGS args = new CK_C_INITIALIZE_ARGS(CKF_OS_LOCKING_OK);
        args.pReserved = initParameters;
        return args;
    }

    private static final Map<String, Shared> OPEN = new HashMap<>();

    private final Shared shared;
    private volatile boolean closed;

    private Pkcs11Module(Shared shared) {
        this.shared = shared;
    }

    /**
     * Opens a module file, or joins the instance of it that is open already.
     *
     * @param path the module file
     * @return the module
     * @throws UncheckedIOException if the file cannot be loaded
     * @throws TokenException if the module fails to initialise
     */
    public static Pkcs11Module open(Path path) {
        return open(path, null);
    }

    /**
     * Opens a module file that wants a parameter string at initialisation (in
     * {@code pReserved}, as NSS's softoken does), or joins the instance of it that is open
     * already (which keeps the parameters it was opened with).
     *
     * @param path the module file
     * @param initParameters the string for {@code pReserved}, or null for none
     * @return the module
     * @throws UncheckedIOException if the file cannot be loaded
     * @throws TokenException if the module fails to initialise
     */
    public static Pkcs11Module open(Path path, String initParameters) {
        String key;
        try {
            key = path.toRealPath().toString();
        } catch (IOException e) {
            throw new UncheckedIOException("the module " + path + " cannot be loaded: " + e.getMessage(), e);
        }
        synchronized (OPEN) {
            Shared shared = OPEN.get(key);
            if (shared == null) {
                shared = load(key, initParameters);
                OPEN.put(key, shared);
            }
            shared.users++;
            return new Pkcs11Module(shared);
        }
    }

    /**
     * Opens a module file, or joins the instance of it that is open already.
     *
     * @param path the module file's path
     * @return the module
     * @throws UncheckedIOException if the file cannot be loaded
     * @throws TokenException if the module fails to initialise
     */
    public static Pkcs11Module open(String path) {
        return open(Path.of(path));
    }

    /**
     * Opens the module that a PKCS#11 URI names by its {@code module-path}.
     *
     * @param uri the URI
     * @return the module
     * @throws IllegalArgumentException if the URI has no {@code module-path}
     * @throws UncheckedIOException if the file cannot be loaded
     * @throws TokenException if the module fails to initialise
     */
    public static Pkcs11Module open(Pkcs11Uri uri) {
        if (uri.modulePath() == null) {
            throw new IllegalArgumentException("the URI names no module-path: " + uri);
        }
        return open(Path.of(uri.modulePath()));
    }

    private static Shared load(String path, String initParameters) {
        PKCS11Impl impl = new PKCS11Impl();
        try {
            impl.connect(path);
        } catch (IOException e) {
            throw new UncheckedIOException("the module " + path + " cannot be loaded: " + e.getMessage(), e);
        } catch (PKCS11Exception e) {
            impl.disconnect();
            throw new TokenException("C_GetFunctionList", path, e);
        }
        boolean initializedHere = true;
        try {
            impl.C_Initialize(initializeArgs(initParameters));
        } catch (PKCS11Exception e) {
            if (e.getErrorCode() != CKR_CRYPTOKI_ALREADY_INITIALIZED) {
                impl.disconnect();
                throw new TokenException("C_Initialize", "CKF_OS_LOCKING_OK", e);
            }
            initializedHere = false;
        }
        return new Shared(path, impl, initializedHere, initParameters);
    }

    /**
     * Closes this user of the module; the last one finalises the module (when it was
     * initialised here) and unloads it. Tokens, sessions and pools of the module must not be
     * used afterwards.
     */
    @Override
    public void close() {
        synchronized (OPEN) {
            if (closed) {
                return;
            }
            closed = true;
            if (--shared.users > 0) {
                return;
            }
            OPEN.remove(shared.path);
            for (Token token : shared.tokens.values()) {
                token.shutDown();
            }
            synchronized (shared) {  // not while it is being initialised again
                shared.live = false;
                try {
                    if (shared.initializedHere) {
                        shared.impl.C_Finalize(null);
                    }
                } catch (PKCS11Exception e) {
                    // Finalising cannot be retried; the module is unloaded all the same.
                } finally {
                    shared.impl.disconnect();
                }
            }
        }
    }

    /**
     * Returns the raw API of this module, for what this layer does not offer.
     *
     * @return the connected object, shared by every user of the module
     */
    public PKCS11Impl pkcs11() {
        checkOpen();
        return shared.impl;
    }

    /**
     * Returns the module's canonical path.
     *
     * @return the path
     */
    public String path() {
        return shared.path;
    }

    /**
     * Returns the module's general information.
     *
     * @return the information record
     */
    public CK_INFO info() {
        try {
            return pkcs11().C_GetInfo();
        } catch (PKCS11Exception e) {
            throw new TokenException("C_GetInfo", null, e);
        }
    }

    /**
     * Returns the slots.
     *
     * @param tokenPresent whether only slots with a token are wanted
     * @return the slots, in the module's order
     */
    public List<Slot> slots(boolean tokenPresent) {
        long[] ids;
        try {
            ids = pkcs11().C_GetSlotList(tokenPresent);
        } catch (PKCS11Exception e) {
            throw new TokenException("C_GetSlotList", null, e);
        }
        List<Slot> slots = new ArrayList<>(ids.length);
        for (long id : ids) {
            slots.add(new Slot(this, id));
        }
        return slots;
    }

    /**
     * Returns the tokens present.
     *
     * @return one per slot with a token, in the module's order
     */
    public List<Token> tokens() {
        List<Token> tokens = new ArrayList<>();
        for (Slot slot : slots(true)) {
            tokens.add(token(slot.id()));
        }
        return tokens;
    }

    /**
     * Returns the only token present whose information matches.
     *
     * @param filter the test of a token's information
     * @return the token
     * @throws NoSuchElementException if no token or more than one matches
     */
    public Token token(Predicate<TokenInfo> filter) {
        List<Token> found = new ArrayList<>();
        for (Token t : tokens()) {
            if (filter.test(t.info())) {
                found.add(t);
            }
        }
        if (found.size() != 1) {
            throw new NoSuchElementException((found.isEmpty() ? "no token" : found.size() + " tokens")
                    + " of " + shared.path + " match; present: " + tokens());
        }
        return found.get(0);
    }

    /**
     * Returns the only token present with a label.
     *
     * @param label the label, without the blanks that pad it
     * @return the token
     * @throws NoSuchElementException if no token or more than one has it
     */
    public Token token(String label) {
        return token(info -> info.label().equals(label));
    }

    /**
     * Returns the only token present that a PKCS#11 URI selects: by its token attributes
     * ({@code token}, {@code serial}, {@code model}, {@code manufacturer}), slot attributes and
     * library attributes (which this module must match).
     *
     * @param uri the URI
     * @return the token
     * @throws NoSuchElementException if no token or more than one matches
     */
    public Token token(Pkcs11Uri uri) {
        try {
            if (!uri.matchesModule(pkcs11().C_GetInfo())) {
                throw new NoSuchElementException("the module " + shared.path + " does not match " + uri);
            }
            List<Token> found = new ArrayList<>();
            for (Slot slot : slots(true)) {
                if (uri.matchesSlot(slot.id(), pkcs11().C_GetSlotInfo(slot.id()))
                        && uri.matchesToken(pkcs11().C_GetTokenInfo(slot.id()))) {
                    found.add(token(slot.id()));
                }
            }
            if (found.size() != 1) {
                throw new NoSuchElementException((found.isEmpty() ? "no token" : found.size() + " tokens")
                        + " of " + shared.path + " match " + uri);
            }
            return found.get(0);
        } catch (PKCS11Exception e) {
            throw new TokenException("C_GetTokenInfo", uri.toString(), e);
        }
    }

    /**
     * Returns the token of a slot. The same object comes back for the same slot, with its login
     * state and its pool.
     *
     * @param slotId the slot
     * @return the token (which need not be present)
     */
    public Token token(long slotId) {
        checkOpen();
        return shared.tokens.computeIfAbsent(slotId, id -> new Token(shared, id));
    }

    /**
     * Waits for a slot event (a token inserted or removed), where the module offers it.
     *
     * @param block whether to wait; without waiting, the event that happened already, if any
     * @return the slot of the event; empty when there was none, or the module does not offer
     *     slot events
     */
    public Optional<Slot> waitForSlotEvent(boolean block) {
        try {
            return Optional.of(new Slot(this, pkcs11().C_WaitForSlotEvent(block ? 0 : CKF_DONT_BLOCK, null)));
        } catch (PKCS11Exception e) {
            if (e.getErrorCode() == CKR_NO_EVENT || e.getErrorCode() == CKR_FUNCTION_NOT_SUPPORTED) {
                return Optional.empty();
            }
            throw new TokenException("C_WaitForSlotEvent", block ? "" : "CKF_DONT_BLOCK", e);
        }
    }

    private void checkOpen() {
        if (closed) {
            throw new IllegalStateException("the module " + shared.path + " is closed");
        }
    }

    @Override
    public String toString() {
        return "Pkcs11Module[" + shared.path + (closed ? ", closed" : "") + "]";
    }
}
