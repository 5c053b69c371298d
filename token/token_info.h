// What a token tells of itself before a login: how many wrong PINs it has seen, and whether the
// module can read it at all.
#pragma once

#include "token/pkcs11.h"

enum class PinTries {
    Full,         // no wrong PIN so far, or the module does not tell
    TriedBefore,  // wrong PINs were entered before
    FinalTry,     // a wrong PIN now locks it
    Locked,
};

// The user PIN's tries as the token's flags report them.
PinTries userPinTries(CK_SLOT_ID slot);

// Whether a slot reports a token that the module cannot read, as OpenSC does for a card whose
// signing PIN is locked. OpenSC lists such a slot only once asked for its slot information, so
// every slot is asked. A module that offers no token information reads no token as unreadable.
bool someTokenUnreadable();
