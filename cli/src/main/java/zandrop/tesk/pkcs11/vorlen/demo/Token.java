package zandrop.tesk.pkcs11.vorlen.demo;

import static zandrop.tesk.pkcs11.vorlen.api.PKCS11Constants.*;

import java.io.IOException;
import java.util.ArrayList;
import java.util.List;

import zandrop.tesk.pkcs11.vorlen.api.CK_ATTRIBUTE;
import zandrop.tesk.pkcs11.vorlen.api.CK_C_INITIALIZE_ARGS;
import zandrop.tesk.pkcs11.vorlen.api.CK_TOKEN_INFO;
import zandrop.tesk.pkcs11.vorlen.api.PKCS11Exception;
import zandrop.tesk.pkcs11.vorlen.api.PKCS11Impl;

/**
 * The raw steps of the 'road' command, which shows each PKCS #11 function of one request on
 * {@code PKCS11Impl} itself (the other commands run on the session layer): a module, connected
 * and initialised. Each PKCS #11 call goes through {@link #call}, so that a failure names its
 * function.
 */
final class Token implements AutoCloseable {

    /** One PKCS #11 call. */
    @FunctionalInterface
    interface Call<T> {
        T run() throws PKCS11Exception;
    }

    /** One PKCS #11 call without a result. */
    @FunctionalInterface
    interface VoidCall {
        void run() throws PKCS11Exception;
    }

    final PKCS11Impl pkcs11;
    final String modulePath;
    private boolean initialized;

    private Token(PKCS11Impl pkcs11, String modulePath) {
        this.pkcs11 = pkcs11;
        this.modulePath = modulePath;
    }

    /** Loads the module and initialises it for use from several threads. */
    static Token open(String modulePath) throws DemoException {
        Token token = connect(modulePath);
        try {
            token.initialize();
        } catch (DemoException e) {
            token.close();
            throw e;
        }
        return token;
    }

    /** Loads the module without initialising it. */
    static Token connect(String modulePath) throws DemoException {
        PKCS11Impl pkcs11 = new PKCS11Impl();
        try {
            pkcs11.connect(modulePath);
        } catch (IOException e) {
            pkcs11.disconnect();
            // The library's message is the system's text, then the path on a line of its own.
            String reason = String.valueOf(e.getMessage()).lines().findFirst().orElse("");
            throw new DemoException("cannot load the module " + modulePath + ": " + reason);
        } catch (PKCS11Exception e) {
            pkcs11.disconnect();
            throw new DemoException("C_GetFunctionList", e);
        }
        return new Token(pkcs11, modulePath);
    }

    /** C_Initialize with CKF_OS_LOCKING_OK. */
    void initialize() throws DemoException {
        run("C_Initialize", () -> pkcs11.C_Initialize(new CK_C_INITIALIZE_ARGS(CKF_OS_LOCKING_OK)));
        initialized = true;
    }

    /** C_Finalize; the object stays connected. */
    void finalizeModule() throws DemoException {
        initialized = false;
        run("C_Finalize", () -> pkcs11.C_Finalize(null));
    }

    /** C_Finalize (when initialised), then disconnect; failures here are not reported. */
    @Override
    public void close() {
        if (initialized) {
            initialized = false;
            try {
                pkcs11.C_Finalize(null);
            } catch (PKCS11Exception e) {
                // The module is unloaded next all the same.
            }
        }
        pkcs11.disconnect();
    }

    /** Calls a PKCS #11 function; a failure becomes a DemoException that names it. */
    static <T> T call(String function, Call<T> call) throws DemoException {
        try {
            return call.run();
        } catch (PKCS11Exception e) {
            throw new DemoException(function, e);
        }
    }

    static void run(String function, VoidCall call) throws DemoException {
        try {
            call.run();
        } catch (PKCS11Exception e) {
            throw new DemoException(function, e);
        }
    }

    CK_TOKEN_INFO tokenInfo(long slot) throws DemoException {
        return call("C_GetTokenInfo", () -> pkcs11.C_GetTokenInfo(slot));
    }

