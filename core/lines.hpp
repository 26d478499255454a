#pragma once
// The lines of a text held whole in memory, for the readers of files that are read at once.

#include <string_view>

namespace umbrascope {

// Calls `line(text, number)` for every line of `bytes`, numbered from 1, without its line end (LF
// or CRLF). A UTF-8 byte-order mark is not part of the first line; a line end after the last line
// does not start an empty one.
template <class F>
void each_line(std::string_view bytes, F&& line)
{
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF")
        bytes.remove_prefix(3);
    long number = 0;
    while (!bytes.empty()) {
        const std::size_t end = bytes.find('\n');
        std::string_view one = bytes.substr(0, end);
        bytes.remove_prefix(end == std::string_view::npos ? bytes.size() : end + 1);
        if (!one.empty() && one.back() == '\r')
            one.remove_suffix(1);
        line(one, ++number);
    }
}

// `text` without the blanks and tabs around it.
[[nodiscard]] inline std::string_view trim_blanks(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

}  // namespace umbrascope
