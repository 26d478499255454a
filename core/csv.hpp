#pragma once
// Comma-separated fields as CSV has them, for the files the programs write and read back: a field
// holding a comma, a quote or a line end is quoted, and "" within it is a quote.

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace umbrascope {

// `field` as one CSV field, quoted where it must be (or where blanks around it would be lost).
inline void append_csv(std::string& out, std::string_view field)
{
    const bool bare = field.find_first_of(",\"\r\n") == std::string_view::npos &&
                      (field.empty() || (field.front() != ' ' && field.back() != ' '));
    if (bare) {
        out += field;
        return;
    }
    out += '"';
    for (const char c : field) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
}

// `fields` as one line of CSV.
inline void append_csv_row(std::string& out, std::initializer_list<std::string_view> fields)
{
    bool first = true;
    for (const std::string_view field : fields) {
        if (!std::exchange(first, false))
            out += ',';
        append_csv(out, field);
    }
    out += '\n';
}

// The fields of one line; nothing for a quote left open.
[[nodiscard]] inline std::optional<std::vector<std::string>> csv_fields(std::string_view line)
{
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted && c == '"' && i + 1 < line.size() && line[i + 1] == '"')
            fields.back() += line[++i];
        else if (c == '"')
            quoted = !quoted;
        else if (c == ',' && !quoted)
            fields.emplace_back();
        else
            fields.back() += c;
    }
    if (quoted)
        return std::nullopt;
    return fields;
}

}  // namespace umbrascope
