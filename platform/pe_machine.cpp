#include "platform/pe_machine.h"

#include <cstdint>

namespace platform {
namespace {

// Offsets and values of the PE format.
constexpr std::uint64_t kDosSignature = 0x5a4d;     // "MZ"
constexpr std::uint64_t kPeOffset = 0x3c;           // where the DOS header keeps the PE header's
constexpr std::uint64_t kPeSignature = 0x00004550;  // "PE\0\0"
constexpr std::uint64_t kOptionalHeader = 24;       // from the PE signature
constexpr std::uint64_t kPe32Plus = 0x20b;
constexpr std::uint64_t kLoadConfigDirectory = 10;
constexpr std::uint64_t kSectionHeaderSize = 40;
// The 64-bit load configuration's pointer to hybrid (CHPE) metadata, which ARM64EC and ARM64X
// images set and others leave zero or do not have.
constexpr std::uint64_t kHybridMetadataPointer = 0xc8;

// The unsigned little-endian field of `size` bytes at `offset`; false past the end of the file.
bool field(const std::vector<unsigned char>& file, std::uint64_t offset, unsigned size,
           std::uint64_t& value) {
    if (offset > file.size() || size > file.size() - offset) {
        return false;
    }
    value = 0;
    for (unsigned i = size; i-- > 0;) {
        value = value << 8 | file[offset + i];
    }
    return true;
}

// Where a relative virtual address lies in the file, through the section table.
bool fileOffset(const std::vector<unsigned char>& file, std::uint64_t sectionTable,
                std::uint64_t sections, std::uint64_t address, std::uint64_t& offset) {
    for (std::uint64_t i = 0; i < sections; ++i) {
        const std::uint64_t header = sectionTable + i * kSectionHeaderSize;
        std::uint64_t start, rawSize, rawOffset;
        if (!field(file, header + 12, 4, start) || !field(file, header + 16, 4, rawSize) ||
            !field(file, header + 20, 4, rawOffset)) {
            return false;
        }
        if (address >= start && address - start < rawSize) {
            offset = rawOffset + (address - start);
            return true;
        }
    }
    return false;
}

bool hasHybridMetadata(const std::vector<unsigned char>& file, std::uint64_t peHeader) {
    const std::uint64_t optional = peHeader + kOptionalHeader;
    std::uint64_t sections, optionalSize, magic, directories, address, offset, size, pointer;
    return field(file, peHeader + 6, 2, sections) && field(file, peHeader + 20, 2, optionalSize) &&
           field(file, optional, 2, magic) && magic == kPe32Plus &&
           field(file, optional + 108, 4, directories) && directories > kLoadConfigDirectory &&
           field(file, optional + 112 + 8 * kLoadConfigDirectory, 4, address) && address != 0 &&
           fileOffset(file, optional + optionalSize, sections, address, offset) &&
           field(file, offset, 4, size) && size >= kHybridMetadataPointer + 8 &&
           field(file, offset + kHybridMetadataPointer, 8, pointer) && pointer != 0;
}

}  // namespace

ModuleKind moduleKind(const std::vector<unsigned char>& file) {
    std::uint64_t dosSignature, peHeader, peSignature, machine;
    if (!field(file, 0, 2, dosSignature) || dosSignature != kDosSignature ||
        !field(file, kPeOffset, 4, peHeader) || !field(file, peHeader, 4, peSignature) ||
        peSignature != kPeSignature || !field(file, peHeader + 4, 2, machine)) {
        return ModuleKind::NotWindowsDll;
    }
    switch (machine) {
        case 0x14c:
            return ModuleKind::X86;
        case 0x8664:
            return hasHybridMetadata(file, peHeader) ? ModuleKind::Arm64EC : ModuleKind::X64;
        case 0xaa64:
            return hasHybridMetadata(file, peHeader) ? ModuleKind::Arm64X : ModuleKind::Arm64;
        default:
            return ModuleKind::Other;
    }
}

}  // namespace platform
