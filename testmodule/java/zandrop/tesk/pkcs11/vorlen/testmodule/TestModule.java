package zandrop.tesk.pkcs11.vorlen.testmodule;

import java.nio.charset.StandardCharsets;
import java.util.List;
import java.util.Map;
import java.util.NoSuchElementException;
import java.util.concurrent.ConcurrentHashMap;

/**
 * Test-only control of the scriptable PKCS#11 test module ({@code libvorlentestmodule.so}).
 *
 * <p>The module records every call of its entries with the arguments as it received them, and
 * each entry can be scripted. This class talks to the module instance that the library under test
 * loads: {@link #load} opens the same file through the bridge library named by the system
 * property {@code vorlen.testcontrol.library}. The module file stays loaded for the rest of the
 * process, so its state survives a disconnect; call {@link #reset} at the start of each test.
 *
 * <h2>Commands</h2>
 *
 * Text, ASCII, one command per call. An answer that starts with {@code error:} becomes an
 * {@link IllegalArgumentException}.
 *
 * <ul>
 *   <li>{@code reset} joins the module's async threads, then clears every script, the record,
 *       sessions, search pools, stored mutex callbacks and counters.
 *   <li>{@code script <C_Function> <step>} appends a step to that entry's queue. Each call of the
 *       entry takes the next step; with the queue empty it follows its default step.
 *   <li>{@code default <C_Function> <step>} replaces the entry's default step ({@code reset}
 *       restores the built-in one).
 *   <li>{@code join} joins every async callback thread.
 *   <li>{@code calls} the record, one line per call, in call order.
 *   <li>{@code count <C_Function>|callback} how many such lines the record holds.
 *   <li>{@code clear} empties the record only. {@code sessions} lists the stored sessions.
 *       {@code tid} answers the kernel thread id of the calling thread.
 *   <li>{@code interfaces <kind>:<major>.<minor>[:<flags>],...} the interfaces that
 *       C_GetInterfaceList and C_GetInterface offer, in order; kind {@code pkcs} ("PKCS 11", the
 *       3.0 list carrying that version) or {@code vendor} ("Vorlen vendor", a list of no
 *       entries). {@code reset} restores {@code vendor:1.0,pkcs:3.0,pkcs:2.40}. Only the module
 *       file {@code vorlentestmodule_v3} exports the two entry points.
 * </ul>
 *
 * <h2>Steps</h2>
 *
 * Space-separated {@code key=value} pairs; an empty step means "built-in behaviour". Numbers are
 * unsigned, decimal or {@code 0x} hex, up to the full CK_ULONG width; bytes are hex.
 *
 * <ul>
 *   <li>{@code rv=<n>} the CK_RV to return (else CKR_OK, or what the entry's rules say).
 *   <li>{@code times=<n>} this step serves the next n calls (a size query and the call that
 *       follows it are two calls).
 *   <li>{@code len=<n>|unavail} the length or count to report in the entry's output length or
 *       count; may lie. The module still writes at most the capacity it was given, and nothing
 *       through a NULL buffer.
 *   <li>{@code out=<hex>} the output bytes of a byte-output entry (also C_GenerateRandom).
 *   <li>{@code handles=<n,n,...>} list output: slot IDs, mechanism types, C_FindObjects results;
 *       on C_FindObjectsInit the search pool that later C_FindObjects calls hand out;
 *       on C_GenerateKeyPair the public and the private handle.
 *   <li>{@code handle=<n>} a new handle: C_OpenSession, C_CreateObject, C_CopyObject,
 *       C_GenerateKey, C_UnwrapKey, C_DeriveKey; the slot of C_WaitForSlotEvent.
 *   <li>{@code rec=<hex>} bytes written over the start of an information record, then field
 *       setters named like the structure's fields: numbers ({@code flags=}, {@code
 *       ulMaxSessionCount=}, {@code cryptokiVersion.minor=}, ...) and text fields as hex or
 *       {@code txt:ASCII} without blanks, blank-padded ({@code label=}, {@code manufacturerID=}).
 *   <li>{@code attr=<type>:<len>:<hex>} (repeatable) for C_GetAttributeValue: the length to
 *       report ({@code unavail} for CK_UNAVAILABLE_INFORMATION, empty for the length of the
 *       bytes) and the bytes to write when a buffer is given. Unscripted types get
 *       CK_UNAVAILABLE_INFORMATION and CKR_ATTRIBUTE_TYPE_INVALID.
 *   <li>{@code nested=<outer>:<type>:<len>:<hex>} (repeatable, after the {@code attr=} of type
 *       {@code outer}) a nested attribute of that attribute, whose value is then a CK_ATTRIBUTE
 *       array answered with the standard's nested protocol: without a buffer the length of the
 *       records (or the {@code attr=} length, when given: it may lie), with one the nested types
 *       and lengths into the records and each nested value into the buffer its record points to
 *       (CKR_BUFFER_TOO_SMALL for too little room, unless {@code rv=} is scripted).
 *   <li>{@code deep=1} record the values of nested attributes in templates (CKA_WRAP_TEMPLATE,
 *       CKA_UNWRAP_TEMPLATE, CKA_DERIVE_TEMPLATE), following the caller's nested pointers; without
 *       it their records show {@code ptr} or {@code null} (a hostile caller's bytes are no
 *       pointers).
 *   <li>{@code notify=<event,...>} call the session's Notify with these events; the session is the
 *       entry's own (the new one for C_OpenSession) or {@code session=<n>}; with {@code late=1},
 *       {@code session=} may name a session closed by C_CloseSession, notified late with the
 *       pApplication it had.
 *   <li>{@code mutex=<op,...>} with ops {@code create}, {@code lock}, {@code unlock}, {@code
 *       destroy}, {@code loop:<n>} (n lock/unlock pairs, recorded as one line), run through the
 *       callbacks that C_Initialize received, on the latest created mutex.
 *   <li>{@code thread=native} run this step's callbacks on a new thread of the module, joined
 *       before the entry returns; {@code threads=<k>} k such threads at once; {@code async=1}
 *       return without joining ({@code join} and {@code reset} join); {@code sleep=<ms>} sleep on
 *       the callback thread before the callbacks.
 *   <li>{@code nowrite=1} leave every output untouched; {@code null=1} (C_GetFunctionList only)
 *       store a NULL list pointer.
 *   <li>Mechanism parameter results (key entries): {@code param=<offset>:<hex>} raw write into
 *       the parameter block, {@code pbeIv=<hex>}, {@code sslVersion=<major>.<minor>}, {@code
 *       sslKeyMat=<h,h,h,h>}, {@code sslIvClient=<hex>}, {@code sslIvServer=<hex>}, {@code
 *       oaepBC=<n>}, {@code oaepX=<hex>}.
 *   <li>{@code decode=<STRUCT>} (entries that take a mechanism) record the parameter block read
 *       as that PKCS#11 structure, such as {@code CK_RSA_PKCS_OAEP_PARAMS}; see the record lines.
 *   <li>Message entries (3.0): {@code decode=<STRUCT>} also decodes the per-message parameter;
 *       {@code write=<field>:<hex>} (repeatable) writes into the buffer that field points to,
 *       at most the length the structure states for it ({@code write=pTag:..}).
 *   <li>C_GetInterface: {@code rv=}, {@code null=1} (a NULL interface pointer), {@code
 *       listVersion=<major>.<minor>} (hand out a list of that version instead of the one the
 *       interface announced).
 * </ul>
 *
 * <p>Built-in behaviour: the slot list is {1}; the mechanism list {CKM_RSA_PKCS, CKM_SHA256};
 * information records hold blank-padded text starting with "Vorlen test", version 2.40; sessions
 * get handles 1, 2, 3..., objects 100, 101...; transforms echo their input; C_Sign and
 * C_SignFinal give 64 bytes 00..3f, C_Digest and C_DigestFinal 32, the other finals 16,
 * C_WrapKey 24, C_GetOperationState 16; C_GetObjectSize 128; C_GenerateRandom 00, 01, ...;
 * C_GetFunctionStatus and C_CancelFunction CKR_FUNCTION_NOT_PARALLEL. A byte or list output that
 * does not fit the caller's buffer gives CKR_BUFFER_TOO_SMALL (unless {@code rv=} is scripted).
 * A NULL pointer the entry cannot accept gives CKR_ARGUMENTS_BAD, whatever the step says.
 *
 * <h2>Record lines</h2>
 *
 * {@code <C_Function> thread=<tid> key=value ... rv=<returned>}, with the standard's parameter
 * names as keys. Scalars are unsigned decimal; input buffers {@code hex:<bytes>} (read up to the
 * stated length, at most 1 MiB, then {@code <key>Truncated=1}) or {@code null}; output pointers
 * {@code ptr} or {@code null}; in/out lengths as received; templates {@code
 * [<type>:<len>:<hex>|null|ptr;...]}, an attribute holding nested attributes as {@code
 * <type>:<len>:{<type>:<len>:<hex>|null|ptr,...}}; mechanisms {@code mechanism=<type> pParameter=hex:..|null
 * ulParameterLen=<n>} (or {@code pMechanism=null}); C_Initialize {@code pInitArgs=null} or {@code
 * pInitArgs=ptr CreateMutex=set|null DestroyMutex=.. LockMutex=.. UnlockMutex=.. flags=<n>
 * pReserved=null|ptr}; C_OpenSession {@code pApplication=null|ptr Notify=null|ptr}. With {@code
 * decode=}, the mechanism is followed by {@code param=<STRUCT>} and {@code param.<field>=} for every
 * field of the structure: scalars decimal, buffers read by their length field (or fixed size) as
 * {@code hex:..} or {@code null}, the password pointers of CK_PKCS5_PBKD2_PARAMS {@code ptr|null};
 * nested fields as {@code param.RandomInfo.pClientRandom=}, {@code
 * param.pReturnedKeyMaterial.hClientKey=} (IVs read by ulIVSizeInBits / 8). A block whose length
 * is not the structure's size gives {@code param=mismatch} and is not read.
 *
 * <p>Callbacks add {@code callback thread=<tid> moduleThread=0|1 from=<C_Function>
 * kind=notify|create|lock|unlock|destroy|loop ...} with {@code rv=}, {@code handle=0x<mutex
 * handle>}, for notify {@code hSession=} and {@code event=}, for loop {@code count=} and {@code
 * failures=}; {@code skipped=1} (and no rv) when the callback pointer or the session was missing.
 */
