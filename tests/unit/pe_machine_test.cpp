#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "platform/pe_machine.h"

namespace {

using platform::ModuleKind;
using platform::moduleKind;

// A PE32+ image's headers (the PE header at `peHeader`) and one section at address 0x1000, whose
// bytes at `sectionOffset` begin with the load configuration: its size and hybrid metadata pointer.
std::vector<unsigned char> image(std::uint64_t machine, std::uint64_t hybrid = 0,
                                 std::uint64_t configSize = 0x140, std::uint64_t peHeader = 0x40,
                                 std::uint64_t sectionOffset = 0x200) {
    // Offset, value and size: "MZ", the PE header's offset, "PE\0\0", the machine, one section, the
    // optional header's size, PE32+, 16 data directories, the load configuration's address, the
    // section's address, raw size and offset, and the load configuration's fields.
    const std::uint64_t fields[][3] = {
        {0, 0x5a4d, 2},         {0x3c, peHeader, 4}, {0x40, 0x4550, 4}, {0x44, machine, 2},
        {0x46, 1, 2},           {0x54, 0xf0, 2},     {0x58, 0x20b, 2},  {0xc4, 16, 4},
        {0x118, 0x1000, 4},     {0x154, 0x1000, 4},  {0x158, 0x200, 4}, {0x15c, sectionOffset, 4},
        {0x200, configSize, 4}, {0x2c8, hybrid, 8}};
    std::vector<unsigned char> file(0x400);
    for (const auto& [offset, value, size] : fields) {
        for (std::uint64_t i = 0; i < size; ++i) {
            file[offset + i] = static_cast<unsigned char>(value >> 8 * i);
        }
    }
    return file;
}

TEST(PeMachine, TheMachineFieldAndHybridMetadataNameTheModule) {
    EXPECT_EQ(moduleKind(image(0x8664)), ModuleKind::X64);
    EXPECT_EQ(moduleKind(image(0x14c)), ModuleKind::X86);
    EXPECT_EQ(moduleKind(image(0xaa64)), ModuleKind::Arm64);
    EXPECT_EQ(moduleKind(image(0xaa64, 0x180001000)), ModuleKind::Arm64X);
    EXPECT_EQ(moduleKind(image(0x8664, 0x180001000)), ModuleKind::Arm64EC);
    EXPECT_EQ(moduleKind(image(0x1c4)), ModuleKind::Other);
    // A load configuration too short to hold the pointer: what lies there is other data.
    EXPECT_EQ(moduleKind(image(0xaa64, 0x180001000, 0xc8)), ModuleKind::Arm64);
}

TEST(PeMachine, OffsetsPastTheEndOfTheFileAreNotFollowed) {
    EXPECT_EQ(moduleKind(image(0xaa64, 1, 0x140, 0x40, 0xfffffff0)), ModuleKind::Arm64);
    EXPECT_EQ(moduleKind(image(0xaa64, 1, 0x140, 0xfffffffe)), ModuleKind::NotWindowsDll);
    const std::vector<unsigned char> file = image(0xaa64);
    EXPECT_EQ(moduleKind({file.begin(), file.begin() + 0x45}), ModuleKind::NotWindowsDll);
}

}  // namespace
