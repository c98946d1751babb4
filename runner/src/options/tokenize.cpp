#include "options/tokenize.hpp"

#include <optional>
#include <string_view>

#include "text/utf8.hpp"

namespace runner::options {

namespace {

struct Tokenizer {
    const std::vector<std::string>& args;
    std::size_t next = 1; // index of the next argument to look at
    Matches matches;
    std::optional<TokenizeError> error;

    void fail(std::string message) { error = TokenizeError{std::move(message)}; }

    // The value of an option written as `name`: the attached text, or else the next argument.
    std::optional<std::string> take_value(std::optional<std::string_view> attached,
                                          std::string_view name) {
        if (attached) {
            return std::string(*attached);
        }
        if (next < args.size()) {
            return args[next++];
        }
        fail("Argument to option '" + std::string(name) + "' missing");
        return std::nullopt;
    }

    // Records one occurrence of `row`, written as `name` on the command line.
    void record(std::size_t row, std::string_view name, std::optional<std::string> value) {
        auto& occurrence = matches.options[row];
        if (occurrence.present && option_table[row].kind != ArgKind::Multi) {
            fail("Option '" + std::string(name) + "' given more than once");
            return;
        }
        occurrence.present = true;
        if (value) {
            occurrence.values.push_back(std::move(*value));
        }
    }

    void long_option(std::string_view body) {
        const auto equals = body.find('=');
        const std::string_view name = body.substr(0, equals);
        std::optional<std::string_view> attached;
        if (equals != std::string_view::npos) {
            attached = body.substr(equals + 1);
        }
        const auto row = find_long(name);
        if (!row) {
            fail("Unrecognized option: '" + std::string(name) + "'");
            return;
        }
        if (option_table[*row].kind == ArgKind::Flag) {
            if (attached) {
                fail("Option '" + std::string(name) + "' does not take an argument");
                return;
            }
            record(*row, name, std::nullopt);
            return;
        }
        auto value = take_value(attached, name);
        if (value) {
            record(*row, name, std::move(value));
        }
    }

    // A group of short options after the dash: flags, possibly ending with one value option
    // whose value is the rest of the group or the next argument.
    void short_group(std::string_view group) {
        std::size_t pos = 0;
        while (pos < group.size() && !error) {
            const std::size_t length = character_length(group, pos);
            const std::string_view name = group.substr(pos, length);
            pos += length;
            const auto row = name.size() == 1 ? find_short(name[0]) : std::nullopt;
            if (!row) {
                fail("Unrecognized option: '" + std::string(name) + "'");
                return;
            }
            if (option_table[*row].kind == ArgKind::Flag) {
                record(*row, name, std::nullopt);
                continue;
            }
            std::optional<std::string_view> attached;
            if (pos < group.size()) {
                attached = group.substr(pos);
            }
            auto value = take_value(attached, name);
            if (value) {
                record(*row, name, std::move(value));
            }
            return;
        }
    }

    // The byte length of the UTF-8 character at `pos`, so that an unknown option is reported
    // as the whole character; a byte that does not start a well-formed sequence stands alone.
    static std::size_t character_length(std::string_view arg, std::size_t pos) {
        const text::Utf8Char c = text::utf8_next(arg.substr(pos));
        return c.valid ? c.length : 1;
    }

    void run() {
        while (next < args.size() && !error) {
            const std::string_view arg = args[next++];
            if (arg == "--") {
                while (next < args.size()) {
                    matches.free.push_back(args[next++]);
                }
            } else if (arg.size() > 2 && arg.starts_with("--")) {
                long_option(arg.substr(2));
            } else if (arg.size() > 1 && arg[0] == '-') {
                short_group(arg.substr(1));
            } else {
                matches.free.emplace_back(arg);
            }
        }
    }
};

} // namespace

std::variant<Matches, TokenizeError> tokenize(const std::vector<std::string>& args) {
    Tokenizer tokenizer{args, 1, {}, std::nullopt};
    tokenizer.run();
    if (tokenizer.error) {
        return std::move(*tokenizer.error);
    }
    return std::move(tokenizer.matches);
}

} // namespace runner::options
