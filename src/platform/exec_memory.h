// Memory for generated machine code. A block is mapped read-write, filled,
// then switched to read-execute; it is never writable and executable at once.
#pragma once

#include <cstddef>

namespace kovra {

// The granularity of protection changes.
std::size_t CodePageSize() noexcept;

// Maps at least size bytes, readable and writable. Returns nullptr on failure.
void* MapCodeWritable(std::size_t size) noexcept;

// Turns a block from MapCodeWritable into read-execute (no longer writable).
bool MakeCodeExecutable(void* block, std::size_t size) noexcept;

// Turns executable pages back into read-write (no longer executable), to be
// filled again.
bool MakeCodeWritable(void* block, std::size_t size) noexcept;

// Releases a block from MapCodeWritable; nullptr is ignored.
void UnmapCode(void* block, std::size_t size) noexcept;

}  // namespace kovra
