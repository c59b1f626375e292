// Classes and members of java.lang and of the record classes that the conversions use.
#pragma once

#include <jni.h>

#include "core/jni_cache.h"

namespace vorlen::jni {

struct ConvertCache {
    // java.lang
    jclass booleanClass;
    jmethodID booleanInit;   // "(Z)V"
    jmethodID booleanValue;  // "()Z"
    jobject booleanTrue;     // Boolean.TRUE
    jobject booleanFalse;    // Boolean.FALSE
    jclass byteClass;
    jmethodID byteValue;     // "()B"
    jclass characterClass;
    jmethodID charValue;     // "()C"
    jclass integerClass;
    jmethodID intValue;      // "()I"
    jclass longClass;
    jmethodID longInit;      // "(J)V"
    jmethodID longValue;     // "()J"
    /// Long.valueOf(v) for v in [kSmallLongMin, kSmallLongMax], as the JDK's own cache.
    static constexpr jlong kSmallLongMin = -128;
    static constexpr jlong kSmallLongMax = 127;
    jobject smallLongs[kSmallLongMax - kSmallLongMin + 1];
    jclass stringClass;
    jclass classClass;
    jmethodID classGetName;  // "()Ljava/lang/String;"
    jmethodID objectGetClass;
    jclass booleanArrayClass;  // [Z
    jclass byteArrayClass;     // [B
    jclass charArrayClass;     // [C
    jclass intArrayClass;      // [I
    jclass longArrayClass;     // [J

    // records of the package
    jclass version;
    jfieldID versionMajor, versionMinor;
    jclass date;
    jfieldID dateYear, dateMonth, dateDay;
    jclass info;
    jfieldID infoCryptokiVersion, infoManufacturerID, infoFlags, infoLibraryDescription,
        infoLibraryVersion;
    jclass slotInfo;
    jfieldID slotInfoSlotDescription, slotInfoManufacturerID, slotInfoFlags,
        slotInfoHardwareVersion, slotInfoFirmwareVersion;
    jclass tokenInfo;
    jfieldID tokenInfoLabel, tokenInfoManufacturerID, tokenInfoModel, tokenInfoSerialNumber,
        tokenInfoFlags, tokenInfoMaxSessionCount, tokenInfoSessionCount,
        tokenInfoMaxRwSessionCount, tokenInfoRwSessionCount, tokenInfoMaxPinLen,
        tokenInfoMinPinLen, tokenInfoTotalPublicMemory, tokenInfoFreePublicMemory,
        tokenInfoTotalPrivateMemory, tokenInfoFreePrivateMemory, tokenInfoHardwareVersion,
        tokenInfoFirmwareVersion, tokenInfoUtcTime;
    jclass sessionInfo;
    jfieldID sessionInfoSlotID, sessionInfoState, sessionInfoFlags, sessionInfoDeviceError;
    jclass mechanismInfo;
    jfieldID mechanismInfoMinKeySize, mechanismInfoMaxKeySize, mechanismInfoFlags;
    jclass attribute;
    jfieldID attributeType, attributePValue;
    jclass attributeArray;  // CK_ATTRIBUTE[]
    jclass interfaceClass;  // CK_INTERFACE
    jfieldID interfaceName, interfaceVersion, interfaceFlags;
};

extern ConvertCache convert;

/// Loads the conversion layer's cache (called once, by the top of the library).
void loadConvertCache(Loader& loader);

}  // namespace vorlen::jni
