// Process-wide binding of the token module beside the executable. Every holder keeps the module
// loaded and initialised; the last holder to go finalises and unloads it.
#pragma once

#include <vector>

#include "token/pkcs11.h"

class ModuleBinding {
  public:
    // Loads, initialises and reads the slots with a token, unless an earlier holder did. A missing
    // module file ends the process with exit code -1. Other failures leave slotCount() at 0.
    ModuleBinding();
    ~ModuleBinding();
    ModuleBinding(const ModuleBinding&) = delete;
    ModuleBinding& operator=(const ModuleBinding&) = delete;

    // The module's function list: the only way to call the module.
    static CK_FUNCTION_LIST* functions();
    static const std::vector<CK_SLOT_ID>& slots();
    // Every slot, with a token or not, read anew; empty when the module is not bound.
    static std::vector<CK_SLOT_ID> allSlots();
    static CK_ULONG slotCount();

  private:
    bool holds_ = false;  // an acquire that failed releases nothing
};
