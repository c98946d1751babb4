#include "format/formatter.hpp"

#include <cstdlib>

namespace runner {

std::unique_ptr<OutputFormatter> make_formatter(OutputFormat format, OutputLocation& out,
                                                const FormatterSettings& settings) {
    switch (format) {
    case OutputFormat::Pretty:
        return make_pretty_formatter(out, settings);
    case OutputFormat::Terse:
        return make_terse_formatter(out, settings);
    case OutputFormat::Json:
        return make_json_formatter(out, settings);
    case OutputFormat::Junit:
        return make_junit_formatter(out, settings);
    }
    std::abort();
}

} // namespace runner
