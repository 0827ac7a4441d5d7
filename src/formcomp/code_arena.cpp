#include "formcomp/code_arena.h"

#include "platform/exec_memory.h"

#include <algorithm>
#include <mutex>
#include <new>
#include <vector>

namespace kovra {

namespace {

constexpr std::size_t kChunkPages = 64;

class Arena {
public:
    CodeBlock Acquire(std::size_t size) noexcept
    {
        const std::size_t pages = std::max<std::size_t>(1, (size + page_ - 1) / page_);
        std::lock_guard lock(mutex_);
        // The smallest free block that fits.
        std::size_t best = free_.size();
        for (std::size_t i = 0; i < free_.size(); ++i)
            if (free_[i].Pages >= pages && (best == free_.size() || free_[i].Pages < free_[best].Pages))
                best = i;
        if (best < free_.size()) {
            const Free found = free_[best];
            free_.erase(free_.begin() + static_cast<std::ptrdiff_t>(best));
            if (found.Pages > pages)
                Keep({found.Data + pages * page_, found.Pages - pages, found.Writable});
            if (!found.Writable && !MakeCodeWritable(found.Data, pages * page_)) {
                Keep({found.Data, pages, false});
                return {};
            }
            return {found.Data, pages * page_};
        }
        if (chunkPages_ < pages) {
            const std::size_t mapPages = std::max(pages, kChunkPages);
            auto* chunk = static_cast<std::uint8_t*>(MapCodeWritable(mapPages * page_));
            if (!chunk)
                return {};
            if (chunkPages_ > 0)
                Keep({chunk_, chunkPages_, true});
            chunk_ = chunk;
            chunkPages_ = mapPages;
        }
        const CodeBlock block{chunk_, pages * page_};
        chunk_ += pages * page_;
        chunkPages_ -= pages;
        return block;
    }

    void Release(const CodeBlock& block, bool sealed) noexcept
    {
        if (!block.Data)
            return;
        std::lock_guard lock(mutex_);
        Keep({block.Data, block.Size / page_, !sealed});
    }

private:
    struct Free {
        std::uint8_t* Data;
        std::size_t Pages;
        bool Writable;
    };

    void Keep(const Free& f) noexcept
    {
        try {
            free_.push_back(f);
        } catch (const std::bad_alloc&) {
            // The pages stay mapped but unused: nothing runs from them.
        }
    }

    std::mutex mutex_;
    const std::size_t page_ = CodePageSize();
    std::vector<Free> free_;
    std::uint8_t* chunk_ = nullptr;  // untouched pages, writable
    std::size_t chunkPages_ = 0;
};

// Never destroyed: records with static lifetime may release blocks during
// exit, after any ordinary static would be gone.
Arena& TheArena()
{
    static Arena* arena = new Arena;
    return *arena;
}

}  // namespace

CodeBlock AcquireCodeBlock(std::size_t size) noexcept
{
    return TheArena().Acquire(size);
}

bool SealCodeBlock(const CodeBlock& block) noexcept
{
    return block.Data && MakeCodeExecutable(block.Data, block.Size);
}

void ReleaseCodeBlock(const CodeBlock& block, bool sealed) noexcept
{
    TheArena().Release(block, sealed);
}

}  // namespace kovra
