#pragma once
// A fingerprint of a file's bytes, so that files made together (a sky, the loadshapes made with
// it, a study and the voltages read back from it) can tell when one of them was made again
// without the others. Not a guard against tampering: 64 bits of a fast mix.

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace umbrascope {

class Fingerprint {
public:
    // The bytes in order, in pieces of any size: eight at a time, whatever the pieces.
    void add(std::string_view bytes)
    {
        while (!bytes.empty() && held_ != 0)
            take(bytes);
        while (bytes.size() >= 8) {
            std::uint64_t word = 0;
            std::memcpy(&word, bytes.data(), 8);
            mix(word);
            bytes.remove_prefix(8);
        }
        while (!bytes.empty())
            take(bytes);
    }
    [[nodiscard]] std::string text() const
    {
        Fingerprint last = *this;
        std::uint64_t tail = 0;
        std::memcpy(&tail, last.pending_, sizeof tail);
        last.mix(tail ^ (static_cast<std::uint64_t>(held_) << 56));
        char out[17];
        std::snprintf(out, sizeof out, "%016llx", static_cast<unsigned long long>(last.state_ ^ count_));
        return out;
    }

private:
    void take(std::string_view& bytes)
    {
        pending_[held_ % sizeof pending_] = bytes.front();
        ++held_;
        bytes.remove_prefix(1);
        if (held_ == 8) {
            std::uint64_t word = 0;
            std::memcpy(&word, pending_, 8);
            mix(word);
            held_ = 0;
            std::memset(pending_, 0, sizeof pending_);
        }
    }
    void mix(std::uint64_t word)
    {
        state_ = (state_ ^ word) * 0x9E3779B97F4A7C15ULL;
        state_ ^= state_ >> 32;
        count_ += 8;
    }

    std::uint64_t state_ = 0xCBF29CE484222325ULL;
    std::uint64_t count_ = 0;
    char pending_[8] = {};
    unsigned held_ = 0;
};

// The fingerprint of a whole file; nothing where it cannot be read.
[[nodiscard]] inline std::optional<std::string> file_fingerprint(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    Fingerprint print;
    std::vector<char> buffer(1 << 20);
    while (in) {
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        print.add(std::string_view(buffer.data(), static_cast<std::size_t>(in.gcount())));
    }
    if (in.bad())
        return std::nullopt;
    return print.text();
}

// The fingerprint a text names after "fingerprint ", as the files that carry one write it.
[[nodiscard]] inline std::optional<std::string> named_fingerprint(std::string_view text)
{
    constexpr std::string_view mark = "fingerprint ";
    const std::size_t at = text.find(mark);
    if (at == std::string_view::npos || text.size() < at + mark.size() + 16)
        return std::nullopt;
    return std::string(text.substr(at + mark.size(), 16));
}

}  // namespace umbrascope
