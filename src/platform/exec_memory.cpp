#include "platform/exec_memory.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace kovra {

#if defined(_WIN32)

std::size_t CodePageSize() noexcept
{
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwPageSize;
}

void* MapCodeWritable(std::size_t size) noexcept
{
    if (size == 0)
        return nullptr;
    return VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
}

bool MakeCodeExecutable(void* block, std::size_t size) noexcept
{
    DWORD old = 0;
    if (!block || !VirtualProtect(block, size, PAGE_EXECUTE_READ, &old))
        return false;
    // Stale instruction bytes must not survive the rewrite of a page.
    return FlushInstructionCache(GetCurrentProcess(), block, size) != 0;
}

bool MakeCodeWritable(void* block, std::size_t size) noexcept
{
    DWORD old = 0;
    return block && VirtualProtect(block, size, PAGE_READWRITE, &old);
}

void UnmapCode(void* block, std::size_t) noexcept
{
    if (block)
        VirtualFree(block, 0, MEM_RELEASE);
}

#else

std::size_t CodePageSize() noexcept
{
    const long size = sysconf(_SC_PAGESIZE);
    return size > 0 ? static_cast<std::size_t>(size) : 4096;
}

void* MapCodeWritable(std::size_t size) noexcept
{
    if (size == 0)
        return nullptr;
    void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

bool MakeCodeExecutable(void* block, std::size_t size) noexcept
{
    if (!block || mprotect(block, size, PROT_READ | PROT_EXEC) != 0)
        return false;
#if !defined(__x86_64__) && !defined(__i386__)
    // Other instruction sets keep separate instruction caches.
    __builtin___clear_cache(static_cast<char*>(block), static_cast<char*>(block) + size);
#endif
    return true;
}

bool MakeCodeWritable(void* block, std::size_t size) noexcept
{
    return block && mprotect(block, size, PROT_READ | PROT_WRITE) == 0;
}

void UnmapCode(void* block, std::size_t size) noexcept
{
    if (block)
        munmap(block, size);
}

#endif

}  // namespace kovra
