// 27 checks of about a millisecond of arithmetic each, for timing the run loop as a whole
// process: how much of the run is the runner's own work between checks.
#include <array>
#include <cstdint>

#include "runner/check.hpp"
#include "runner/runner.hpp"
#include "spin.hpp"

namespace busy::tests {
namespace {

// About a millisecond of dependent integer arithmetic on a current x86-64 core.
void spin() {
    SARNIVELLE_ASSERT(bench_spin(600000) != 0);
}

} // namespace

#define BUSY(n)                                                                                    \
    SARNIVELLE_CHECK(busy, check_##n) {                                                            \
        spin();                                                                                    \
    }
BUSY(01)
BUSY(02)
BUSY(03)
BUSY(04)
BUSY(05)
BUSY(06)
BUSY(07)
BUSY(08)
BUSY(09)
BUSY(10)
BUSY(11)
BUSY(12)
BUSY(13)
BUSY(14)
BUSY(15)
BUSY(16)
BUSY(17)
BUSY(18)
BUSY(19)
BUSY(20)
BUSY(21)
BUSY(22)
BUSY(23)
BUSY(24)
BUSY(25)
BUSY(26)
BUSY(27)
#undef BUSY

} // namespace busy::tests

namespace {
namespace t = busy::tests;
constexpr std::array<const runner::StaticTestDescAndFn*, 27> registry = {
    &t::check_01_check, &t::check_02_check, &t::check_03_check, &t::check_04_check,
    &t::check_05_check, &t::check_06_check, &t::check_07_check, &t::check_08_check,
    &t::check_09_check, &t::check_10_check, &t::check_11_check, &t::check_12_check,
    &t::check_13_check, &t::check_14_check, &t::check_15_check, &t::check_16_check,
    &t::check_17_check, &t::check_18_check, &t::check_19_check, &t::check_20_check,
    &t::check_21_check, &t::check_22_check, &t::check_23_check, &t::check_24_check,
    &t::check_25_check, &t::check_26_check, &t::check_27_check,
};
void entry() {
    runner::test_main_static(registry);
}
} // namespace

int main(int argc, char** argv) {
    return runner::lang_start(argc, argv, &entry);
}
