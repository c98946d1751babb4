// What a run leaves at the path of each document it writes for a build system (the JUnit file
// and the timeline): the complete document or nothing, never a cut-off one, and never a
// clobbered file, link or device that stood there.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "child_process.hpp"

namespace protocol_tests {
namespace {

using test_support::ChildResult;
using test_support::ChildSpec;
using Names = std::set<std::string>;

class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/sarnivelle-outputs-XXXXXX";
        const char* made = ::mkdtemp(pattern);
        path_ = made != nullptr ? made : "";
    }
    ~TempDir() {
        const std::string command = "chmod -R u+w '" + path_ + "'; rm -rf '" + path_ + "'";
        [[maybe_unused]] const int status = std::system(command.c_str());
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(std::string_view name) const { return path_ + "/" + std::string(name); }

private:
    std::string path_;
};

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void write_file(const std::string& path, std::string_view text) {
    std::ofstream(path, std::ios::binary) << text;
}

mode_t kind_of(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 ? (info.st_mode & S_IFMT) : 0;
}

Names entries(const std::string& directory) {
    Names names;
    if (DIR* dir = ::opendir(directory.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") {
                names.insert(name);
            }
        }
        ::closedir(dir);
    }
    return names;
}

// A shell that prepares the child's process and then becomes the fixture: `script` ends with
// `"$0" "$@"`, which runs the fixture with `args`.
ChildResult run_in_shell(const std::string& script, const std::vector<std::string>& args,
                         const std::vector<std::pair<std::string, std::string>>& env) {
    ChildSpec child;
    child.args = {"-c", script, FIXTURE_BINARY};
    child.args.insert(child.args.end(), args.begin(), args.end());
    child.env = env;
    ChildResult result = test_support::run_child("/bin/sh", child);
    EXPECT_FALSE(result.timed_out) << result.out << result.err;
    return result;
}

// Drops root's privileges for the fixture, so that permissions stop it; empty when the
// fixture cannot run so.
std::string unprivileged_prefix() {
    if (::geteuid() != 0) {
        return "exec";
    }
    const std::string prefix = "exec setpriv --reuid=nobody --regid=nogroup --clear-groups --";
    const ChildResult probe = run_in_shell(prefix + " \"$0\" --list pass::tests::first", {}, {});
    return probe.exited && probe.exit_status == 0 ? prefix : "";
}

struct Output {
    std::string variable;
    std::string head, tail; // of the complete document
};

const Output outputs[] = {
    {"XML_OUTPUT_FILE", "<?xml ", "</testsuite>\n"},
    {"SARNIVELLE_TEST_TRACE", "{\"displayTimeUnit\":\"ms\",\"traceEvents\":[\n", "]}\n"},
};

bool complete(const Output& output, const std::string& document) {
    return document.starts_with(output.head) && document.ends_with(output.tail);
}

enum class Stands {
    Nothing,
    File,
    Symlink,
    HardLink,
    DanglingLink,
    MissingDir,
    ReadOnlyDir,
    CannotGrow,
    Fifo
};

struct Row {
    const char* what;
    Stands stands;
    int status;
    std::string error; // in standard error
    Names left;        // in the test's directory afterwards
};

// The document's path in `dir` for a row, prepared as the row says.
std::string prepare(const TempDir& dir, Stands stands) {
    const std::string path = dir.file("out");
    switch (stands) {
    case Stands::File:
        write_file(path, "earlier");
        break;
    case Stands::Symlink:
        write_file(dir.file("target"), "precious");
        EXPECT_EQ(::symlink("target", path.c_str()), 0);
        break;
    case Stands::HardLink:
        write_file(dir.file("other"), "precious");
        EXPECT_EQ(::link(dir.file("other").c_str(), path.c_str()), 0);
        break;
    case Stands::DanglingLink:
        EXPECT_EQ(::symlink("target", path.c_str()), 0);
        break;
    case Stands::MissingDir:
        return dir.file("missing/out");
    case Stands::ReadOnlyDir:
        EXPECT_EQ(::chmod(dir.path().c_str(), 0555), 0);
        break;
    case Stands::Fifo:
        EXPECT_EQ(::mkfifo(path.c_str(), 0666), 0);
        break;
    case Stands::Nothing:
    case Stands::CannotGrow:
        break;
    }
    return path;
}

