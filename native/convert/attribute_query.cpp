// C_GetAttributeValue's two and three calls: the buffers offered to the module, and the values
// it wrote read back into the caller's Java template.
#include <cstdio>

#include "convert/attribute_kinds.h"
#include "convert/attribute_query.h"
#include "convert/convert.h"
#include "convert/convert_cache.h"
#include "core/exceptions.h"

namespace vorlen {

namespace {

// An attribute that allocateValues gave no buffer.
constexpr CK_ULONG kNoBuffer = CK_UNAVAILABLE_INFORMATION;
constexpr std::size_t kValueAlign = alignof(CK_ULONG);

std::size_t alignUp(std::size_t offset) { return (offset + kValueAlign - 1) / kValueAlign * kValueAlign; }

bool isReported(CK_ULONG length) { return length != CK_UNAVAILABLE_INFORMATION; }

}  // namespace

AttributeQuery::~AttributeQuery() {
    // The values belong to values_, not to the template: the pointers go before it frees them.
    for (CK_ULONG i = 0; i < attributes_.count(); ++i) {
        attributes_[i].pValue = nullptr;
    }
}

bool AttributeQuery::readTypes(JNIEnv* env, jobjectArray array) {
    // Two references per attribute read (its element and value), two stored (its new value and
    // CK_ATTRIBUTE), and a few for a nested array's conversion and a failure's exception.
    KeptReferences keep{16, 4, 8};
    const bool read = toCkAttributeTypes(env, array, attributes_, &keep);
    referencesKept_ = keep.kept;
    return read;
}

bool AttributeQuery::allocateValues(JNIEnv* env) {
    const CK_ULONG count = attributes_.count();
    if (!slots_.allocate(env, count, "no room for a template")) {
        return false;
    }
    std::size_t total = 0;
    for (CK_ULONG i = 0; i < count; ++i) {
        const CK_ULONG length = attributes_[i].ulValueLen;
        Slot& slot = slots_[i];
        slot.first = length;
        slot.capacity = length <= kMaxJavaArrayLength ? length : kNoBuffer;
        if (slot.capacity == kNoBuffer) {
            continue;
        }
        if (kindOf(attributes_[i].type) == ValueKind::Attributes) {
            if (length % sizeof(CK_ATTRIBUTE) != 0) {
                slot.state = Slot::NotRecords;  // no buffer: a module could not fill it soundly
                slot.capacity = kNoBuffer;
                continue;
            }
            slot.state = Slot::Records;  // zero-filled records: the second call asks for lengths
        }
        if (total > static_cast<std::size_t>(-1) - length - kValueAlign) {
            throwOutOfMemory(env, "the attribute values are too long to hold");
            return false;
        }
        total = alignUp(total) + length;
    }
    if (!values_.allocate(env, total, "no room for the attribute values")) {
        return false;
    }
    std::size_t offset = 0;
    for (CK_ULONG i = 0; i < count; ++i) {
        Slot& slot = slots_[i];
        if (slot.capacity == kNoBuffer) {
            continue;
        }
        offset = alignUp(offset);
        slot.buffer = values_.data() + offset;
        attributes_[i].pValue = slot.buffer;
        offset += slot.capacity;
    }
    return true;
}

bool AttributeQuery::allocateNestedValues(JNIEnv* env, bool& thirdCall) {
    thirdCall = false;
    const CK_ULONG count = attributes_.count();
    std::size_t records = 0;
    for (CK_ULONG i = 0; i < count; ++i) {
        Slot& slot = slots_[i];
        if (slot.state != Slot::Records) {
            continue;
        }
        if (attributes_[i].ulValueLen != slot.capacity) {
            slot.state = Slot::CountChanged;  // not read: the records may describe another array
            slot.first = slot.capacity;
            slot.second = attributes_[i].ulValueLen;
            continue;
        }
        slot.nestedFirst = records;
        records += slot.capacity / sizeof(CK_ATTRIBUTE);
    }
    if (records == 0) {
        return true;
    }
    if (!nested_.allocate(env, records, "no room for nested attributes")) {
        return false;
    }
    // The lengths the second call reported, read from the records this library gave.
    std::size_t total = 0;
    for (CK_ULONG i = 0; i < count; ++i) {
        const Slot& slot = slots_[i];
        if (slot.state != Slot::Records) {
            continue;
        }
        const auto* inner = static_cast<const CK_ATTRIBUTE*>(slot.buffer);
        for (std::size_t j = 0; j < slot.capacity / sizeof(CK_ATTRIBUTE); ++j) {
            const CK_ULONG length = inner[j].ulValueLen;
            NestedSlot& nested = nested_[slot.nestedFirst + j];
            nested.capacity = length <= kMaxJavaArrayLength ? length : kNoBuffer;
            if (nested.capacity == kNoBuffer) {
                continue;
            }
            if (total > static_cast<std::size_t>(-1) - length - kValueAlign) {
                throwOutOfMemory(env, "the nested attribute values are too long to hold");
                return false;
            }
            total = alignUp(total) + length;
        }
    }
    if (!nestedValues_.allocate(env, total, "no room for the nested attribute values")) {
        return false;
    }
    std::size_t offset = 0;
    for (CK_ULONG i = 0; i < count; ++i) {
        const Slot& slot = slots_[i];
        if (slot.state != Slot::Records) {
            continue;
        }
        auto* inner = static_cast<CK_ATTRIBUTE*>(slot.buffer);
        for (std::size_t j = 0; j < slot.capacity / sizeof(CK_ATTRIBUTE); ++j) {
            NestedSlot& nested = nested_[slot.nestedFirst + j];
            if (nested.capacity != kNoBuffer) {
                offset = alignUp(offset);
                nested.buffer = nestedValues_.data() + offset;
                offset += nested.capacity;
            }
            inner[j].pValue = nested.buffer;
            inner[j].ulValueLen = nested.capacity == kNoBuffer ? inner[j].ulValueLen : nested.capacity;
        }
    }
    // Every buffer is offered again at its full room.
    for (CK_ULONG i = 0; i < count; ++i) {
        const Slot& slot = slots_[i];
        attributes_[i].pValue = slot.state == Slot::CountChanged ? nullptr : slot.buffer;
        if (slot.buffer != nullptr && slot.state != Slot::CountChanged) {
            attributes_[i].ulValueLen = slot.capacity;
        }
    }
    nestedRead_ = true;
    thirdCall = true;
    return true;
}

jobject AttributeQuery::nestedValue(JNIEnv* env, const Slot& slot, CK_ATTRIBUTE_TYPE outer) {
    const auto& c = jni::convert;
    const std::size_t n = slot.capacity / sizeof(CK_ATTRIBUTE);
    LocalRef<jobjectArray> array(env, env->NewObjectArray(static_cast<jsize>(n), c.attribute, nullptr));
    if (!array) {
        return nullptr;
    }
    const auto* inner = static_cast<const CK_ATTRIBUTE*>(slot.buffer);
    for (std::size_t j = 0; j < n; ++j) {
        CK_ATTRIBUTE record = inner[j];
        // Only the buffers this library gave are read, whatever pointer the module left.
        record.pValue = nullptr;
        if (nestedRead_) {
            const NestedSlot& nested = nested_[slot.nestedFirst + j];
            record.pValue = nested.buffer;
            if (nested.buffer != nullptr && isReported(record.ulValueLen) &&
                record.ulValueLen > nested.capacity) {
                noteFault(Fault::NestedOverrun, outer, record.ulValueLen, nested.capacity, record.type);
                record.ulValueLen = CK_UNAVAILABLE_INFORMATION;
            }
        }
        LocalRef<jobject> converted(env, toJavaAttribute(env, record));
        if (!converted) {
            return nullptr;
        }
        env->SetObjectArrayElement(array.get(), static_cast<jsize>(j), converted.get());
    }
    return array.release();
}

void AttributeQuery::noteFault(Fault kind, CK_ATTRIBUTE_TYPE type, CK_ULONG reported, CK_ULONG other,
                               CK_ATTRIBUTE_TYPE inner) {
    if (fault_.kind != Fault::None) {
        return;  // the first attribute's fault is reported
    }
    fault_ = FaultNote{kind, type, reported, other, inner};
}

bool AttributeQuery::storeValue(JNIEnv* env, jobjectArray array, CK_ULONG i, jlong* outcomes, jlong unread) {
    CK_ATTRIBUTE record = attributes_[i];
    const Slot& slot = slots_[i];
    record.pValue = slot.buffer;  // only the buffer this library gave is read
    const CK_ULONG reported = record.ulValueLen;
    // What a lenient read reports for this attribute: 0 for a value read.
    jlong outcome = unread;
    if (slot.state == Slot::NotRecords) {
        noteFault(Fault::NotRecords, record.type, slot.first, sizeof(CK_ATTRIBUTE));
        record.ulValueLen = CK_UNAVAILABLE_INFORMATION;
    } else if (slot.state == Slot::CountChanged) {
        noteFault(Fault::CountChanged, record.type, slot.second, slot.first);
        record.ulValueLen = CK_UNAVAILABLE_INFORMATION;
    } else if (slot.buffer != nullptr && isReported(reported) && reported > slot.capacity) {
        noteFault(Fault::Overrun, record.type, reported, slot.capacity);
        record.ulValueLen = CK_UNAVAILABLE_INFORMATION;
        outcome = javaLong(CKR_BUFFER_TOO_SMALL);
    } else if (slot.state == Slot::Records && isReported(reported) && reported != slot.capacity) {
        noteFault(Fault::CountChanged, record.type, reported, slot.capacity);
        record.ulValueLen = CK_UNAVAILABLE_INFORMATION;
    } else if (isReported(record.ulValueLen) && (slot.capacity != kNoBuffer || record.ulValueLen == 0)) {
        outcome = 0;
    } else {
        record.ulValueLen = CK_UNAVAILABLE_INFORMATION;  // no buffer was given: nothing is read
    }
    if (outcomes != nullptr && outcomes[i] == 0) {
        outcomes[i] = outcome;
    }
    // The value and the new attribute are local references of the frame around them, or kept
    // (readTypes): never deleted one by one, so a shared Boolean or Long is stored as it is.
    jobject value = nullptr;
    if (slot.state == Slot::Records && slot.capacity > 0 && record.ulValueLen == slot.capacity) {
        value = nestedValue(env, slot, record.type);
        if (value == nullptr) {
            return false;
        }
    } else {
        value = toJavaAttributeValueShared(env, record);
        if (value == nullptr && env->ExceptionCheck()) {  // null is either none or a failure
            return false;
        }
    }
    jobject converted = newJavaAttribute(env, record.type, value);
    if (converted == nullptr) {
        return false;
    }
    env->SetObjectArrayElement(array, static_cast<jsize>(i), converted);
    // The first store tells whether the array takes a CK_ATTRIBUTE (an array of a subclass
    // throws ArrayStoreException); every later one stores a CK_ATTRIBUTE into the same array at
    // an index below its length, so it succeeds as the first did.
    return i != 0 || !env->ExceptionCheck();
}

bool AttributeQuery::storeValues(JNIEnv* env, jobjectArray array, CK_RV rv, jlong* outcomes, jlong unread) {
    const CK_ULONG count = attributes_.count();
    if (referencesKept_) {
        for (CK_ULONG i = 0; i < count; ++i) {
            if (!storeValue(env, array, i, outcomes, unread)) {
                return false;
            }
        }
    } else {
        // The new attributes and their values are local references of a frame per group of
        // attributes, let go at once when the group is stored, rather than one by one.
        constexpr CK_ULONG kGroup = 16;
        for (CK_ULONG first = 0; first < count; first += kGroup) {
            LocalFrame frame(env, static_cast<jint>(2 * kGroup));
            if (!frame) {
                return false;  // OutOfMemoryError pending
            }
            for (CK_ULONG i = first; i < count && i < first + kGroup; ++i) {
                if (!storeValue(env, array, i, outcomes, unread)) {
                    return false;
                }
            }
        }
    }
    if (rv != CKR_OK || fault_.kind == Fault::None || outcomes != nullptr) {
        return true;
    }
    throwFault(env);
    return false;
}

void AttributeQuery::throwFault(JNIEnv* env) const {
    char message[300];
    const auto type = static_cast<unsigned long>(fault_.type);
    const auto reported = static_cast<unsigned long>(fault_.reported);
    const auto other = static_cast<unsigned long>(fault_.other);
    if (fault_.kind == Fault::NestedOverrun) {
        std::snprintf(message, sizeof message,
                      "C_GetAttributeValue reported %lu bytes for attribute 0x%lX nested in attribute 0x%lX "
                      "but only %lu were allocated; its value was not read",
                      reported, static_cast<unsigned long>(fault_.inner), type, other);
    } else {
        // The same three figures, in this order, for every other fault.
        const char* format = fault_.kind == Fault::Overrun
            ? "C_GetAttributeValue reported %lu bytes for attribute 0x%lX but only %lu were allocated; "
              "its value was not read"
            : fault_.kind == Fault::NotRecords
            ? "C_GetAttributeValue reported %lu bytes for attribute 0x%lX, which holds CK_ATTRIBUTEs of "
              "%lu bytes each; its value was not read"
            : "C_GetAttributeValue reported %lu bytes for attribute 0x%lX after %lu: the number of its "
              "nested attributes changed; its value was not read";
        std::snprintf(message, sizeof message, format, reported, type, other);
    }
    throwPKCS11RuntimeException(env, message);
}

}  // namespace vorlen
