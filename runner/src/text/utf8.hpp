// Captured output is arbitrary bytes; reports show it as UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace runner {

// `bytes` decoded as UTF-8, each invalid sequence (its maximal valid prefix) replaced by
// U+FFFD.
std::string utf8_lossy(std::string_view bytes);

} // namespace runner
