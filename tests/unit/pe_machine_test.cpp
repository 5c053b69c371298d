#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "platform/pe_machine.h"

namespace {

using platform::ModuleKind;
using platform::moduleKind;

void put(std::vector<unsigned char>& file, std::size_t offset, std::uint64_t value, int size) {
    for (int i = 0; i < size; ++i) {
        file[offset + i] = static_cast<unsigned char>(value >> (8 * i));
    }
}

// A PE32+ image's headers, and one section whose bytes at 0x200 hold the load configuration (Size
// `configSize`, hybrid metadata pointer `hybrid`) at relative address 0x1000.
std::vector<unsigned char> image(std::uint16_t machine, std::uint64_t hybrid = 0,
                                 std::uint32_t configSize = 0x140) {
    std::vector<unsigned char> file(0x400);
    put(file, 0, 0x5a4d, 2);
    put(file, 0x3c, 0x40, 4);
    put(file, 0x40, 0x4550, 4);
    put(file, 0x44, machine, 2);
    put(file, 0x46, 1, 2);                  // sections
    put(file, 0x54, 0xf0, 2);               // optional header size
    put(file, 0x58, 0x20b, 2);              // PE32+
    put(file, 0x58 + 108, 16, 4);           // data directories
    put(file, 0x58 + 112 + 80, 0x1000, 4);  // the load configuration's
    put(file, 0x148 + 12, 0x1000, 4);       // the section: address, raw size, raw offset
    put(file, 0x148 + 16, 0x200, 4);
    put(file, 0x148 + 20, 0x200, 4);
    put(file, 0x200, configSize, 4);
    put(file, 0x200 + 0xc8, hybrid, 8);
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

// No offset a header gives is read past the end of the file.
TEST(PeMachine, OffsetsPastTheEndOfTheFileAreNotFollowed) {
    std::vector<unsigned char> file = image(0xaa64, 0x180001000);
    put(file, 0x148 + 20, 0xfffffff0, 4);
    EXPECT_EQ(moduleKind(file), ModuleKind::Arm64) << "the load configuration's offset";
    put(file, 0x3c, 0xfffffffe, 4);
    EXPECT_EQ(moduleKind(file), ModuleKind::NotWindowsDll) << "the PE header's offset";
    file = image(0xaa64);
    EXPECT_EQ(moduleKind({file.begin(), file.begin() + 0x45}), ModuleKind::NotWindowsDll);
    file[1] = 'X';
    EXPECT_EQ(moduleKind(file), ModuleKind::NotWindowsDll) << "no MZ";
}

}  // namespace
