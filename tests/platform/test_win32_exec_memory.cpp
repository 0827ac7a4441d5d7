// Executable memory: mapped writable, filled, sealed read-execute, reopened
// for writing, and what runs from it is what was written last. On Windows
// the protections are read back from the system (VirtualQuery), so a block
// that is writable and executable at once would show.
#include "platform/exec_memory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace kovra {
namespace {

#if defined(_WIN32)
DWORD ProtectionAt(const void* p)
{
    MEMORY_BASIC_INFORMATION info{};
    if (VirtualQuery(p, &info, sizeof info) != sizeof info || info.State != MEM_COMMIT)
        return 0;
    return info.Protect;
}
#endif

#if defined(__x86_64__) || defined(__i386__)
// mov eax, imm32; ret
void PutReturnOf(std::uint8_t* at, std::uint32_t value)
{
    const std::uint8_t code[] = {0xB8, static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                                 static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24),
                                 0xC3};
    std::memcpy(at, code, sizeof code);
}

int Call(const void* at)
{
    using Fn = int (*)();
    Fn fn;
    std::memcpy(&fn, &at, sizeof fn);
    return fn();
}
#endif

TEST(Win32ExecMemory, PageSizeAndEmptyRequests)
{
    const std::size_t page = CodePageSize();
    EXPECT_GE(page, 4096u);
    EXPECT_EQ(page & (page - 1), 0u) << "not a power of two";
    EXPECT_EQ(MapCodeWritable(0), nullptr);
    EXPECT_FALSE(MakeCodeExecutable(nullptr, page));
    EXPECT_FALSE(MakeCodeWritable(nullptr, page));
    UnmapCode(nullptr, page);
}

TEST(Win32ExecMemory, WritableThenExecutableNeverBothAndRewritable)
{
    const std::size_t page = CodePageSize();
    const std::size_t size = 3 * page + 1;  // a last page only partly asked for
    auto* block = static_cast<std::uint8_t*>(MapCodeWritable(size));
    ASSERT_NE(block, nullptr);
    std::uint8_t* last = block + 3 * page;
    last[0] = 0xCC;  // the whole last page is there and writable
#if defined(_WIN32)
    EXPECT_EQ(ProtectionAt(block), static_cast<DWORD>(PAGE_READWRITE));
    EXPECT_EQ(ProtectionAt(last), static_cast<DWORD>(PAGE_READWRITE));
#endif
#if defined(__x86_64__) || defined(__i386__)
    PutReturnOf(block, 42);
    PutReturnOf(last, 7);
#endif
    ASSERT_TRUE(MakeCodeExecutable(block, size));
#if defined(_WIN32)
    EXPECT_EQ(ProtectionAt(block), static_cast<DWORD>(PAGE_EXECUTE_READ));
    EXPECT_EQ(ProtectionAt(last), static_cast<DWORD>(PAGE_EXECUTE_READ));
#endif
#if defined(__x86_64__) || defined(__i386__)
    EXPECT_EQ(Call(block), 42);
    EXPECT_EQ(Call(last), 7);
#endif

    // Refilled in place: the new bytes run, not stale ones.
    ASSERT_TRUE(MakeCodeWritable(block, size));
#if defined(_WIN32)
    EXPECT_EQ(ProtectionAt(block), static_cast<DWORD>(PAGE_READWRITE));
    EXPECT_EQ(ProtectionAt(last), static_cast<DWORD>(PAGE_READWRITE));
#endif
#if defined(__x86_64__) || defined(__i386__)
    PutReturnOf(block, 1234567);
    ASSERT_TRUE(MakeCodeExecutable(block, size));
    EXPECT_EQ(Call(block), 1234567);
    EXPECT_EQ(Call(last), 7);
#endif
    UnmapCode(block, size);
#if defined(_WIN32)
    EXPECT_EQ(ProtectionAt(block), 0u) << "still mapped";
#endif
}

TEST(Win32ExecMemory, ManyBlocksAreIndependent)
{
    const std::size_t page = CodePageSize();
    void* blocks[16];
    for (std::size_t i = 0; i < 16; ++i) {
        blocks[i] = MapCodeWritable(page);
        ASSERT_NE(blocks[i], nullptr);
#if defined(__x86_64__) || defined(__i386__)
        PutReturnOf(static_cast<std::uint8_t*>(blocks[i]), static_cast<std::uint32_t>(100 + i));
#endif
        ASSERT_TRUE(MakeCodeExecutable(blocks[i], page));
    }
    // Sealing one block must not change the protection of another.
    ASSERT_TRUE(MakeCodeWritable(blocks[3], page));
#if defined(_WIN32)
    EXPECT_EQ(ProtectionAt(blocks[2]), static_cast<DWORD>(PAGE_EXECUTE_READ));
    EXPECT_EQ(ProtectionAt(blocks[3]), static_cast<DWORD>(PAGE_READWRITE));
#endif
    ASSERT_TRUE(MakeCodeExecutable(blocks[3], page));
#if defined(__x86_64__) || defined(__i386__)
    for (std::size_t i = 0; i < 16; ++i)
        EXPECT_EQ(Call(blocks[i]), static_cast<int>(100 + i));
#endif
    for (void* b : blocks)
        UnmapCode(b, page);
}

}  // namespace
}  // namespace kovra
