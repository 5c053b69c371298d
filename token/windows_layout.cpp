// Built into the Windows executable only. OpenSC's DLL, like every Windows module, lays the
// Cryptoki structures out with 1-byte packing and a 32-bit CK_ULONG. Our test module is built
// from the same header as the tool, so no test run can notice a header that differs: this can.
#include <cstddef>

#include "token/pkcs11.h"

static_assert(sizeof(CK_ULONG) == 4, "CK_ULONG must be 32 bits, as Windows modules have it");
static_assert(sizeof(CK_ATTRIBUTE) == 16, "CK_ATTRIBUTE must be packed to 16 bytes");
static_assert(offsetof(CK_ATTRIBUTE, pValue) == 4, "pValue must follow the 4-byte type");
static_assert(offsetof(CK_ATTRIBUTE, ulValueLen) == 12, "ulValueLen must follow pValue");
static_assert(offsetof(CK_FUNCTION_LIST, C_Initialize) == sizeof(CK_VERSION),
              "the function pointers must follow the 2-byte version without padding");
