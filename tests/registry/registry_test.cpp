// The registry is the executable's list of checks: its order, its names and the source
// positions that failure reports point at.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "registry.hpp"

namespace {

using sarnivelle_scenery_bake::registry;

std::string line_of(const std::string& path, std::uint32_t number) {
    std::ifstream file(path);
    std::string line;
    for (std::uint32_t i = 0; i < number && std::getline(file, line); ++i) {
    }
    return line;
}

const std::string checks_dir = "components/sarnivelle-scenery-bake/checks/src/";

std::vector<std::string> registry_names() {
    std::vector<std::string> names;
    for (const auto* check : registry()) {
        names.emplace_back(check->desc.name);
    }
    return names;
}

TEST(Registry, holds_the_checks_in_ascending_byte_order_of_their_names) {
    const std::vector<std::string> names = registry_names();
    ASSERT_FALSE(names.empty());
    // std::string compares its characters as unsigned bytes.
    EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
    EXPECT_EQ(std::adjacent_find(names.begin(), names.end()), names.end());
}

// Each module lists its own checks; one defined but left out of the list would never run.
TEST(Registry, holds_every_check_the_modules_define_once) {
    // A definition stands at the start of a line: "SARNIVELLE_CHECK(module, name) {".
    const std::string head = "SARNIVELLE_CHECK(";
    std::map<std::string, int> defined;
    for (const auto& entry :
         std::filesystem::directory_iterator(SARNIVELLE_SOURCE_ROOT "/" + checks_dir)) {
        std::ifstream file(entry.path());
        for (std::string line; std::getline(file, line);) {
            const auto comma = line.find(", ");
            const auto close = line.find(')');
            if (line.starts_with(head) && comma < close && close != std::string::npos) {
                const std::string module = line.substr(head.size(), comma - head.size());
                ++defined[module + "::tests::" + line.substr(comma + 2, close - comma - 2)];
            }
        }
    }
    std::map<std::string, int> registered;
    for (const auto& name : registry_names()) {
        ++registered[name];
    }
    EXPECT_EQ(registered, defined);
}

TEST(Registry, every_check_is_a_plain_unit_check_of_its_module_file) {
    for (const auto* check : registry()) {
        const runner::TestDesc& desc = check->desc;
        SCOPED_TRACE(std::string(desc.name));
        EXPECT_FALSE(desc.ignore);
        EXPECT_FALSE(desc.ignore_message.has_value());
        EXPECT_EQ(desc.should_panic.kind, runner::ShouldPanicKind::No);
        EXPECT_FALSE(desc.compile_fail);
        EXPECT_FALSE(desc.no_run);
        EXPECT_EQ(desc.test_type, runner::TestType::UnitTest);
        EXPECT_EQ(check->kind, runner::TestFnKind::StaticTestFn);
        ASSERT_NE(check->test, nullptr);

        const std::string_view name = desc.name;
        const std::string module(name.substr(0, name.find("::")));
        EXPECT_EQ(desc.source_file, checks_dir + module + ".cpp");
    }
}

// A failure report names the file, line and column of the check's name: they must be where
// the name really stands in this repository.
TEST(Registry, source_positions_point_at_the_check_names) {
    for (const auto* check : registry()) {
        const runner::TestDesc& desc = check->desc;
        SCOPED_TRACE(std::string(desc.name));
        const std::string own(desc.name.substr(desc.name.rfind("::") + 2));
        EXPECT_EQ(desc.start_line, desc.end_line);
        EXPECT_EQ(desc.end_col - desc.start_col, own.size());
        const std::string line =
            line_of(std::string(SARNIVELLE_SOURCE_ROOT "/") + std::string(desc.source_file),
                    desc.start_line);
        ASSERT_GE(line.size(), desc.start_col - 1 + own.size()) << line;
        EXPECT_EQ(line.substr(desc.start_col - 1, own.size()), own) << line;
    }
}

} // namespace
