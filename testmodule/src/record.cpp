// Recording of calls: the Call helper's argument recorders and the
// formatting shared by the record.
#include "entries.hpp"
#include "framework.hpp"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include <sys/syscall.h>
#include <unistd.h>

namespace vtm {

namespace {

std::string decimal(CK_ULONG v) { return std::to_string(v); }

/// Lowercase hex of `n` bytes.
std::string hex(const void* data, std::size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    s.reserve(2 * n);
    const auto* p = static_cast<const std::uint8_t*>(data);
    for (std::size_t i = 0; i < n; ++i) {
        s.push_back(digits[p[i] >> 4]);
        s.push_back(digits[p[i] & 0x0f]);
    }
    return s;
}

}  // namespace

unsigned long threadId() { return static_cast<unsigned long>(::syscall(SYS_gettid)); }

Bytes pattern(std::size_t n) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(i);
    return b;
}

Bytes echo(const CK_BYTE* in, CK_ULONG len) {
    constexpr CK_ULONG kMaxEcho = 16u << 20;
    if (in == nullptr) return {};
    return Bytes(in, in + std::min(len, kMaxEcho));
}

CK_RV initialise(const char* fn, CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,
                 const CK_OBJECT_HANDLE* hKey) {
    Call c(fn, hSession);
    c.mechanism(pMechanism).require(pMechanism);
    if (hKey) c.scalar("hKey", *hKey);
    return c.finish();
}

Call::Call(const char* fn) : fn_(fn) {
    withState([&](State& s) {
        EntryScript& script = s.scripts[fn_];
        if (script.queue.empty()) {
            step_ = script.fallback;
        } else if (script.queue.front().times > 1) {
            step_ = script.queue.front();
            --script.queue.front().times;
        } else {
            step_ = std::move(script.queue.front());
            script.queue.pop_front();
        }
    });
    line_ = fn_ + " thread=" + std::to_string(threadId());
}

Call::Call(const char* fn, CK_SESSION_HANDLE hSession) : Call(fn) {
    scalar("hSession", hSession);
    notifyTarget_ = hSession;
}

Call& Call::raw(const char* key, const std::string& value) {
    line_.append(" ").append(key).append("=").append(value);
    return *this;
}

Call& Call::scalar(const char* key, CK_ULONG value) { return raw(key, decimal(value)); }

Call& Call::bytes(const char* key, const void* data, CK_ULONG len) {
    if (data == nullptr) return raw(key, "null");
    const bool truncated = len > kMaxRecordedBytes;
    raw(key, "hex:" + hex(data, truncated ? kMaxRecordedBytes : static_cast<std::size_t>(len)));
    if (truncated) raw((std::string(key) + "Truncated").c_str(), "1");
    return *this;
}

Call& Call::pointer(const char* key, const void* p) { return raw(key, p ? "ptr" : "null"); }

Call& Call::inLen(const char* key, const CK_ULONG* p) {
    return raw(key, p ? decimal(*p) : std::string("null"));
}

Call& Call::tmpl(const char* key, const CK_ATTRIBUTE* t, CK_ULONG count, bool withValues) {
    if (t == nullptr) return raw(key, "null");
    const bool truncated = count > kMaxRecordedAttributes;
    const CK_ULONG n = truncated ? kMaxRecordedAttributes : count;
    // An entry's value: null, ptr (an output, or too long to read) or its bytes.
    const auto value = [](const CK_ATTRIBUTE& a, bool read) {
        if (a.pValue == nullptr) return std::string("null");
        if (!read || a.ulValueLen > kMaxRecordedBytes) return std::string("ptr");
        return hex(a.pValue, static_cast<std::size_t>(a.ulValueLen));
    };
    std::string v = "[";
    for (CK_ULONG i = 0; i < n; ++i) {
        if (i) v += ';';
        v += decimal(t[i].type) + ':' + decimal(t[i].ulValueLen) + ':';
        if (t[i].pValue != nullptr && holdsNestedAttributes(t[i].type) &&
            t[i].ulValueLen % sizeof(CK_ATTRIBUTE) == 0 &&
            t[i].ulValueLen / sizeof(CK_ATTRIBUTE) <= kMaxRecordedAttributes) {
            // The records, which lie within the stated length; their values only with deep=1.
            const auto* inner = static_cast<const CK_ATTRIBUTE*>(t[i].pValue);
            v += '{';
            for (CK_ULONG j = 0; j < t[i].ulValueLen / sizeof(CK_ATTRIBUTE); ++j) {
                if (j) v += ',';
                v += decimal(inner[j].type) + ':' + decimal(inner[j].ulValueLen) + ':' +
                     value(inner[j], withValues && step_.deep);
            }
            v += '}';
        } else {
            v += value(t[i], withValues);
        }
    }
    v += ']';
    raw(key, v);
    if (truncated) raw((std::string(key) + "Truncated").c_str(), "1");
    return *this;
}

Call& Call::mechanism(const CK_MECHANISM* m) {
    if (m == nullptr) return raw("pMechanism", "null");
    scalar("mechanism", m->mechanism);
    bytes("pParameter", m->pParameter, m->ulParameterLen);
    scalar("ulParameterLen", m->ulParameterLen);
    if (step_.decode) decodeParameter(*this, *step_.decode, *m);
    return *this;
}

Call& Call::require(const void* p) {
    if (p == nullptr) bad_ = true;
    return *this;
}

CK_RV Call::finish() {
    const CK_RV rv = result();
    line_ += " rv=" + decimal(rv);
    withState([&](State& s) {
        s.record.push_back(std::move(line_));
        ++s.counts[fn_];
    });
    std::optional<CK_SESSION_HANDLE> target = step_.session ? step_.session : notifyTarget_;
    std::optional<Session> data = step_.session ? std::nullopt : notifyData_;
    runCallbacks(fn_, step_, target, data);
    return rv;
}

}  // namespace vtm