TEST(Outputs, each_document_is_whole_or_absent_and_nothing_at_its_path_is_clobbered) {
    const Row rows[] = {
        {"regular file", Stands::File, 0, "", {"out"}},
        {"missing file", Stands::Nothing, 0, "", {"out"}},
        {"symbolic link", Stands::Symlink, 0, "", {"out", "target"}},
        {"hard link", Stands::HardLink, 0, "", {"out", "other"}},
        {"dangling link", Stands::DanglingLink, 0, "", {"out", "target"}},
        {"missing directory", Stands::MissingDir, 101, "No such file or directory", {}},
        {"read-only directory", Stands::ReadOnlyDir, 101, "Permission denied", {}},
        {"file that cannot grow", Stands::CannotGrow, 101, "File too large", {}},
        {"FIFO", Stands::Fifo, 0, "", {"out"}},
    };
    const std::string unprivileged = unprivileged_prefix();
    bool skipped = false;
    for (const Output& output : outputs) {
        for (const Row& row : rows) {
            SCOPED_TRACE(output.variable + ", " + row.what);
            std::string shell = "exec \"$0\" \"$@\"";
            if (row.stands == Stands::ReadOnlyDir) {
                if (unprivileged.empty()) {
                    skipped = true;
                    continue;
                }
                shell = unprivileged + " \"$0\" \"$@\"";
            } else if (row.stands == Stands::CannotGrow) {
                // The write fails with EFBIG instead of killing the process.
                shell = "trap '' XFSZ; ulimit -f 0; " + shell;
            }
            const TempDir dir;
            ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
            const std::string path = prepare(dir, row.stands);

            std::string through_fifo;
            std::thread reader;
            if (row.stands == Stands::Fifo) {
                reader = std::thread([&] { through_fifo = read_file(path); });
            }
            const ChildResult result = run_in_shell(shell, {"pass::"}, {{output.variable, path}});
            if (reader.joinable()) {
                // Releases the reader if the runner never opened the FIFO.
                const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK);
                if (fd >= 0) {
                    ::close(fd);
                }
                reader.join();
            }

            EXPECT_TRUE(result.exited) << "signal " << result.signal;
            EXPECT_EQ(result.exit_status, row.status) << result.err;
            EXPECT_NE(result.err.find(row.error), std::string::npos) << result.err;
            // The report on standard output is complete, unless the run was refused at start.
            if (result.exit_status == 0 || result.err.find("io error") != std::string::npos) {
                EXPECT_NE(result.out.find("test result: ok. 3 passed;"), std::string::npos)
                    << result.out;
            } else {
                EXPECT_EQ(output.variable, "XML_OUTPUT_FILE") << "refused at start";
                EXPECT_EQ(result.out, "");
            }
            ::chmod(dir.path().c_str(), 0755);
            EXPECT_EQ(entries(dir.path()), row.left);

            switch (row.stands) {
            case Stands::File:
            case Stands::Nothing:
                EXPECT_TRUE(complete(output, read_file(path))) << read_file(path);
                break;
            case Stands::Symlink:
            case Stands::DanglingLink:
                EXPECT_EQ(kind_of(path), S_IFLNK);
                EXPECT_TRUE(complete(output, read_file(dir.file("target"))));
                break;
            case Stands::HardLink:
                EXPECT_EQ(read_file(dir.file("other")), "precious");
                EXPECT_TRUE(complete(output, read_file(path))) << read_file(path);
                break;
            case Stands::Fifo:
                EXPECT_EQ(kind_of(path), S_IFIFO);
                EXPECT_TRUE(complete(output, through_fifo)) << through_fifo;
                break;
            case Stands::MissingDir:
            case Stands::ReadOnlyDir:
            case Stands::CannotGrow:
                break;
            }
        }
    }
    if (skipped) {
        GTEST_SKIP() << "read-only rows skipped: the fixture cannot run as user nobody here";
    }
}

