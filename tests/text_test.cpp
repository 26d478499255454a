#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdlib>
#include <random>

#include "core/errors.hpp"
#include "core/text.hpp"
#include "test_support.hpp"

namespace umbrascope {
namespace {

const Site site{"file.txt", 9, 4};

std::optional<ErrorKind> single_error(const std::string& text)
{
    try {
        (void)text_to_single(text_of(text), site);
    } catch (const PassError& e) {
        return e.kind();
    }
    return std::nullopt;
}

TEST(TextToNumber, AcceptsNumbersWithBlanksAround)
{
    struct Case {
        const char* text;
        float expected;
    };
    const Case cases[] = {{"0.5", 0.5F},   {" 0.50 ", 0.5F}, {"\t3\t", 3.0F}, {"-1.25", -1.25F}, {"+7", 7.0F},
                          {".5", 0.5F},    {"5.", 5.0F},     {"1e3", 1000.0F}, {"2.5E-1", 0.25F}, {"0.99", 0.99F},
                          {"1e-50", 0.0F}, {"000012", 12.0F}, {"0.1", 0.1F},  {"-0", -0.0F}};
    for (const Case& c : cases)
        EXPECT_EQ(text_to_single(text_of(c.text), site), c.expected) << c.text;
}

TEST(TextToNumber, AgreesWithTheCorrectlyRoundedConversionBitForBit)
{
    std::mt19937 random(7);
    for (int i = 0; i < 100000; ++i) {
        std::string text = std::to_string(random() % 100000000);  // up to 8 digits, past the short path
        const std::size_t point = random() % (text.size() + 1);
        if (point < text.size())
            text.insert(point, ".");
        if (random() % 4 == 0)
            text.insert(0, "-");
        if (random() % 8 == 0)
            text += "e" + std::to_string(static_cast<int>(random() % 20) - 10);
        EXPECT_EQ(std::bit_cast<std::uint32_t>(text_to_single(text_of(text), site)),
                  std::bit_cast<std::uint32_t>(std::strtof(text.c_str(), nullptr)))
            << text;
    }
}

TEST(TextToNumber, RejectsWhatIsNotANumber)
{
    for (const char* text : {"", " ", "abc", "0..7", ".", "-", "+.", "1.5.", "1-", "1+1", "1.2.3", "1,000", "1 000", "1e", "e5", "--1", "+-1", "0x10", "inf",
                             "nan", "1.5x", "١"})
        EXPECT_EQ(single_error(text), ErrorKind::conversion) << '"' << text << '"';
    EXPECT_EQ(single_error("1e39"), ErrorKind::fpfault);
    EXPECT_EQ(single_error("-3.5e38"), ErrorKind::fpfault);
}

TEST(TextToNumber, ConversionMessageNamesTheFieldAndText)
{
    try {
        (void)text_to_single(U"0..7", Site{"cloud_sun_intensity_table.txt", 9, 4});
        FAIL();
    } catch (const PassError& e) {
        EXPECT_STREQ(e.what(), "cloud_sun_intensity_table.txt line 9, field 4: \"0..7\" is not a number");
    }
}

TEST(TextToNumber, UsesThePointUnderACommaDecimalLocale)
{
    const testing::CommaLocale comma;
    if (!comma.active())
        GTEST_SKIP() << "no comma-decimal locale could be made here";
    // Each number is read with the point and written back with it; 350 once came out as "3,5".
    struct Case {
        const char* text;
        const char32_t* echo;
    };
    const Case cases[] = {{"0.93", U"0.93"}, {"350", U"350"},       {"200", U"200"},        {"1.5e3", U"1500"},
                          {"1e-5", U"1E-05"}, {"12345678", U"1.234568E+07"}, {"-0.125", U"-0.125"}, {"1e-50", U"0"}};
    for (const Case& c : cases)
        EXPECT_EQ(single_text(text_to_single(text_of(c.text), site)), c.echo) << c.text;
    EXPECT_EQ(single_error("0,5"), ErrorKind::conversion);  // a comma always separates fields
    EXPECT_EQ(single_error("1e39"), ErrorKind::fpfault);
}

TEST(TextToNumber, IntegersRoundHalvesToEvenAndAreRangeTested)
{
    struct Case {
        const char* text;
        int expected;
    };
    const Case cases[] = {{"2.5", 2}, {"3.5", 4}, {"-2.5", -2}, {"32767", 32767}, {"-32768", -32768}, {" 12 ", 12},
                          {"32767.4", 32767}, {"1e2", 100}};
    for (const Case& c : cases)
        EXPECT_EQ(text_to_integer(text_of(c.text), site).value(), c.expected) << c.text;
    for (const char* text : {"32767.5", "40000", "-32769", "1e300", "1e400"}) {
        try {
            (void)text_to_integer(text_of(text), site);
            ADD_FAILURE() << text;
        } catch (const PassError& e) {
            EXPECT_EQ(e.kind(), ErrorKind::overflow) << text;
        }
    }
}

TEST(NumberToText, ShortestFormWithAtMostSevenDigits)
{
    struct Case {
        float value;
        const char32_t* expected;
    };
    const Case cases[] = {
        {0.5F, U"0.5"},           {1000000.0F, U"1000000"},    {0.0F, U"0"},          {-0.0F, U"0"},
        {1.25F, U"1.25"},         {-3.0F, U"-3"},               {0.1F, U"0.1"},        {0.99F, U"0.99"},
        {1.0F / 3.0F, U"0.3333333"}, {10000000.0F, U"1E+07"},   {12345678.0F, U"1.234568E+07"},
        {0.0001F, U"0.0001"},     {0.00001F, U"1E-05"},         {123456.7F, U"123456.7"}, {4880.0F, U"4880"},
        {std::bit_cast<float>(0x40490FDAU), U"3.141593"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(encode_utf8(single_text(c.value)), encode_utf8(c.expected)) << c.value;
    EXPECT_EQ(integer_text(Integer{-32768}), U"-32768");
    EXPECT_EQ(cell_text(Cell{}), U"");
    EXPECT_EQ(cell_text(Cell{2.0F}), U"2");
}

TEST(NumberToText, TraceFormReadsBackToTheSameFloat)
{
    EXPECT_EQ(shortest_float_text(4880.0F), "4880");
    EXPECT_EQ(shortest_float_text(1580.5F), "1580.5");
    EXPECT_EQ(shortest_float_text(0.1F), "0.1");
    EXPECT_EQ(shortest_float_text(-20.0F), "-20");
}

TEST(Utf8, InvalidBytesBecomeTheReplacementCharacter)
{
    struct Case {
        std::string bytes;
        std::u32string expected;
    };
    const Case cases[] = {
        {"abc", U"abc"},
        {"caf\xC3\xA9", U"caf\u00e9"},
        {"\xE2\x82\xAC", U"\u20ac"},
        {"\xF0\x9F\x98\x80", U"\U0001F600"},
        {"a\xFF" "b", U"a\uFFFDb"},
        {"\xC3", U"\uFFFD"},                        // cut short at the end
        {"\xC0\xAF", U"\uFFFD\uFFFD"},              // overlong
        {"\xED\xA0\x80", U"\uFFFD\uFFFD\uFFFD"},    // a surrogate
        {"\xE2\x82" "A", U"\uFFFD\uFFFDA"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(decode_utf8(c.bytes), c.expected) << c.bytes;
    EXPECT_EQ(encode_utf8(U"caf\u00e9 \U0001F600"), "caf\xC3\xA9 \xF0\x9F\x98\x80");
}

}  // namespace
}  // namespace umbrascope
