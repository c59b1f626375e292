// Native test of the scriptable test module: loads the module file named on
// the command line (and optionally a second instance), scripts it through its
// control function, calls entries through the function list and checks
// outputs, guard bytes and the record.
//
//   vorlen_testmodule_selftest <libvorlentestmodule.so> [<libvorlentestmodule2.so>]
#include "pkcs11/pkcs11.h"

#include <dlfcn.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

int checks = 0;
int failures = 0;

#define CHECK(cond) check((cond), #cond, __LINE__)

// All bits of a CK_ULONG, whatever its width, as a script number (the module refuses numbers
// that do not fit a CK_ULONG).
std::string allBits() { return std::to_string(CK_UNAVAILABLE_INFORMATION); }

void check(bool ok, const char* what, int line) {
    ++checks;
    if (!ok) {
        ++failures;
        std::printf("FAILED line %d: %s\n", line, what);
    }
}

unsigned long tid() { return static_cast<unsigned long>(::syscall(SYS_gettid)); }

using CommandFn = char* (*)(const char*);
using FreeFn = void (*)(char*);

/// One loaded module file and its control functions.
struct Module {
    void* library = nullptr;
    CK_FUNCTION_LIST_PTR f = nullptr;
    CommandFn commandFn = nullptr;
    FreeFn freeFn = nullptr;

    bool open(const char* path) {
        library = dlopen(path, RTLD_NOW);
        if (library == nullptr) return false;
        auto gfl = reinterpret_cast<CK_C_GetFunctionList>(dlsym(library, "C_GetFunctionList"));
        commandFn = reinterpret_cast<CommandFn>(dlsym(library, "vorlen_testmodule_command"));
        freeFn = reinterpret_cast<FreeFn>(dlsym(library, "vorlen_testmodule_free"));
        return gfl && commandFn && freeFn && gfl(&f) == CKR_OK && f != nullptr;
    }

    std::string command(const std::string& text) const {
        char* answer = commandFn(text.c_str());
        std::string result = answer ? answer : "";
        freeFn(answer);
        return result;
    }

    bool ok(const std::string& text) const { return command(text) == "ok"; }

    /// Record lines of `fn` (all lines for an empty name).
    std::vector<std::string> lines(const std::string& fn = "") const {
        std::vector<std::string> out;
        std::istringstream in(command("calls"));
        std::string line;
        while (std::getline(in, line))
            if (fn.empty() || line.rfind(fn + " ", 0) == 0) out.push_back(line);
        return out;
    }

    std::string last(const std::string& fn) const {
        const std::vector<std::string> l = lines(fn);
        return l.empty() ? std::string() : l.back();
    }
};

/// The value of `key` in a record line, or "<missing>".
std::string field(const std::string& line, const std::string& key) {
    const std::string needle = " " + key + "=";
    const std::size_t at = line.find(needle);
    if (at == std::string::npos) return "<missing>";
    const std::size_t start = at + needle.size();
    return line.substr(start, line.find(' ', start) - start);
}

// ---- fake callbacks of the caller --------------------------------------

struct FakeMutex {
    std::mutex m;
    std::atomic<int> holders{0};
};
std::atomic<int> creates{0}, locks{0}, unlocks{0}, destroys{0}, overlaps{0};

CK_RV fakeCreate(CK_VOID_PTR_PTR ppMutex) {
    *ppMutex = new FakeMutex;
    ++creates;
    return CKR_OK;
}
CK_RV fakeDestroy(CK_VOID_PTR p) {
    delete static_cast<FakeMutex*>(p);
    ++destroys;
    return CKR_OK;
}
CK_RV fakeLock(CK_VOID_PTR p) {
    auto* m = static_cast<FakeMutex*>(p);
    m->m.lock();
    if (++m->holders != 1) ++overlaps;
    ++locks;
    return CKR_OK;
}
CK_RV fakeUnlock(CK_VOID_PTR p) {
    auto* m = static_cast<FakeMutex*>(p);
    --m->holders;
    m->m.unlock();
    ++unlocks;
    return CKR_MUTEX_NOT_LOCKED;  // a recognisable non-OK answer for the record
}

