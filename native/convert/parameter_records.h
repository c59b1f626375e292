// Mechanism parameter records described once, as data.
//
// A RecordDescriptor names a record (the C type and the Java class of the package have the same
// name) and lists its members in the order of the C type. Each member names the Java field (also
// the C member's name), where the C member lies (offsetof on the C type, so packed layouts are
// right) and its kind. One engine (parameter_engine.cpp) reads descriptors in both directions:
// Java to native when a CK_MECHANISM is converted, and native to Java for the results a module
// leaves in the record, written into the very Java objects that were converted.
//
// Rules the engine applies to every record:
// - A byte[] or char[] gives a copy and, where the record has one, its length member; a null
//   array gives a null pointer and length 0. Two arrays that share one length member must have
//   the same length (IllegalArgumentException otherwise).
// - A buffer the module may write (`written`) is allocated by the library: at least the size the
//   record states, whatever the Java field holds (null, or a shorter array); the Java array's
//   bytes first, zeros after. Results go back only into arrays the caller gave, as many bytes as
//   both the array and the buffer hold.
// - A nested object (embedded or pointed to) that is null throws NullPointerException
//   "<record>.<member> is null"; so does an array marked required().
// - Members that count bits: wholeBytes() refuses a count that is not a multiple of 8;
//   zeroMeansBitsOf(length) turns a 0 from Java into 8 times a length member filled before it;
//   an array countedInBitsBy(member) must have exactly that member's value / 8 elements (the
//   module reads that many bytes). All are IllegalArgumentException before the module is called.
#pragma once

#include <jni.h>

#include <cstddef>
#include <span>

#include "convert/convert.h"
#include "core/jni_cache.h"
#include "pkcs11/pkcs11.h"

namespace vorlen {

struct RecordDescriptor;

/// How one member of a native record is filled from the Java field of the same name.
enum class MemberKind : unsigned char {
    ULong,       // long "J" -> CK_ULONG, the low bits that fit
    Bool,        // boolean "Z" -> CK_BBOOL, CK_TRUE only for 1
    Byte,        // byte "B" -> CK_BYTE
    Bytes,       // byte[] "[B" -> a pointer to a copy; the element count into `length`
    Chars,       // char[] "[C" -> a pointer to a copy, one byte per char (its low 8 bits)
    FixedBytes,  // byte[] "[B" of exactly `length` elements -> the bytes inside the record
    Embedded,    // an object of `nested` -> its record inside this one
    Pointer,     // an object of `nested` -> a pointer to a record of its own
    Records,     // an array of `nested` -> a pointer to an array of its records; the element
                 // count into `length`; a null array gives NULL and 0
    Value,       // an Object "Ljava/lang/Object;" -> a pointer to its native form and its byte
                 // length into `length`: a byte[] is copied, an object of a record class becomes
                 // its record, null gives NULL and 0
    Template,    // a CK_ATTRIBUTE[] -> a pointer to a converted template; the count into `length`
    HandleOut,   // long "J" -> a pointer to a CK_ULONG holding the value, which the module
                 // replaces (a new object's handle); copied back when marked copiedBack()
};

constexpr std::size_t kNoMember = static_cast<std::size_t>(-1);

/// The size of a buffer the module writes into.
struct WrittenSize {
    enum class Scope : unsigned char {
        None,    // no member states it: `minimum` alone
        Record,  // a CK_ULONG member of the same record
        Outer,   // a CK_ULONG member of the record that holds or points to this one
    };
    Scope scope = Scope::None;
    std::size_t offset = kNoMember;  // of that member in its record
    const char* name = nullptr;      // of that member, for messages
    CK_ULONG unit = 1;               // 8 where the member counts bits
    std::size_t minimum = 0;         // bytes at least, whatever the member says
    /// Bytes at most that a member may state: more is no length any mechanism uses and is
    /// refused before anything is allocated.
    std::size_t maximum = kNoMember;
};

/// One member of a record.
struct Member {
    const char* name;
    MemberKind kind;
    std::size_t offset;
    /// Bytes, Chars, Records, Value, Template: offset of the CK_ULONG that takes the element
    /// (Value: byte) count (kNoMember when the record has none). FixedBytes: the exact count.
    std::size_t length = kNoMember;
    const RecordDescriptor* nested = nullptr;  // Embedded, Pointer, Records
    WrittenSize written{};                     // Bytes, Chars: the module may write into it
    bool result = false;                       // copied back into the Java object after the call
    bool mandatory = false;                    // Bytes, Chars: a null array is refused
    bool bytesOnly = false;                    // ULong counting bits: a multiple of 8
    bool utf8 = false;                         // Chars: UTF-8 text, not one byte per char
    std::size_t bitsOfLength = kNoMember;      // ULong: 0 becomes 8 × the CK_ULONG at this offset
    std::size_t bitCount = kNoMember;          // Bytes: the CK_ULONG at this offset counts its bits

