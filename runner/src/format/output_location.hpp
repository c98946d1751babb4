// Where a report goes: standard output, a terminal that can switch colour, or a string.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace runner {

// A failure to write the report or the log file.
class IoError : public std::runtime_error {
public:
    IoError(int code, std::string message);
    int code() const { return code_; }
    // The debugging form shown after "io error when listing tests: ".
    std::string debug() const;
    static IoError from_errno(int code);

private:
    int code_;
};

// Standard terminal foreground colours.
enum class Color { Red = 1, Green = 2, Yellow = 3, Cyan = 6 };

class OutputLocation {
public:
    virtual ~OutputLocation() = default;
    // Both throw IoError.
    virtual void write(std::string_view bytes) = 0;
    virtual void flush() = 0;
    // True for a terminal with a usable description, which can switch the foreground colour.
    virtual bool supports_color() const { return false; }
    virtual void set_color(Color color) { (void)color; }
    virtual void reset_color() {}
};

// Standard output of the process, written through C stdio (shared with std::cout).
class StdoutLocation : public OutputLocation {
public:
    // `terminal`: standard output has a usable terminal description (colour may be written).
    explicit StdoutLocation(bool terminal) : terminal_(terminal) {}
    void write(std::string_view bytes) override;
    void flush() override;
    bool supports_color() const override { return terminal_; }
    void set_color(Color color) override;
    void reset_color() override;

private:
    bool terminal_;
};

// A report kept in memory, for tests. `colour` makes it act as a terminal.
class StringLocation : public OutputLocation {
public:
    explicit StringLocation(bool colour = false) : colour_(colour) {}
    void write(std::string_view bytes) override { text_.append(bytes); }
    void flush() override {}
    bool supports_color() const override { return colour_; }
    void set_color(Color color) override;
    void reset_color() override;
    const std::string& text() const { return text_; }

private:
    bool colour_;
    std::string text_;
};

// The location for standard output: a terminal when TERM names a usable terminal
// description (set, not empty, not "dumb"), else plain.
bool terminal_description_usable();

} // namespace runner
