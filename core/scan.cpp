#include "core/scan.hpp"

namespace umbrascope {

namespace {

[[noreturn]] void fail_position(const Site& site, std::size_t position)
{
    fail(ErrorKind::overflow, describe(site) + ": character position " + std::to_string(position) +
                                  " is beyond 32767, the last position a line can be scanned to");
}

Integer after(Integer pos_start, const Site& site)
{
    if (pos_start.value() >= integer_max)
        fail_position(site, static_cast<std::size_t>(pos_start.value()) + 1);
    return Integer(static_cast<std::int16_t>(pos_start.value() + 1));
}

}  // namespace

Integer find_delim(TextView line, Integer pos_start, char32_t delim, const Site& site)
{
    const Integer from = after(pos_start, site);
    const std::size_t index = static_cast<std::size_t>(from.value()) - 1;
    if (index >= line.size())
        return Integer{0};
    const std::size_t found = line.find(delim, index);
    if (found == TextView::npos)
        return Integer{0};
    if (found + 1 > static_cast<std::size_t>(integer_max))
        fail_position(site, found + 1);
    return Integer(static_cast<std::int16_t>(found + 1));
}

TextView cut_field(TextView line, Integer pos_start, Integer pos, const Site& site, std::string_view missing)
{
    const Integer from = after(pos_start, site);
    const int length = pos.value() - pos_start.value() - 1;
    if (length < 0)
        fail(ErrorKind::argument, describe(site) + ": " + quoted(line) + " has no " + std::string(missing));
    const auto index = static_cast<std::size_t>(from.value()) - 1;
    if (index >= line.size())
        return {};
    return line.substr(index, static_cast<std::size_t>(length));
}

TextView rest_of_line(TextView line, Integer pos_start, const Site& site)
{
    const auto index = static_cast<std::size_t>(after(pos_start, site).value()) - 1;
    return index >= line.size() ? TextView{} : line.substr(index);
}

Integer line_end_position(TextView line, const Site& site)
{
    if (line.size() + 1 > static_cast<std::size_t>(integer_max))
        fail(ErrorKind::overflow, describe(site) + ": the line is " + std::to_string(line.size()) +
                                      " characters long; its last field must end by position 32767");
    return Integer(static_cast<std::int16_t>(line.size() + 1));
}

}  // namespace umbrascope
