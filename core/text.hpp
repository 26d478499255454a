#pragma once
// Text as the passes see it: a line is a sequence of characters (Unicode code points), so that
// character positions count characters whatever their UTF-8 length. Numbers in files and echoes
// always use the point as the decimal separator, whatever the user's locale.

#include <string>
#include <string_view>

#include "core/numeric.hpp"

namespace umbrascope {

using Text = std::u32string;
using TextView = std::u32string_view;

// Bytes that are not valid UTF-8 become U+FFFD, one per offending byte.
[[nodiscard]] Text decode_utf8(std::string_view bytes);
void decode_utf8(std::string_view bytes, Text& into);
[[nodiscard]] std::string encode_utf8(TextView text);
[[nodiscard]] Text text_of(std::string_view utf8);  // for literals and messages

// Where a field came from, for messages: "cloud_sun_intensity_table.txt line 9, field 4".
struct Site {
    std::string_view file;
    long line = 0;
    int field = 0;  // 0: the message names the line only
    std::string_view label;  // names the field instead of its number, when set
};
[[nodiscard]] std::string describe(const Site& site);

// Text to number. Blanks (spaces and tabs) around the number are accepted; the number is an
// optional sign, digits with at most one decimal point, and an optional exponent. Group
// separators are never accepted. Anything else, the empty text included, is a conversion error.
[[nodiscard]] Single text_to_single(TextView field, const Site& site);
// text_to_single's common case, a plain decimal of at most 7 digits between blanks: true and the
// same value, or false when text_to_single must decide.
[[nodiscard]] bool plain_decimal_to_single(TextView field, Single& value);
// Rounds halves to the even neighbour; a value outside -32768..32767 is an overflow.
[[nodiscard]] Integer text_to_integer(TextView field, const Site& site);

// Number to text for echo lines: no leading blank; a Single in its shortest general form with at
// most 7 significant digits and the point (0.5, 1000000, 1.234568E+07).
[[nodiscard]] Text integer_text(Integer value);
[[nodiscard]] Text single_text(Single value);
[[nodiscard]] Text cell_text(const Cell& cell);  // an empty cell gives the empty text
void append_single_text(Text& to, Single value);

// The shortest text that reads back to the same float, with a point: the trace's number form.
[[nodiscard]] std::string shortest_float_text(Single value);

// Quotes a field or line for a message, cut short when very long.
[[nodiscard]] std::string quoted(TextView text);

}  // namespace umbrascope
