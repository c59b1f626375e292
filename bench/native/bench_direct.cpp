// The physical limit: the same calls as the Java benchmark, made from C++ straight through the
// module's CK_FUNCTION_LIST. Prints one line per workload: "<name> <median ns per call>".
//
// Usage: bench_direct <overhead module> [<softhsm module> <pin>]
#include <dlfcn.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "pkcs11/pkcs11.h"

namespace {

using Clock = std::chrono::steady_clock;

// Median over `runs` runs of the mean time per call in a run of `iterations` calls, after
// `warmup` calls: the same procedure as the Java harness.
double measure(const std::function<void()>& call, int warmup, int runs, int iterations) {
    for (int i = 0; i < warmup; ++i) call();
    std::vector<double> perCall;
    for (int r = 0; r < runs; ++r) {
        const auto start = Clock::now();
        for (int i = 0; i < iterations; ++i) call();
        const auto elapsed = std::chrono::duration<double, std::nano>(Clock::now() - start).count();
        perCall.push_back(elapsed / iterations);
    }
    std::sort(perCall.begin(), perCall.end());
    return perCall[perCall.size() / 2];
}

void check(CK_RV rv, const char* what) {
    if (rv != CKR_OK) {
        std::fprintf(stderr, "bench_direct: %s failed with 0x%lX\n", what, static_cast<unsigned long>(rv));
        std::exit(1);
    }
}

CK_FUNCTION_LIST_PTR load(const char* path) {
    void* handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        std::fprintf(stderr, "bench_direct: %s\n", dlerror());
        std::exit(1);
    }
    auto getList = reinterpret_cast<CK_C_GetFunctionList>(dlsym(handle, "C_GetFunctionList"));
    CK_FUNCTION_LIST_PTR list = nullptr;
    check(getList != nullptr ? getList(&list) : CKR_GENERAL_ERROR, "C_GetFunctionList");
    return list;
}

void report(const char* name, double ns) { std::printf("%s %.1f\n", name, ns); }

void overhead(const char* path) {
    CK_FUNCTION_LIST_PTR f = load(path);
    check(f->C_Initialize(nullptr), "C_Initialize");
    const CK_SESSION_HANDLE session = 1;
    const int warmup = 200000, runs = 9, iterations = 500000;

    report("overhead.C_GetSessionInfo", measure([&] {
        CK_SESSION_INFO info;
        f->C_GetSessionInfo(session, &info);
    }, warmup, runs, iterations));

    report("overhead.C_GenerateRandom32", measure([&] {
        CK_BYTE random[32];
        f->C_GenerateRandom(session, random, sizeof random);
    }, warmup, runs, iterations));

    CK_BYTE data[32] = {};
    report("overhead.C_Sign32", measure([&] {
        CK_BYTE signature[256];
        CK_ULONG length = sizeof signature;
        f->C_Sign(session, data, sizeof data, signature, &length);
    }, warmup, runs, iterations));

    report("overhead.C_GetAttributeValue5", measure([&] {
        CK_ATTRIBUTE t[5] = {{CKA_CLASS, nullptr, 0}, {CKA_KEY_TYPE, nullptr, 0}, {CKA_LABEL, nullptr, 0},
                             {CKA_TOKEN, nullptr, 0}, {CKA_ID, nullptr, 0}};
        f->C_GetAttributeValue(session, 2, t, 5);
        CK_BYTE values[5][64];
        for (int i = 0; i < 5; ++i) t[i].pValue = values[i];
        f->C_GetAttributeValue(session, 2, t, 5);
    }, warmup, runs, iterations));

    report("overhead.C_FindObjects100", measure([&] {
        CK_OBJECT_HANDLE handles[100];
        CK_ULONG count = 0;
        f->C_FindObjects(session, handles, 100, &count);
    }, warmup, runs, iterations));
    f->C_Finalize(nullptr);
}