    /**
     * The slot to work with: the one given, or the one whose token has the label given, or the
     * first slot whose token is initialised.
     */
    long chooseSlot(Long slot, String tokenLabel) throws DemoException {
        long[] slots = call("C_GetSlotList", () -> pkcs11.C_GetSlotList(true));
        if (slot != null) {
            for (long s : slots) {
                if (s == slot) {
                    return s;
                }
            }
            throw new DemoException("slot " + Text.handle(slot) + " holds no token (see 'info')");
        }
        for (long s : slots) {
            CK_TOKEN_INFO info = tokenInfo(s);
            boolean ready = (info.flags & CKF_TOKEN_INITIALIZED) != 0;
            if (ready && (tokenLabel == null || Text.chars(info.label).equals(tokenLabel))) {
                return s;
            }
        }
        if (tokenLabel != null) {
            throw new DemoException("no token labelled \"" + tokenLabel + "\" (see 'info')");
        }
        throw new DemoException("no slot holds an initialised token (see 'info')");
    }

    long openSession(long slot, boolean readWrite) throws DemoException {
        long flags = CKF_SERIAL_SESSION | (readWrite ? CKF_RW_SESSION : 0);
        return call("C_OpenSession", () -> pkcs11.C_OpenSession(slot, flags, null, null));
    }

    void closeSession(long session) {
        try {
            pkcs11.C_CloseSession(session);
        } catch (PKCS11Exception e) {
            // Finalising the module closes it in any case.
        }
    }

    /** Logs the user in; a user who is logged in already (another session) is fine. */
    void login(long session, String pin) throws DemoException {
        try {
            pkcs11.C_Login(session, CKU_USER, pin.toCharArray());
        } catch (PKCS11Exception e) {
            if (e.getErrorCode() != CKR_USER_ALREADY_LOGGED_IN) {
                throw new DemoException("C_Login", e);
            }
        }
    }

    /** Every object that matches the template. */
    long[] find(long session, CK_ATTRIBUTE... template) throws DemoException {
        run("C_FindObjectsInit", () -> pkcs11.C_FindObjectsInit(session, template));
        List<Long> found = new ArrayList<>();
        try {
            while (true) {
                long[] some = call("C_FindObjects", () -> pkcs11.C_FindObjects(session, 32));
                if (some.length == 0) {
                    break;
                }
                for (long handle : some) {
                    found.add(handle);
                }
            }
        } finally {
            run("C_FindObjectsFinal", () -> pkcs11.C_FindObjectsFinal(session));
        }
        return found.stream().mapToLong(Long::longValue).toArray();
    }

    /** The one object of a class with a label. */
    long findOne(long session, long objectClass, String label) throws DemoException {
        long[] found = find(session, new CK_ATTRIBUTE(CKA_CLASS, objectClass),
                new CK_ATTRIBUTE(CKA_LABEL, label.toCharArray()));
        if (found.length == 0) {
            throw new DemoException("no " + Text.objectClass(objectClass) + " labelled \"" + label
                    + "\" on the token (see 'objects', or create one with 'keygen')");
        }
        if (found.length > 1) {
            throw new DemoException(found.length + " objects of class " + Text.objectClass(objectClass)
                    + " are labelled \"" + label + "\"; give the key a label of its own");
        }
        return found[0];
    }

    /**
     * One attribute of an object, or null when the object has none or keeps it secret: each is
     * read by itself, since a module answers a template with one such attribute with an error.
     */
    Object attribute(long session, long object, long type) throws DemoException {
        CK_ATTRIBUTE[] template = {new CK_ATTRIBUTE(type)};
        try {
            pkcs11.C_GetAttributeValue(session, object, template);
        } catch (PKCS11Exception e) {
            long code = e.getErrorCode();
            if (code == CKR_ATTRIBUTE_TYPE_INVALID || code == CKR_ATTRIBUTE_SENSITIVE) {
                return null;
            }
            throw new DemoException("C_GetAttributeValue", e);
        }
        return template[0].pValue;
    }

    long longAttribute(long session, long object, long type) throws DemoException {
        Object value = attribute(session, object, type);
        if (!(value instanceof Long)) {
            throw new DemoException("object " + Text.handle(object) + " has no " + attributeName(type));
        }
        return (Long) value;
    }

    boolean hasMechanism(long slot, long mechanism) throws DemoException {
        for (long m : call("C_GetMechanismList", () -> pkcs11.C_GetMechanismList(slot))) {
            if (m == mechanism) {
                return true;
            }
        }
        return false;
    }
}
