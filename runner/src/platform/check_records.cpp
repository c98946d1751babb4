// Finding the check records of every loaded module: each module that holds records carries a
// note with their bounds, relative to the note itself, and the notes are part of the program
// headers that the dynamic loader lists for each module.
#include "platform/check_records.hpp"

#include <link.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string_view>

namespace runner::platform {
namespace {

constexpr std::string_view note_name{"sarnivelle", 11}; // with its terminating zero
constexpr std::uint32_t note_type = 0x4b434853;

using Record = const StaticTestDescAndFn*;

struct Ranges {
    std::vector<std::pair<const Record*, const Record*>> found;
};

std::uint32_t read_u32(const unsigned char* at) {
    std::uint32_t value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

std::size_t round_up(std::size_t size, std::size_t alignment) {
    return (size + alignment - 1) / alignment * alignment;
}

void read_notes(const unsigned char* begin, std::size_t size, std::size_t alignment,
                Ranges& ranges) {
    std::size_t at = 0;
    while (size - at >= 12) {
        const std::uint32_t name_size = read_u32(begin + at);
        const std::uint32_t desc_size = read_u32(begin + at + 4);
        const std::uint32_t type = read_u32(begin + at + 8);
        const std::size_t name_at = at + 12;
        if (name_size > size - name_at) {
            return;
        }
        const std::size_t desc_at = name_at + round_up(name_size, alignment);
        if (desc_at > size || desc_size > size - desc_at) {
            return;
        }
        const unsigned char* desc = begin + desc_at;
        if (type == note_type && desc_size == 8 &&
            std::string_view(reinterpret_cast<const char*>(begin + name_at), name_size) ==
                note_name) {
            // Each bound is an offset from the place where it is stored.
            const auto start_offset = static_cast<std::int32_t>(read_u32(desc));
            const auto stop_offset = static_cast<std::int32_t>(read_u32(desc + 4));
            const auto start =
                reinterpret_cast<std::uintptr_t>(desc) +
                static_cast<std::uintptr_t>(static_cast<std::intptr_t>(start_offset));
            const auto stop = reinterpret_cast<std::uintptr_t>(desc + 4) +
                              static_cast<std::uintptr_t>(static_cast<std::intptr_t>(stop_offset));
            if (start <= stop && (stop - start) % sizeof(Record) == 0) {
                ranges.found.emplace_back(reinterpret_cast<const Record*>(start),
                                          reinterpret_cast<const Record*>(stop));
            }
        }
        const std::size_t next = desc_at + round_up(desc_size, alignment);
        if (next <= at || next > size) {
            return;
        }
        at = next;
    }
}

int visit_module(dl_phdr_info* info, std::size_t /*size*/, void* data) {
    auto& ranges = *static_cast<Ranges*>(data);
    for (ElfW(Half) k = 0; k < info->dlpi_phnum; ++k) {
        const ElfW(Phdr)& header = info->dlpi_phdr[k];
        if (header.p_type != PT_NOTE) {
            continue;
        }
        const auto* begin =
            reinterpret_cast<const unsigned char*>(info->dlpi_addr + header.p_vaddr);
        read_notes(begin, header.p_memsz, header.p_align == 8 ? 8 : 4, ranges);
    }
    return 0;
}

} // namespace

std::vector<const StaticTestDescAndFn*> loaded_check_records() {
    Ranges ranges;
    dl_iterate_phdr(&visit_module, &ranges);
    std::vector<const StaticTestDescAndFn*> records;
    for (const auto& [begin, end] : ranges.found) {
        records.insert(records.end(), begin, end);
    }
    // Notes that reach the same records (a module's notes were not merged) count them once.
    std::sort(records.begin(), records.end(), std::less<>());
    records.erase(std::unique(records.begin(), records.end()), records.end());
    return records;
}

} // namespace runner::platform