struct Notifications {
    std::vector<CK_SESSION_HANDLE> sessions;
    std::vector<CK_NOTIFICATION> events;
    std::vector<void*> apps;
    std::set<unsigned long> threads;
} notified;
std::mutex notifiedMutex;

/// A copy of the notifications seen so far.
Notifications notifiedSoFar() {
    std::lock_guard<std::mutex> lock(notifiedMutex);
    return notified;
}

CK_RV fakeNotify(CK_SESSION_HANDLE h, CK_NOTIFICATION event, CK_VOID_PTR app) {
    std::lock_guard<std::mutex> lock(notifiedMutex);
    notified.sessions.push_back(h);
    notified.events.push_back(event);
    notified.apps.push_back(app);
    notified.threads.insert(tid());
    return event == CKN_SURRENDER ? CKR_CANCEL : CKR_OK;
}

// ---- the tests -----------------------------------------------------------

void functionListAndControl(const Module& m) {
    CHECK(m.ok("reset"));
    CHECK(m.f->version.major == 2 && m.f->version.minor == 40);
    // Every one of the 68 entries is set.
    const std::size_t first = offsetof(CK_FUNCTION_LIST, C_Initialize);
    const std::size_t n = (sizeof(CK_FUNCTION_LIST) - first) / sizeof(void*);
    CHECK(n == 68);
    std::size_t set = 0;
    for (std::size_t i = 0; i < n; ++i) {
        void* p = nullptr;
        std::memcpy(&p, reinterpret_cast<const char*>(m.f) + first + i * sizeof(void*), sizeof p);
        set += p != nullptr;
    }
    CHECK(set == 68);

    CK_FUNCTION_LIST_PTR list = nullptr;
    CHECK(m.ok("script C_GetFunctionList null=1"));
    CHECK(m.f->C_GetFunctionList(&list) == CKR_OK && list == nullptr);
    CHECK(m.ok("script C_GetFunctionList rv=0x5"));
    CHECK(m.f->C_GetFunctionList(&list) == CKR_GENERAL_ERROR);
    CHECK(m.f->C_GetFunctionList(nullptr) == CKR_ARGUMENTS_BAD);
    CHECK(m.command("count C_GetFunctionList") == "3");

    // Errors are answered, never ignored.
    for (const char* bad : {"bogus", "script C_Nothing rv=0", "script C_Sign rv=-1", "script C_Sign rv=0x1g",
                            "script C_Sign out=abc", "script C_Sign colour=red", "script C_GetInfo label=00",
                            "script C_GetTokenInfo label=" /* 33 bytes: */ "txt:123456789012345678901234567890123",
                            "script C_Sign mutex=grab", "script C_Sign threads=0", "count C_Nothing", "",
                            "script C_Sign rv=99999999999999999999999", "script C_Sign null=1"}) {
        CHECK(m.command(bad).rfind("error: ", 0) == 0);
    }
    CHECK(m.f->C_GetFunctionStatus(1) == CKR_FUNCTION_NOT_PARALLEL);
    CHECK(m.f->C_CancelFunction(1) == CKR_FUNCTION_NOT_PARALLEL);
    CHECK(m.command("tid") == std::to_string(tid()));
}

