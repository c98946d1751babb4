// The terrain record of one landblock.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

namespace sarnivelle_dat::landblock {

// The terrain of one landblock: its 9 x 9 lattice of vertices.
//
// A plain value that owns its lists. It is created with every field at once, handed on by
// moving and never copied; destroying it releases both lists.
//
// Both lists hold one entry per vertex, 81 in all: entry ix * 9 + iy belongs to vertex
// (ix, iy), with ix running along x. The record does not enforce the counts; whoever creates
// one supplies 81 entries, and readers that depend on the count check it.
struct CellLandblock {
    std::uint32_t id;                         // identifier of the landblock
    std::uint32_t extra_word;                 // not interpreted
    std::vector<std::uint16_t> vertex_words;  // one per vertex; not interpreted
    std::vector<std::uint8_t> height_indices; // one per vertex: an entry of the land height table

    CellLandblock(std::uint32_t id_, std::uint32_t extra_word_,
                  std::vector<std::uint16_t> vertex_words_,
                  std::vector<std::uint8_t> height_indices_) noexcept
        : id(id_), extra_word(extra_word_), vertex_words(std::move(vertex_words_)),
          height_indices(std::move(height_indices_)) {}

    CellLandblock(const CellLandblock&) = delete;
    CellLandblock& operator=(const CellLandblock&) = delete;
    CellLandblock(CellLandblock&&) noexcept = default;
    CellLandblock& operator=(CellLandblock&&) noexcept = default;
    ~CellLandblock() = default;
};

} // namespace sarnivelle_dat::landblock
