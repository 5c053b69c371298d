// What a Windows module was built for, read from the bytes of its PE headers, so that a module the
// loader refuses can be named. Plain C++, so that it is tested natively.
#pragma once

#include <vector>

namespace platform {

enum class ModuleKind {
    NotWindowsDll,  // no PE image, or headers that lie past the end of the file
    X86,            // 32-bit x86
    X64,
    Arm64,
    Arm64EC,  // ARM64 code behind an x64 machine field, told by its hybrid metadata
    Arm64X,   // ARM64 and ARM64EC code in one file: an ARM64 machine field with hybrid metadata
    Other,    // any other processor
};

// Bounded by the file's bytes: no offset a header gives is trusted.
ModuleKind moduleKind(const std::vector<unsigned char>& file);

}  // namespace platform
