#pragma once
// Small text helpers the readers and writers of the scenario's files share: ASCII lower case, as
// circuits and file names compare, and plain decimals without trailing zeros, as files write them.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace umbrascope {

// A blank between the words of a line as OpenDSS reads it: space, tab, form feed or vertical tab.
[[nodiscard]] inline bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\f' || c == '\v'; }

// ASCII lower case.
[[nodiscard]] std::string lower(std::string_view text);

[[nodiscard]] bool ends_with(std::string_view text, std::string_view end);

// `value` with at most `decimals` places, trailing zeros and a bare point dropped ("2.5", "3",
// never "-0").
void append_decimal(std::string& out, double value, int decimals);
[[nodiscard]] std::string decimal_text(double value, int decimals);

// The first `shown` names, then how many more: "a, b, c and 4 more".
[[nodiscard]] std::string names_and_more(const std::vector<std::string>& names, std::size_t shown);

// A finite number filling the whole of `text` (blanks around it allowed); nothing otherwise.
[[nodiscard]] std::optional<double> number_of(std::string_view text);

}  // namespace umbrascope