void byteOutputs(const Module& m) {
    CHECK(m.ok("reset"));
    CK_BYTE data[3] = {0x0a, 0x0b, 0x0c};
    CK_ULONG len = 0;
    // Size query: reports the echo length, writes nothing.
    CHECK(m.f->C_Encrypt(7, data, 3, nullptr, &len) == CKR_OK && len == 3);
    std::string line = m.last("C_Encrypt");
    CHECK(field(line, "hSession") == "7" && field(line, "pData") == "hex:0a0b0c");
    CHECK(field(line, "pEncryptedData") == "null" && field(line, "pulEncryptedDataLen") == "0");
    CK_BYTE out[8];
    std::memset(out, 0xee, sizeof out);
    len = 3;
    CHECK(m.f->C_Encrypt(7, data, 3, out, &len) == CKR_OK && len == 3);
    CHECK(std::memcmp(out, data, 3) == 0 && out[3] == 0xee);
    CHECK(field(m.last("C_Encrypt"), "pEncryptedData") == "ptr");

    // A lying length with a scripted rv: only the capacity is written.
    CK_BYTE guarded[4 + 4];
    std::memset(guarded, 0xee, sizeof guarded);
    CHECK(m.ok("script C_Sign rv=0 len=1000 out=00112233445566778899"));
    len = 4;
    CHECK(m.f->C_Sign(1, data, 3, guarded, &len) == CKR_OK && len == 1000);
    CHECK(guarded[0] == 0x00 && guarded[3] == 0x33 && guarded[4] == 0xee && guarded[7] == 0xee);
    CHECK(field(m.last("C_Sign"), "pulSignatureLen") == "4");

    // Too small without a scripted rv: CKR_BUFFER_TOO_SMALL, nothing written.
    std::memset(guarded, 0xee, sizeof guarded);
    CHECK(m.ok("script C_Sign times=2 out=00112233445566778899"));
    len = 4;
    CHECK(m.f->C_Sign(1, data, 3, guarded, &len) == CKR_BUFFER_TOO_SMALL && len == 10);
    CHECK(guarded[0] == 0xee);
    CK_BYTE big[10];
    len = sizeof big;
    CHECK(m.f->C_Sign(1, data, 3, big, &len) == CKR_OK && len == 10 && big[9] == 0x99);
    // Default step again: 64 pattern bytes.
    len = 0;
    CHECK(m.f->C_Sign(1, data, 3, nullptr, &len) == CKR_OK && len == 64);

    // A huge reported length through a NULL buffer is only reported.
    CHECK(m.ok("script C_DigestFinal len=" + allBits()));
    len = 0;
    CHECK(m.f->C_DigestFinal(1, nullptr, &len) == CKR_OK && len == CK_UNAVAILABLE_INFORMATION);

    // NULL where a pointer is needed.
    CHECK(m.ok("script C_Encrypt rv=0"));
    CHECK(m.f->C_Encrypt(1, data, 3, out, nullptr) == CKR_ARGUMENTS_BAD);
    CHECK(m.f->C_Encrypt(1, nullptr, 5, out, &len) == CKR_ARGUMENTS_BAD);
    CHECK(field(m.last("C_Encrypt"), "pData") == "null" && field(m.last("C_Encrypt"), "rv") == "7");
    // A null input of length 0 is fine and echoes nothing.
    len = 8;
    CHECK(m.f->C_Encrypt(1, nullptr, 0, out, &len) == CKR_OK && len == 0);

    // Large inputs are recorded by their first MiB.
    std::vector<CK_BYTE> large((2u << 20) + 5, 0x5a);
    CHECK(m.f->C_DigestUpdate(1, large.data(), static_cast<CK_ULONG>(large.size())) == CKR_OK);
    line = m.last("C_DigestUpdate");
    CHECK(field(line, "pPart").size() == 4 + 2 * (1u << 20) && field(line, "pPartTruncated") == "1");
    CHECK(field(line, "ulPartLen") == std::to_string(large.size()));

    // C_GenerateRandom fills exactly the stated length.
    CK_BYTE random[6];
    std::memset(random, 0xee, sizeof random);
    CHECK(m.f->C_GenerateRandom(1, random, 4) == CKR_OK && random[3] == 3 && random[4] == 0xee);
    CHECK(m.ok("script C_GenerateRandom out=ffff"));
    CHECK(m.f->C_GenerateRandom(1, random, 1) == CKR_OK && random[0] == 0xff && random[1] == 1);
}

