#pragma once
// The field scan shared by the three readers. Positions are 1-based character positions held in
// Integers: `pos_start` is the delimiter before the current field (0 = start of the line) and
// `pos` the delimiter after it (0 = none found).

#include "core/numeric.hpp"
#include "core/text.hpp"

namespace umbrascope {

// The position of the first `delim` at or after position `pos_start` + 1, or 0 when there is none.
// A position beyond 32767 is an overflow.
[[nodiscard]] Integer find_delim(TextView line, Integer pos_start, char32_t delim, const Site& site);

// The `pos` - `pos_start` - 1 characters from position `pos_start` + 1. A negative length (a
// delimiter missing) is the invalid-argument error; `missing` says what the line lacks, e.g.
// "a \",\" after the bus number".
[[nodiscard]] TextView cut_field(TextView line, Integer pos_start, Integer pos, const Site& site,
                                 std::string_view missing);

// The characters from position `pos_start` + 1 to the end of the line.
[[nodiscard]] TextView rest_of_line(TextView line, Integer pos_start, const Site& site);

// The length of the line + 1, as the position that ends its last field.
[[nodiscard]] Integer line_end_position(TextView line, const Site& site);

[[nodiscard]] inline bool contains(TextView line, TextView marker) { return line.find(marker) != TextView::npos; }

}  // namespace umbrascope
