// When a check ends the whole process (std::terminate, abort, a fatal signal), its captured
// output would be lost with it: these handlers write it to standard output first.
#pragma once

namespace runner {

void install_crash_handlers();

} // namespace runner
