// The region record: region-wide definitions, among them the land height table.
//
// Every record here is a plain value that owns its texts, lists and nested records outright.
// A record is created with every field at once, handed on by moving and never copied;
// destroying it releases everything it owns, nested records and list entries included.
// Blocks of plain data are carried without interpretation.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "sarnivelle_dat/plain_data.hpp"

namespace sarnivelle_dat::file_type::region {

// Declares the special members of a record that is moved but never copied.
#define SARNIVELLE_DAT_MOVE_ONLY(Record)                                                           \
    Record(const Record&) = delete;                                                                \
    Record& operator=(const Record&) = delete;                                                     \
    Record(Record&&) noexcept = default;                                                           \
    Record& operator=(Record&&) noexcept = default;                                                \
    ~Record() = default

// List entries.

// A text followed by 8 bytes of plain data.
struct NamedBlock {
    std::string text;
    PlainData<8> plain;
};

// A list of 20-byte items followed by 8 bytes of plain data.
struct ItemListEntry {
    std::vector<PlainData<20>> items;
    PlainData<8> plain;
};

// A list of 32-bit values followed by 8 bytes of plain data.
struct WordListEntry {
    std::vector<std::uint32_t> values;
    PlainData<8> plain;
};

// A list of 24-byte items followed by 48 bytes of plain data.
struct DayGroupItemList {
    std::vector<PlainData<24>> items;
    PlainData<48> plain;
};

// A text, a list of 32-bit values, then 8 bytes of plain data.
struct TerrainEntry {
    std::string text;
    std::vector<std::uint32_t> values;
    PlainData<8> plain;
};

// The land height table and the land scalars of a region.
struct LandDefinition {
    // Entry i is the height, in world units, of every vertex whose height index is i.
    // Holds 256 entries, one for each possible index; the record does not enforce the count.
    std::vector<float> land_height_table;
    std::int32_t value_1; // not interpreted
    std::int32_t value_2; // not interpreted
    float value_3;        // not interpreted
    std::int32_t value_4; // not interpreted
    std::int32_t value_5; // not interpreted
    float value_6;        // not interpreted
    float value_7;        // not interpreted
    float value_8;        // not interpreted

    LandDefinition(std::vector<float> land_height_table_, std::int32_t value_1_,
                   std::int32_t value_2_, float value_3_, std::int32_t value_4_,
                   std::int32_t value_5_, float value_6_, float value_7_, float value_8_) noexcept
        : land_height_table(std::move(land_height_table_)), value_1(value_1_), value_2(value_2_),
          value_3(value_3_), value_4(value_4_), value_5(value_5_), value_6(value_6_),
          value_7(value_7_), value_8(value_8_) {}
    SARNIVELLE_DAT_MOVE_ONLY(LandDefinition);
};

// Named lists of a region; nothing in it is interpreted.
struct NamedListGroup {
    std::string text;
    std::vector<NamedBlock> list_a;
    std::vector<std::string> list_b;
    std::vector<NamedBlock> list_c;
    PlainData<8> value_1;
    std::uint32_t value_2;
    float value_3;
    std::int32_t value_4;

    NamedListGroup(std::string text_, std::vector<NamedBlock> list_a_,
                   std::vector<std::string> list_b_, std::vector<NamedBlock> list_c_,
                   PlainData<8> value_1_, std::uint32_t value_2_, float value_3_,
                   std::int32_t value_4_) noexcept
        : text(std::move(text_)), list_a(std::move(list_a_)), list_b(std::move(list_b_)),
          list_c(std::move(list_c_)), value_1(value_1_), value_2(value_2_), value_3(value_3_),
          value_4(value_4_) {}
    SARNIVELLE_DAT_MOVE_ONLY(NamedListGroup);
};

// One group of day definitions; nothing in it is interpreted.
struct DayGroup {
    std::string text;
    std::vector<PlainData<36>> items_a;
    std::vector<DayGroupItemList> items_b;
    PlainData<8> plain;

