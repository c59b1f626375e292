// Parses PKCS#11 URIs with libp11-kit and prints what it understood, for the URI tests, which
// compare it with the Java class's parse and format.
//
// Takes the URIs as arguments; prints one line per URI:
//   ERR <p11-kit's code> <its message>
//   OK <TAB> <p11_kit_uri_format's text> <TAB> <fields>
// where <fields> lists the attributes set, in a fixed order, as name=HEX of the value's bytes
// separated by ';' (the padded fields of CK_INFO, CK_SLOT_INFO and CK_TOKEN_INFO without their
// trailing blanks; library-version as M.m; slot-id in decimal; type as the RFC's word), then
// "unrecognized" when p11-kit saw a path attribute it does not know. The environment variable
// VORLEN_VENDOR_QUERY names vendor query attributes to look up, separated by commas; each one
// that is set is listed as query:NAME=HEX.
#include <p11-kit/pkcs11.h>
#include <p11-kit/uri.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

std::string hex(const void *data, size_t length) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    const unsigned char *bytes = static_cast<const unsigned char *>(data);
    for (size_t i = 0; i < length; i++) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0x0F];
    }
    return text;
}

void field(std::string &out, const char *name, const std::string &value) {
    if (!out.empty()) {
        out += ';';
    }
    out += name;
    out += '=';
    out += value;
}

// A padded structure field: unset when its first byte is zero (p11-kit's convention).
void padded(std::string &out, const char *name, const CK_UTF8CHAR *value, size_t size) {
    if (value[0] == 0) {
        return;
    }
    size_t end = size;
    while (end > 0 && (value[end - 1] == ' ' || value[end - 1] == 0)) {
        end--;
    }
    field(out, name, hex(value, end));
}

void text(std::string &out, const char *name, const char *value) {
    if (value != nullptr) {
        field(out, name, hex(value, std::strlen(value)));
    }
}

const char *typeName(CK_OBJECT_CLASS objectClass) {
    switch (objectClass) {
    case CKO_PUBLIC_KEY: return "public";
    case CKO_PRIVATE_KEY: return "private";
    case CKO_CERTIFICATE: return "cert";
    case CKO_SECRET_KEY: return "secret-key";
    case CKO_DATA: return "data";
    default: return "?";
    }
}

}  // namespace

int main(int argc, char **argv) {
    std::vector<std::string> vendorNames;
    if (const char *names = std::getenv("VORLEN_VENDOR_QUERY")) {
        std::istringstream list(names);
        std::string name;
        while (std::getline(list, name, ',')) {
            vendorNames.push_back(name);
        }
    }
    for (int arg = 1; arg < argc; arg++) {
        std::string line = argv[arg];
        P11KitUri *uri = p11_kit_uri_new();
        int status = p11_kit_uri_parse(line.c_str(), P11_KIT_URI_FOR_ANY, uri);
        if (status != P11_KIT_URI_OK) {
            std::cout << "ERR " << status << ' ' << p11_kit_uri_message(status) << '\n';
            p11_kit_uri_free(uri);
            continue;
        }
        std::string out;
        CK_INFO *module = p11_kit_uri_get_module_info(uri);
        padded(out, "library-description", module->libraryDescription, sizeof module->libraryDescription);
        padded(out, "library-manufacturer", module->manufacturerID, sizeof module->manufacturerID);
        if (module->libraryVersion.major != static_cast<CK_BYTE>(-1)) {
            field(out, "library-version", std::to_string(module->libraryVersion.major) + "."
                  + std::to_string(module->libraryVersion.minor));
        }
        CK_SLOT_INFO *slot = p11_kit_uri_get_slot_info(uri);
        padded(out, "slot-description", slot->slotDescription, sizeof slot->slotDescription);
        padded(out, "slot-manufacturer", slot->manufacturerID, sizeof slot->manufacturerID);
        CK_SLOT_ID slotId = p11_kit_uri_get_slot_id(uri);
        if (slotId != static_cast<CK_SLOT_ID>(-1)) {
            field(out, "slot-id", std::to_string(slotId));
        }
        CK_TOKEN_INFO *token = p11_kit_uri_get_token_info(uri);
        padded(out, "model", token->model, sizeof token->model);
        padded(out, "manufacturer", token->manufacturerID, sizeof token->manufacturerID);
        padded(out, "serial", token->serialNumber, sizeof token->serialNumber);
        padded(out, "token", token->label, sizeof token->label);
        for (const auto &[type, name] : {std::pair{CKA_ID, "id"}, std::pair{CKA_LABEL, "object"}}) {
            if (CK_ATTRIBUTE *attribute = p11_kit_uri_get_attribute(uri, type)) {
                field(out, name, hex(attribute->pValue, attribute->ulValueLen));
            }
        }
        CK_ATTRIBUTE *objectClass = p11_kit_uri_get_attribute(uri, CKA_CLASS);
        if (objectClass != nullptr && objectClass->ulValueLen == sizeof(CK_OBJECT_CLASS)) {
            CK_OBJECT_CLASS value;
            std::memcpy(&value, objectClass->pValue, sizeof value);
            field(out, "type", typeName(value));
        }
        text(out, "pin-source", p11_kit_uri_get_pin_source(uri));
        text(out, "pin-value", p11_kit_uri_get_pin_value(uri));
        text(out, "module-name", p11_kit_uri_get_module_name(uri));
        text(out, "module-path", p11_kit_uri_get_module_path(uri));
        for (const std::string &name : vendorNames) {
            text(out, ("query:" + name).c_str(), p11_kit_uri_get_vendor_query(uri, name.c_str()));
        }
        if (p11_kit_uri_any_unrecognized(uri)) {
            if (!out.empty()) {
                out += ';';
            }
            out += "unrecognized";
        }
        char *formatted = nullptr;
        status = p11_kit_uri_format(uri, P11_KIT_URI_FOR_ANY, &formatted);
        if (status != P11_KIT_URI_OK) {
            std::cout << "ERR " << status << " format: " << p11_kit_uri_message(status) << '\n';
        } else {
            std::cout << "OK\t" << formatted << '\t' << out << '\n';
            std::free(formatted);
        }
        p11_kit_uri_free(uri);
    }
    return 0;
}
