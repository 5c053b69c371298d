// The benchmark's floor: only the PKCS#11 calls that exporting a certificate needs, then the PEM
// text written with OpenSSL, CR LF line ends as certexport writes them.
//   floor MODULE PIN OUTPUT LABEL   one search by label, one value read
//   floor --all MODULE PIN OUTPUT   one search, one value read per certificate, all in OUTPUT
// Like certexport it opens the second slot that holds a token.
#include <dlfcn.h>
#include <openssl/pem.h>
#include <p11-kit/pkcs11.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Room for any certificate a card holds; one read instead of asking for the length first.
constexpr CK_ULONG kValueRoom = 64 * 1024;
// More certificates than one token holds; one C_FindObjects call returns them all.
constexpr CK_ULONG kObjectRoom = 4096;

CK_FUNCTION_LIST* p11 = nullptr;

bool failed(const char* call, CK_RV rv) {
    std::fprintf(stderr, "%s: 0x%lx\n", call, rv);
    return false;
}

bool appendPem(const unsigned char* der, CK_ULONG length, std::string& text) {
    BIO* memory = BIO_new(BIO_s_mem());
    if (!memory || PEM_write_bio(memory, "CERTIFICATE", "", der, static_cast<long>(length)) <= 0) {
        BIO_free(memory);
        return false;
    }
    char* pem = nullptr;
    const long size = BIO_get_mem_data(memory, &pem);
    for (long i = 0; i < size; ++i) {
        if (pem[i] == '\n') {
            text += '\r';
        }
        text += pem[i];
    }
    BIO_free(memory);
    return true;
}

// One search (by label, or for every certificate when label is null), one value read per match.
bool exportCertificates(CK_SESSION_HANDLE session, const char* label, std::string& text) {
    CK_OBJECT_CLASS certificate = CKO_CERTIFICATE;
    CK_BBOOL onToken = CK_TRUE;
    CK_ATTRIBUTE search[] = {
        {CKA_CLASS, &certificate, sizeof certificate},
        {CKA_TOKEN, &onToken, sizeof onToken},
        {CKA_LABEL, const_cast<char*>(label), label ? std::strlen(label) : 0},
    };
    CK_RV rv = p11->C_FindObjectsInit(session, search, label ? 3 : 2);
    if (rv != CKR_OK) {
        return failed("C_FindObjectsInit", rv);
    }
    std::vector<CK_OBJECT_HANDLE> objects(label ? 1 : kObjectRoom);
    CK_ULONG found = 0;
    rv = p11->C_FindObjects(session, objects.data(), objects.size(), &found);
    p11->C_FindObjectsFinal(session);
    if (rv != CKR_OK || found == 0) {
        return failed("C_FindObjects", rv);
    }
    std::vector<unsigned char> value(kValueRoom);
    for (CK_ULONG i = 0; i < found; ++i) {
        CK_ATTRIBUTE read = {CKA_VALUE, value.data(), kValueRoom};
        rv = p11->C_GetAttributeValue(session, objects[i], &read, 1);
        if (rv != CKR_OK || !appendPem(value.data(), read.ulValueLen, text)) {
            return failed("C_GetAttributeValue", rv);
        }
    }
    return true;
}

bool run(const char* pin, const char* label, std::string& text) {
    CK_SLOT_ID slots[64];
    CK_ULONG count = 64;
    CK_RV rv = p11->C_GetSlotList(CK_TRUE, slots, &count);
    if (rv != CKR_OK || count < 2) {
        return failed("C_GetSlotList", rv);
    }
    CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
    rv = p11->C_OpenSession(slots[1], CKF_SERIAL_SESSION, nullptr, nullptr, &session);
    if (rv != CKR_OK) {
        return failed("C_OpenSession", rv);
    }
    rv = p11->C_Login(session, CKU_USER, reinterpret_cast<CK_UTF8CHAR*>(const_cast<char*>(pin)),
                      std::strlen(pin));
    const bool exported =
        rv == CKR_OK ? exportCertificates(session, label, text) : failed("C_Login", rv);
    if (rv == CKR_OK) {
        p11->C_Logout(session);
    }
    p11->C_CloseSession(session);
    return exported;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s MODULE PIN OUTPUT LABEL | --all MODULE PIN OUTPUT\n",
                     argv[0]);
        return 2;
    }
    const bool all = std::strcmp(argv[1], "--all") == 0;
    char** args = all ? argv + 2 : argv + 1;
    void* module = dlopen(args[0], RTLD_NOW | RTLD_LOCAL);
    const auto getFunctionList =
        module ? reinterpret_cast<CK_C_GetFunctionList>(dlsym(module, "C_GetFunctionList"))
               : nullptr;
    if (!getFunctionList || getFunctionList(&p11) != CKR_OK) {
        std::fprintf(stderr, "cannot load %s\n", args[0]);
        return 1;
    }
    CK_RV rv = p11->C_Initialize(nullptr);
    if (rv != CKR_OK) {
        failed("C_Initialize", rv);
        return 1;
    }
    std::string text;
    bool exported = run(args[1], all ? nullptr : args[3], text);
    p11->C_Finalize(nullptr);
    dlclose(module);
    std::FILE* file = exported ? std::fopen(args[2], "wb") : nullptr;
    exported = file && std::fwrite(text.data(), 1, text.size(), file) == text.size();
    exported = file && std::fclose(file) == 0 && exported;
    return exported ? 0 : 1;
}
