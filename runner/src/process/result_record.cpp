#include "process/result_record.hpp"

#include <cstdint>
#include <cstring>

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
