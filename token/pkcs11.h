// PKCS#11 types and constants as published, from p11-kit. On Windows this header gives the
// Windows Cryptoki ABI (1-byte packing, 32-bit CK_ULONG); elsewhere the native one.
#pragma once

#include <p11-kit/pkcs11.h>