void realWork(const char* path, const char* pin) {
    CK_FUNCTION_LIST_PTR f = load(path);
    CK_C_INITIALIZE_ARGS args{};
    args.flags = CKF_OS_LOCKING_OK;
    check(f->C_Initialize(&args), "C_Initialize");
    CK_SLOT_ID slots[8];
    CK_ULONG slotCount = 8;
    check(f->C_GetSlotList(CK_TRUE, slots, &slotCount), "C_GetSlotList");
    CK_SESSION_HANDLE s = 0;
    check(f->C_OpenSession(slots[0], CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &s), "C_OpenSession");
    check(f->C_Login(s, CKU_USER, reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>(pin)), std::strlen(pin)), "C_Login");

    CK_BBOOL yes = CK_TRUE;
    CK_ULONG bits = 2048;
    CK_BYTE exponent[] = {1, 0, 1};
    CK_ATTRIBUTE rsaPublic[] = {{CKA_MODULUS_BITS, &bits, sizeof bits}, {CKA_PUBLIC_EXPONENT, exponent, sizeof exponent},
                                {CKA_VERIFY, &yes, 1}};
    CK_ATTRIBUTE rsaPrivate[] = {{CKA_SIGN, &yes, 1}};
    CK_MECHANISM rsaGen{CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0};
    CK_OBJECT_HANDLE rsaPub = 0, rsaPriv = 0;
    check(f->C_GenerateKeyPair(s, &rsaGen, rsaPublic, 3, rsaPrivate, 1, &rsaPub, &rsaPriv), "RSA key pair");

    CK_BYTE p256[] = {0x06, 0x08, 0x2a, 0x86, 0x48, 0xce, 0x3d, 0x03, 0x01, 0x07};
    CK_ATTRIBUTE ecPublic[] = {{CKA_EC_PARAMS, p256, sizeof p256}, {CKA_VERIFY, &yes, 1}};
    CK_ATTRIBUTE ecPrivate[] = {{CKA_SIGN, &yes, 1}};
    CK_MECHANISM ecGen{CKM_EC_KEY_PAIR_GEN, nullptr, 0};
    CK_OBJECT_HANDLE ecPub = 0, ecPriv = 0;
    check(f->C_GenerateKeyPair(s, &ecGen, ecPublic, 2, ecPrivate, 1, &ecPub, &ecPriv), "EC key pair");

    CK_ULONG aesLength = 32;
    CK_ATTRIBUTE aesTemplate[] = {{CKA_VALUE_LEN, &aesLength, sizeof aesLength}, {CKA_ENCRYPT, &yes, 1}};
    CK_MECHANISM aesGen{CKM_AES_KEY_GEN, nullptr, 0};
    CK_OBJECT_HANDLE aes = 0;
    check(f->C_GenerateKey(s, &aesGen, aesTemplate, 2, &aes), "AES key");

    std::vector<CK_BYTE> mebibyte(1 << 20, 0x5A);
    CK_BYTE hash[32] = {1};

    report("real.C_Sign.RSA-2048", measure([&] {
        CK_MECHANISM m{CKM_RSA_PKCS, nullptr, 0};
        f->C_SignInit(s, &m, rsaPriv);
        CK_BYTE signature[512];
        CK_ULONG length = 256;  // the binding's first offer
        f->C_Sign(s, hash, sizeof hash, signature, &length);
    }, 20, 7, 200));

    report("real.C_Sign.ECDSA-P256", measure([&] {
        CK_MECHANISM m{CKM_ECDSA, nullptr, 0};
        f->C_SignInit(s, &m, ecPriv);
        CK_BYTE signature[256];
        CK_ULONG length = 256;
        f->C_Sign(s, hash, sizeof hash, signature, &length);
    }, 50, 7, 1000));

    std::vector<CK_BYTE> out(mebibyte.size() + 64);
    report("real.C_Digest.SHA-256.1MiB", measure([&] {
        CK_MECHANISM m{CKM_SHA256, nullptr, 0};
        f->C_DigestInit(s, &m);
        CK_ULONG length = 0;
        f->C_Digest(s, mebibyte.data(), mebibyte.size(), nullptr, &length);
        f->C_Digest(s, mebibyte.data(), mebibyte.size(), out.data(), &length);
    }, 10, 7, 50));

    CK_BYTE iv[16] = {};
    report("real.C_Encrypt.AES-CBC.1MiB", measure([&] {
        CK_MECHANISM m{CKM_AES_CBC, iv, sizeof iv};
        f->C_EncryptInit(s, &m, aes);
        CK_ULONG length = 0;
        f->C_Encrypt(s, mebibyte.data(), mebibyte.size(), nullptr, &length);
        f->C_Encrypt(s, mebibyte.data(), mebibyte.size(), out.data(), &length);
    }, 10, 7, 50));

    f->C_Logout(s);
    f->C_CloseSession(s);
    f->C_Finalize(nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 && argc != 4) {
        std::fprintf(stderr, "usage: bench_direct <overhead module> [<softhsm module> <pin>]\n");
        return 2;
    }
    overhead(argv[1]);
    if (argc == 4) {
        realWork(argv[2], argv[3]);
    }
    return 0;
}
