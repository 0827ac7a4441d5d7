// The link's receive buffer, apart from the rest of the link so that the
// settings check can ask how long an area may be without linking the link.
#pragma once

#include <cstddef>

namespace kovra {

inline constexpr std::size_t kPreambleBytes = 5;  // before the reply proper, when on
// Reply: preamble, two leading bytes, payload, one trailing byte.
inline constexpr std::size_t kReplyOverhead = 3;
inline constexpr std::size_t kMaxAreaLength = 255;  // the length byte of a request
// The largest reply any area can produce (preamble on, 255-byte area), so
// that no configured area can overrun the receive buffer.
inline constexpr std::size_t kRxBufferSize = kPreambleBytes + kReplyOverhead + kMaxAreaLength;

// The longest area whose reply the link receives whole.
constexpr std::size_t LargestReceivableArea(bool preamble)
{
    return kRxBufferSize - kReplyOverhead - (preamble ? kPreambleBytes : 0);
}

}  // namespace kovra
