#include "core/numeric.hpp"

#include <array>
#include <charconv>
#include <cmath>

namespace umbrascope {

namespace {

[[noreturn]] void fail_range(std::string_view what, const std::string& expression)
{
    fail(ErrorKind::overflow, std::string(what) + ": " + expression +
                                  " is outside the Integer range -32768..32767");
}

std::string number_text(double x)
{
    std::array<char, 32> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), x);
    return {buffer.data(), result.ptr};
}

}  // namespace

Integer sum(Integer a, int b, std::string_view what)
{
    const int result = a.value() + b;
    if (result < integer_min || result > integer_max)
        fail_range(what, std::to_string(a.value()) + (b < 0 ? " - " : " + ") + std::to_string(std::abs(b)));
    return Integer(static_cast<std::int16_t>(result));
}

Integer difference(Integer a, Integer b, std::string_view what)
{
    const int result = a.value() - b.value();
    if (result < integer_min || result > integer_max)
        fail_range(what, std::to_string(a.value()) + " - " + std::to_string(b.value()));
    return Integer(static_cast<std::int16_t>(result));
}

Integer to_integer(double x, std::string_view what)
{
    if (std::isnan(x))
        fail(ErrorKind::fpfault, std::string(what) + ": the value is not a number (invalid operation)");
    const double rounded = std::nearbyint(x);  // the default rounding mode: halves to even
    if (!(rounded >= integer_min && rounded <= integer_max))
        fail_range(what, number_text(x));
    return Integer(static_cast<std::int16_t>(rounded));
}

Single to_single(double x, std::string_view what)
{
    if (std::isnan(x))
        fail(ErrorKind::fpfault, std::string(what) + ": invalid floating-point operation (the result is not a number)");
    const auto single = static_cast<Single>(x);
    if (std::isinf(single))
        fail(ErrorKind::fpfault, std::string(what) + ": floating-point overflow (" + number_text(x) +
                                     " is beyond the Single range)");
    return single;
}

void fail_index(const char* table, int index, int lo, int hi, const std::string& context)
{
    fail(ErrorKind::bounds, (context.empty() ? std::string() : context + ": ") + std::string(table) + "(" + std::to_string(index) + ") is outside the table's range " +
                                std::to_string(lo) + ".." + std::to_string(hi));
}

void fail_index2(const char* table, int row, int col, int rlo, int rhi, int clo, int chi)
{
    fail(ErrorKind::bounds, std::string(table) + "(" + std::to_string(row) + ", " + std::to_string(col) +
                                ") is outside the table's range " + std::to_string(rlo) + ".." + std::to_string(rhi) +
                                " by " + std::to_string(clo) + ".." + std::to_string(chi));
}

void fail_memory(const char* table, std::size_t entries)
{
    fail(ErrorKind::bounds, std::string(table) + ": not enough memory to grow the table to " + std::to_string(entries) +
                                " entries");
}

}  // namespace umbrascope
