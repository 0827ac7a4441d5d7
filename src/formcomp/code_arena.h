// Pages for generated code, carved from large mappings.
//
// Mapping, protecting and unmapping a page for every formula costs three
// system calls, each flushing address translations; here a fresh block costs
// one protection change and a reused block two. A block is whole pages, is
// handed out writable and never executable, and is sealed read-execute once
// filled: no page is ever writable and executable at once.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kovra {

struct CodeBlock {
    std::uint8_t* Data = nullptr;
    std::size_t Size = 0;  // whole pages
};

// A writable block of at least size bytes; an empty block when memory is short.
CodeBlock AcquireCodeBlock(std::size_t size) noexcept;
// Makes the block read-execute.
bool SealCodeBlock(const CodeBlock& block) noexcept;
// Returns the block for reuse; sealed tells whether it was made executable.
void ReleaseCodeBlock(const CodeBlock& block, bool sealed) noexcept;

}  // namespace kovra