void listsAndAttributes(const Module& m) {
    CHECK(m.ok("reset"));
    CK_ULONG count = 0;
    CHECK(m.f->C_GetSlotList(CK_TRUE, nullptr, &count) == CKR_OK && count == 1);
    CK_SLOT_ID slots[4] = {9, 9, 9, 9};
    count = 4;
    CHECK(m.f->C_GetSlotList(CK_FALSE, slots, &count) == CKR_OK && count == 1 && slots[0] == 1 && slots[1] == 9);
    CHECK(field(m.last("C_GetSlotList"), "tokenPresent") == "0");

    CK_MECHANISM_TYPE mechs[3] = {9, 9, 9};
    count = 2;
    CHECK(m.f->C_GetMechanismList(1, mechs, &count) == CKR_OK && count == 2 && mechs[0] == CKM_RSA_PKCS &&
          mechs[1] == CKM_SHA256 && mechs[2] == 9);
    // A lying count: two written, 1000 reported.
    CHECK(m.ok("script C_GetMechanismList rv=0 len=1000 handles=5,6,7,8"));
    count = 2;
    CHECK(m.f->C_GetMechanismList(1, mechs, &count) == CKR_OK && count == 1000 && mechs[1] == 6 && mechs[2] == 9);

    // Search pool handed out up to the maximum.
    CHECK(m.ok("script C_FindObjectsInit handles=11,12,13"));
    CHECK(m.f->C_FindObjectsInit(3, nullptr, 0) == CKR_OK);
    CHECK(field(m.last("C_FindObjectsInit"), "pTemplate") == "null");
    CK_OBJECT_HANDLE found[3] = {0, 0, 0};
    CHECK(m.f->C_FindObjects(3, found, 2, &count) == CKR_OK && count == 2 && found[0] == 11 && found[1] == 12 &&
          found[2] == 0);
    CHECK(m.f->C_FindObjects(3, found, 2, &count) == CKR_OK && count == 1 && found[0] == 13);
    CHECK(m.f->C_FindObjects(3, found, 2, &count) == CKR_OK && count == 0);

    // C_GetAttributeValue: lengths first, then values; too small and unknown types.
    CHECK(m.ok("script C_GetAttributeValue times=3 attr=3:5:68656c6c6f attr=0x102:unavail attr=17::"));
    CK_ATTRIBUTE t[4] = {{3, nullptr, 0}, {0x102, nullptr, 0}, {17, nullptr, 0}, {99, nullptr, 0}};
    CHECK(m.f->C_GetAttributeValue(1, 2, t, 4) == CKR_ATTRIBUTE_TYPE_INVALID);
    CHECK(t[0].ulValueLen == 5 && t[1].ulValueLen == CK_UNAVAILABLE_INFORMATION && t[2].ulValueLen == 0 &&
          t[3].ulValueLen == CK_UNAVAILABLE_INFORMATION);
    CK_BYTE value[8];
    std::memset(value, 0xee, sizeof value);
    CK_ATTRIBUTE t2[1] = {{3, value, 5}};
    CHECK(m.f->C_GetAttributeValue(1, 2, t2, 1) == CKR_OK && t2[0].ulValueLen == 5);
    CHECK(std::memcmp(value, "hello", 5) == 0 && value[5] == 0xee);
    CHECK(field(m.last("C_GetAttributeValue"), "pTemplate") == "[3:5:ptr]");
    std::memset(value, 0xee, sizeof value);
    t2[0].ulValueLen = 4;
    CHECK(m.f->C_GetAttributeValue(1, 2, t2, 1) == CKR_BUFFER_TOO_SMALL);
    CHECK(t2[0].ulValueLen == CK_UNAVAILABLE_INFORMATION && value[0] == 0xee);
    CHECK(m.f->C_GetAttributeValue(1, 2, nullptr, 1) == CKR_ARGUMENTS_BAD);
}

