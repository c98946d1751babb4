#include "outcome/calc_result.hpp"

namespace runner {
namespace {

// The message of a failure as its panic report shows it.
std::string panic_message(const PanicPayload& payload) {
    return payload.is_text() ? payload.message()
                             : "non-text panic payload of type `" + payload.type_name() + "`";
}

} // namespace

TestResult calc_result(const TestDesc& desc, const std::optional<PanicPayload>& panic,
                       const std::optional<TestTimeOptions>& time_opts,
                       const std::optional<TestExecTime>& exec_time) {
    TestResult result;
    const ShouldPanic& expected = desc.should_panic;
    if (expected.kind == ShouldPanicKind::No) {
        result = panic ? TestResult::failed(panic_message(*panic)) : TestResult::passed();
    } else if (!panic) {
        std::string message = "test did not panic as expected";
        if (!desc.source_file.empty()) {
            message += " at " + std::string(desc.source_file) + ":" +
                       std::to_string(desc.start_line) + ":" + std::to_string(desc.start_col);
        }
        result = TestResult::failed_with(std::move(message));
    } else if (expected.kind == ShouldPanicKind::Yes) {
        result = TestResult::passed();
    } else if (panic->is_text()) {
        if (panic->message().find(expected.expected) != std::string::npos) {
            result = TestResult::passed();
        } else {
            result = TestResult::failed_with(
                "panic did not contain expected string\n      panic message: " +
                debug_quoted(panic->message()) +
                "\n expected substring: " + debug_quoted(expected.expected));
        }
    } else {
        result = TestResult::failed_with(
            "expected panic with string value,\n found non-string "
            "value: `" +
            panic->type_name() + "`\n     expected substring: " + debug_quoted(expected.expected));
    }

    if (result.kind == TestResultKind::Passed && time_opts && time_opts->error_on_excess &&
        exec_time && time_opts->is_critical(desc.test_type, exec_time->duration)) {
        result = TestResult::time_limit_exceeded();
    }
    return result;
}

} // namespace runner
