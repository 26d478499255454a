#include "core/text.hpp"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <locale.h>

namespace umbrascope {

namespace {

// Files are data exchanged between machines: numbers use the point whatever the desktop's locale.
constexpr char32_t decimal_point = U'.';
constexpr char32_t replacement = 0xFFFD;

void append_utf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

bool is_blank(char32_t c) { return c == U' ' || c == U'\t'; }
bool is_digit(char32_t c) { return c >= U'0' && c <= U'9'; }

// The field without the blanks around it.
TextView trim_blanks(TextView field)
{
    std::size_t begin = 0;
    std::size_t end = field.size();
    while (begin < end && is_blank(field[begin]))
        ++begin;
    while (end > begin && is_blank(field[end - 1]))
        --end;
    return field.substr(begin, end - begin);
}

// Checks the number grammar and writes the number in the C form ("-12.5e3") into `out`, which
// has room for field.size() characters. Returns the length written, or npos when the field is not
// a number.
std::size_t normalise_number(TextView field, char* out)
{
    constexpr std::size_t invalid = TextView::npos;
    const TextView number = trim_blanks(field);
    const std::size_t end = number.size();
    std::size_t n = 0;
    std::size_t i = 0;
    if (i < end && (number[i] == U'+' || number[i] == U'-')) {
        if (number[i] == U'-')
            out[n++] = '-';
        ++i;
    }
    std::size_t digits = 0;
    for (; i < end && is_digit(number[i]); ++i, ++digits)
        out[n++] = static_cast<char>(number[i]);
    if (i < end && number[i] == decimal_point) {
        out[n++] = '.';
        for (++i; i < end && is_digit(number[i]); ++i, ++digits)
            out[n++] = static_cast<char>(number[i]);
    }
    if (digits == 0)
        return invalid;
    if (i < end && (number[i] == U'e' || number[i] == U'E')) {
        out[n++] = 'e';
        ++i;
        if (i < end && (number[i] == U'+' || number[i] == U'-'))
            out[n++] = static_cast<char>(number[i++]);
        std::size_t exponent_digits = 0;
        for (; i < end && is_digit(number[i]); ++i, ++exponent_digits)
            out[n++] = static_cast<char>(number[i]);
        if (exponent_digits == 0)
            return invalid;
    }
    return i == end ? n : invalid;
}

// The C form of a number field, on the stack for ordinary fields.
class CForm {
public:
    explicit CForm(TextView field)
    {
        char* out = stack_.data();
        if (field.size() > stack_.size()) {
            heap_.resize(field.size());
            out = heap_.data();
        }
        length_ = normalise_number(field, out);
        text_ = out;
    }
    [[nodiscard]] bool valid() const { return length_ != TextView::npos; }
    [[nodiscard]] const char* begin() const { return text_; }
    [[nodiscard]] const char* end() const { return text_ + length_; }

private:
    std::array<char, 64> stack_{};
    std::string heap_;
    const char* text_ = nullptr;
    std::size_t length_ = 0;
};

[[noreturn]] void fail_not_a_number(TextView field, const Site& site)
{
    fail(ErrorKind::conversion, describe(site) + ": " + quoted(field) + " is not a number");
}

double parse_double(const CForm& c_form)
{
    double value = 0.0;
    const auto result = std::from_chars(c_form.begin(), c_form.end(), value);
    if (result.ec == std::errc::result_out_of_range) {
        // ±HUGE_VAL or the underflow, read in the C locale whatever the process's locale is.
        static const locale_t c_locale = newlocale(LC_ALL_MASK, "C", nullptr);
        return strtod_l(std::string(c_form.begin(), c_form.end()).c_str(), nullptr, c_locale);
    }
    return value;
}

}  // namespace

void decode_utf8(std::string_view bytes, Text& into)
{
    // Every byte gives at most one character, so the text is sized once and trimmed at the end.
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    into.resize(n);
    char32_t* out = into.data();
    std::size_t count = 0;
    std::size_t i = 0;
    while (i < n) {
        while (i < n && p[i] < 0x80)  // runs of ASCII, the usual case
            out[count++] = p[i++];
        if (i == n)
            break;
        const unsigned char b = p[i];
        int extra = 0;
        char32_t c = 0;
        char32_t min = 0;
        if ((b & 0xE0) == 0xC0) {
            extra = 1, c = b & 0x1F, min = 0x80;
        } else if ((b & 0xF0) == 0xE0) {
            extra = 2, c = b & 0x0F, min = 0x800;
        } else if ((b & 0xF8) == 0xF0) {
            extra = 3, c = b & 0x07, min = 0x10000;
        } else {
            out[count++] = replacement;
            ++i;
            continue;
        }
        bool ok = i + static_cast<std::size_t>(extra) < n;
        for (int k = 1; ok && k <= extra; ++k) {
            const unsigned char next = p[i + static_cast<std::size_t>(k)];
            if ((next & 0xC0) != 0x80)
                ok = false;
            else
                c = (c << 6) | (next & 0x3F);
        }
        if (!ok || c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            out[count++] = replacement;
            ++i;
            continue;
        }
        out[count++] = c;
        i += static_cast<std::size_t>(extra) + 1;
    }
    into.resize(count);
}

Text decode_utf8(std::string_view bytes)
{
    Text text;
    decode_utf8(bytes, text);
    return text;
}

std::string encode_utf8(TextView text)
{
    std::string out;
    out.reserve(text.size());
    for (const char32_t c : text)
        append_utf8(out, c);
    return out;
}

Text text_of(std::string_view utf8) { return decode_utf8(utf8); }

std::string describe(const Site& site)
{
    std::string out(site.file);
    if (site.line > 0)
        out += " line " + std::to_string(site.line);
    if (!site.label.empty())
        out += ", " + std::string(site.label);
    else if (site.field > 0)
        out += ", field " + std::to_string(site.field);
    return out;
}

namespace {

// The common case, a plain decimal of at most 7 digits: its digits as a whole number and a power
// of ten are both exact Singles, so one division gives the correctly rounded result.
bool simple_single(TextView field, Single& value)
{
    static constexpr float powers[] = {1e0F, 1e1F, 1e2F, 1e3F, 1e4F, 1e5F, 1e6F, 1e7F};
    const TextView number = trim_blanks(field);
    const std::size_t end = number.size();
    std::size_t i = 0;
    const bool negative = i < end && number[i] == U'-';
    if (i < end && (number[i] == U'-' || number[i] == U'+'))
        ++i;
    std::uint32_t digits = 0;
    int count = 0;
    int decimals = -1;  // digits after the separator, once one is seen
    for (; i < end; ++i) {
        const char32_t c = number[i];
        if (is_digit(c)) {
            if (++count > 7)
                return false;
            digits = digits * 10 + (c - U'0');
            if (decimals >= 0)
                ++decimals;
        } else if (c == decimal_point && decimals < 0) {
            decimals = 0;
        } else {
            return false;  // an exponent, or not a number: the full conversion decides
        }
    }
    if (count == 0)
        return false;
    const float magnitude = static_cast<float>(digits) / powers[std::max(decimals, 0)];
    value = negative ? -magnitude : magnitude;
    return true;
}

}  // namespace

bool plain_decimal_to_single(TextView field, Single& value) { return simple_single(field, value); }

Single text_to_single(TextView field, const Site& site)
{
    Single value = 0.0F;
    if (simple_single(field, value))
        return value;
    const CForm c_form(field);
    if (!c_form.valid())
        fail_not_a_number(field, site);
    const auto result = std::from_chars(c_form.begin(), c_form.end(), value);
    if (result.ec == std::errc::result_out_of_range) {
        const double wide = parse_double(c_form);
        if (std::fabs(wide) >= 1.0)
            fail(ErrorKind::fpfault, describe(site) + ": " + quoted(field) +
                                         " is beyond the Single range (floating-point overflow)");
        value = static_cast<Single>(wide);  // an underflow becomes 0 or a subnormal
    }
    return value;
}

Integer text_to_integer(TextView field, const Site& site)
{
    const CForm c_form(field);
    if (!c_form.valid())
        fail_not_a_number(field, site);
    const double rounded = std::nearbyint(parse_double(c_form));
    if (!(rounded >= integer_min && rounded <= integer_max))
        fail(ErrorKind::overflow, describe(site) + ": " + quoted(field) +
                                      " is outside the Integer range -32768..32767");
    return Integer(static_cast<std::int16_t>(rounded));
}

Text integer_text(Integer value)
{
    const std::string digits = std::to_string(value.value());
    return {digits.begin(), digits.end()};
}

void append_single_text(Text& to, Single value)
{
    if (value == 0.0F || std::isnan(value)) {
        to.push_back(U'0');
        return;
    }
    if (std::isinf(value)) {
        to += value < 0 ? U"-Inf" : U"Inf";
        return;
    }
    // The fewest significant digits, at most 7, that read back to the same Single. The C library's
    // printf and strtof follow the process's locale, so the conversions here are the <charconv> ones.
    std::array<char, 40> buffer{};
    for (int precision = 1; precision <= 7; ++precision) {
        const auto written = std::to_chars(buffer.data(), buffer.data() + buffer.size() - 1, static_cast<double>(value),
                                           std::chars_format::scientific, precision - 1);
        *written.ptr = '\0';
        Single back = 0.0F;
        std::from_chars(buffer.data(), written.ptr, back);
        if (precision == 7 || back == value)
            break;
    }
    // buffer holds "-d.ddde+XX": split it into sign, digits and exponent.
    const char* p = buffer.data();
    if (*p == '-') {
        to.push_back(U'-');
        ++p;
    }
    std::string digits;
    for (; *p != 'e'; ++p)
        if (*p != '.')
            digits.push_back(*p);
    const int exponent = std::atoi(p + 1);
    while (digits.size() > 1 && digits.back() == '0')
        digits.pop_back();
    const auto push = [&to](char c) { to.push_back(static_cast<char32_t>(static_cast<unsigned char>(c))); };
    const int count = static_cast<int>(digits.size());
    if (exponent >= -4 && exponent < 7) {  // as printf's %G at 7 digits
        if (exponent < 0) {
            push('0');
            to.push_back(decimal_point);
            for (int z = 0; z < -exponent - 1; ++z)
                push('0');
            for (const char d : digits)
                push(d);
        } else {
            for (int k = 0; k <= exponent; ++k)
                push(k < count ? digits[static_cast<std::size_t>(k)] : '0');
            if (count > exponent + 1) {
                to.push_back(decimal_point);
                for (int k = exponent + 1; k < count; ++k)
                    push(digits[static_cast<std::size_t>(k)]);
            }
        }
        return;
    }
    push(digits[0]);
    if (count > 1) {
        to.push_back(decimal_point);
        for (int k = 1; k < count; ++k)
            push(digits[static_cast<std::size_t>(k)]);
    }
    std::array<char, 16> tail{};
    std::snprintf(tail.data(), tail.size(), "E%c%02d", exponent < 0 ? '-' : '+', std::abs(exponent));
    for (const char* t = tail.data(); *t != '\0'; ++t)
        push(*t);
}

Text single_text(Single value)
{
    Text text;
    append_single_text(text, value);
    return text;
}

Text cell_text(const Cell& cell) { return cell.filled() ? single_text(cell.value()) : Text{}; }

std::string shortest_float_text(Single value)
{
    std::array<char, 40> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    return {buffer.data(), result.ptr};
}

std::string quoted(TextView text)
{
    constexpr std::size_t longest = 80;
    // Appended piece by piece: "literal" + std::string&& trips a false -Wrestrict in g++ 12.
    std::string out(1, '"');
    out += encode_utf8(text.size() <= longest ? text : text.substr(0, longest));
    if (text.size() <= longest) {
        out += '"';
        return out;
    }
    out += "\u2026\" (";
    out += std::to_string(text.size());
    out += " characters)";
    return out;
}

}  // namespace umbrascope
