#pragma once
// The bands of kW a map of hosting capacity is coloured in, the same in the picture files, the
// window and the page: five of equal width up to the search's maximum, the last holding the
// maximum itself, from red (little) to green (much), and grey where a bus has no answer.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

namespace umbrascope {

struct BandColour {
    const char* hex;
    std::uint8_t r, g, b;
};

inline constexpr std::array<BandColour, 5> hosting_bands{{{"#d7191c", 0xd7, 0x19, 0x1c},
                                                          {"#fdae61", 0xfd, 0xae, 0x61},
                                                          {"#e6d93a", 0xe6, 0xd9, 0x3a},
                                                          {"#a6d96a", 0xa6, 0xd9, 0x6a},
                                                          {"#1a9641", 0x1a, 0x96, 0x41}}};
inline constexpr BandColour no_hosting_answer{"#b0b0b0", 0xb0, 0xb0, 0xb0};

// The band of `kw` out of a search up to `max_kw`.
[[nodiscard]] inline int hosting_band(double kw, double max_kw)
{
    if (!(max_kw > 0) || !std::isfinite(kw))
        return 0;
    const int band = static_cast<int>(std::floor(kw / max_kw * static_cast<double>(hosting_bands.size())));
    return std::clamp(band, 0, static_cast<int>(hosting_bands.size()) - 1);
}

}  // namespace umbrascope
