#include "format/output_location.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/environment.hpp"

namespace runner {
namespace {
const char* color_sequence(Color color) {
    switch (color) {
    case Color::Red:
        return "\x1b[31m";
    case Color::Green:
        return "\x1b[32m";
    case Color::Yellow:
        return "\x1b[33m";
    case Color::Cyan:
        return "\x1b[36m";
    }
    return "";
}
constexpr const char* reset_sequence = "\x1b[0m";
} // namespace

IoError::IoError(int code, std::string message)
    : std::runtime_error(std::move(message)), code_(code) {}

IoError IoError::from_errno(int code) {
    return IoError(code, std::strerror(code));
}

std::string IoError::debug() const {
    return "Os { code: " + std::to_string(code_) + ", message: \"" + what() + "\" }";
}

void StdoutLocation::write(std::string_view bytes) {
    if (bytes.empty()) {
        return;
    }
    errno = 0;
    if (std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size()) {
        const int code = errno != 0 ? errno : EIO;
        std::clearerr(stdout);
        throw IoError::from_errno(code);
    }
}

void StdoutLocation::flush() {
    errno = 0;
    if (std::fflush(stdout) != 0) {
        const int code = errno != 0 ? errno : EIO;
        std::clearerr(stdout);
        throw IoError::from_errno(code);
    }
}

void StdoutLocation::set_color(Color color) {
    write(color_sequence(color));
}
void StdoutLocation::reset_color() {
    write(reset_sequence);
}

void StringLocation::set_color(Color color) {
    text_ += color_sequence(color);
}
void StringLocation::reset_color() {
    text_ += reset_sequence;
}

bool terminal_description_usable() {
    const auto term = platform::env_text(platform::env_variable("TERM"));
    return term && !term->empty() && *term != "dumb";
}

} // namespace runner
