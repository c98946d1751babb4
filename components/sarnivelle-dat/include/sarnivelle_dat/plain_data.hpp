// Blocks of plain data: fixed-size byte blocks that own no storage.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace sarnivelle_dat {

// A block of `Size` bytes whose inner layout the records carry without interpreting it.
template <std::size_t Size>
using PlainData = std::array<std::uint8_t, Size>;

} // namespace sarnivelle_dat
