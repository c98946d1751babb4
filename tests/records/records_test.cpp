#include <atomic>
#include <cstdlib>
#include <new>
#include <optional>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>

#include "sarnivelle_dat/file_type/region.hpp"
#include "sarnivelle_dat/landblock.hpp"

// Every allocation and release of the process, so that a test can see what a record frees.
namespace {
std::atomic<long> live_allocations{0};
} // namespace

void* operator new(std::size_t size) {
    void* p = std::malloc(size == 0 ? 1 : size);
    if (p == nullptr) {
        throw std::bad_alloc();
    }
    live_allocations.fetch_add(1, std::memory_order_relaxed);
    return p;
}
void operator delete(void* p) noexcept {
    if (p != nullptr) {
        live_allocations.fetch_sub(1, std::memory_order_relaxed);
    }
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    if (p != nullptr) {
        live_allocations.fetch_sub(1, std::memory_order_relaxed);
    }
    std::free(p);
}

namespace sarnivelle_dat {
namespace {

using file_type::region::DayGroup;
using file_type::region::DayGroupItemList;
using file_type::region::DayGroupSet;
using file_type::region::ItemListEntry;
using file_type::region::LandDefinition;
using file_type::region::NamedListGroup;
using file_type::region::Region;
using file_type::region::TerrainDesc;
using file_type::region::WordListEntry;
using landblock::CellLandblock;

template <class T>
constexpr bool move_only =
    std::is_nothrow_move_constructible_v<T>&& std::is_nothrow_move_assignable_v<T> &&
    !std::is_copy_constructible_v<T> && !std::is_copy_assignable_v<T> &&
    !std::is_default_constructible_v<T>;

static_assert(move_only<CellLandblock> && move_only<Region> && move_only<LandDefinition> &&
              move_only<NamedListGroup> && move_only<DayGroupSet> && move_only<DayGroup> &&
              move_only<TerrainDesc>);

static_assert(sizeof(PlainData<8>) == 8 && sizeof(PlainData<20>) == 20 &&
              sizeof(PlainData<24>) == 24 && sizeof(PlainData<36>) == 36 &&
              sizeof(PlainData<44>) == 44 && sizeof(PlainData<48>) == 48);

// A region with something in every list and every optional field.
Region full_region() {
    std::vector<DayGroup> day_groups;
    day_groups.emplace_back("dawn", std::vector<PlainData<36>>(2),
                            std::vector<DayGroupItemList>{{std::vector<PlainData<24>>(3), {}}},
                            PlainData<8>{});
    return Region(
        "A region with a name too long for any in-place text buffer",
        LandDefinition(std::vector<float>(256, 1.0f), 1, 2, 24.0f, 8, 9, 200.0f, 1000.0f, 5.0f),
        NamedListGroup("named", {{"first", {}}, {"second", {}}}, {"b1", "b2"}, {{"c", {}}}, {}, 7,
                       1.0f, 1),
        std::vector<ItemListEntry>{{std::vector<PlainData<20>>(4), {}}},
        std::vector<WordListEntry>{{{1u, 2u, 3u}, {}}},
        DayGroupSet(std::move(day_groups), PlainData<16>{}),
        TerrainDesc({{"entry", {5u, 6u}, {}}}, {{}}, {{}, {}}, {{}}, std::vector<PlainData<44>>(2),
                    11u, 12u),
        PlainData<24>{}, 0x13000000u, 1, 0, 0);
}

TEST(Records, moving_hands_over_every_list_without_copying) {
    Region region = full_region();
    const float* table = region.land_definition.land_height_table.data();
    const long before = live_allocations.load();
    Region moved = std::move(region);
    EXPECT_EQ(live_allocations.load(), before);
    EXPECT_EQ(moved.land_definition.land_height_table.data(), table);
    ASSERT_TRUE(moved.day_group_set.has_value());
    EXPECT_EQ(moved.day_group_set->day_groups.at(0).text, "dawn");
    EXPECT_EQ(moved.day_group_set->day_groups[0].items_b.at(0).items.size(), 3u);
    EXPECT_EQ(moved.terrain_desc.entries.at(0).values.size(), 2u);
    EXPECT_EQ(moved.terrain_desc.optional_value_2, std::optional<std::uint32_t>(12u));
    EXPECT_EQ(moved.named_lists.list_b.size(), 2u);
}

TEST(Records, releasing_a_record_frees_everything_it_owns) {
    const long before = live_allocations.load();
    {
        const Region region = full_region();
        EXPECT_GT(live_allocations.load(), before + 15);
    }
    EXPECT_EQ(live_allocations.load(), before);
    {
        CellLandblock landblock(1, 0, std::vector<std::uint16_t>(81, 0),
                                std::vector<std::uint8_t>(81, 0));
        EXPECT_EQ(live_allocations.load(), before + 2);
    }
    EXPECT_EQ(live_allocations.load(), before);
}

} // namespace
} // namespace sarnivelle_dat