// A list writes no document: what stands at the path, and what it links to, keep their content.
TEST(Outputs, a_list_leaves_everything_at_the_path_as_it_was) {
    for (const Output& output : outputs) {
        for (const Stands stands : {Stands::File, Stands::Symlink, Stands::HardLink}) {
            SCOPED_TRACE(output.variable + ", case " + std::to_string(static_cast<int>(stands)));
            const TempDir dir;
            const std::string path = prepare(dir, stands);
            const std::string before = read_file(path);
            const ChildResult result =
                run_in_shell("exec \"$0\" \"$@\"", {"--list", "pass::"}, {{output.variable, path}});
            EXPECT_EQ(result.exit_status, 0) << result.err;
            EXPECT_EQ(read_file(path), before);
            EXPECT_EQ(read_file(dir.file("other")), stands == Stands::HardLink ? before : "");
        }
    }
}

// Device nodes stand in for /dev/full and /dev/null on a private tmpfs, which only root can
// mount; the shell reports with status 99 when the node is no longer a device.
TEST(Outputs, a_device_at_the_path_is_written_through_and_stays_a_device) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "device nodes need root (CI runs this as root)";
    }
    const struct {
        const char* what;
        int minor;
        int status;
        std::string error;
    } devices[] = {
        {"null", 3, 0, ""},
        {"full", 7, 101, "No space left on device"},
    };
    for (const Output& output : outputs) {
        for (const auto& device : devices) {
            SCOPED_TRACE(output.variable + ", " + device.what);
            const TempDir dir;
            const std::string path = dir.file("device");
            const std::string script =
                "unshare -m sh -c 'mount -t tmpfs none \"$DEVICE_DIR\" && mknod \"$DEVICE_PATH\" "
                "c 1 " +
                std::to_string(device.minor) +
                " || exit 98; \"$@\"; status=$?; test -c \"$DEVICE_PATH\" || exit 99; "
                "exit $status' sh \"$0\" \"$@\"";
            const ChildResult result = run_in_shell(
                script, {"pass::"},
                {{output.variable, path}, {"DEVICE_PATH", path}, {"DEVICE_DIR", dir.path()}});
            if (result.exit_status == 98 || result.exit_status == 127) {
                GTEST_SKIP() << "no private mount namespace here: " << result.err;
            }
            EXPECT_EQ(result.exit_status, device.status) << result.err;
            EXPECT_NE(result.err.find(device.error), std::string::npos) << result.err;
        }
    }
}

// ---- The premature-exit marker ---------------------------------------------------------------

bool exists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

// Every way the runner ends by itself, after the marker was made, removes it: only a crash may
// leave it. Memory running out at the n-th allocation of the main thread stands for the
// failures of the runner itself, whatever they end with.
TEST(PrematureExitMarker, every_end_the_runner_reaches_by_itself_removes_it) {
    const TempDir dir;
    const std::string marker = dir.file("premature");
    const struct {
        const char* what;
        std::vector<std::string> args;
        std::vector<std::pair<std::string, std::string>> env;
        test_support::StdoutTarget target = test_support::StdoutTarget::Pipe;
        int status;
    } ends[] = {
        {"passing checks", {"pass::"}, {}, test_support::StdoutTarget::Pipe, 0},
        {"failing checks", {"fail::"}, {}, test_support::StdoutTarget::Pipe, 101},
        {"invalid thread count",
         {"pass::"},
         {{"SARNIVELLE_TEST_THREADS", "0"}},
         test_support::StdoutTarget::Pipe,
         101},
        {"report cannot be written", {"pass::"}, {}, test_support::StdoutTarget::DevFull, 101},
        {"list cannot be written", {"--list"}, {}, test_support::StdoutTarget::DevFull, 101},
        {"timeline cannot be written",
         {"pass::"},
         {{"SARNIVELLE_TEST_TRACE", dir.file("missing/trace.json")}},
         test_support::StdoutTarget::Pipe,
         101},
    };
    for (const auto& end : ends) {
        SCOPED_TRACE(end.what);
        ChildSpec child;
        child.args = end.args;
        child.env = end.env;
        child.env.emplace_back("TEST_PREMATURE_EXIT_FILE", marker);
        child.stdout_target = end.target;
        const ChildResult result = test_support::run_child(FIXTURE_BINARY, child);
        EXPECT_TRUE(result.exited) << "signal " << result.signal;
        EXPECT_EQ(result.exit_status, end.status) << result.err;
        EXPECT_FALSE(exists(marker));
    }
    if (std::string_view(FAIL_MALLOC_SHIM).empty()) {
        GTEST_SKIP() << "a preloaded allocator cannot work beside the sanitizers";
    }
    std::size_t runner_failures = 0;
    for (const int nth : {1, 2, 3, 5, 8, 13, 21, 34, 55, 89, 144, 233, 377, 610, 987}) {
        SCOPED_TRACE("allocation " + std::to_string(nth) + " of the main thread fails");
        ChildSpec child;
        child.args = {"pass::", "fail::"};
        child.env = {{"TEST_PREMATURE_EXIT_FILE", marker},
                     {"LD_PRELOAD", FAIL_MALLOC_SHIM},
                     {"FAIL_MALLOC_THREAD", "runner_fixture_"},
                     {"FAIL_MALLOC_NTH", std::to_string(nth)}};
        child.time_limit = std::chrono::seconds(20);
        const ChildResult result = test_support::run_child(FIXTURE_BINARY, child);
        ASSERT_FALSE(result.timed_out);
        if (!result.exited) {
            continue; // the runtime's start-up, before the runner, gave up: a crash may leave it
        }
        EXPECT_EQ(result.exit_status, 101) << result.err;
        EXPECT_FALSE(exists(marker)) << result.err;
        runner_failures += result.err.find("error: the check runner failed") != std::string::npos;
    }
    EXPECT_GE(runner_failures, 1u);
}

