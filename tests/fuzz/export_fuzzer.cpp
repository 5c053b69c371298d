// Fuzzes one export run (session, login, listing, lookup, PEM writer) against a module table that
// answers from the fuzz input. This file stands in for token/module_binding.cpp.
//
// Input layout, read from the front, zero past its end (success, nothing found, so every run ends):
// each call takes a result byte (below 0xf8 is CKR_OK); C_GetTokenInfo then a byte of PIN flags
// (CKF_USER_PIN_COUNT_LOW and up); C_FindObjects then a reported count byte;
// C_GetAttributeValue then, per template entry, a length (a byte; 0xfd: two more bytes, big-endian;
// 0xfe: absurd; 0xff: CK_UNAVAILABLE_INFORMATION) and, when given a buffer, the value bytes.
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>

#include "export/export_driver.h"
#include "token/module_binding.h"

namespace {

const std::uint8_t* input = nullptr;
std::size_t inputLeft = 0;

std::uint8_t next() {
    if (inputLeft == 0) {
        return 0;
    }
    --inputLeft;
    return *input++;
}

CK_RV result() {
    static const CK_RV errors[] = {CKR_GENERAL_ERROR,          CKR_DEVICE_ERROR,
                                   CKR_BUFFER_TOO_SMALL,       CKR_ATTRIBUTE_TYPE_INVALID,
                                   CKR_OBJECT_HANDLE_INVALID,  CKR_PIN_INCORRECT,
                                   CKR_SESSION_HANDLE_INVALID, CKR_OPERATION_ACTIVE};
    const std::uint8_t byte = next();
    return byte < 0xf8 ? CKR_OK : errors[byte & 7];
}

CK_ULONG reportedLength() {
    const std::uint8_t byte = next();
    switch (byte) {
        case 0xfd: {
            const CK_ULONG high = next();
            return high << 8 | next();
        }
        case 0xfe:
            return ~CK_ULONG(0) >> 1;
        case 0xff:
            return CK_UNAVAILABLE_INFORMATION;
        default:
            return byte;
    }
}

// Reads every byte the caller claims to hand over, so that a wrong length shows as a bad read.
void touch(const void* data, CK_ULONG length) {
    volatile std::uint8_t sum = 0;
    for (CK_ULONG i = 0; i < length; ++i) {
        sum = sum + static_cast<const std::uint8_t*>(data)[i];
    }
}

CK_RV openSession(CK_SLOT_ID, CK_FLAGS, void*, CK_NOTIFY, CK_SESSION_HANDLE* session) {
    *session = 1;
    return result();
}

CK_RV anySession(CK_SESSION_HANDLE) {
    return result();
}

// Any flags, the PIN's tries among them.
CK_RV getTokenInfo(CK_SLOT_ID, CK_TOKEN_INFO* info) {
    const CK_RV rv = result();
    info->flags = CK_FLAGS(next()) << 16;
    return rv;
}

CK_RV login(CK_SESSION_HANDLE, CK_USER_TYPE, CK_UTF8CHAR* pin, CK_ULONG length) {
    touch(pin, length);
    return result();
}

CK_RV findObjectsInit(CK_SESSION_HANDLE, CK_ATTRIBUTE* search, CK_ULONG count) {
    for (CK_ULONG i = 0; i < count; ++i) {
        touch(search[i].pValue, search[i].ulValueLen);
    }
    return result();
}

// May report more handles than asked for; writes no more than asked for.
CK_RV findObjects(CK_SESSION_HANDLE, CK_OBJECT_HANDLE* objects, CK_ULONG room, CK_ULONG* count) {
    const CK_RV rv = result();
    *count = next();
    for (CK_ULONG i = 0; i < std::min(*count, room); ++i) {
        objects[i] = 101 + i;
    }
    return rv;
}

// May report any length, before and after the values; writes no more than each buffer holds.
CK_RV getAttributeValue(CK_SESSION_HANDLE, CK_OBJECT_HANDLE, CK_ATTRIBUTE* wanted, CK_ULONG count) {
    const CK_RV rv = result();
    for (CK_ULONG i = 0; i < count; ++i) {
        const CK_ULONG length = reportedLength();
        if (wanted[i].pValue) {
            const CK_ULONG written = std::min(length, wanted[i].ulValueLen);
            for (CK_ULONG j = 0; j < written; ++j) {
                static_cast<std::uint8_t*>(wanted[i].pValue)[j] = next();
            }
        }
        wanted[i].ulValueLen = length;
    }
    return rv;
}

CK_FUNCTION_LIST table() {
    CK_FUNCTION_LIST functions = {};
    functions.version = {2, 40};
    functions.C_GetTokenInfo = getTokenInfo;
    functions.C_OpenSession = openSession;
    functions.C_CloseSession = anySession;
    functions.C_Login = login;
    functions.C_Logout = anySession;
    functions.C_FindObjectsInit = findObjectsInit;
    functions.C_FindObjects = findObjects;
    functions.C_FindObjectsFinal = anySession;
    functions.C_GetAttributeValue = getAttributeValue;
    return functions;
}

std::string outputPath;

void removeOutput() {
    unlink(outputPath.c_str());
}

}  // namespace

ModuleBinding::ModuleBinding() {
    holds_ = true;
}

ModuleBinding::~ModuleBinding() {}

CK_FUNCTION_LIST* ModuleBinding::functions() {
    static CK_FUNCTION_LIST functions = table();
    return &functions;
}

const std::vector<CK_SLOT_ID>& ModuleBinding::slots() {
    static const std::vector<CK_SLOT_ID> slots = {1, 2};
    return slots;
}

std::vector<CK_SLOT_ID> ModuleBinding::allSlots() {
    return slots();
}

CK_ULONG ModuleBinding::slotCount() {
    return slots().size();
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The tool's messages are not what is checked; the sanitizers and libFuzzer report on stderr.
    std::freopen("/dev/null", "w", stdout);
    char path[] = "/tmp/certexport-fuzz-XXXXXX";
    const int file = mkstemp(path);
    if (file < 0) {
        std::abort();
    }
    close(file);
    outputPath = path;
    std::atexit(removeOutput);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    input = data;
    inputLeft = size;
    // Whether to go on at the final try comes from the input too.
    runExport("97531", outputPath, [] { return next() & 1; });
    return 0;
}
