// Starting a program and collecting what it wrote and how it ended.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace cli {

struct Finished {
    int status = -1; // the exit status; -1 when the program ended by a signal
    std::string out; // everything written to standard output
    std::string err; // everything written to standard error
};

// Runs `program` with `args` (argument 0 is `program`) and waits for it. The environment is the
// test's own without any SARNIVELLE_ variable, plus `env`.
Finished run(const std::string& program, const std::vector<std::string>& args,
             const std::map<std::string, std::string>& env = {});

} // namespace cli