public final class TestModule {

    /** System property naming the bridge library file. */
    public static final String BRIDGE_PROPERTY = "vorlen.testcontrol.library";

    private static final Map<String, Long> HANDLES = new ConcurrentHashMap<>();
    private static boolean bridgeLoaded;

    private final String path;
    private final long handle;

    private TestModule(String path, long handle) {
        this.path = path;
        this.handle = handle;
    }

    private static synchronized void loadBridge() {
        if (bridgeLoaded) {
            return;
        }
        String bridge = System.getProperty(BRIDGE_PROPERTY);
        if (bridge == null || bridge.isEmpty()) {
            throw new IllegalStateException("system property " + BRIDGE_PROPERTY + " is not set");
        }
        System.load(bridge);
        bridgeLoaded = true;
    }

    /**
     * Opens the test module file {@code modulePath}: the same path the library under test is given,
     * so that both reach one module instance.
     *
     * @throws IllegalStateException when the bridge or the module cannot be loaded
     */
    public static TestModule load(String modulePath) {
        loadBridge();
        long h = HANDLES.computeIfAbsent(modulePath, TestModule::open);
        return new TestModule(modulePath, h);
    }

    /**
     * Lets go of the module file, so that only the library under test holds it and unloading it
     * really unmaps it. This object is unusable afterwards; {@link #load} opens the file again.
     */
    public void release() {
        if (HANDLES.remove(path, handle)) {
            close(handle);
        }
    }

