// Internal declarations of the scriptable test module.
//
// Every module entry follows the same pattern, carried out by the Call
// helper below:
//
//   1. take the next scripted step of the entry (or its default step);
//   2. record the arguments exactly as the entry received them;
//   3. write the outputs, never beyond the capacity the caller gave;
//   4. append the record line, run the step's callbacks (notify, mutex)
//      without holding the module lock, and return the step's CK_RV.
//
// All state lives in one process-wide State object of this module file, so
// two module files built from the same sources are two independent instances.
#pragma once

#include "pkcs11/pkcs11.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

/// Marks the few functions that this module file exports.
#if defined(_WIN32)
#define VTM_EXPORT extern "C" __declspec(dllexport)
#else
#define VTM_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace vtm {

using Bytes = std::vector<std::uint8_t>;

/// The most bytes of one buffer that the record holds; longer buffers are
/// recorded by their first bytes and marked as truncated.
inline constexpr std::size_t kMaxRecordedBytes = 1u << 20;
/// The most template entries that the record holds.
inline constexpr CK_ULONG kMaxRecordedAttributes = 4096;

/// The fixed-size records that an entry may fill; selects the field setters
/// that a step of that entry accepts.
enum class RecordKind { None, Info, SlotInfo, TokenInfo, MechanismInfo, SessionInfo };

/// A scripted attribute value for C_GetAttributeValue.
struct AttrScript {
    CK_ATTRIBUTE_TYPE type = 0;
    CK_ULONG len = 0;  ///< length to report
    bool lenOfValue = false;  ///< the length was left empty: that of the value
    Bytes value;       ///< bytes to write when the caller gives a buffer
    /// The nested attributes of an array attribute (`nested=` lines): when there are any, the
    /// value is a CK_ATTRIBUTE array answered with the standard's nested length protocol.
    std::vector<AttrScript> nested;
};

/// Whether `type` holds nested attributes (CKA_WRAP_TEMPLATE, CKA_UNWRAP_TEMPLATE,
/// CKA_DERIVE_TEMPLATE).
inline bool holdsNestedAttributes(CK_ATTRIBUTE_TYPE type) {
    return type == CKA_WRAP_TEMPLATE || type == CKA_UNWRAP_TEMPLATE || type == CKA_DERIVE_TEMPLATE;
}

/// One mutex operation run through the callbacks that C_Initialize received.
struct MutexOp {
    enum class Kind { Create, Lock, Unlock, Destroy, Loop };
    Kind kind = Kind::Create;
    CK_ULONG count = 0;  ///< number of lock/unlock pairs for Loop
};

/// A settable field of an information record.
struct Field {
    enum class Kind { Ulong, Byte, Text };
    const char* name;
    std::size_t offset;
    std::size_t size;
    Kind kind;
};

/// The field `name` of the record kind `kind`, or nullptr (outputs.cpp).
const Field* findField(RecordKind kind, const std::string& name);

/// A field setter for an information record: either a number or the bytes
/// for a fixed text field (blank-padded to the field's size).
struct FieldSet {
    std::string name;
    bool isText = false;
    CK_ULONG number = 0;
    Bytes text;
};

/// A write into the mechanism parameter block at a byte offset.
struct ParamWrite {
    CK_ULONG offset = 0;
    Bytes bytes;
};

