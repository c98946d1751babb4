#include "process/result_record.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>

namespace runner::process {
namespace {

constexpr std::string_view magic = "SRNV";
constexpr std::uint16_t version = 1;

template <class T>
void put(std::string& out, T value) {
    char bytes[sizeof value];
    std::memcpy(bytes, &value, sizeof value);
    out.append(bytes, sizeof value);
}

class Reader {
public:
    explicit Reader(std::string_view bytes) : rest_(bytes) {}

    template <class T>
    bool get(T& value) {
        if (rest_.size() < sizeof value) {
            return false;
        }
        std::memcpy(&value, rest_.data(), sizeof value);
        rest_.remove_prefix(sizeof value);
        return true;
    }
    bool get_bytes(std::string& value) {
        std::uint64_t size = 0;
        if (!get(size) || size > rest_.size()) {
            return false;
        }
        value.assign(rest_.substr(0, size));
        rest_.remove_prefix(size);
        return true;
    }
    // Steps over a length and the bytes it counts, which need not have arrived yet; the
    // position reached, or nothing when the length is not there.
    std::optional<std::uint64_t> skip_counted(std::uint64_t at) {
        std::uint64_t size = 0;
        if (!get(size) || size > std::numeric_limits<std::uint64_t>::max() - at - sizeof size) {
            return std::nullopt;
        }
        const std::uint64_t end = at + sizeof size + size;
        rest_.remove_prefix(std::min<std::uint64_t>(size, rest_.size()));
        return end;
    }
    bool skip(std::string_view expected) {
        if (!rest_.starts_with(expected)) {
            return false;
        }
        rest_.remove_prefix(expected.size());
        return true;
    }
    bool at_end() const { return rest_.empty(); }

private:
    std::string_view rest_;
};

} // namespace

std::string encode_record(const ResultRecord& record) {
    std::string out;
    out.reserve(64 + record.result.message.size() + record.output.size());
    out.append(magic);
    put(out, version);
    put(out, static_cast<std::uint8_t>(record.result.kind));
    put(out, static_cast<std::uint8_t>(record.exec_time ? 1 : 0));
    put(out, static_cast<std::uint8_t>(record.note_shown ? 1 : 0));
    put(out, static_cast<std::int64_t>(record.exec_time ? record.exec_time->duration.count() : 0));
    put(out, record.result.bench.median_ns);
    put(out, record.result.bench.deviation_ns);
    put(out, static_cast<std::uint64_t>(record.result.message.size()));
    out.append(record.result.message);
    put(out, static_cast<std::uint64_t>(record.output.size()));
    out.append(record.output);
    return out;
}

std::optional<std::size_t> record_size(std::string_view bytes) {
    constexpr std::uint64_t fixed = magic.size() + sizeof(std::uint16_t) +
                                    3 * sizeof(std::uint8_t) + sizeof(std::int64_t) +
                                    2 * sizeof(double);
    Reader in(bytes);
    std::uint16_t record_version = 0;
    if (bytes.size() < fixed || !in.skip(magic) || !in.get(record_version) ||
        record_version != version) {
        return std::nullopt;
    }
    Reader lengths(bytes.substr(fixed));
    const std::optional<std::uint64_t> message_end = lengths.skip_counted(fixed);
    if (!message_end || *message_end > bytes.size()) {
        return std::nullopt;
    }
    const std::optional<std::uint64_t> end = lengths.skip_counted(*message_end);
    if (!end || *end > std::numeric_limits<std::size_t>::max()) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(*end);
}

std::optional<ResultRecord> decode_record(std::string_view bytes) {
    Reader in(bytes);
    std::uint16_t record_version = 0;
    std::uint8_t kind = 0;
    std::uint8_t has_time = 0;
    std::uint8_t note_shown = 0;
    std::int64_t time_ns = 0;
    ResultRecord record;
    if (!in.skip(magic) || !in.get(record_version) || record_version != version || !in.get(kind) ||
        kind > static_cast<std::uint8_t>(TestResultKind::TimeLimitExceeded) || !in.get(has_time) ||
        has_time > 1 || !in.get(note_shown) || note_shown > 1 || !in.get(time_ns) ||
        !in.get(record.result.bench.median_ns) || !in.get(record.result.bench.deviation_ns) ||
        !in.get_bytes(record.result.message) || !in.get_bytes(record.output) || !in.at_end()) {
        return std::nullopt;
    }
    record.result.kind = static_cast<TestResultKind>(kind);
    record.note_shown = note_shown == 1;
    if (has_time == 1) {
        record.exec_time = TestExecTime{std::chrono::nanoseconds(time_ns)};
    }
    return record;
}

} // namespace runner::process
