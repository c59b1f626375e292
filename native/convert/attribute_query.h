// C_GetAttributeValue's calls: the buffers offered to the module and the values read back.
#pragma once

#include <jni.h>

#include <cstddef>

#include "convert/native_values.h"
#include "convert/scratch.h"
#include "pkcs11/pkcs11.h"

namespace vorlen {

/// The values of a template read from a module in the standard's calls, and the way back into
/// the caller's Java template. In use:
///   readTypes(template)         the types, with the lengths their Java values would have
///   module call with data()     the module reports the length of every value
///   allocateValues()            one zero-filled block with room for every reported length; an
///                               attribute holding a CK_ATTRIBUTE array (kindOf: the templates)
///                               gets that many zero-filled CK_ATTRIBUTEs, pValue NULL
///   module call with data()     the module writes the values, and for nested arrays the types
///                               and lengths of the nested attributes
///   allocateNestedValues()      after CKR_OK only, when a nested array has records: one
///                               zero-filled block for every nested value; says whether a third
///                               call is needed
///   module call with data()     the module writes every value again, the nested ones too
///   storeValues(template, rv)   new Java CK_ATTRIBUTEs replace the caller's elements
/// A byte of a value that the module did not write reads as zero; only buffers this library gave
/// are read, whatever pointers the module leaves in the records.
class AttributeQuery {
public:
    AttributeQuery() = default;
    AttributeQuery(const AttributeQuery&) = delete;
    AttributeQuery& operator=(const AttributeQuery&) = delete;
    ~AttributeQuery();

    /// As toCkAttributeTypes. For a template of up to 16 attributes, the local references of
    /// its elements and values and those storeValues makes are kept until the native method
    /// returns, their room ensured here once, rather than let go one by one; a longer template's
    /// are let go as they are used.
    bool readTypes(JNIEnv* env, jobjectArray array);
    CK_ATTRIBUTE_PTR data() const { return attributes_.data(); }
    CK_ULONG count() const { return attributes_.count(); }

    /// A buffer of the reported length for every value a Java array can hold, all in one
    /// zero-filled block (on the stack when small). A length no Java array can hold
    /// (CK_UNAVAILABLE_INFORMATION among them) gets no buffer: the second call reports it
    /// again and the value reads as null. A nested array whose length is not a whole number of
    /// CK_ATTRIBUTEs gets no buffer either. False with OutOfMemoryError pending.
    bool allocateValues(JNIEnv* env);

    /// After a second call that returned CKR_OK: for every nested array whose length that call
    /// kept, a zero-filled buffer of the reported length for each nested value (none for a
    /// length no Java array can hold), and every length set back to the room its buffer has.
    /// `thirdCall` says whether there is anything to ask for. False with OutOfMemoryError
    /// pending.
    bool allocateNestedValues(JNIEnv* env, bool& thirdCall);

    /// Replaces every element of `array` with a new CK_ATTRIBUTE holding what the last call
    /// (which returned `rv`) left: also after an error, as the Java API promises. A nested array
    /// becomes a CK_ATTRIBUTE[] whose values are typed by their own types, as top-level ones.
    /// A value that cannot be read soundly reads as null, and with CKR_OK a
    /// PKCS11RuntimeException names the first such attribute: a length above the buffer it was
    /// given (top-level or nested), a nested array whose length is not a whole number of
    /// CK_ATTRIBUTEs, or whose count changed between the calls. False with an exception pending.
    ///
    /// A lenient read passes `outcomes`, one per attribute, zero for each not yet known to have
    /// failed: each attribute whose value was read keeps 0, one the module marked unavailable or
    /// that was given no buffer gets `unread`, one whose length went over its buffer
    /// CKR_BUFFER_TOO_SMALL, one whose nested array was inconsistent CK_UNAVAILABLE_INFORMATION;
    /// no exception is then thrown for these faults.
    bool storeValues(JNIEnv* env, jobjectArray array, CK_RV rv, jlong* outcomes = nullptr,
                     jlong unread = 0);

private:
    // What allocateValues gave one attribute (all zero: a plain value without a buffer).
    struct Slot {
        enum State : unsigned char { Plain, Records, NotRecords, CountChanged };
        CK_ULONG capacity;     // bytes of its buffer, or CK_UNAVAILABLE_INFORMATION for none
        void* buffer;          // in values_, or null
        CK_ULONG first;        // the length of the first call (the records' bytes once changed)
        CK_ULONG second;       // the length of the second call, for a count that changed
        std::size_t nestedFirst;  // its first record's index in nested_
        State state;
    };
    // What allocateNestedValues gave one nested attribute.
    struct NestedSlot {
        CK_ULONG capacity;
        void* buffer;
    };
    enum class Fault : unsigned char { None, Overrun, NotRecords, CountChanged, NestedOverrun };
    struct FaultNote {
        Fault kind = Fault::None;
        CK_ATTRIBUTE_TYPE type = 0;
        CK_ULONG reported = 0;
        CK_ULONG other = 0;
        CK_ATTRIBUTE_TYPE inner = 0;
    };

    jobject nestedValue(JNIEnv* env, const Slot& slot, CK_ATTRIBUTE_TYPE outer);
    /// Stores attribute i's new CK_ATTRIBUTE in `array`; false with an exception pending.
    bool storeValue(JNIEnv* env, jobjectArray array, CK_ULONG i, jlong* outcomes, jlong unread);
    void noteFault(Fault kind, CK_ATTRIBUTE_TYPE type, CK_ULONG reported, CK_ULONG other,
                   CK_ATTRIBUTE_TYPE inner = 0);
    /// Throws the PKCS11RuntimeException that names the first fault noted.
    void throwFault(JNIEnv* env) const;

    NativeTemplate attributes_;
    Scratch<Slot, 16> slots_;
    OutputBytes values_;
    Scratch<NestedSlot, 16> nested_;
    OutputBytes nestedValues_;
    bool nestedRead_ = false;
    bool referencesKept_ = false;  // readTypes ensured room for every local reference
    FaultNote fault_;
};

}  // namespace vorlen
