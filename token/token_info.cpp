#include "token/token_info.h"

#include "token/module_binding.h"

namespace {

// Some modules leave C_GetTokenInfo out of their table, or answer that they do not support it.
CK_RV readTokenInfo(CK_SLOT_ID slot, CK_TOKEN_INFO& info) {
    const CK_FUNCTION_LIST* functions = ModuleBinding::functions();
    info = {};
    return functions->C_GetTokenInfo ? functions->C_GetTokenInfo(slot, &info)
                                     : CKR_FUNCTION_NOT_SUPPORTED;
}

}  // namespace

PinTries userPinTries(CK_SLOT_ID slot) {
    CK_TOKEN_INFO info;
    if (readTokenInfo(slot, info) != CKR_OK) {
        return PinTries::Full;
    }
    // A module may set several; the nearest to a lock counts.
    if (info.flags & CKF_USER_PIN_LOCKED) {
        return PinTries::Locked;
    }
    if (info.flags & CKF_USER_PIN_FINAL_TRY) {
        return PinTries::FinalTry;
    }
    return info.flags & CKF_USER_PIN_COUNT_LOW ? PinTries::TriedBefore : PinTries::Full;
}

bool someTokenUnreadable() {
    const CK_FUNCTION_LIST* functions = ModuleBinding::functions();
    for (CK_SLOT_ID slot : ModuleBinding::allSlots()) {
        CK_SLOT_INFO slotInfo = {};
        CK_TOKEN_INFO tokenInfo;
        if (!functions->C_GetSlotInfo || functions->C_GetSlotInfo(slot, &slotInfo) != CKR_OK ||
            !(slotInfo.flags & CKF_TOKEN_PRESENT)) {
            continue;
        }
        const CK_RV rv = readTokenInfo(slot, tokenInfo);
        // A token that left between the two calls is no card in the reader.
        if (rv != CKR_OK && rv != CKR_FUNCTION_NOT_SUPPORTED && rv != CKR_TOKEN_NOT_PRESENT) {
            return true;
        }
    }
    return false;
}