void recordsAndTemplates(const Module& m) {
    CHECK(m.ok("reset"));
    CK_INFO info;
    CHECK(m.f->C_GetInfo(&info) == CKR_OK);
    CHECK(info.cryptokiVersion.major == 2 && info.cryptokiVersion.minor == 40);
    CHECK(std::memcmp(info.libraryDescription, "Vorlen test module              ", 32) == 0);
    CHECK(m.f->C_GetInfo(nullptr) == CKR_ARGUMENTS_BAD);

    CHECK(m.ok("script C_GetTokenInfo label=txt:Mine ulMaxSessionCount=" + allBits() + " firmwareVersion.minor=7"));
    CK_TOKEN_INFO token;
    CHECK(m.f->C_GetTokenInfo(1, &token) == CKR_OK);
    CHECK(std::memcmp(token.label, "Mine                            ", 32) == 0);
    CHECK(token.ulMaxSessionCount == CK_UNAVAILABLE_INFORMATION && token.firmwareVersion.minor == 7);
    CHECK(token.ulMaxPinLen == 64 && token.firmwareVersion.major == 3);

    CHECK(m.ok("script C_GetSlotInfo rec=41424344 flags=6"));
    CK_SLOT_INFO slot;
    CHECK(m.f->C_GetSlotInfo(1, &slot) == CKR_OK);
    CHECK(std::memcmp(slot.slotDescription, "ABCD", 4) == 0 && slot.slotDescription[4] == 'e' && slot.flags == 6);

    // Templates: value bytes, an empty value, a null value, a huge length.
    CK_BYTE label[] = {'k', 'e', 'y'};
    CK_BYTE empty[1] = {0};
    CK_ATTRIBUTE t[4] = {{3, label, 3}, {1, empty, 0}, {2, nullptr, 0}, {4, nullptr, CK_UNAVAILABLE_INFORMATION}};
    CK_OBJECT_HANDLE object = 0;
    CHECK(m.f->C_CreateObject(1, t, 4, &object) == CKR_OK && object == 100);
    const std::string line = m.last("C_CreateObject");
    CHECK(field(line, "pTemplate") == "[3:3:6b6579;1:0:;2:0:null;4:" + std::to_string(CK_UNAVAILABLE_INFORMATION) +
                                          ":null]");
    CHECK(field(line, "ulCount") == "4" && field(line, "phObject") == "ptr");
    CHECK(m.ok("script C_CopyObject handle=0xffffffff"));
    CHECK(m.f->C_CopyObject(1, object, nullptr, 0, &object) == CKR_OK && object == 0xffffffff);

    // Mechanisms with and without parameter.
    CK_BYTE iv[2] = {1, 2};
    CK_MECHANISM mech = {CKM_AES_CBC, iv, 2};
    CHECK(m.f->C_EncryptInit(1, &mech, 5) == CKR_OK);
    CHECK(field(m.last("C_EncryptInit"), "mechanism") == std::to_string(CKM_AES_CBC));
    CHECK(field(m.last("C_EncryptInit"), "pParameter") == "hex:0102");
    CHECK(field(m.last("C_EncryptInit"), "hKey") == "5");
    CK_MECHANISM bare = {CKM_SHA256, nullptr, 0};
    CHECK(m.f->C_DigestInit(1, &bare) == CKR_OK && field(m.last("C_DigestInit"), "pParameter") == "null");
    CHECK(m.f->C_DigestInit(1, nullptr) == CKR_ARGUMENTS_BAD);

    // Results in mechanism parameters, within the buffers given.
    CK_BYTE ivOut[8 + 2];
    std::memset(ivOut, 0xee, sizeof ivOut);
    CK_PBE_PARAMS pbe{};
    pbe.pInitVector = ivOut;
    CK_MECHANISM pbeMech = {CKM_PBE_MD5_DES_CBC, &pbe, sizeof pbe};
    CHECK(m.ok("script C_GenerateKey pbeIv=0102030405060708090a"));
    CHECK(m.f->C_GenerateKey(1, &pbeMech, nullptr, 0, &object) == CKR_OK);
    CHECK(ivOut[0] == 1 && ivOut[7] == 8 && ivOut[8] == 0xee);

    CK_BYTE x[2];
    CK_KEY_WRAP_SET_OAEP_PARAMS oaep{};
    oaep.pX = x;
    oaep.ulXLen = sizeof x;
    CK_MECHANISM oaepMech = {CKM_KEY_WRAP_SET_OAEP, &oaep, sizeof oaep};
    CHECK(m.ok("script C_UnwrapKey oaepBC=9 oaepX=aabbcc"));
    CHECK(m.f->C_UnwrapKey(1, &oaepMech, 2, nullptr, 0, nullptr, 0, &object) == CKR_BUFFER_TOO_SMALL);
    CHECK(oaep.bBC == 9 && oaep.ulXLen == 3);

    // C_Initialize records the arguments, not the caller's memory beyond them.
    CK_C_INITIALIZE_ARGS args{.CreateMutex = fakeCreate, .DestroyMutex = nullptr, .LockMutex = nullptr,
                              .UnlockMutex = nullptr, .flags = CKF_OS_LOCKING_OK, .pReserved = nullptr};
    CHECK(m.f->C_Initialize(&args) == CKR_OK);
    const std::string init = m.last("C_Initialize");
    CHECK(field(init, "CreateMutex") == "set" && field(init, "LockMutex") == "null");
    CHECK(field(init, "flags") == std::to_string(CKF_OS_LOCKING_OK) && field(init, "pReserved") == "null");
    CHECK(m.f->C_Initialize(nullptr) == CKR_OK && field(m.last("C_Initialize"), "pInitArgs") == "null");
    // The label of C_InitToken is a 32-byte field.
    CK_UTF8CHAR tokenLabel[32];
    std::memset(tokenLabel, ' ', sizeof tokenLabel);
    CHECK(m.f->C_InitToken(1, nullptr, 0, tokenLabel) == CKR_OK);
    std::string blanks;
    for (int i = 0; i < 32; ++i) blanks += "20";
    CHECK(field(m.last("C_InitToken"), "pPin") == "null");
    CHECK(field(m.last("C_InitToken"), "pLabel") == "hex:" + blanks);
}

