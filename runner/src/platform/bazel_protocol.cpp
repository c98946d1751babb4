#include "platform/bazel_protocol.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <variant>
#include <vector>

#include "platform/environment.hpp"
#include "platform/platform.hpp"
#include "text/parse_number.hpp"

namespace runner {
namespace {

using platform::env_variable;

std::optional<std::size_t> parse_count(const std::string& text) {
    const auto parsed = text::parse_unsigned(text);
    const auto* value = std::get_if<std::uint64_t>(&parsed);
    if (value == nullptr) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(*value);
}

std::optional<std::string> non_empty(const ProtocolEnv& env,
                                     const platform::EnvVariable& variable) {
    std::optional<std::string> value = env(variable.name);
    if (value && value->empty()) {
        return std::nullopt;
    }
    return value;
}

std::string file_error(std::string_view variable, const std::string& path, int code) {
    return "cannot write " + std::string(variable) + " `" + path + "`: " + std::strerror(code);
}

// Opens `path` for writing, creating it; -1 with errno set on failure.
int open_for_writing(const std::string& path) {
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
}

struct NamedOutput {
    std::string_view variable;
    std::string path;
};

// The error when two outputs would be written to one file: one would destroy the other.
std::optional<std::string> shared_file(const std::vector<NamedOutput>& outputs) {
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        for (std::size_t j = i + 1; j < outputs.size(); ++j) {
            if (platform::same_document(outputs[i].path, outputs[j].path)) {
                return std::string(outputs[i].variable) + " and " +
                       std::string(outputs[j].variable) + " name the same file `" +
                       outputs[j].path + "`";
            }
        }
    }
    return std::nullopt;
}

std::variant<std::optional<TestShard>, std::string> read_shard(const ProtocolEnv& env) {
    const std::optional<std::string> total_text = env(env_variable("TEST_TOTAL_SHARDS").name);
    const std::optional<std::string> index_text = env(env_variable("TEST_SHARD_INDEX").name);
    if (!total_text && !index_text) {
        return std::optional<TestShard>();
    }
    if (!total_text) {
        return std::string("TEST_SHARD_INDEX is set but TEST_TOTAL_SHARDS is not");
    }
    const std::optional<std::size_t> total = parse_count(*total_text);
    if (!total || *total == 0) {
        return "TEST_TOTAL_SHARDS is `" + *total_text + "`, should be a positive integer";
    }
    if (!index_text) {
        return std::string("TEST_TOTAL_SHARDS is set but TEST_SHARD_INDEX is not");
    }
    const std::optional<std::size_t> index = parse_count(*index_text);
    if (!index || *index >= *total) {
        return "TEST_SHARD_INDEX is `" + *index_text +
               "`, should be a number below TEST_TOTAL_SHARDS (" + std::to_string(*total) + ")";
    }
    return std::optional<TestShard>(TestShard{*index, *total});
}

} // namespace

TestProtocolScope::~TestProtocolScope() {
    end();
}

bool TestProtocolScope::end() {
    if (!premature_exit_file_) {
        return true;
    }
    const std::string marker = std::move(*premature_exit_file_);
    premature_exit_file_.reset();
    if (const int error = platform::remove_if_same(marker, premature_exit_id_); error != 0) {
        std::fprintf(stderr, "error: cannot remove TEST_PREMATURE_EXIT_FILE `%s`: %s\n",
                     marker.c_str(), std::strerror(error));
        std::fflush(stderr);
        return false;
    }
    return true;
}

void TestProtocolScope::keep_premature_exit_file() {
    premature_exit_file_.reset();
    if (premature_exit_id_.fd >= 0) {
        ::close(premature_exit_id_.fd);
        premature_exit_id_.fd = -1;
    }
}

std::optional<std::string> TestProtocolScope::begin(const ProtocolEnv& env, TestOpts& opts) {
    auto shard = read_shard(env);
    if (auto* error = std::get_if<std::string>(&shard)) {
        return std::move(*error);
    }
    opts.shard = std::get<std::optional<TestShard>>(shard);

    const auto status_file = non_empty(env, env_variable("TEST_SHARD_STATUS_FILE"));
    const auto xml_file = non_empty(env, env_variable("XML_OUTPUT_FILE"));
    const auto marker = non_empty(env, env_variable("TEST_PREMATURE_EXIT_FILE"));
    std::optional<NamedOutput> trace;
    if (auto file = non_empty(env, env_variable("SARNIVELLE_TEST_TRACE"))) {
        trace = NamedOutput{"SARNIVELLE_TEST_TRACE", std::move(*file)};
    } else if (const auto outputs = non_empty(env, env_variable("TEST_UNDECLARED_OUTPUTS_DIR"))) {
        trace = NamedOutput{"TEST_UNDECLARED_OUTPUTS_DIR", *outputs + "/trace.json"};
    }

    std::vector<NamedOutput> outputs;
    if (status_file) {
        outputs.push_back({"TEST_SHARD_STATUS_FILE", *status_file});
    }
    if (xml_file) {
        outputs.push_back({"XML_OUTPUT_FILE", *xml_file});
    }
    if (marker) {
        outputs.push_back({"TEST_PREMATURE_EXIT_FILE", *marker});
    }
    if (trace) {
        outputs.push_back(*trace);
    }
    if (auto error = shared_file(outputs)) {
        return error;
    }

    if (status_file) {
        const int fd = open_for_writing(*status_file);
        if (fd < 0 || ::futimens(fd, nullptr) != 0) {
            const int code = errno;
            if (fd >= 0) {
                ::close(fd);
            }
            return file_error("TEST_SHARD_STATUS_FILE", *status_file, code);
        }
        ::close(fd);
    }

    // The report is written when the run ends; here its directory is tested, and nothing that
    // stands at the path is opened. Until the end no report stands there, so that a run that
    // crashes leaves none behind, not even one of an earlier run: a file at the path itself is
    // removed (a link and what it points to are left).
    if (xml_file) {
        if (const int error = platform::check_writable(*xml_file); error != 0) {
            return file_error("XML_OUTPUT_FILE", *xml_file, error);
        }
        if (!opts.list) {
            if (const int error = platform::remove_regular_file(*xml_file); error != 0) {
                return file_error("XML_OUTPUT_FILE", *xml_file, error);
            }
        }
        opts.xml_output_file = *xml_file;
    }

    // Made only where nothing stands, so that the end of the run removes nothing but this file.
    if (marker) {
        const auto created = platform::create_new_file(*marker);
        if (const auto* id = std::get_if<platform::FileId>(&created)) {
            premature_exit_file_ = *marker;
            premature_exit_id_ = *id;
        } else if (const int error = std::get<int>(created); error == EEXIST) {
            std::fprintf(stderr,
                         "warning: TEST_PREMATURE_EXIT_FILE `%s` already exists; it is left "
                         "alone\n",
                         marker->c_str());
        } else {
            return file_error("TEST_PREMATURE_EXIT_FILE", *marker, error);
        }
    }

    // The timeline: its file is only written when the run ends (and a failure to write it is
    // reported after the report).
    if (trace) {
        opts.trace_file = std::move(trace->path);
    }
    return std::nullopt;
}

} // namespace runner