/// One scripted behaviour of an entry. Absent optionals mean "the entry's
/// built-in behaviour".
struct Step {
    std::optional<CK_RV> rv;
    std::optional<CK_ULONG> len;
    std::optional<Bytes> out;
    std::optional<std::vector<CK_ULONG>> handles;
    std::optional<CK_ULONG> handle;
    std::optional<Bytes> rec;
    std::vector<FieldSet> fields;
    std::vector<AttrScript> attrs;
    std::vector<CK_NOTIFICATION> notify;
    std::optional<CK_SESSION_HANDLE> session;  ///< session to notify instead of the entry's
    bool late = false;  ///< `session` may name a closed session: notify it with its old data
    std::vector<MutexOp> mutex;
    bool nativeThread = false;
    unsigned threads = 1;
    bool async = false;
    unsigned sleepMs = 0;
    unsigned times = 1;     ///< number of calls this step serves
    bool nowrite = false;   ///< leave every output untouched
    /// Record the values of nested attributes too, following the caller's nested pointers (only
    /// for a caller whose templates are sound; otherwise nested records show ptr/null).
    bool deep = false;
    bool nullList = false;  ///< C_GetFunctionList: store a NULL list pointer
    /// C_GetFunctionList: hand out a list whose entries of these names are NULL
    std::vector<std::string> nullEntries;
    // Results written into mechanism parameters (key management entries).
    std::vector<ParamWrite> param;
    std::optional<Bytes> pbeIv;
    std::optional<std::pair<CK_BYTE, CK_BYTE>> sslVersion;
    std::optional<std::vector<CK_ULONG>> sslKeyMat;
    std::optional<Bytes> sslIvClient;
    std::optional<Bytes> sslIvServer;
    std::optional<CK_BYTE> oaepBC;
    std::optional<Bytes> oaepX;
    /// Handles written through phKey of each further key of an SP 800-108 record.
    std::optional<std::vector<CK_ULONG>> sp800Keys;
    /// Record the mechanism parameter decoded as this structure (params.cpp).
    std::optional<std::string> decode;
    /// Per-message parameters (message entries): bytes written into the buffer
    /// a field of the `decode=` structure points to, bounded by its length.
    std::vector<std::pair<std::string, Bytes>> writes;
    /// C_GetInterface: hand out the interface with a list of this version.
    std::optional<CK_VERSION> listVersion;
    /// C_GetInterfaceList: a NULL list is written through, as OpenSC's pkcs11-spy.so does over a
    /// 2.x module (the process dies of it).
    bool writeThroughNull = false;
};

/// One interface that C_GetInterfaceList and C_GetInterface offer.
struct InterfaceSpec {
    bool vendor = false;  ///< "Vorlen vendor" (a list of no entries) or "PKCS 11"
    CK_VERSION version{};
    CK_FLAGS flags = 0;
};

/// A session as C_OpenSession stored it.
struct Session {
    CK_SLOT_ID slot = 0;
    CK_FLAGS flags = 0;
    CK_VOID_PTR application = nullptr;
    CK_NOTIFY notify = nullptr;
};

/// The callbacks of the CK_C_INITIALIZE_ARGS that C_Initialize received,
/// copied because the caller may free its record after the call.
struct InitArgs {
    CK_CREATEMUTEX create = nullptr;
    CK_DESTROYMUTEX destroy = nullptr;
    CK_LOCKMUTEX lock = nullptr;
    CK_UNLOCKMUTEX unlock = nullptr;
};

/// Per entry: the queue of scripted steps and the default step.
struct EntryScript {
    std::deque<Step> queue;
    Step fallback;
};

/// The process-wide state of this module instance, guarded by `mutex`.
/// The mutex is never held while a callback into the caller runs.
struct State {
    std::mutex mutex;
    std::map<std::string, EntryScript> scripts;
    std::vector<std::string> record;
    std::map<std::string, std::size_t> counts;
    std::map<CK_SESSION_HANDLE, Session> sessions;
    /// Sessions closed by C_CloseSession, kept so that a step with `session=` and `late=1` can
    /// still notify them (with their old pApplication), as a late or faulty module would.
    std::map<CK_SESSION_HANDLE, Session> closed;
    /// Per session handle: the handles C_FindObjects still has to return.
    std::map<CK_SESSION_HANDLE, std::deque<CK_OBJECT_HANDLE>> pools;
    CK_SESSION_HANDLE nextSession = 1;
    CK_OBJECT_HANDLE nextObject = 100;
    InitArgs initArgs;
    CK_VOID_PTR lastMutex = nullptr;  ///< handle of the latest successful create
    std::vector<std::thread> asyncThreads;
    /// The interfaces offered, in order (interfaces.cpp); `reset` restores
    /// vendor 1.0, "PKCS 11" 3.0, "PKCS 11" 2.40.
    std::vector<InterfaceSpec> interfaces;
};

/// The state of this module instance (never destroyed, so that threads and
/// late callers at process exit find it intact).
State& state();

/// Runs `f` on the state with its lock held; returns what `f` returns.
template <typename F>
auto withState(F f) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return f(s);
}

// ---- record formatting (record.cpp) ----------------------------------

/// The kernel thread id of the calling thread.
unsigned long threadId();

// ---- the call helper -----------------------------------------------------

class Call {
public:
    /// Takes the next step of entry `fn` and starts its record line.
    explicit Call(const char* fn);
    /// The same for an entry of the session `hSession`: records it first and notifies it.
    Call(const char* fn, CK_SESSION_HANDLE hSession);
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;

