// The control side of the module: the entry registry, the parser of steps and
// the command language, and the two exported control functions.
#include "framework.hpp"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <sstream>
#include <string_view>

namespace vtm {

namespace {

/// Description of one entry of the function list.
struct EntryInfo {
    const char* name;
    RecordKind record;
    CK_RV defaultRv;  ///< rv of the built-in default step
};

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

/// The entry named `name`, or nullptr.
const EntryInfo* findEntry(const std::string& name) {
    for (const EntryInfo& e : entries)
        if (name == e.name) return &e;
    return nullptr;
}

/// Parses an unsigned decimal or 0x-hex number that fits a CK_ULONG.
bool parseNumber(const std::string& text, CK_ULONG& out) {
    const bool isHex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const char* begin = text.data() + (isHex ? 2 : 0);
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(begin, end, out, isHex ? 16 : 10);
    return error == std::errc() && stop == end;
}

bool parseHex(const std::string& text, Bytes& out) {
    if (text.size() % 2) return false;
    out.assign(text.size() / 2, 0);
    for (std::size_t i = 0; i < out.size(); ++i) {
        const char* digits = text.data() + 2 * i;
        if (std::from_chars(digits, digits + 2, out[i], 16).ptr != digits + 2) return false;
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

/// A version major.minor, each part below 256.
bool parseVersion(const std::string& text, CK_BYTE& major, CK_BYTE& minor) {
    const std::vector<std::string> parts = split(text, '.');
    CK_ULONG ma = 0, mi = 0;
    if (parts.size() != 2 || !parseNumber(parts[0], ma) || !parseNumber(parts[1], mi) || ma > 255 || mi > 255)
        return false;
    major = static_cast<CK_BYTE>(ma);
    minor = static_cast<CK_BYTE>(mi);
    return true;
}

/// An attribute of a step: attr=<type>:<len>:<hex>, and nested=<outer type>:<type>:<len>:<hex> for
/// a nested attribute of the last attr= of that type. An empty len means the length of the bytes.
bool parseAttr(const std::vector<std::string>& parts, AttrScript& a) {
    if (!parseNumber(parts[0], a.type) || (parts.size() == 3 && !parseHex(parts[2], a.value))) return false;
    a.lenOfValue = parts[1].empty();
    if (a.lenOfValue) {
        a.len = static_cast<CK_ULONG>(a.value.size());
        return true;
    }
    return parseLength(parts[1], a.len);
}

bool parseNested(const std::string& value, Step& step, std::string& error) {
    const std::vector<std::string> parts = split(value, ':');
    CK_ULONG outer = 0;
    AttrScript a;
    if ((parts.size() != 3 && parts.size() != 4) || !parseNumber(parts[0], outer) ||
        !parseAttr({parts.begin() + 1, parts.end()}, a))
        return false;
    const auto it = std::find_if(step.attrs.rbegin(), step.attrs.rend(),
                                 [&](const AttrScript& s) { return s.type == outer; });
    if (it == step.attrs.rend()) {
        error = "nested= names no attr= of type " + parts[0];
        return false;
    }
    it->nested.push_back(a);
    return true;
}

/// The keys whose value is of one plain kind, by the member of the step it sets.
const std::pair<std::string_view, std::optional<CK_ULONG> Step::*> numberKeys[] = {
    {"rv", &Step::rv}, {"handle", &Step::handle}, {"session", &Step::session}};
const std::pair<std::string_view, std::optional<Bytes> Step::*> hexKeys[] = {
    {"out", &Step::out},     {"rec", &Step::rec},       {"pbeIv", &Step::pbeIv},
    {"oaepX", &Step::oaepX}, {"sslIvClient", &Step::sslIvClient}, {"sslIvServer", &Step::sslIvServer}};
const std::pair<std::string_view, std::optional<std::vector<CK_ULONG>> Step::*> listKeys[] = {
    {"handles", &Step::handles}, {"sp800Keys", &Step::sp800Keys}};
const std::pair<std::string_view, bool Step::*> flagKeys[] = {
    {"deep", &Step::deep}, {"late", &Step::late}, {"nowrite", &Step::nowrite}};

/// Sets the member of the row that `key` names, if any, from `value` read by `parse`.
template <typename Row, typename T>
bool setPlain(const Row& rows, const std::string& key, const std::string& value, Step& step, bool& ok,
              bool (*parse)(const std::string&, T&)) {
    for (const auto& [name, member] : rows) {
        if (name != key) continue;
        T parsed{};
        ok = parse(value, parsed);
        step.*member = parsed;
        return true;
    }
    return false;
}

/// Every other key: the entries it is for (none named: every entry) and how its value sets the
/// step. A setter that fails without an error of its own is a bad value.
struct KeyRule {
    std::string_view key;
    std::string_view onlyFor[2];
    bool (*set)(const std::string& value, Step& step, std::string& error);
};

using V = const std::string&;
using E = std::string&;

const KeyRule keyRules[] = {
    {"len", {}, [](V v, Step& s, E) { return parseLength(v, s.len.emplace()); }},
    {"attr", {}, [](V v, Step& s, E) {
         const std::vector<std::string> parts = split(v, ':');
         return (parts.size() == 2 || parts.size() == 3) && parseAttr(parts, s.attrs.emplace_back());
     }},
    {"nested", {}, parseNested},
    {"notify", {}, [](V v, Step& s, E) {
         std::vector<CK_ULONG> list;
         if (!parseList(v, list) || list.empty()) return false;
         s.notify.insert(s.notify.end(), list.begin(), list.end());
         return true;
     }},
    {"mutex", {}, [](V v, Step& s, E) { return parseMutexOps(v, s.mutex); }},
    {"thread", {}, [](V v, Step& s, E) {
         s.nativeThread = v == "native";
         return s.nativeThread || v == "caller";
     }},
    // More than one thread, or an asynchronous call, runs on native threads.
    {"threads", {}, [](V v, Step& s, E) {
         const bool ok = parseSmall(v, 64, s.threads) && s.threads >= 1;
         s.nativeThread = s.nativeThread || s.threads > 1;
         return ok;
     }},
    {"async", {}, [](V v, Step& s, E) {
         const bool ok = parseFlag(v, s.async);
         s.nativeThread = s.nativeThread || s.async;
         return ok;
     }},
    {"sleep", {}, [](V v, Step& s, E) { return parseSmall(v, 60000, s.sleepMs); }},
    {"times", {}, [](V v, Step& s, E) { return parseSmall(v, 1000000, s.times) && s.times >= 1; }},
    // <field>:<hex>, into the buffer that field of the decode= structure points to.
    {"write", {}, [](V v, Step& s, E) {
         const std::size_t colon = v.find(':');
         Bytes& bytes = s.writes.emplace_back(v.substr(0, colon), Bytes{}).second;
         return colon != std::string::npos && colon > 0 && parseHex(v.substr(colon + 1), bytes);
     }},
    {"listVersion", {"C_GetInterface"}, [](V v, Step& s, E) {
         CK_VERSION& version = s.listVersion.emplace();
         return parseVersion(v, version.major, version.minor);
     }},
    {"null", {"C_GetFunctionList", "C_GetInterface"}, [](V v, Step& s, E) { return parseFlag(v, s.nullList); }},
    {"writeThroughNull", {"C_GetInterfaceList"}, [](V v, Step& s, E) { return parseFlag(v, s.writeThroughNull); }},
    // Names of entries that the handed-out list leaves NULL, comma-separated.
    {"nullEntries", {"C_GetFunctionList"}, [](V v, Step& s, E) {
         const std::vector<std::string> names = split(v, ',');
         s.nullEntries.insert(s.nullEntries.end(), names.begin(), names.end());
         return std::all_of(names.begin(), names.end(), [](V name) { return findEntry(name) != nullptr; });
     }},
    {"param", {}, [](V v, Step& s, E) {
         const std::size_t colon = v.find(':');
         ParamWrite& w = s.param.emplace_back();
         return colon != std::string::npos && parseNumber(v.substr(0, colon), w.offset) &&
                parseHex(v.substr(colon + 1), w.bytes);
     }},
    {"sslVersion", {}, [](V v, Step& s, E) {
         auto& [major, minor] = s.sslVersion.emplace();
         return parseVersion(v, major, minor);
     }},
    {"sslKeyMat", {}, [](V v, Step& s, E) { return parseList(v, s.sslKeyMat.emplace()) && s.sslKeyMat->size() == 4; }},
    {"oaepBC", {}, [](V v, Step& s, E) {
         CK_ULONG n = 0;
         const bool ok = parseNumber(v, n) && n < 256;
         s.oaepBC = static_cast<CK_BYTE>(n);
         return ok;
     }},
    {"decode", {}, [](V v, Step& s, E) { return knownParameterStruct(s.decode.emplace(v)); }},
};

/// Parses one key=value pair into `step`: a key of the tables above, else a field of the entry's
/// record. Returns false on a bad value or an unknown key (with `error` set).
bool parsePair(const EntryInfo& entry, const std::string& key, const std::string& value, Step& step,
               std::string& error) {
    bool ok = false;
    std::string own;
    const KeyRule* rule = std::find_if(std::begin(keyRules), std::end(keyRules), [&](const KeyRule& r) {
        return r.key == key && (r.onlyFor[0].empty() || r.onlyFor[0] == entry.name || r.onlyFor[1] == entry.name);
    });
    const bool plain =
            setPlain(numberKeys, key, value, step, ok, parseNumber) || setPlain(hexKeys, key, value, step, ok, parseHex) ||
            setPlain(listKeys, key, value, step, ok, parseList) || setPlain(flagKeys, key, value, step, ok, parseFlag);
    if (plain) {
        // set above
    } else if (rule != std::end(keyRules)) {
        ok = rule->set(value, step, own);
    } else if (const Field* f = findField(entry.record, key)) {
        FieldSet& set = step.fields.emplace_back();
        set.name = key;
        set.isText = f->kind == Field::Kind::Text;
        ok = set.isText ? parseText(value, set.text) && set.text.size() <= f->size
                        : parseNumber(value, set.number) && (f->kind != Field::Kind::Byte || set.number < 256);
    } else {
        error = "unknown key '" + key + "' for " + entry.name;
        return false;
    }
    if (!ok) error = own.empty() ? "bad value for " + key + ": '" + value + "'" : own;
    return ok;
}

/// Parses a step for the entry `entry`; on failure returns nullopt and sets `error`.
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

/// Restores every built-in default and clears queues, record, sessions and counters. Called with
/// the state lock held; async threads are joined by the caller before.
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

/// Answers one control command.
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
        for (const std::string& line : s.record) out += line + '\n';
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
        return std::to_string(it == s.counts.end() ? 0 : it->second);
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
