// The control side of the module: the entry registry, the parser of steps and
// the command language, and the two exported control functions.
#include "framework.hpp"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <limits>
#include <sstream>
#include <string_view>

namespace vtm {

namespace {

/// The record an entry's steps may set fields of.
constexpr RecordKind recordOf(std::string_view name) {
    if (name == "C_GetInfo") return RecordKind::Info;
    if (name == "C_GetSlotInfo") return RecordKind::SlotInfo;
    if (name == "C_GetTokenInfo") return RecordKind::TokenInfo;
    if (name == "C_GetMechanismInfo") return RecordKind::MechanismInfo;
    if (name == "C_GetSessionInfo") return RecordKind::SessionInfo;
    return RecordKind::None;
}

/// The rv of an entry's built-in default step. The legacy parallel functions
/// answer as a module following the standard does.
constexpr CK_RV defaultRvOf(std::string_view name) {
    return name == "C_GetFunctionStatus" || name == "C_CancelFunction" ? CKR_FUNCTION_NOT_PARALLEL : CKR_OK;
}

/// All entries of the 3.0 function list, in the standard order.
#define VTM_REGISTRY_ROW(name, major, minor, arguments) {#name, recordOf(#name), defaultRvOf(#name)},
const EntryInfo entries[] = {PKCS11_FUNCTIONS(VTM_REGISTRY_ROW)};
#undef VTM_REGISTRY_ROW

static_assert(sizeof entries / sizeof entries[0] == CK_FUNCTION_LIST_3_0_ENTRIES,
              "one registry line per entry of the 3.0 function list");

/// Parses an unsigned decimal or 0x-hex number that fits a CK_ULONG.
bool parseNumber(const std::string& text, CK_ULONG& out) {
    if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ') return false;
    const bool isHex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const char* begin = text.c_str() + (isHex ? 2 : 0);
    if (*begin == '\0' || *begin == '-' || *begin == '+' || *begin == ' ') return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long long v = std::strtoull(begin, &end, isHex ? 16 : 10);
    if (errno == ERANGE || *end != '\0') return false;
    if (v > std::numeric_limits<CK_ULONG>::max()) return false;
    out = static_cast<CK_ULONG>(v);
    return true;
}

bool parseHex(const std::string& text, Bytes& out) {
    if (text.size() % 2) return false;
    out.clear();
    out.reserve(text.size() / 2);
    auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int hi = nibble(text[i]);
        const int lo = nibble(text[i + 1]);
        if (hi < 0 || lo < 0) return false;
        out.push_back(static_cast<std::uint8_t>(hi << 4 | lo));
    }
    return true;
}

/// Splits at `sep`; an empty text gives no parts.
std::vector<std::string> split(const std::string& text, char sep) {
    std::vector<std::string> parts;
    if (text.empty()) return parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t at = text.find(sep, start);
        parts.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos) return parts;
        start = at + 1;
    }
}

bool parseList(const std::string& text, std::vector<CK_ULONG>& out) {
    out.clear();
    for (const std::string& part : split(text, ',')) {
        CK_ULONG v;
        if (!parseNumber(part, v)) return false;
        out.push_back(v);
    }
    return true;
}

/// A length: a number or `unavail` (CK_UNAVAILABLE_INFORMATION).
bool parseLength(const std::string& text, CK_ULONG& out) {
    if (text == "unavail") {
        out = CK_UNAVAILABLE_INFORMATION;
        return true;
    }
    return parseNumber(text, out);
}

/// Text field bytes: hex, or `txt:` followed by ASCII without blanks.
bool parseText(const std::string& text, Bytes& out) {
    if (text.rfind("txt:", 0) == 0) {
        out.assign(text.begin() + 4, text.end());
        return true;
    }
    return parseHex(text, out);
}

bool parseMutexOps(const std::string& text, std::vector<MutexOp>& out) {
    const std::vector<std::string> parts = split(text, ',');
    if (parts.empty()) return false;
    for (const std::string& p : parts) {
        MutexOp op;
        if (p == "create") op.kind = MutexOp::Kind::Create;
        else if (p == "lock") op.kind = MutexOp::Kind::Lock;
        else if (p == "unlock") op.kind = MutexOp::Kind::Unlock;
        else if (p == "destroy") op.kind = MutexOp::Kind::Destroy;
        else if (p.rfind("loop:", 0) == 0 && parseNumber(p.substr(5), op.count)) op.kind = MutexOp::Kind::Loop;
        else return false;
        out.push_back(op);
    }
    return true;
}