void callbacks(const Module& m) {
    CHECK(m.ok("reset"));
    const unsigned long me = tid();

    // Mutex callbacks on module threads, four at once on one mutex.
    CK_C_INITIALIZE_ARGS args{.CreateMutex = fakeCreate, .DestroyMutex = fakeDestroy, .LockMutex = fakeLock,
                              .UnlockMutex = fakeUnlock, .flags = 0, .pReserved = nullptr};
    CHECK(m.ok("script C_Initialize mutex=create"));
    CHECK(m.f->C_Initialize(&args) == CKR_OK);
    CHECK(creates == 1);
    CHECK(m.ok("script C_Sign threads=4 mutex=loop:200"));
    CK_ULONG len = 0;
    CHECK(m.f->C_Sign(1, nullptr, 0, nullptr, &len) == CKR_OK);
    CHECK(locks == 800 && unlocks == 800 && overlaps == 0);
    std::vector<std::string> cb = m.lines("callback");
    CHECK(cb.size() == 5);  // create, then four loops
    const std::string created = field(cb[0], "handle");
    CHECK(field(cb[0], "kind") == "create" && field(cb[0], "moduleThread") == "0" &&
          field(cb[0], "thread") == std::to_string(me) && field(cb[0], "from") == "C_Initialize");
    std::set<std::string> loopThreads;
    for (std::size_t i = 1; i < cb.size(); ++i) {
        CHECK(field(cb[i], "kind") == "loop" && field(cb[i], "moduleThread") == "1");
        CHECK(field(cb[i], "handle") == created && field(cb[i], "failures") == "200");
        CHECK(field(cb[i], "rv") == std::to_string(CKR_MUTEX_NOT_LOCKED));
        loopThreads.insert(field(cb[i], "thread"));
    }
    CHECK(loopThreads.size() == 4 && loopThreads.count(std::to_string(me)) == 0);
    CHECK(m.ok("script C_Finalize mutex=lock,unlock,destroy thread=native"));
    CHECK(m.f->C_Finalize(nullptr) == CKR_OK && destroys == 1 && locks == 801);
    CHECK(field(m.last("callback"), "kind") == "destroy" && field(m.last("callback"), "handle") == created);

    // Without stored callbacks a mutex op is skipped, not called.
    CHECK(m.f->C_Initialize(nullptr) == CKR_OK);
    CHECK(m.ok("script C_Logout mutex=lock"));
    CHECK(m.f->C_Logout(1) == CKR_OK && field(m.last("callback"), "skipped") == "1");

    // Notify: during C_OpenSession, from a module thread, async, and after close.
    int app = 0;
    CK_SESSION_HANDLE h = 0;
    CHECK(m.ok("script C_OpenSession notify=5"));
    CHECK(m.f->C_OpenSession(1, CKF_SERIAL_SESSION, &app, fakeNotify, &h) == CKR_OK && h == 1);
    CHECK(field(m.last("C_OpenSession"), "Notify") == "ptr" && field(m.last("C_OpenSession"), "pApplication") == "ptr");
    CHECK(m.ok("script C_Sign notify=0 thread=native"));
    CHECK(m.f->C_Sign(h, nullptr, 0, nullptr, &len) == CKR_OK);
    const Notifications seen = notifiedSoFar();
    CHECK(seen.events.size() == 2 && seen.events[0] == 5 && seen.events[1] == CKN_SURRENDER);
    CHECK(seen.sessions[1] == h && seen.apps[1] == &app && seen.threads.size() == 2);
    CHECK(field(m.last("callback"), "rv") == std::to_string(CKR_CANCEL));
    CHECK(m.ok("script C_Login notify=1 async=1 sleep=50"));
    CHECK(m.f->C_Login(h, CKU_USER, nullptr, 0) == CKR_OK);
    CHECK(m.ok("join"));
    CHECK(m.command("count callback") == std::to_string(m.lines("callback").size()));
    CHECK(field(m.last("callback"), "event") == "1" && field(m.last("callback"), "moduleThread") == "1");
    CHECK(m.f->C_CloseSession(h) == CKR_OK);
    CHECK(m.ok("script C_Logout notify=2 session=1"));
    CHECK(m.f->C_Logout(h) == CKR_OK && field(m.last("callback"), "skipped") == "1");
    CHECK(notifiedSoFar().events.size() == 3);
    // reset joins a pending async thread before clearing.
    CK_SESSION_HANDLE h2 = 0;
    CHECK(m.f->C_OpenSession(1, 0, nullptr, fakeNotify, &h2) == CKR_OK && h2 == 2);
    CHECK(m.ok("script C_Logout notify=3 async=1 sleep=100"));
    CHECK(m.f->C_Logout(h2) == CKR_OK);
    CHECK(m.ok("reset"));
    CHECK(m.lines().empty());
    CHECK(notifiedSoFar().events.size() == 4);
}

