// The one engine behind every parameter record: Java to native by a record's descriptor, the
// buffers the module writes into, and the results copied back into the converted Java objects.
//
// Every store into a record goes through memcpy at the member's offset: records may be packed,
// so no reference to one of their members is ever made.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "convert/convert.h"
#include "convert/convert_cache.h"
#include "convert/parameter_records.h"
#include "core/exceptions.h"

namespace vorlen {

namespace jni {

namespace {

/// The JNI signature of a member of this kind (nested records: see their descriptor).
const char* javaSignature(MemberKind kind) {
    switch (kind) {
        case MemberKind::ULong: return "J";
        case MemberKind::Bool: return "Z";
        case MemberKind::Byte: return "B";
        case MemberKind::Bytes:
        case MemberKind::FixedBytes: return "[B";
        case MemberKind::Chars: return "[C";
        case MemberKind::Value: return "Ljava/lang/Object;";
        case MemberKind::Template: return "[Lzandrop/tesk/pkcs11/vorlen/api/CK_ATTRIBUTE;";
        case MemberKind::HandleOut: return "J";
        case MemberKind::Embedded:
        case MemberKind::Pointer:
        case MemberKind::Records: break;
    }
    return "";
}

}  // namespace

MechanismIds mechanismIds{};

void loadParameterRecords(Loader& l) {
    constexpr const char* kPackage = "zandrop/tesk/pkcs11/vorlen/api/";
    char name[160];
    std::snprintf(name, sizeof name, "%sCK_MECHANISM", kPackage);
    mechanismIds.cls = l.cls(name);
    mechanismIds.mechanism = l.field(mechanismIds.cls, "mechanism", "J");
    mechanismIds.pParameter = l.field(mechanismIds.cls, "pParameter", "Ljava/lang/Object;");
    for (auto records : {parameterRecords(), nestedRecords()}) {
        for (const RecordDescriptor* record : records) {
            std::snprintf(name, sizeof name, "%s%s", kPackage, record->name);
            RecordIds& ids = *record->ids;
            ids.cls = l.cls(name);
            if (ids.cls == nullptr) {
                return;
            }
            for (std::size_t i = 0; i < record->members.size() && i < kMaxMembers; ++i) {
                const Member& m = record->members[i];
                char signature[160];
                std::snprintf(signature, sizeof signature, "%s", javaSignature(m.kind));
                if (m.nested != nullptr) {
                    std::snprintf(signature, sizeof signature, "%sL%s%s;",
                                  m.kind == MemberKind::Records ? "[" : "", kPackage, m.nested->name);
                }
                ids.fields[i] = l.field(ids.cls, m.name, signature);
            }
        }
    }
}

}  // namespace jni

namespace {

template <typename T>
void put(std::byte* at, T value) {
    std::memcpy(at, &value, sizeof value);
}

template <typename T>
T get(const void* at) {
    T value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

void throwMemberNull(JNIEnv* env, const RecordDescriptor& record, const Member& member) {
    char message[160];
    std::snprintf(message, sizeof message, "%s.%s is null", record.name, member.name);
    throwNullPointer(env, message);
}

/// Makes `buffer` hold at least `minimum` bytes: the bytes it holds, then zeros. A null buffer
/// with a minimum of 0 stays null.
bool growTo(JNIEnv* env, NativeBuffer& buffer, std::size_t minimum) {
    if (buffer.size() >= minimum) {
        return true;
    }
    NativeBuffer larger;
    if (!larger.allocate(env, minimum, buffer.count(), "no room for a mechanism parameter")) {
        return false;
    }
    std::memset(larger.get(), 0, minimum);
    if (buffer.size() > 0) {
        std::memcpy(larger.get(), buffer.get(), buffer.size());
    }
    buffer = std::move(larger);
    return true;
}

/// The copy of a byte[] or char[] member's array.
bool copyArray(JNIEnv* env, const Member& member, jarray array, NativeBuffer& out) {
    if (member.kind != MemberKind::Chars) {
        return toCkByteArray(env, static_cast<jbyteArray>(array), out);
    }
    return member.utf8 ? toCkUtf8CharArray(env, static_cast<jcharArray>(array), out)
                       : toCkCharArray(env, static_cast<jcharArray>(array), out);
}

/// One conversion of a parameter record and the records nested in it.
class Conversion {
public:
    Conversion(JNIEnv* env, NativeMechanism& owner) : env_(env), owner_(owner) {}
    Conversion(const Conversion&) = delete;
    Conversion& operator=(const Conversion&) = delete;
    ~Conversion() {
        for (std::size_t i = 0; i < written_.size(); ++i) {
            if (written_[i].array != nullptr) {
                env_->DeleteLocalRef(written_[i].array);
            }
        }
    }

    /// Fills `record` (zeroed, of the descriptor's size) from `object`. `outer` is the record
    /// that holds or points to this one (null for the parameter itself).
    bool fill(const RecordDescriptor& d, jobject object, std::byte* record, std::byte* outer,
              const RecordDescriptor* outerRecord);

    /// Allocates the buffers the module writes into, now that every size member is filled.
    bool finish();

private:
    /// A buffer the module writes into, allocated once the whole parameter is converted.
    struct Written {
        const Member* member = nullptr;
        jfieldID field = nullptr;
        jarray array = nullptr;        // the caller's array (a local reference), or null
        std::byte* pointerAt = nullptr;
        const std::byte* sizeAt = nullptr;  // the member stating the size, or null
        const char* sizeRecord = nullptr;   // the record holding that member
    };

    /// Another length member already set in this record: arrays sharing it must agree.
    struct Length {
        std::size_t offset;
        CK_ULONG count;
        const char* name;
    };

    bool setLength(const RecordDescriptor& d, const Member& m, std::byte* record, CK_ULONG count,
                   Length* lengths, std::size_t& lengthCount);
    bool keepScalar(jobject& holder, jobject object, jfieldID field, const Member& m,
                    const std::byte* at);
    /// Arrays whose bits another member counts hold exactly that many.
    bool checkBitCounts(const RecordDescriptor& d, jobject object, const std::byte* record);
    // One per kind of member: each fills member `m` of `record` from `object`'s field.
    bool fillULong(const RecordDescriptor& d, const Member& m, jfieldID field, jobject object,
                   std::byte* record, jobject& holder);
    /// A CK_BBOOL or a CK_BYTE.
    bool fillByte(const Member& m, jfieldID field, jobject object, std::byte* record,
                  jobject& holder);
    bool fillFixedBytes(const RecordDescriptor& d, const Member& m, jfieldID field, jobject object,
                        std::byte* record);
    bool fillHandleOut(const Member& m, jfieldID field, jobject object, std::byte* record,
                       jobject& holder);
    /// A record embedded in this one or pointed to by it, filled by fill.
    bool fillNested(const RecordDescriptor& d, const Member& m, jfieldID field, jobject object,
                    std::byte* record);
    bool fillRecords(const RecordDescriptor& d, const Member& m, jobject object, jfieldID field,
                     std::byte* record);
    bool fillValue(const RecordDescriptor& d, const Member& m, jobject object, jfieldID field,
                   std::byte* record);
    bool fillTemplate(const Member& m, jobject object, jfieldID field, std::byte* record);
    /// Keeps `buffer` for the module and stores its address at `at`.
    bool keepAt(NativeBuffer&& buffer, std::byte* at);
    bool fillArray(const RecordDescriptor& d, const Member& m, jfieldID field, jobject object,
                   std::byte* record, std::byte* outer, const RecordDescriptor* outerRecord,
                   Length* lengths, std::size_t& lengthCount);

    JNIEnv* env_;
    NativeMechanism& owner_;
    SmallList<Written, 4> written_;
};

bool Conversion::setLength(const RecordDescriptor& d, const Member& m, std::byte* record,
                           CK_ULONG count, Length* lengths, std::size_t& lengthCount) {
    if (m.length == kNoMember) {
        return true;
    }
    for (std::size_t i = 0; i < lengthCount; ++i) {
        if (lengths[i].offset == m.length && lengths[i].count != count) {
            char message[200];
            std::snprintf(message, sizeof message,
                          "%s.%s and %s must have the same length, not %lu and %lu", d.name,
                          lengths[i].name, m.name, static_cast<unsigned long>(lengths[i].count),
                          static_cast<unsigned long>(count));
            throwIllegalArgument(env_, message);
            return false;
        }
    }
    lengths[lengthCount++] = Length{m.length, count, m.name};
    put<CK_ULONG>(record + m.length, count);
    return true;
}

bool Conversion::keepScalar(jobject& holder, jobject object, jfieldID field, const Member& m,
                            const std::byte* at) {
    if (!m.result) {
        return true;
    }
    if (holder == nullptr) {
        holder = owner_.keepObject(env_, env_->NewLocalRef(object));
        if (holder == nullptr) {
            return false;
        }
    }
    return owner_.keepResult(env_, ResultTarget{holder, field, &m, at, 0});
}

bool Conversion::fillArray(const RecordDescriptor& d, const Member& m, jfieldID field,
                           jobject object, std::byte* record, std::byte* outer,
                           const RecordDescriptor* outerRecord, Length* lengths,
                           std::size_t& lengthCount) {
    LocalRef<jarray> array(env_, static_cast<jarray>(env_->GetObjectField(object, field)));
    if (!array && m.mandatory) {
        throwMemberNull(env_, d, m);
        return false;
    }
    if (m.written.scope != WrittenSize::Scope::None || m.written.minimum > 0) {
        // Sized once the whole parameter is filled: the size member may come later.
        const CK_ULONG count = array ? static_cast<CK_ULONG>(env_->GetArrayLength(array.get())) : 0;
        if (!setLength(d, m, record, count, lengths, lengthCount)) {
            return false;
        }
        Written w;
        w.member = &m;
        w.field = field;
        w.pointerAt = record + m.offset;
        if (m.written.scope == WrittenSize::Scope::Record) {
            w.sizeAt = record + m.written.offset;
            w.sizeRecord = d.name;
        } else if (m.written.scope == WrittenSize::Scope::Outer && outer != nullptr) {
            w.sizeAt = outer + m.written.offset;
            w.sizeRecord = outerRecord->name;
        }
        w.array = array.get();
        if (!written_.push(env_, std::move(w))) {
            return false;
        }
        array.release();  // now owned by written_
        return true;
    }
    NativeBuffer copy;
    if (!copyArray(env_, m, array.get(), copy) ||
        !setLength(d, m, record, copy.count(), lengths, lengthCount)) {
        return false;
    }
    const std::size_t bytes = copy.size();
    void* pointer = nullptr;
    if (!owner_.keep(env_, std::move(copy), pointer)) {
        return false;
    }
    put<void*>(record + m.offset, pointer);
    if (m.result && array && pointer != nullptr) {
        jobject holder = owner_.keepObject(env_, array.release());
        return holder != nullptr &&
               owner_.keepResult(env_, ResultTarget{holder, nullptr, &m, pointer, bytes});
    }
    return true;
}

bool Conversion::fill(const RecordDescriptor& d, jobject object, std::byte* record,
                      std::byte* outer, const RecordDescriptor* outerRecord) {
    Length lengths[kMaxMembers];
    std::size_t lengthCount = 0;
    jobject holder = nullptr;  // `object` kept for scalar results
    for (std::size_t i = 0; i < d.members.size(); ++i) {
        const Member& m = d.members[i];
        const jfieldID field = d.ids->fields[i];
        bool filled = false;
        switch (m.kind) {
            case MemberKind::ULong:
                filled = fillULong(d, m, field, object, record, holder);
                break;
            case MemberKind::Bool:
            case MemberKind::Byte:
                filled = fillByte(m, field, object, record, holder);
                break;
            case MemberKind::Bytes:
            case MemberKind::Chars:
                filled = fillArray(d, m, field, object, record, outer, outerRecord, lengths, lengthCount);
                break;
            case MemberKind::FixedBytes:
                filled = fillFixedBytes(d, m, field, object, record);
                break;
            case MemberKind::Records:
                filled = fillRecords(d, m, object, field, record);
                break;
            case MemberKind::Value:
                filled = fillValue(d, m, object, field, record);
                break;
            case MemberKind::Template:
                filled = fillTemplate(m, object, field, record);
                break;
            case MemberKind::HandleOut:
                filled = fillHandleOut(m, field, object, record, holder);
                break;
            case MemberKind::Embedded:
            case MemberKind::Pointer:
                filled = fillNested(d, m, field, object, record);
                break;
        }
        if (!filled) {
            return false;
        }
    }
    return checkBitCounts(d, object, record);
}

bool Conversion::fillULong(const RecordDescriptor& d, const Member& m, jfieldID field,
                           jobject object, std::byte* record, jobject& holder) {
    std::byte* at = record + m.offset;
    CK_ULONG value = ckULong(env_->GetLongField(object, field));
    if (value == 0 && m.bitsOfLength != kNoMember) {
        value = 8 * get<CK_ULONG>(record + m.bitsOfLength);
    }
    if (m.bytesOnly && value % 8 != 0) {
        char message[160];
        std::snprintf(message, sizeof message, "%s.%s must be a whole number of bytes, not %lu bits",
                      d.name, m.name, static_cast<unsigned long>(value));
        throwIllegalArgument(env_, message);
        return false;
    }
    put<CK_ULONG>(at, value);
    return keepScalar(holder, object, field, m, at);
}

bool Conversion::fillByte(const Member& m, jfieldID field, jobject object, std::byte* record,
                          jobject& holder) {
    std::byte* at = record + m.offset;
    if (m.kind == MemberKind::Bool) {
        put<CK_BBOOL>(at, ckBBool(env_->GetBooleanField(object, field)));
    } else {
        put<CK_BYTE>(at, static_cast<CK_BYTE>(env_->GetByteField(object, field)));
    }
    return keepScalar(holder, object, field, m, at);
}

bool Conversion::fillFixedBytes(const RecordDescriptor& d, const Member& m, jfieldID field,
                                jobject object, std::byte* record) {
    LocalRef<jbyteArray> array(env_, static_cast<jbyteArray>(env_->GetObjectField(object, field)));
    if (!array) {
        throwMemberNull(env_, d, m);
        return false;
    }
    const jsize length = env_->GetArrayLength(array.get());
    if (length < 0 || static_cast<std::size_t>(length) != m.length) {
        char message[160];
        std::snprintf(message, sizeof message, "%s.%s must have %lu elements, not %ld", d.name,
                      m.name, static_cast<unsigned long>(m.length), static_cast<long>(length));
        throwIllegalArgument(env_, message);
        return false;
    }
    env_->GetByteArrayRegion(array.get(), 0, length, reinterpret_cast<jbyte*>(record + m.offset));
    return true;
}

bool Conversion::fillHandleOut(const Member& m, jfieldID field, jobject object, std::byte* record,
                               jobject& holder) {
    NativeBuffer handle;
    if (!handle.allocate(env_, sizeof(CK_ULONG), 1, "no room for a mechanism parameter")) {
        return false;
    }
    put<CK_ULONG>(static_cast<std::byte*>(handle.get()), ckULong(env_->GetLongField(object, field)));
    void* pointer = handle.get();
    return keepAt(std::move(handle), record + m.offset) &&
           keepScalar(holder, object, field, m, static_cast<const std::byte*>(pointer));
}

bool Conversion::fillNested(const RecordDescriptor& d, const Member& m, jfieldID field,
                            jobject object, std::byte* record) {
    LocalRef<jobject> nested(env_, env_->GetObjectField(object, field));
    if (!nested) {
        throwMemberNull(env_, d, m);
        return false;
    }
    std::byte* target = record + m.offset;
    if (m.kind == MemberKind::Pointer) {
        NativeBuffer block;
        void* pointer = nullptr;
        if (!block.allocate(env_, m.nested->size, static_cast<CK_ULONG>(m.nested->size),
                            "no room for a mechanism parameter")) {
            return false;
        }
        std::memset(block.get(), 0, m.nested->size);
        if (!owner_.keep(env_, std::move(block), pointer)) {
            return false;
        }
        put<void*>(target, pointer);
        target = static_cast<std::byte*>(pointer);
    }
    return fill(*m.nested, nested.get(), target, record, &d);
}

bool Conversion::keepAt(NativeBuffer&& buffer, std::byte* at) {
    void* pointer = nullptr;
    if (!owner_.keep(env_, std::move(buffer), pointer)) {
        return false;
    }
    put<void*>(at, pointer);
    return true;
}

bool Conversion::fillRecords(const RecordDescriptor& d, const Member& m, jobject object,
                             jfieldID field, std::byte* record) {
    LocalRef<jobjectArray> array(env_, static_cast<jobjectArray>(env_->GetObjectField(object, field)));
    const jsize count = array ? env_->GetArrayLength(array.get()) : 0;
    if (m.length != kNoMember) {
        put<CK_ULONG>(record + m.length, static_cast<CK_ULONG>(count));
    }
    if (!array || count == 0) {
        return true;  // NULL and 0 (an empty array has nothing to point at)
    }
    const RecordDescriptor& element = *m.nested;
    std::size_t bytes = 0;
    NativeBuffer block;
    if (!multiplySize(env_, static_cast<std::size_t>(count), element.size, bytes) ||
        !block.allocate(env_, bytes, static_cast<CK_ULONG>(count), "no room for a mechanism parameter")) {
        return false;
    }
    std::memset(block.get(), 0, bytes);
    auto* first = static_cast<std::byte*>(block.get());
    if (!keepAt(std::move(block), record + m.offset)) {
        return false;
    }
    for (jsize i = 0; i < count; ++i) {
        LocalRef<jobject> item(env_, env_->GetObjectArrayElement(array.get(), i));
        if (!item) {
            char message[160];
            std::snprintf(message, sizeof message, "%s.%s[%ld] is null", d.name, m.name,
                          static_cast<long>(i));
            throwNullPointer(env_, message);
            return false;
        }
        if (!fill(element, item.get(), first + static_cast<std::size_t>(i) * element.size, record, &d)) {
            return false;
        }
    }
    return true;
}

bool Conversion::fillValue(const RecordDescriptor& d, const Member& m, jobject object,
                           jfieldID field, std::byte* record) {
    LocalRef<jobject> value(env_, env_->GetObjectField(object, field));
    CK_ULONG length = 0;
    if (value) {
        NativeBuffer native;
        const RecordDescriptor* form = nullptr;
        for (auto records : {nestedRecords(), parameterRecords()}) {
            for (const RecordDescriptor* candidate : records) {
                if (form == nullptr && env_->IsInstanceOf(value.get(), candidate->ids->cls)) {
                    form = candidate;
                }
            }
        }
        if (form != nullptr) {
            if (!native.allocate(env_, form->size, static_cast<CK_ULONG>(form->size),
                                 "no room for a mechanism parameter")) {
                return false;
            }
            std::memset(native.get(), 0, form->size);
            auto* target = static_cast<std::byte*>(native.get());
            length = static_cast<CK_ULONG>(form->size);
            if (!keepAt(std::move(native), record + m.offset) ||
                !fill(*form, value.get(), target, record, &d)) {
                return false;
            }
        } else if (env_->IsInstanceOf(value.get(), jni::convert.byteArrayClass)) {
            if (!toCkByteArray(env_, static_cast<jbyteArray>(value.get()), native)) {
                return false;
            }
            length = native.count();
            if (!keepAt(std::move(native), record + m.offset)) {
                return false;
            }
        } else {
            throwCannotConvert(env_, value.get());
            return false;
        }
    }
    if (m.length != kNoMember) {
        put<CK_ULONG>(record + m.length, length);
    }
    return true;
}

bool Conversion::fillTemplate(const Member& m, jobject object, jfieldID field, std::byte* record) {
    LocalRef<jobjectArray> array(env_, static_cast<jobjectArray>(env_->GetObjectField(object, field)));
    NativeTemplate converted;
    if (!toCkAttributeArray(env_, array.get(), converted)) {
        return false;
    }
    const CK_ULONG count = converted.count();
    if (m.length != kNoMember) {
        put<CK_ULONG>(record + m.length, count);
    }
    if (converted.data() == nullptr || count == 0) {
        return true;
    }
    // The template moves into buffers of the mechanism: the records, then each value, whose
    // block changes owner without a copy (a CK_ATTRIBUTE[] value points into its own block).
    NativeBuffer records;
    const std::size_t bytes = static_cast<std::size_t>(count) * sizeof(CK_ATTRIBUTE);
    if (!records.allocate(env_, bytes, count, "no room for a mechanism parameter")) {
        return false;
    }
    auto* target = static_cast<std::byte*>(records.get());
    for (CK_ULONG i = 0; i < count; ++i) {
        CK_ATTRIBUTE attribute = converted[i];
        if (attribute.pValue != nullptr) {
            NativeBuffer value;
            value.adopt(converted.releaseValue(i), attribute.ulValueLen, attribute.ulValueLen);
            void* pointer = nullptr;
            if (!owner_.keep(env_, std::move(value), pointer)) {
                return false;
            }
            attribute.pValue = pointer;
        }
        std::memcpy(target + i * sizeof(CK_ATTRIBUTE), &attribute, sizeof attribute);
    }
    return keepAt(std::move(records), record + m.offset);
}

bool Conversion::checkBitCounts(const RecordDescriptor& d, jobject object, const std::byte* record) {
    for (std::size_t i = 0; i < d.members.size(); ++i) {
        const Member& m = d.members[i];
        if (m.bitCount == kNoMember) {
            continue;
        }
        LocalRef<jarray> array(env_, static_cast<jarray>(env_->GetObjectField(object, d.ids->fields[i])));
        const CK_ULONG bits = get<CK_ULONG>(record + m.bitCount);
        const CK_ULONG count = array ? static_cast<CK_ULONG>(env_->GetArrayLength(array.get())) : 0;
        if (bits % 8 != 0 || bits / 8 != count) {
            const char* bitsName = "";
            for (const Member& other : d.members) {
                if (other.offset == m.bitCount) {
                    bitsName = other.name;
                }
            }
            char message[200];
            std::snprintf(message, sizeof message,
                          "%s.%s must have %s / 8 elements (%s is %lu), not %lu", d.name, m.name,
                          bitsName, bitsName, static_cast<unsigned long>(bits),
                          static_cast<unsigned long>(count));
            throwIllegalArgument(env_, message);
            return false;
        }
    }
    return true;
}

bool Conversion::finish() {
    for (std::size_t i = 0; i < written_.size(); ++i) {
        Written& w = written_[i];
        const Member& m = *w.member;
        std::size_t stated = m.written.minimum;
        if (w.sizeAt != nullptr) {
            // Rounded up: a count of bits that is no multiple of 8 still fills its last byte.
            const CK_ULONG member = get<CK_ULONG>(w.sizeAt);
            const CK_ULONG size = member / m.written.unit + (member % m.written.unit != 0 ? 1 : 0);
            if (size > kMaxJavaArrayLength || size > m.written.maximum) {
                char message[200];
                if (m.written.maximum != kNoMember) {
                    std::snprintf(message, sizeof message,
                                  "%s.%s is %lu, more than %lu, the most any mechanism uses",
                                  w.sizeRecord, m.written.name, static_cast<unsigned long>(member),
                                  static_cast<unsigned long>(m.written.maximum * m.written.unit));
                } else {
                    std::snprintf(message, sizeof message, "%s.%s is too large", w.sizeRecord,
                                  m.written.name);
                }
                throwIllegalArgument(env_, message);
                return false;
            }
            stated = std::max(stated, static_cast<std::size_t>(size));
        }
        NativeBuffer copy;
        if (!copyArray(env_, m, w.array, copy) || !growTo(env_, copy, stated)) {
            return false;
        }
        const std::size_t bytes = copy.size();
        void* pointer = nullptr;
        if (!owner_.keep(env_, std::move(copy), pointer)) {
            return false;
        }
        put<void*>(w.pointerAt, pointer);
        jarray array = std::exchange(w.array, nullptr);
        if (array == nullptr) {
            continue;
        }
        if (!m.result || pointer == nullptr) {
            env_->DeleteLocalRef(array);
            continue;
        }
        jobject holder = owner_.keepObject(env_, array);
        if (holder == nullptr ||
            !owner_.keepResult(env_, ResultTarget{holder, nullptr, &m, pointer, bytes})) {
            return false;
        }
    }
    return true;
}

/// Writes `count` native bytes into the char[] `array`, each zero-extended.
void setChars(JNIEnv* env, jcharArray array, const CK_BYTE* source, std::size_t count) {
    jchar chunk[64];
    for (std::size_t done = 0; done < count && !env->ExceptionCheck();) {
        const std::size_t n = std::min(count - done, sizeof chunk / sizeof chunk[0]);
        for (std::size_t i = 0; i < n; ++i) {
            chunk[i] = static_cast<jchar>(source[done + i]);
        }
        env->SetCharArrayRegion(array, static_cast<jsize>(done), static_cast<jsize>(n), chunk);
        done += n;
    }
}

}  // namespace

bool toCkRecord(JNIEnv* env, const RecordDescriptor& record, jobject object, NativeMechanism& out) {
    out.reset();
    NativeBuffer block;
    if (!block.allocate(env, record.size, static_cast<CK_ULONG>(record.size),
                        "no room for a mechanism parameter")) {
        return false;
    }
    std::memset(block.get(), 0, record.size);
    auto* native = static_cast<std::byte*>(block.get());
    out.setParameter(std::move(block), &record);
    bool converted = false;
    {
        Conversion conversion(env, out);
        converted = conversion.fill(record, object, native, nullptr, nullptr) && conversion.finish();
    }
    if (!converted) {
        out.reset();
    }
    return converted;
}

void copyBackResults(JNIEnv* env, NativeMechanism& mechanism, ResultsOf function) {
    const RecordDescriptor* record = mechanism.record();
    if (record == nullptr || mechanism.resultCount() == 0 ||
        !record->results.applies(function, mechanism.type())) {
        return;
    }
    HeldException pending(env);  // a callback's exception, raised again afterwards
    for (std::size_t i = 0; i < mechanism.resultCount() && !env->ExceptionCheck(); ++i) {
        const ResultTarget& t = mechanism.result(i);
        switch (t.member->kind) {
            case MemberKind::ULong:
                env->SetLongField(t.holder, t.field, javaLong(get<CK_ULONG>(t.source)));
                break;
            case MemberKind::Bool:
                env->SetBooleanField(t.holder, t.field,
                                     get<CK_BBOOL>(t.source) == CK_TRUE ? JNI_TRUE : JNI_FALSE);
                break;
            case MemberKind::Byte:
                env->SetByteField(t.holder, t.field, static_cast<jbyte>(get<CK_BYTE>(t.source)));
                break;
            case MemberKind::Bytes:
            case MemberKind::Chars: {
                auto array = static_cast<jarray>(t.holder);
                const auto length = static_cast<std::size_t>(env->GetArrayLength(array));
                const std::size_t n = std::min(length, t.bytes);
                const auto* source = static_cast<const CK_BYTE*>(t.source);
                if (t.member->kind == MemberKind::Chars) {
                    setChars(env, static_cast<jcharArray>(array), source, n);
                } else if (n > 0) {
                    env->SetByteArrayRegion(static_cast<jbyteArray>(array), 0, static_cast<jsize>(n),
                                            reinterpret_cast<const jbyte*>(source));
                }
                break;
            }
            case MemberKind::HandleOut:
                env->SetLongField(t.holder, t.field, javaLong(get<CK_ULONG>(t.source)));
                break;
            case MemberKind::FixedBytes:
            case MemberKind::Embedded:
            case MemberKind::Pointer:
            case MemberKind::Records:
            case MemberKind::Value:
            case MemberKind::Template:
                break;  // never results themselves: their members are
        }
    }
}

}  // namespace vorlen