    DayGroup(std::string text_, std::vector<PlainData<36>> items_a_,
             std::vector<DayGroupItemList> items_b_, PlainData<8> plain_) noexcept
        : text(std::move(text_)), items_a(std::move(items_a_)), items_b(std::move(items_b_)),
          plain(plain_) {}
    SARNIVELLE_DAT_MOVE_ONLY(DayGroup);
};

// The day groups of a region; nothing in it is interpreted.
struct DayGroupSet {
    std::vector<DayGroup> day_groups;
    PlainData<16> plain;

    DayGroupSet(std::vector<DayGroup> day_groups_, PlainData<16> plain_) noexcept
        : day_groups(std::move(day_groups_)), plain(plain_) {}
    SARNIVELLE_DAT_MOVE_ONLY(DayGroupSet);
};

// Terrain descriptions of a region; nothing in it is interpreted.
struct TerrainDesc {
    std::vector<TerrainEntry> entries;
    std::vector<PlainData<8>> pairs_a;
    std::vector<PlainData<8>> pairs_b;
    std::vector<PlainData<8>> pairs_c;
    std::vector<PlainData<44>> items;
    std::optional<std::uint32_t> optional_value_1;
    std::optional<std::uint32_t> optional_value_2;

    TerrainDesc(std::vector<TerrainEntry> entries_, std::vector<PlainData<8>> pairs_a_,
                std::vector<PlainData<8>> pairs_b_, std::vector<PlainData<8>> pairs_c_,
                std::vector<PlainData<44>> items_, std::optional<std::uint32_t> optional_value_1_,
                std::optional<std::uint32_t> optional_value_2_) noexcept
        : entries(std::move(entries_)), pairs_a(std::move(pairs_a_)), pairs_b(std::move(pairs_b_)),
          pairs_c(std::move(pairs_c_)), items(std::move(items_)),
          optional_value_1(optional_value_1_), optional_value_2(optional_value_2_) {}
    SARNIVELLE_DAT_MOVE_ONLY(TerrainDesc);
};

// Region-wide definitions.
struct Region {
    std::string name;
    LandDefinition land_definition;
    NamedListGroup named_lists;
    std::optional<std::vector<ItemListEntry>> optional_list_a; // not interpreted
    std::optional<std::vector<WordListEntry>> optional_list_b; // not interpreted
    std::optional<DayGroupSet> day_group_set;                  // not interpreted
    TerrainDesc terrain_desc;                                  // not interpreted
    std::optional<PlainData<24>> optional_block;               // not interpreted
    std::uint32_t word_1;                                      // not interpreted
    std::uint32_t word_2;                                      // not interpreted
    std::uint32_t word_3;                                      // not interpreted
    std::uint32_t word_4;                                      // not interpreted

    Region(std::string name_, LandDefinition land_definition_, NamedListGroup named_lists_,
           std::optional<std::vector<ItemListEntry>> optional_list_a_,
           std::optional<std::vector<WordListEntry>> optional_list_b_,
           std::optional<DayGroupSet> day_group_set_, TerrainDesc terrain_desc_,
           std::optional<PlainData<24>> optional_block_, std::uint32_t word_1_,
           std::uint32_t word_2_, std::uint32_t word_3_, std::uint32_t word_4_) noexcept
        : name(std::move(name_)), land_definition(std::move(land_definition_)),
          named_lists(std::move(named_lists_)), optional_list_a(std::move(optional_list_a_)),
          optional_list_b(std::move(optional_list_b_)), day_group_set(std::move(day_group_set_)),
          terrain_desc(std::move(terrain_desc_)), optional_block(optional_block_), word_1(word_1_),
          word_2(word_2_), word_3(word_3_), word_4(word_4_) {}
    SARNIVELLE_DAT_MOVE_ONLY(Region);
};

#undef SARNIVELLE_DAT_MOVE_ONLY

} // namespace sarnivelle_dat::file_type::region
