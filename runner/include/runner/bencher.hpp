// What a benchmark body receives: it times the closure it is given.
#pragma once

#include <chrono>
#include <cstddef>
#include <vector>

namespace runner {

class Bencher {
public:
    // Benchmarks run as plain checks (without --bench) call the closure once.
    explicit Bencher(bool measure) : measure_(measure) {}

    template <class F>
    void iter(F&& body) {
        if (!measure_) {
            body();
            return;
        }
        using clock = std::chrono::steady_clock;
        samples_ns_.clear();
        for (std::size_t sample = 0; sample < sample_count; ++sample) {
            const auto start = clock::now();
            for (std::size_t i = 0; i < iterations_per_sample; ++i) {
                body();
            }
            const std::chrono::duration<double, std::nano> elapsed = clock::now() - start;
            samples_ns_.push_back(elapsed.count() / static_cast<double>(iterations_per_sample));
        }
    }

    const std::vector<double>& samples_ns() const { return samples_ns_; }

    static constexpr std::size_t sample_count = 50;
    static constexpr std::size_t iterations_per_sample = 100;

private:
    bool measure_;
    std::vector<double> samples_ns_;
};

} // namespace runner