    /** The module file path. */
    public String path() {
        return path;
    }

    /** Joins async threads and restores the module's initial state. */
    public void reset() {
        command("reset");
    }

    /** Appends {@code step} to the queue of entry {@code fn}. */
    public void script(String fn, String step) {
        command("script " + fn + " " + step);
    }

    /** Sets the default step of entry {@code fn}. */
    public void setDefault(String fn, String step) {
        command("default " + fn + " " + step);
    }

    /** Joins every async callback thread of the module. */
    public void join() {
        command("join");
    }

    /** Empties the record. */
    public void clear() {
        command("clear");
    }

    /** The kernel thread id of the calling thread, as record lines give it. */
    public long threadId() {
        return Long.parseLong(command("tid"));
    }

    /** The whole record, in call order. */
    public List<Call> calls() {
        return command("calls").lines().filter(line -> !line.isEmpty()).map(Call::parse).toList();
    }

    /** The recorded calls of {@code fn} ({@code callback} for callbacks), in call order. */
    public List<Call> calls(String fn) {
        return calls().stream().filter(c -> c.function().equals(fn)).toList();
    }

    /**
     * The latest recorded call of {@code fn}.
     *
     * @throws NoSuchElementException when there is none
     */
    public Call last(String fn) {
        List<Call> list = calls(fn);
        if (list.isEmpty()) {
            throw new NoSuchElementException("no call of " + fn + " recorded; record:\n" + command("calls"));
        }
        return list.get(list.size() - 1);
    }

    /** How many calls of {@code fn} ({@code callback} for callbacks) were recorded. */
    public int count(String fn) {
        return Integer.parseInt(command("count " + fn));
    }

    /**
     * Sends one command and returns the answer.
     *
     * @throws IllegalArgumentException when the module answers with an error, or the command is not
     *     ASCII
     */
    public String command(String command) {
        if (!StandardCharsets.US_ASCII.newEncoder().canEncode(command)) {
            throw new IllegalArgumentException("commands are ASCII: " + command);
        }
        String answer = command(handle, command);
        if (answer.startsWith("error:")) {
            throw new IllegalArgumentException(answer + " (command: " + command + ")");
        }
        return answer;
    }

    @Override
    public String toString() {
        return "TestModule[" + path + "]";
    }

    private static native long open(String path);

    private static native void close(long handle);

    private static native String command(long handle, String command);
}
