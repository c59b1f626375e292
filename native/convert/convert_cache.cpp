// Classes and members the conversions use, looked up once when the library is initialised.
#include "convert/convert_cache.h"
#include "convert/parameter_records.h"

namespace vorlen::jni {

ConvertCache convert{};

namespace {

constexpr const char* kVersionSig = "Lzandrop/tesk/pkcs11/vorlen/api/CK_VERSION;";
#define VORLEN_API "zandrop/tesk/pkcs11/vorlen/api/"

void loadJavaLang(Loader& l, ConvertCache& c) {
    c.booleanClass = l.cls("java/lang/Boolean");
    c.booleanInit = l.method(c.booleanClass, "<init>", "(Z)V");
    c.booleanValue = l.method(c.booleanClass, "booleanValue", "()Z");
    c.booleanTrue = l.staticObject(c.booleanClass, "TRUE", "Ljava/lang/Boolean;");
    c.booleanFalse = l.staticObject(c.booleanClass, "FALSE", "Ljava/lang/Boolean;");
    c.byteClass = l.cls("java/lang/Byte");
    c.byteValue = l.method(c.byteClass, "byteValue", "()B");
    c.characterClass = l.cls("java/lang/Character");
    c.charValue = l.method(c.characterClass, "charValue", "()C");
    c.integerClass = l.cls("java/lang/Integer");
    c.intValue = l.method(c.integerClass, "intValue", "()I");
    c.longClass = l.cls("java/lang/Long");
    c.longInit = l.method(c.longClass, "<init>", "(J)V");
    c.longValue = l.method(c.longClass, "longValue", "()J");
    // The small Longs, as Long.valueOf gives them: shared objects are as good as new ones for
    // values that are only read, and a conversion then costs no object.
    const jmethodID valueOf = l.staticMethod(c.longClass, "valueOf", "(J)Ljava/lang/Long;");
    for (jlong v = ConvertCache::kSmallLongMin; v <= ConvertCache::kSmallLongMax && l.ok(); ++v) {
        c.smallLongs[v - ConvertCache::kSmallLongMin] =
            l.global(l.env()->CallStaticObjectMethod(c.longClass, valueOf, v));
    }
    c.stringClass = l.cls("java/lang/String");
    c.classClass = l.cls("java/lang/Class");
    c.classGetName = l.method(c.classClass, "getName", "()Ljava/lang/String;");
    c.objectGetClass = l.method(core.object, "getClass", "()Ljava/lang/Class;");
    c.booleanArrayClass = l.cls("[Z");
    c.byteArrayClass = l.cls("[B");
    c.charArrayClass = l.cls("[C");
    c.intArrayClass = l.cls("[I");
    c.longArrayClass = l.cls("[J");
}

void loadRecords(Loader& l, ConvertCache& c) {
    c.version = l.cls(VORLEN_API "CK_VERSION");
    c.versionMajor = l.field(c.version, "major", "B");
    c.versionMinor = l.field(c.version, "minor", "B");

    c.date = l.cls(VORLEN_API "CK_DATE");
    c.dateYear = l.field(c.date, "year", "[C");
    c.dateMonth = l.field(c.date, "month", "[C");
    c.dateDay = l.field(c.date, "day", "[C");

    c.info = l.cls(VORLEN_API "CK_INFO");
    c.infoCryptokiVersion = l.field(c.info, "cryptokiVersion", kVersionSig);
    c.infoManufacturerID = l.field(c.info, "manufacturerID", "[C");
    c.infoFlags = l.field(c.info, "flags", "J");
    c.infoLibraryDescription = l.field(c.info, "libraryDescription", "[C");
    c.infoLibraryVersion = l.field(c.info, "libraryVersion", kVersionSig);

    c.slotInfo = l.cls(VORLEN_API "CK_SLOT_INFO");
    c.slotInfoSlotDescription = l.field(c.slotInfo, "slotDescription", "[C");
    c.slotInfoManufacturerID = l.field(c.slotInfo, "manufacturerID", "[C");
    c.slotInfoFlags = l.field(c.slotInfo, "flags", "J");
    c.slotInfoHardwareVersion = l.field(c.slotInfo, "hardwareVersion", kVersionSig);
    c.slotInfoFirmwareVersion = l.field(c.slotInfo, "firmwareVersion", kVersionSig);

    c.tokenInfo = l.cls(VORLEN_API "CK_TOKEN_INFO");
    c.tokenInfoLabel = l.field(c.tokenInfo, "label", "[C");
    c.tokenInfoManufacturerID = l.field(c.tokenInfo, "manufacturerID", "[C");
    c.tokenInfoModel = l.field(c.tokenInfo, "model", "[C");
    c.tokenInfoSerialNumber = l.field(c.tokenInfo, "serialNumber", "[C");
    c.tokenInfoFlags = l.field(c.tokenInfo, "flags", "J");
    c.tokenInfoMaxSessionCount = l.field(c.tokenInfo, "ulMaxSessionCount", "J");
    c.tokenInfoSessionCount = l.field(c.tokenInfo, "ulSessionCount", "J");
    c.tokenInfoMaxRwSessionCount = l.field(c.tokenInfo, "ulMaxRwSessionCount", "J");
    c.tokenInfoRwSessionCount = l.field(c.tokenInfo, "ulRwSessionCount", "J");
    c.tokenInfoMaxPinLen = l.field(c.tokenInfo, "ulMaxPinLen", "J");
    c.tokenInfoMinPinLen = l.field(c.tokenInfo, "ulMinPinLen", "J");
    c.tokenInfoTotalPublicMemory = l.field(c.tokenInfo, "ulTotalPublicMemory", "J");
    c.tokenInfoFreePublicMemory = l.field(c.tokenInfo, "ulFreePublicMemory", "J");
    c.tokenInfoTotalPrivateMemory = l.field(c.tokenInfo, "ulTotalPrivateMemory", "J");
    c.tokenInfoFreePrivateMemory = l.field(c.tokenInfo, "ulFreePrivateMemory", "J");
    c.tokenInfoHardwareVersion = l.field(c.tokenInfo, "hardwareVersion", kVersionSig);
    c.tokenInfoFirmwareVersion = l.field(c.tokenInfo, "firmwareVersion", kVersionSig);
    c.tokenInfoUtcTime = l.field(c.tokenInfo, "utcTime", "[C");

    c.sessionInfo = l.cls(VORLEN_API "CK_SESSION_INFO");
    c.sessionInfoSlotID = l.field(c.sessionInfo, "slotID", "J");
    c.sessionInfoState = l.field(c.sessionInfo, "state", "J");
    c.sessionInfoFlags = l.field(c.sessionInfo, "flags", "J");
    c.sessionInfoDeviceError = l.field(c.sessionInfo, "ulDeviceError", "J");

    c.mechanismInfo = l.cls(VORLEN_API "CK_MECHANISM_INFO");
    c.mechanismInfoMinKeySize = l.field(c.mechanismInfo, "ulMinKeySize", "J");
    c.mechanismInfoMaxKeySize = l.field(c.mechanismInfo, "ulMaxKeySize", "J");
    c.mechanismInfoFlags = l.field(c.mechanismInfo, "flags", "J");

    c.attribute = l.cls(VORLEN_API "CK_ATTRIBUTE");
    c.attributeType = l.field(c.attribute, "type", "J");
    c.attributePValue = l.field(c.attribute, "pValue", "Ljava/lang/Object;");
    c.attributeArray = l.cls("[L" VORLEN_API "CK_ATTRIBUTE;");

    c.interfaceClass = l.cls(VORLEN_API "CK_INTERFACE");
    c.interfaceName = l.field(c.interfaceClass, "pInterfaceName", "[C");
    c.interfaceVersion = l.field(c.interfaceClass, "version", kVersionSig);
    c.interfaceFlags = l.field(c.interfaceClass, "flags", "J");
}

}  // namespace

void loadConvertCache(Loader& loader) {
    loadJavaLang(loader, convert);
    loadRecords(loader, convert);
    loadParameterRecords(loader);
}

}  // namespace vorlen::jni
