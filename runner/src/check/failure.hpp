// The one way anything thrown out of a check's code becomes a failure of that check, for the
// check's own body and for the threads it starts alike.
#pragma once

#include <exception>
#include <optional>
#include <string>

#include "runner/check.hpp"

namespace runner::detail {

// Runs `body`. A failure raised through runner::panic comes back as it is; any other exception
// is turned into a failure at `site` (the check's declaration), its panic report written to the
// thread's output like any other: "uncaught exception: {what}" for a standard exception, a
// non-text payload for anything else.
template <class Body>
std::optional<Panic> catch_failure(const PanicLocation& site, Body&& body) {
    try {
        try {
            body();
            return std::nullopt;
        } catch (const Panic&) {
            throw;
        } catch (const std::exception& error) {
            panic_at(PanicPayload::text(std::string("uncaught exception: ") + error.what()), site);
        } catch (...) {
            panic_at(PanicPayload::value(std::any(), "an unknown exception type"), site);
        }
    } catch (const Panic& failure) {
        return failure;
    }
}

// The text of a failure of the runner itself (an exception thrown outside a check's code):
// copied into `buffer` without allocating, since it is mostly an allocation that failed.
template <std::size_t N>
void describe_runner_failure(char (&buffer)[N]) noexcept {
    const char* what = "an unknown exception type";
    try {
        throw;
    } catch (const std::exception& error) {
        what = error.what();
    } catch (...) {
    }
    std::size_t i = 0;
    for (; i + 1 < N && what[i] != '\0'; ++i) {
        buffer[i] = what[i];
    }
    buffer[i] = '\0';
}

// The note on how to see a backtrace comes with the first panic of the run only. A check's own
// process is told whether the run has shown it already, and tells whether it showed it.
bool backtrace_note_pending();
void set_backtrace_note_pending(bool pending);

} // namespace runner::detail