bool parseSmall(const std::string& text, unsigned max, unsigned& out) {
    CK_ULONG v;
    if (!parseNumber(text, v) || v > max) return false;
    out = static_cast<unsigned>(v);
    return true;
}

bool parseFlag(const std::string& text, bool& out) {
    if (text != "0" && text != "1") return false;
    out = text == "1";
    return true;
}

/// Parses one key=value pair into `step`; returns false on a bad value or
/// an unknown key (with `error` set).
bool parsePair(const EntryInfo& entry, const std::string& key, const std::string& value, Step& step,
               std::string& error) {
    CK_ULONG n = 0;
    Bytes b;
    std::vector<CK_ULONG> list;
    bool ok = true;
    if (key == "rv") {
        ok = parseNumber(value, n);
        step.rv = n;
    } else if (key == "len") {
        ok = parseLength(value, n);
        step.len = n;
    } else if (key == "out") {
        ok = parseHex(value, b);
        step.out = b;
    } else if (key == "handles") {
        ok = parseList(value, list);
        step.handles = list;
    } else if (key == "handle") {
        ok = parseNumber(value, n);
        step.handle = n;
    } else if (key == "rec") {
        ok = parseHex(value, b);
        step.rec = b;
    } else if (key == "attr") {
        // <type>:<len>:<hex>; an empty len means the length of the bytes.
        const std::vector<std::string> parts = split(value, ':');
        AttrScript a;
        ok = (parts.size() == 2 || parts.size() == 3) && parseNumber(parts[0], a.type) &&
             (parts.size() < 3 || parseHex(parts[2], a.value));
        if (ok) {
            a.lenOfValue = parts[1].empty();
            if (a.lenOfValue) a.len = static_cast<CK_ULONG>(a.value.size());
            else ok = parseLength(parts[1], a.len);
        }
        step.attrs.push_back(a);
    } else if (key == "nested") {
        // <outer type>:<type>:<len>:<hex>, a nested attribute of the last attr= of that type.
        const std::vector<std::string> parts = split(value, ':');
        AttrScript a;
        CK_ULONG outer = 0;
        ok = (parts.size() == 3 || parts.size() == 4) && parseNumber(parts[0], outer) &&
             parseNumber(parts[1], a.type) && (parts.size() < 4 || parseHex(parts[3], a.value));
        if (ok) {
            if (parts[2].empty()) a.len = static_cast<CK_ULONG>(a.value.size());
            else ok = parseLength(parts[2], a.len);
        }
        auto it = std::find_if(step.attrs.rbegin(), step.attrs.rend(),
                               [&](const AttrScript& s) { return s.type == outer; });
        if (ok && it == step.attrs.rend()) {
            error = "nested= names no attr= of type " + parts[0];
            return false;
        }
        if (ok) it->nested.push_back(a);
    } else if (key == "deep") {
        ok = parseFlag(value, step.deep);
    } else if (key == "notify") {
        ok = parseList(value, list) && !list.empty();
        step.notify.insert(step.notify.end(), list.begin(), list.end());
    } else if (key == "session") {
        ok = parseNumber(value, n);
        step.session = n;
    } else if (key == "late") {
        ok = parseFlag(value, step.late);
    } else if (key == "mutex") {
        ok = parseMutexOps(value, step.mutex);
    } else if (key == "thread") {
        ok = value == "native" || value == "caller";
        step.nativeThread = value == "native";
    } else if (key == "threads") {
        ok = parseSmall(value, 64, step.threads) && step.threads >= 1;
        if (step.threads > 1) step.nativeThread = true;
    } else if (key == "async") {
        ok = parseFlag(value, step.async);
        if (step.async) step.nativeThread = true;
    } else if (key == "sleep") {
        ok = parseSmall(value, 60000, step.sleepMs);
    } else if (key == "times") {
        ok = parseSmall(value, 1000000, step.times) && step.times >= 1;
    } else if (key == "nowrite") {
        ok = parseFlag(value, step.nowrite);
    } else if (key == "write") {
        // <field>:<hex>, into the buffer that field of the decode= structure points to.
        const std::size_t colon = value.find(':');
        ok = colon != std::string::npos && colon > 0 && parseHex(value.substr(colon + 1), b);
        step.writes.emplace_back(value.substr(0, colon), b);
    } else if (key == "listVersion" && std::strcmp(entry.name, "C_GetInterface") == 0) {
        const std::vector<std::string> parts = split(value, '.');
        CK_ULONG major = 0, minor = 0;
        ok = parts.size() == 2 && parseNumber(parts[0], major) && parseNumber(parts[1], minor) && major < 256 &&
             minor < 256;
        step.listVersion = CK_VERSION{static_cast<CK_BYTE>(major), static_cast<CK_BYTE>(minor)};
    } else if (key == "null" && (std::strcmp(entry.name, "C_GetFunctionList") == 0 ||
                                 std::strcmp(entry.name, "C_GetInterface") == 0)) {
        ok = parseFlag(value, step.nullList);
    } else if (key == "writeThroughNull" && std::strcmp(entry.name, "C_GetInterfaceList") == 0) {
        ok = parseFlag(value, step.writeThroughNull);
    } else if (key == "nullEntries" && std::strcmp(entry.name, "C_GetFunctionList") == 0) {
        // Names of entries that the handed-out list leaves NULL, comma-separated.
        for (const std::string& name : split(value, ',')) {
            ok = ok && findEntry(name) != nullptr;
            step.nullEntries.push_back(name);
        }
    } else if (key == "param") {
        const std::size_t colon = value.find(':');
        ParamWrite w;
        ok = colon != std::string::npos && parseNumber(value.substr(0, colon), w.offset) &&
             parseHex(value.substr(colon + 1), w.bytes);
        step.param.push_back(w);
    } else if (key == "pbeIv") {
        ok = parseHex(value, b);
        step.pbeIv = b;
    } else if (key == "sslVersion") {
        const std::vector<std::string> parts = split(value, '.');
        CK_ULONG major = 0, minor = 0;
        ok = parts.size() == 2 && parseNumber(parts[0], major) && parseNumber(parts[1], minor) && major < 256 &&
             minor < 256;
        step.sslVersion = std::make_pair(static_cast<CK_BYTE>(major), static_cast<CK_BYTE>(minor));
    } else if (key == "sslKeyMat") {
        ok = parseList(value, list) && list.size() == 4;
        step.sslKeyMat = list;
    } else if (key == "sslIvClient") {
        ok = parseHex(value, b);
        step.sslIvClient = b;
    } else if (key == "sslIvServer") {
        ok = parseHex(value, b);
        step.sslIvServer = b;
    } else if (key == "oaepBC") {
        ok = parseNumber(value, n) && n < 256;
        step.oaepBC = static_cast<CK_BYTE>(n);
    } else if (key == "oaepX") {
        ok = parseHex(value, b);
        step.oaepX = b;
    } else if (key == "sp800Keys") {
        ok = parseList(value, list);
        step.sp800Keys = list;
    } else if (key == "decode") {
        ok = knownParameterStruct(value);
        step.decode = value;
    } else if (const Field* f = findField(entry.record, key)) {
        FieldSet set;
        set.name = key;
        set.isText = f->kind == Field::Kind::Text;
        ok = set.isText ? parseText(value, set.text) && set.text.size() <= f->size
                        : parseNumber(value, set.number) && (f->kind != Field::Kind::Byte || set.number < 256);
        step.fields.push_back(set);
    } else {
        error = "unknown key '" + key + "' for " + entry.name;
        return false;
    }
    if (!ok) error = "bad value for " + key + ": '" + value + "'";
    return ok;
}

