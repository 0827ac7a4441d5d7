// What every fuzz target shares: a check that stops the run with the failed
// condition (libFuzzer then keeps the input), and the input cut into parts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#define FUZZ_CHECK(condition)                                                                    \
    do {                                                                                         \
        if (!(condition)) {                                                                      \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                        \
        }                                                                                        \
    } while (0)

namespace kovra::fuzz {

// The input cut at each NUL byte; parts past the count wanted run together
// into the last one (which may then hold NULs).
inline std::vector<std::string> Parts(const std::uint8_t* data, std::size_t size, std::size_t count)
{
    std::vector<std::string> parts(count);
    const std::string_view all(reinterpret_cast<const char*>(data), size);
    std::size_t pos = 0;
    for (std::size_t i = 0; i + 1 < count && pos <= all.size(); ++i) {
        const std::size_t nul = all.find('\0', pos);
        if (nul == std::string_view::npos) {
            parts[i] = std::string(all.substr(pos));
            return parts;
        }
        parts[i] = std::string(all.substr(pos, nul - pos));
        pos = nul + 1;
    }
    if (pos <= all.size())
        parts[count - 1] = std::string(all.substr(pos));
    return parts;
}

}  // namespace kovra::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
