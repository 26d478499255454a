#include "core/words.hpp"

#include <charconv>
#include <cmath>

#include "core/lines.hpp"

namespace umbrascope {

std::string lower(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool ends_with(std::string_view text, std::string_view end)
{
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

void append_decimal(std::string& out, double value, int decimals)
{
    char buffer[400];
    const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    std::string_view text(buffer, error == std::errc() ? static_cast<std::size_t>(end - buffer) : 0);
    if (text.find('.') != std::string_view::npos) {
        while (text.back() == '0')
            text.remove_suffix(1);
        if (text.back() == '.')
            text.remove_suffix(1);
    }
    out += text == "-0" ? "0" : text;
}

std::string decimal_text(double value, int decimals)
{
    std::string out;
    append_decimal(out, value, decimals);
    return out;
}

std::optional<double> number_of(std::string_view text)
{
    text = trim_blanks(text);
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::string names_and_more(const std::vector<std::string>& names, std::size_t shown)
{
    std::string out;
    for (std::size_t i = 0; i < names.size() && i < shown; ++i) {
        if (i > 0)
            out += ", ";
        out += names[i];
    }
    if (names.size() > shown)
        out += " and " + std::to_string(names.size() - shown) + " more";
    return out;
}

}  // namespace umbrascope