std::string numberText(std::size_t n) { return std::to_string(n); }

}  // namespace

State& state() {
    // Created on first use and never destroyed: threads of the module and
    // callers at process exit always find it.
    static State* s = [] {
        auto* created = new State;
        resetLocked(*created);
        return created;
    }();
    return *s;
}

const EntryInfo* findEntry(const std::string& name) {
    for (const EntryInfo& e : entries)
        if (name == e.name) return &e;
    return nullptr;
}

std::optional<Step> parseStep(const EntryInfo& entry, const std::string& text, std::string& error) {
    Step step;
    std::istringstream in(text);
    std::string token;
    while (in >> token) {
        const std::size_t eq = token.find('=');
        if (eq == std::string::npos || eq == 0) {
            error = "expected key=value, got '" + token + "'";
            return std::nullopt;
        }
        if (!parsePair(entry, token.substr(0, eq), token.substr(eq + 1), step, error)) return std::nullopt;
    }
    return step;
}

void resetLocked(State& s) {
    s.scripts.clear();
    for (const EntryInfo& e : entries) {
        Step fallback;
        if (e.defaultRv != CKR_OK) fallback.rv = e.defaultRv;
        s.scripts[e.name].fallback = fallback;
    }
    s.record.clear();
    s.counts.clear();
    s.sessions.clear();
    s.closed.clear();
    s.pools.clear();
    s.nextSession = 1;
    s.nextObject = 100;
    s.initArgs = InitArgs{};
    s.lastMutex = nullptr;
    s.interfaces = {{true, {1, 0}, 0}, {false, {3, 0}, 0}, {false, {2, 40}, 0}};
}