    /// The module writes a result here that goes back into the Java field (or its array).
    constexpr Member copiedBack() const {
        Member m = *this;
        m.result = true;
        return m;
    }
    /// The module writes `size` into this buffer (and the result is copied back).
    constexpr Member writes(WrittenSize size) const {
        Member m = copiedBack();
        m.written = size;
        return m;
    }
    /// A null array is refused with NullPointerException.
    constexpr Member required() const {
        Member m = *this;
        m.mandatory = true;
        return m;
    }
    /// Chars that the standard defines as UTF-8 text: encoded as UTF-8.
    constexpr Member utf8Text() const {
        Member m = *this;
        m.utf8 = true;
        return m;
    }
    /// A count of bits that must be a whole number of bytes.
    constexpr Member wholeBytes() const {
        Member m = *this;
        m.bytesOnly = true;
        return m;
    }
    /// A count of bits whose 0 means 8 times the length member at `lengthOffset`, which an
    /// array earlier in the record sets.
    constexpr Member zeroMeansBitsOf(std::size_t lengthOffset) const {
        Member m = *this;
        m.bitsOfLength = lengthOffset;
        return m;
    }
    /// An array without a length member whose bits the CK_ULONG at `bitsOffset` counts: it
    /// must have exactly that many bits.
    constexpr Member countedInBitsBy(std::size_t bitsOffset) const {
        Member m = *this;
        m.bitCount = bitsOffset;
        return m;
    }
};

/// Which calls return results through a record, and for which mechanism types.
struct ResultRule {
    unsigned functions = 0;  // ResultsOf values, or-ed
    CK_MECHANISM_TYPE first = 0;
    CK_MECHANISM_TYPE last = 0;

    bool applies(ResultsOf function, CK_MECHANISM_TYPE type) const {
        return (functions & static_cast<unsigned>(function)) != 0 && type >= first && type <= last;
    }
};

/// The most members a record may have (the field IDs are kept in a fixed table).
constexpr std::size_t kMaxMembers = 16;

/// Class and field IDs of one record, looked up once when the library is initialised.
struct RecordIds {
    jclass cls = nullptr;
    jfieldID fields[kMaxMembers] = {};
};

struct RecordDescriptor {
    const char* name;  // the C type and the Java class in the package
    std::size_t size;  // sizeof the C type
    std::span<const Member> members;
    RecordIds* ids;
    ResultRule results{};
};

/// The parameter records in the order the dispatch tests them (a class extending one of them
/// converts as the first it is an instance of).
std::span<const RecordDescriptor* const> parameterRecords();
/// The records that are only nested in parameter records.
std::span<const RecordDescriptor* const> nestedRecords();

namespace jni {
/// Looks up the classes and fields of CK_MECHANISM and of every record; called by the loader of
/// the conversion cache.
void loadParameterRecords(Loader& loader);
/// CK_MECHANISM's class and fields.
struct MechanismIds {
    jclass cls;
    jfieldID mechanism, pParameter;
};
extern MechanismIds mechanismIds;
}  // namespace jni

}  // namespace vorlen