void twoInstances(const Module& a, const Module& b) {
    CHECK(a.ok("reset") && b.ok("reset"));
    CHECK(a.f != b.f);
    CHECK(a.ok("script C_GetSlotList handles=7"));
    CK_ULONG count = 0;
    CHECK(b.f->C_GetSlotList(CK_TRUE, nullptr, &count) == CKR_OK && count == 1);
    CHECK(a.f->C_GetSlotList(CK_TRUE, nullptr, &count) == CKR_OK && count == 1);
    CHECK(a.lines().size() == 1 && b.lines().size() == 1);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <test module> [<second test module>]\n", argv[0]);
        return 2;
    }
    Module m;
    if (!m.open(argv[1])) {
        std::fprintf(stderr, "cannot load %s: %s\n", argv[1], dlerror());
        return 2;
    }
    functionListAndControl(m);
    byteOutputs(m);
    listsAndAttributes(m);
    recordsAndTemplates(m);
    callbacks(m);
    if (argc > 2) {
        Module second;
        if (!second.open(argv[2])) {
            std::fprintf(stderr, "cannot load %s\n", argv[2]);
            return 2;
        }
        twoInstances(m, second);
    }
    m.command("reset");
    std::printf("%d passed, %d failed\n", checks - failures, failures);
    return failures == 0 ? 0 : 1;
}
