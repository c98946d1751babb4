// The usage text of `--help`, made from the option table.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace runner::options {

// The whole usage text; `program` is the path the executable was started with.
std::string usage_text(std::string_view program);

// A description laid out for the usage text: trimmed, split at its line breaks, empty lines
// dropped, and the words of each line packed greedily into pieces of at most `width` bytes
// joined by single spaces (a longer word stands alone).
std::vector<std::string> pack_description(std::string_view description, std::size_t width);

} // namespace runner::options
