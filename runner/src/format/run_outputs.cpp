#include "format/run_outputs.hpp"

#include <exception>
#include <functional>
#include <string>

#include "format/trace.hpp"
#include "runner/runner.hpp"

namespace runner {
namespace {

// The executable's file name, and the shard it runs, as a viewer shows the process.
std::string process_label(const TestOpts& opts, const FormatterSettings& settings) {
    std::string name = settings.suite_name;
    if (opts.shard) {
        name += " (shard " + std::to_string(opts.shard->index + 1) + " of " +
                std::to_string(opts.shard->total) + ")";
    }
    return name;
}

class RunOutputs final : public OutputFormatter {
public:
    RunOutputs(std::unique_ptr<OutputFormatter> report, const TestOpts& opts,
               const FormatterSettings& settings)
        : report_(std::move(report)), xml_path_(opts.xml_output_file),
          trace_path_(opts.trace_file) {
        if (xml_path_) {
            FormatterSettings plain = settings;
            plain.use_color = false;
            junit_ = make_junit_formatter(xml_text_, plain);
        }
        if (trace_path_) {
            trace_ = std::make_unique<TraceRecorder>(process_label(opts, settings));
        }
    }

    void write_discovery_start() override { report_->write_discovery_start(); }
    void write_test_discovered(const TestDesc& desc, bool is_bench) override {
        report_->write_test_discovered(desc, is_bench);
    }
    void write_discovery_finish(const DiscoveryState& state) override {
        report_->write_discovery_finish(state);
    }

    // The timeline hears of each event first, closest to the moment it happened.
    void write_run_start(std::size_t count, std::optional<std::uint64_t> seed) override {
        each([&](OutputFormatter& f) { f.write_run_start(count, seed); });
    }
    void set_concurrency(std::size_t threads) override {
        each([&](OutputFormatter& f) { f.set_concurrency(threads); });
    }
    void write_test_start(const TestDesc& desc) override {
        each([&](OutputFormatter& f) { f.write_test_start(desc); });
    }
    void write_timeout(const TestDesc& desc) override {
        each([&](OutputFormatter& f) { f.write_timeout(desc); });
    }
    void write_result(const TestDesc& desc, const TestResult& result,
                      const std::optional<TestExecTime>& exec_time,
                      std::string_view stdout_bytes) override {
        each([&](OutputFormatter& f) { f.write_result(desc, result, exec_time, stdout_bytes); });
    }

    // The report first, then the files; each is attempted even when one before it failed, and
    // the first failure is thrown at the end.
    bool write_run_finish(const RunCounts& counts) override {
        std::exception_ptr first_error;
        const auto attempt = [&](const std::function<void()>& step) {
            try {
                step();
            } catch (...) {
                if (!first_error) {
                    first_error = std::current_exception();
                }
            }
        };
        bool success = false;
        attempt([&] { success = report_->write_run_finish(counts); });
        if (junit_) {
            attempt([&] {
                junit_->write_run_finish(counts);
                write_whole_file(*xml_path_, xml_text_.text());
            });
        }
        if (trace_) {
            attempt([&] {
                trace_->write_run_finish(counts);
                write_whole_file(*trace_path_, trace_->json());
            });
        }
        if (first_error) {
            std::rethrow_exception(first_error);
        }
        return success;
    }

private:
    template <class Event>
    void each(Event&& event) {
        if (trace_) {
            event(*trace_);
        }
        event(*report_);
        if (junit_) {
            event(*junit_);
        }
    }

    std::unique_ptr<OutputFormatter> report_;
    std::optional<std::string> xml_path_;
    StringLocation xml_text_;
    std::unique_ptr<OutputFormatter> junit_;
    std::optional<std::string> trace_path_;
    std::unique_ptr<TraceRecorder> trace_;
};

} // namespace

std::unique_ptr<OutputFormatter> with_run_outputs(std::unique_ptr<OutputFormatter> report,
                                                  const TestOpts& opts,
                                                  const FormatterSettings& settings) {
    if (!opts.xml_output_file && !opts.trace_file) {
        return report;
    }
    return std::make_unique<RunOutputs>(std::move(report), opts, settings);
}

} // namespace runner
