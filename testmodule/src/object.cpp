// Object management entries. C_FindObjectsInit takes the handles that the
// search will return from its step (`handles=`); C_FindObjects hands them
// out up to the caller's maximum.
#include "entries.hpp"

#include <algorithm>
#include <cstring>

namespace vtm::entry {

CK_RV C_CreateObject(CK_SESSION_HANDLE hSession, CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount,
                     CK_OBJECT_HANDLE_PTR phObject) {
    Call c("C_CreateObject", hSession);
    c.tmpl("pTemplate", pTemplate, ulCount).scalar("ulCount", ulCount);
    c.pointer("phObject", phObject).require(phObject);
    c.outHandle(phObject, newObjectHandle(c.step()));
    return c.finish();
}

CK_RV C_CopyObject(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject, CK_ATTRIBUTE_PTR pTemplate,
                   CK_ULONG ulCount, CK_OBJECT_HANDLE_PTR phNewObject) {
    Call c("C_CopyObject", hSession);
    c.scalar("hObject", hObject).tmpl("pTemplate", pTemplate, ulCount);
    c.scalar("ulCount", ulCount).pointer("phNewObject", phNewObject).require(phNewObject);
    c.outHandle(phNewObject, newObjectHandle(c.step()));
    return c.finish();
}

CK_RV C_DestroyObject(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject) {
    return Call("C_DestroyObject", hSession).scalar("hObject", hObject).finish();
}

CK_RV C_GetObjectSize(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject, CK_ULONG_PTR pulSize) {
    Call c("C_GetObjectSize", hSession);
    c.scalar("hObject", hObject).pointer("pulSize", pulSize).require(pulSize);
    c.outHandle(pulSize, c.step().len.value_or(128));
    return c.finish();
}

namespace {

// A value into the caller's attribute: the scripted length, and the bytes into its buffer, never beyond the
// stated room (with too little room: CK_UNAVAILABLE_INFORMATION and CKR_BUFFER_TOO_SMALL, unless rv= is scripted).
void answerValue(Call& c, CK_ATTRIBUTE& a, const AttrScript& script) {
    if (a.pValue != nullptr) {
        const CK_ULONG room = a.ulValueLen;
        if (script.value.size() > room && !c.step().rv) {
            a.ulValueLen = CK_UNAVAILABLE_INFORMATION;
            c.autoRv(CKR_BUFFER_TOO_SMALL);
            return;
        }
        const std::size_t n = std::min<std::size_t>(script.value.size(), room);
        if (n) std::memcpy(a.pValue, script.value.data(), n);
    }
    a.ulValueLen = script.len;
}

// An attribute holding nested attributes, with the standard's nested length protocol: without a
// buffer, the length of the records; with one, the nested types and lengths into the records, and
// each nested value into the buffer a record points to (never beyond its stated room).
void answerNested(Call& c, CK_ATTRIBUTE& a, const AttrScript& script) {
    const std::size_t n = script.nested.size();
    const CK_ULONG bytes = static_cast<CK_ULONG>(n * sizeof(CK_ATTRIBUTE));
    const CK_ULONG reported = script.lenOfValue ? bytes : script.len;
    if (a.pValue == nullptr) {
        a.ulValueLen = reported;
        return;
    }
    const CK_ULONG capacity = a.ulValueLen;
    if (capacity < bytes && !c.step().rv) {
        a.ulValueLen = CK_UNAVAILABLE_INFORMATION;
        c.autoRv(CKR_BUFFER_TOO_SMALL);
        return;
    }
    auto* records = static_cast<CK_ATTRIBUTE*>(a.pValue);
    const std::size_t m = std::min<std::size_t>(n, capacity / sizeof(CK_ATTRIBUTE));
    for (std::size_t j = 0; j < m; ++j) {
        records[j].type = script.nested[j].type;
        answerValue(c, records[j], script.nested[j]);
    }
    a.ulValueLen = reported;
}

}  // namespace

CK_RV C_GetAttributeValue(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject, CK_ATTRIBUTE_PTR pTemplate,
                          CK_ULONG ulCount) {
    Call c("C_GetAttributeValue", hSession);
    // Value pointers are outputs here: recorded as ptr/null, never read.
    c.scalar("hObject", hObject).tmpl("pTemplate", pTemplate, ulCount, false);
    c.scalar("ulCount", ulCount);
    if (ulCount > 0) c.require(pTemplate);
    if (c.writes()) {
        const std::vector<AttrScript>& scripted = c.step().attrs;
        for (CK_ULONG i = 0; i < ulCount; ++i) {
            CK_ATTRIBUTE& a = pTemplate[i];
            // The last script line for a type wins.
            const auto it = std::find_if(scripted.rbegin(), scripted.rend(),
                                         [&](const AttrScript& s) { return s.type == a.type; });
            if (it == scripted.rend()) {
                a.ulValueLen = CK_UNAVAILABLE_INFORMATION;
                c.autoRv(CKR_ATTRIBUTE_TYPE_INVALID);
                continue;
            }
            if (it->nested.empty()) answerValue(c, a, *it);
            else answerNested(c, a, *it);
        }
    }
    return c.finish();
}

CK_RV C_SetAttributeValue(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject, CK_ATTRIBUTE_PTR pTemplate,
                          CK_ULONG ulCount) {
    Call c("C_SetAttributeValue", hSession);
    c.scalar("hObject", hObject).tmpl("pTemplate", pTemplate, ulCount);
    c.scalar("ulCount", ulCount);
    return c.finish();
}

CK_RV C_FindObjectsInit(CK_SESSION_HANDLE hSession, CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount) {
    Call c("C_FindObjectsInit", hSession);
    c.tmpl("pTemplate", pTemplate, ulCount).scalar("ulCount", ulCount);
    if (c.result() == CKR_OK) withState([&](State& s) {
        const std::vector<CK_ULONG> found = c.step().handles.value_or(std::vector<CK_ULONG>{});
        s.pools[hSession].assign(found.begin(), found.end());
    });
    return c.finish();
}

CK_RV C_FindObjects(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE_PTR phObject, CK_ULONG ulMaxObjectCount,
                    CK_ULONG_PTR pulObjectCount) {
    Call c("C_FindObjects", hSession);
    c.pointer("phObject", phObject).scalar("ulMaxObjectCount", ulMaxObjectCount);
    c.pointer("pulObjectCount", pulObjectCount).require(phObject).require(pulObjectCount);
    if (c.writes()) {
        std::vector<CK_OBJECT_HANDLE> found;
        if (c.step().handles) {
            found = *c.step().handles;
            if (found.size() > ulMaxObjectCount) found.resize(ulMaxObjectCount);
        } else {
            withState([&](State& s) {
                std::deque<CK_OBJECT_HANDLE>& pool = s.pools[hSession];
                while (!pool.empty() && found.size() < ulMaxObjectCount) {
                    found.push_back(pool.front());
                    pool.pop_front();
                }
            });
        }
        if (!found.empty()) std::memcpy(phObject, found.data(), found.size() * sizeof(CK_OBJECT_HANDLE));
        *pulObjectCount = c.step().len.value_or(static_cast<CK_ULONG>(found.size()));
    }
    return c.finish();
}

CK_RV C_FindObjectsFinal(CK_SESSION_HANDLE hSession) {
    Call c("C_FindObjectsFinal", hSession);
    if (c.result() == CKR_OK) withState([&](State& s) { s.pools.erase(hSession); });
    return c.finish();
}

}  // namespace vtm::entry
