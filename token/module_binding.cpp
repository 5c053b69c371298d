#include "token/module_binding.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>

#include "platform/platform.h"

namespace {

// More slots than any reader setup has: a larger count is a broken module, not a list to allocate.
constexpr CK_ULONG kMaxSlots = 4096;

struct ModuleState {
    platform::LibraryHandle library = nullptr;
    CK_FUNCTION_LIST* functions = nullptr;
    std::vector<CK_SLOT_ID> slots;
    std::atomic<int> holders{0};
};

ModuleState state;

void unloadAfterFailure(bool initialised) {
    if (initialised) {
        state.functions->C_Finalize(nullptr);
    }
    if (state.library) {
        platform::unloadLibrary(state.library);
    }
    state.library = nullptr;
    state.functions = nullptr;
    state.slots.clear();
}

// The slots, all or those with a token, in the standard's two calls: the count, then the list.
// Only the entries the module wrote count, never more than the list holds. A failure is written
// with the message for the call that failed, where one is given.
bool readSlotList(CK_BBOOL tokenPresent, std::vector<CK_SLOT_ID>& slots,
                  const char* countError = nullptr, const char* listError = nullptr) {
    slots.clear();
    CK_ULONG count = 0;
    CK_RV rv = state.functions->C_GetSlotList(tokenPresent, nullptr, &count);
    if (rv != CKR_OK || count > kMaxSlots) {
        if (countError) {
            platform::print(countError, rv);
        }
        return false;
    }
    if (count == 0) {
        return true;
    }
    slots.assign(count, 0);
    rv = state.functions->C_GetSlotList(tokenPresent, slots.data(), &count);
    if (rv != CKR_OK) {
        slots.clear();
        if (listError) {
            platform::print(listError, rv);
        }
        return false;
    }
    slots.resize(std::min<CK_ULONG>(count, slots.size()));
    return true;
}

bool bindModule() {
    const platform::NativePath path = platform::moduleBesideExecutable();
    if (!platform::fileExists(path)) {
        platform::printPath("Pkcs11 DLL not found : %s\n", path);
        std::exit(-1);
    }
    state.library = platform::loadLibrary(path);
    if (!state.library) {
        // Taken before printing, which may set the error again.
        const unsigned long error = platform::lastLoadError();
        platform::print("LoadLibrary Error %lx\n", error);
        platform::explainRefusedModule(path, error);
        return false;
    }
    const auto getFunctionList = reinterpret_cast<CK_C_GetFunctionList>(
        platform::findSymbol(state.library, "C_GetFunctionList"));
    if (!getFunctionList) {
        platform::print("GetProcAddress Error\n");
        unloadAfterFailure(false);
        return false;
    }
    if (getFunctionList(&state.functions) != CKR_OK || !state.functions) {
        platform::print("GetFunction List Error\n");
        unloadAfterFailure(false);
        return false;
    }
    if (state.functions->C_Initialize(nullptr) != CKR_OK) {
        platform::print("Initialize Error\n");
        unloadAfterFailure(false);
        return false;
    }
    if (!readSlotList(CK_TRUE, state.slots, "GetSlotList1 Error %lx\n",
                      "GetSlotList2 Erron %lx\n")) {
        unloadAfterFailure(true);
        return false;
    }
    return true;
}

}  // namespace

ModuleBinding::ModuleBinding() {
    holds_ = state.library != nullptr || bindModule();
    if (holds_) {
        ++state.holders;
    }
}

ModuleBinding::~ModuleBinding() {
    if (!holds_ || state.holders.fetch_sub(1) != 1) {
        return;
    }
    state.functions->C_Finalize(nullptr);
    state.slots.clear();
    if (state.library && !platform::unloadLibrary(state.library)) {
        platform::printLine("FreeLibrary error");
    }
    state.library = nullptr;
    state.functions = nullptr;
}

CK_FUNCTION_LIST* ModuleBinding::functions() {
    return state.functions;
}

std::vector<CK_SLOT_ID> ModuleBinding::allSlots() {
    std::vector<CK_SLOT_ID> slots;
    if (state.functions) {
        readSlotList(CK_FALSE, slots);
    }
    return slots;
}

const std::vector<CK_SLOT_ID>& ModuleBinding::slots() {
    return state.slots;
}

CK_ULONG ModuleBinding::slotCount() {
    return state.slots.size();
}
