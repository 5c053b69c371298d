#include "token/token_session.h"

#include <cstring>

#include "platform/platform.h"
#include "token/module_binding.h"

TokenSession::TokenSession(CK_SLOT_ID slot) {
    const CK_RV rv = ModuleBinding::functions()->C_OpenSession(
        slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &handle_);
    if (rv != CKR_OK) {
        platform::print("\tOpenSession Error %lx\n", rv);
        handle_ = CK_INVALID_HANDLE;
    }
}

TokenSession::~TokenSession() {
    if (handle_ != CK_INVALID_HANDLE &&
        ModuleBinding::functions()->C_CloseSession(handle_) != CKR_OK) {
        platform::print("\tCloseSession Error\n");
    }
    handle_ = CK_INVALID_HANDLE;
}

TokenLogin::TokenLogin(CK_SESSION_HANDLE session, const std::string& pin) {
    // Like the command line, the PIN ends at its first zero byte.
    const CK_ULONG length = std::strlen(pin.c_str());
    const CK_RV rv = ModuleBinding::functions()->C_Login(
        session, CKU_USER, reinterpret_cast<CK_UTF8CHAR*>(const_cast<char*>(pin.data())), length);
    if (rv == CKR_OK) {
        handle_ = session;
    } else {
        platform::print("\t\tLogin Error\n");
    }
}

TokenLogin::~TokenLogin() {
    if (handle_ != CK_INVALID_HANDLE && ModuleBinding::functions()->C_Logout(handle_) != CKR_OK) {
        platform::printLine("\t\tlogout error");
    }
    handle_ = CK_INVALID_HANDLE;
}