    /// The step this call follows.
    const Step& step() const { return step_; }

    // Recording of arguments, one helper per kind of argument.
    Call& scalar(const char* key, CK_ULONG value);
    Call& bytes(const char* key, const void* data, CK_ULONG len);
    Call& pointer(const char* key, const void* p);  ///< "ptr" or "null"
    Call& inLen(const char* key, const CK_ULONG* p); ///< value as received or "null"
    Call& tmpl(const char* key, const CK_ATTRIBUTE* t, CK_ULONG count, bool withValues = true);
    Call& mechanism(const CK_MECHANISM* m);
    Call& raw(const char* key, const std::string& value);

    /// Marks the call as CKR_ARGUMENTS_BAD when `p` is null; outputs are then
    /// not written and the scripted rv is ignored.
    Call& require(const void* p);
    /// True when outputs may be written (arguments fine, no `nowrite`).
    bool writes() const { return !bad_ && !step_.nowrite; }

    // Outputs, all bounded by the capacity the caller gave.
    /// Byte output with the size-query convention: `buf` NULL reports the
    /// length only; a buffer too small for the data gives
    /// CKR_BUFFER_TOO_SMALL unless the step scripts an rv.
    void outBytes(CK_BYTE_PTR buf, CK_ULONG_PTR len, const Bytes& dflt);
    /// The same for a list of CK_ULONG values (slots, mechanisms).
    void outList(CK_ULONG_PTR list, CK_ULONG_PTR count, const std::vector<CK_ULONG>& dflt);
    /// The same for other values (outputs.cpp instantiates it for CK_INTERFACE).
    template <typename T>
    void outValues(T* buf, CK_ULONG_PTR len, const std::vector<T>& data);
    /// A single handle or number output.
    void outHandle(CK_ULONG_PTR p, CK_ULONG dflt);
    /// A fixed-size record: default, then `rec=`, then field setters.
    void outRecord(void* p, RecordKind kind, const void* dflt, std::size_t size);
    /// Results written into the mechanism parameter block.
    void outParameters(CK_MECHANISM_PTR m);
    /// The rv that finish() will return.
    CK_RV result() const { return bad_ ? CKR_ARGUMENTS_BAD : step_.rv.value_or(auto_); }
    /// Sets the rv returned when the step scripts none.
    void autoRv(CK_RV rv) { if (auto_ == CKR_OK) auto_ = rv; }

    /// Session data to notify with when it is not stored (C_OpenSession).
    void notifyWith(CK_SESSION_HANDLE h, const Session& s) { notifyTarget_ = h; notifyData_ = s; }

    /// Appends the record line, runs the callbacks and returns the rv.
    CK_RV finish();

private:
    std::string fn_;
    Step step_;
    std::string line_;
    CK_RV auto_ = CKR_OK;
    bool bad_ = false;
    std::optional<CK_SESSION_HANDLE> notifyTarget_;
    std::optional<Session> notifyData_;
};

/// Whether `decode=` knows the parameter structure `name` (params.cpp).
bool knownParameterStruct(const std::string& name);
/// Records the fields of `m`'s parameter read as the structure `name` (params.cpp).
void decodeParameter(Call& c, const std::string& name, const CK_MECHANISM& m);

/// Writes `bytes` into the buffer that `field` of the structure `name` points
/// to in the block `block` of `length` bytes, at most the length the structure
/// states for it; false when the structure or field is unknown (params.cpp).
bool writeParameterField(const std::string& name, void* block, CK_ULONG length, const std::string& field,
                         const Bytes& bytes);

/// Parses `vendor:1.0,pkcs:3.0,...` (optionally `:<flags>` after the
/// version) into `out` (interfaces.cpp).
bool parseInterfaces(const std::string& text, std::vector<InterfaceSpec>& out);

/// Runs the callbacks of `step` for a call of `fn` (callbacks.cpp).
/// `session` is the session to notify, if any. Called without the lock.
void runCallbacks(const std::string& fn, const Step& step,
                  std::optional<CK_SESSION_HANDLE> session,
                  const std::optional<Session>& sessionData);

/// Joins every async callback thread (callbacks.cpp). Call without the lock.
void joinAsync();

/// Pattern bytes 0x00, 0x01, ... of length n.
Bytes pattern(std::size_t n);

}  // namespace vtm
