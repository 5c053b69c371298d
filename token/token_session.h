// Owners of a session and of a login on it: closing and logging out happen when they go.
#pragma once

#include <string>

#include "token/pkcs11.h"

class TokenSession {
  public:
    // A read-write serial session on the slot; handle() is 0 when the module refused it.
    explicit TokenSession(CK_SLOT_ID slot);
    ~TokenSession();
    TokenSession(const TokenSession&) = delete;
    TokenSession& operator=(const TokenSession&) = delete;

    CK_SESSION_HANDLE handle() const { return handle_; }

  private:
    CK_SESSION_HANDLE handle_ = CK_INVALID_HANDLE;
};

class TokenLogin {
  public:
    // Logs the normal user in with the PIN's bytes as given; handle() is 0 when refused.
    TokenLogin(CK_SESSION_HANDLE session, const std::string& pin);
    ~TokenLogin();
    TokenLogin(const TokenLogin&) = delete;
    TokenLogin& operator=(const TokenLogin&) = delete;

    CK_SESSION_HANDLE handle() const { return handle_; }

  private:
    CK_SESSION_HANDLE handle_ = CK_INVALID_HANDLE;
};
