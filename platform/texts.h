// The user-facing Japanese texts, written once, in UTF-8. POSIX terminals get them as they are; on
// Windows the output layer writes them to a console as UTF-16 and, redirected, in code page 932
// (Shift_JIS), as the tool always wrote them.
#pragma once

#include <string>

#include "platform/pe_machine.h"

namespace texts {

struct ConsoleTexts {
    const char* usage;       // with the program name
    const char* example;     // with the program name
    const char* outputFile;  // with the output path
    const char* prompt;
    const char* processing;
    const char* pinPrompt;       // asks for the PIN, which is not shown as it is typed
    const char* pinTriedBefore;  // wrong PINs were entered before this run
    const char* pinFinalTry;     // one try is left: a wrong PIN locks it (the question follows)
    const char* pinLocked;       // the PIN is locked, so there is no login
    const char* pinNowFinalTry;  // after a wrong PIN: one try is left
    const char* pinNowLocked;    // after a wrong PIN: it is locked now
    const char* unreadableCard;  // after "No token found": a card is there that cannot be read
};

const ConsoleTexts& console();

// The line after "LoadLibrary Error c1": what the module is, and that OpenSC's x64 module is
// needed.
std::string refusedModule(platform::ModuleKind kind);

// What the `-` form tells of the certificate that the output file holds.
struct CertificateTexts {
    const char* holder;        // with the subject's common name
    const char* issuer;        // with the issuer's common name
    const char* validity;      // with the first and the last day
    const char* expiresSoon;   // with the last day, 30 days away or nearer
    const char* expired;       // with the last day, gone by
    const char* notYetValid;   // with the first day, still to come
    const char* personalData;  // who the file should go to
};

const CertificateTexts& certificate();

}  // namespace texts
