// What a wrapper script does to get one process per check: lists the checks of PROGRAM and
// starts PROGRAM --exact NAME once per check with posix_spawn, at most WIDTH at a time, and
// waits for each. Its report goes nowhere.
// Usage: runner_spawn_baseline WIDTH PROGRAM
#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "jobs.hpp"

extern char** environ;

int main(int argc, char** argv) {
    if (argc < 3) {
        return 2;
    }
    const unsigned long width = std::strtoul(argv[1], nullptr, 10);
    const std::string program = argv[2];
    std::vector<std::string> names;
    if (FILE* list = ::popen((program + " --list").c_str(), "r")) {
        char line[4096];
        while (std::fgets(line, sizeof line, list) != nullptr) {
            std::string text(line);
            const std::size_t suffix = text.rfind(": test\n");
            if (suffix != std::string::npos) {
                names.push_back(text.substr(0, suffix));
            }
        }
        ::pclose(list);
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    const long failures = run_jobs(names.size(), width, [&](unsigned long job) {
        std::string exact = "--exact";
        char* args[] = {argv[2], exact.data(), names[job].data(), nullptr};
        pid_t pid = 0;
        return ::posix_spawn(&pid, argv[2], &actions, nullptr, args, environ) == 0 ? pid : -1;
    });
    posix_spawn_file_actions_destroy(&actions);
    return failures < 0 ? 2 : failures == 0 ? 0 : 1;
}