std::string command(const std::string& text) {
    std::istringstream in(text);
    std::string verb;
    in >> verb;
    State& s = state();

    if (verb == "reset" || verb == "join") {
        // Join first: reset must not drop a running thread, and a callback
        // thread may itself need the lock.
        for (;;) {
            joinAsync();
            std::lock_guard<std::mutex> lock(s.mutex);
            if (!s.asyncThreads.empty()) continue;
            if (verb == "reset") resetLocked(s);
            return "ok";
        }
    }
    if (verb == "clear") {
        std::lock_guard<std::mutex> lock(s.mutex);
        s.record.clear();
        s.counts.clear();
        return "ok";
    }
    if (verb == "calls") {
        std::lock_guard<std::mutex> lock(s.mutex);
        std::string out;
        for (const std::string& line : s.record) {
            out += line;
            out += '\n';
        }
        return out;
    }
    if (verb == "tid") return std::to_string(threadId());
    if (verb == "interfaces") {
        std::string spec;
        in >> spec;
        std::vector<InterfaceSpec> parsed;
        if (!parseInterfaces(spec, parsed)) return "error: bad interfaces '" + spec + "'";
        std::lock_guard<std::mutex> lock(s.mutex);
        s.interfaces = std::move(parsed);
        return "ok";
    }
    if (verb == "sessions") {
        std::lock_guard<std::mutex> lock(s.mutex);
        std::string out;
        for (const auto& [handle, session] : s.sessions) {
            out += std::to_string(handle) + " slot=" + std::to_string(session.slot) +
                   " flags=" + std::to_string(session.flags) +
                   " pApplication=" + (session.application ? "ptr" : "null") +
                   " Notify=" + (session.notify ? "ptr" : "null") + '\n';
        }
        return out;
    }

    std::string fn;
    in >> fn;
    if (verb == "count") {
        if (fn != "callback" && findEntry(fn) == nullptr) return "error: unknown function '" + fn + "'";
        std::lock_guard<std::mutex> lock(s.mutex);
        const auto it = s.counts.find(fn);
        return numberText(it == s.counts.end() ? 0 : it->second);
    }
    if (verb == "script" || verb == "default") {
        const EntryInfo* entry = findEntry(fn);
        if (entry == nullptr) return "error: unknown function '" + fn + "'";
        std::string rest;
        std::getline(in, rest);
        std::string error;
        std::optional<Step> step = parseStep(*entry, rest, error);
        if (!step) return "error: " + error;
        std::lock_guard<std::mutex> lock(s.mutex);
        EntryScript& script = s.scripts[fn];
        if (verb == "script") script.queue.push_back(std::move(*step));
        else script.fallback = std::move(*step);
        return "ok";
    }
    if (verb.empty()) return "error: empty command";
    return "error: unknown command '" + verb + "'";
}

}  // namespace vtm

VTM_EXPORT char* vorlen_testmodule_command(const char* command) {
    std::string answer;
    try {
        answer = command ? vtm::command(command) : std::string("error: null command");
    } catch (const std::exception& e) {
        answer = std::string("error: ") + e.what();
    }
    auto* out = static_cast<char*>(std::malloc(answer.size() + 1));
    if (out != nullptr) std::memcpy(out, answer.c_str(), answer.size() + 1);
    return out;
}

VTM_EXPORT void vorlen_testmodule_free(char* answer) { std::free(answer); }
