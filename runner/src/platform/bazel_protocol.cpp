#include "platform/bazel_protocol.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <variant>

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
int open_for_writing(const std::string& path, int extra_flags) {
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | extra_flags, 0666);
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
    if (premature_exit_file_) {
        ::unlink(premature_exit_file_->c_str());
    }
}

std::optional<std::string> TestProtocolScope::begin(const ProtocolEnv& env, TestOpts& opts) {
    auto shard = read_shard(env);
    if (auto* error = std::get_if<std::string>(&shard)) {
        return std::move(*error);
    }
    opts.shard = std::get<std::optional<TestShard>>(shard);

    if (const auto status_file = non_empty(env, env_variable("TEST_SHARD_STATUS_FILE"))) {
        const int fd = open_for_writing(*status_file, 0);
        if (fd < 0 || ::futimens(fd, nullptr) != 0) {
            const int code = errno;
            if (fd >= 0) {
                ::close(fd);
            }
            return file_error("TEST_SHARD_STATUS_FILE", *status_file, code);
        }
        ::close(fd);
    }

    // The report is written when the run ends. Until then no file stands there, so that a run
    // that crashes leaves no report behind, not even one of an earlier run.
    if (const auto xml_file = non_empty(env, env_variable("XML_OUTPUT_FILE"))) {
        const int fd = open_for_writing(*xml_file, O_TRUNC);
        if (fd < 0) {
            return file_error("XML_OUTPUT_FILE", *xml_file, errno);
        }
        ::close(fd);
        ::unlink(xml_file->c_str());
        opts.xml_output_file = *xml_file;
    }

    if (const auto marker = non_empty(env, env_variable("TEST_PREMATURE_EXIT_FILE"))) {
        const int fd = open_for_writing(*marker, O_TRUNC);
        if (fd < 0) {
            return file_error("TEST_PREMATURE_EXIT_FILE", *marker, errno);
        }
        ::close(fd);
        premature_exit_file_ = *marker;
    }

    // The timeline: its file is only opened when the run ends (and a failure to write it is
    // reported after the report).
    if (auto trace = non_empty(env, env_variable("SARNIVELLE_TEST_TRACE"))) {
        opts.trace_file = std::move(trace);
    } else if (const auto outputs = non_empty(env, env_variable("TEST_UNDECLARED_OUTPUTS_DIR"))) {
        opts.trace_file = *outputs + "/trace.json";
    }
    return std::nullopt;
}

} // namespace runner