// The marker is the runner's own file: made only where nothing stands and removed only while it
// is still that file; a removal that fails fails the run, which would otherwise look like a
// crash.
TEST(PrematureExitMarker, only_the_file_the_runner_made_is_removed) {
    const std::string unprivileged = unprivileged_prefix();
    bool skipped = false;
    // Waits for the marker, then acts while the check runs for 1.5 s.
    const std::string wait_then = "\"$0\" \"$@\" & while ! test -e \"$MARKER\"; do sleep 0.01; "
                                  "done; ";
    const struct {
        const char* what;
        Stands stands;
        std::string during; // shell commands run while the check runs
        int status;
        std::string error;
        std::string left; // at the marker's path, or what its link points to
    } rows[] = {
        {"a file stands there", Stands::File, "", 0, "already exists; it is left alone", "earlier"},
        {"a link stands there", Stands::Symlink, "", 0, "already exists; it is left alone",
         "precious"},
        {"replaced while running", Stands::Nothing, "rm \"$MARKER\"; echo other > \"$MARKER\"; ", 0,
         "", "other\n"},
        {"directory made read-only", Stands::Nothing, "chmod a-w \"$DIR\"; ", 101,
         "error: cannot remove TEST_PREMATURE_EXIT_FILE `", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const TempDir dir;
        std::string shell = "exec \"$0\" \"$@\"";
        if (!row.during.empty()) {
            shell = wait_then + row.during + "wait $!";
        }
        if (row.stands == Stands::Nothing && row.status != 0) {
            if (unprivileged.empty()) {
                skipped = true;
                continue;
            }
            // The directory is the unprivileged user's, who makes it read-only.
            if (::geteuid() == 0) {
                ASSERT_EQ(::chown(dir.path().c_str(), 65534, 65534), 0);
            }
            shell = unprivileged + " sh -c '" + shell + "' \"$0\" \"$@\"";
        }
        ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
        const std::string marker = prepare(dir, row.stands);
        const ChildResult result = run_in_shell(
            shell, {"--exact", "slow::tests::overruns_deadline"},
            {{"TEST_PREMATURE_EXIT_FILE", marker}, {"MARKER", marker}, {"DIR", dir.path()}});
        EXPECT_TRUE(result.exited) << "signal " << result.signal;
        EXPECT_EQ(result.exit_status, row.status) << result.err;
        EXPECT_NE(result.err.find(row.error), std::string::npos) << result.err;
        EXPECT_NE(result.out.find("test result: ok. 1 passed;"), std::string::npos) << result.out;
        if (!row.left.empty()) {
            EXPECT_EQ(read_file(marker), row.left);
        }
    }
    if (skipped) {
        GTEST_SKIP() << "read-only rows skipped: the fixture cannot run as user nobody here";
    }
}

} // namespace
} // namespace protocol_tests
