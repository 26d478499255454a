#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>

#include "core/numeric.hpp"

namespace umbrascope {
namespace {

template <class F>
ErrorKind kind_of(F&& f)
{
    try {
        f();
    } catch (const PassError& e) {
        return e.kind();
    }
    ADD_FAILURE() << "no error";
    return ErrorKind::drawing;
}

TEST(Integer, SumsAndDifferencesAreRangeTested)
{
    struct Case {
        int a;
        int b;
        bool overflows;
    };
    const Case cases[] = {{32766, 1, false}, {32767, 1, true}, {-32768, -1, true}, {-32767, -1, false}, {0, 0, false}};
    for (const Case& c : cases) {
        const Integer a(static_cast<std::int16_t>(c.a));
        if (c.overflows) {
            EXPECT_EQ(kind_of([&] { (void)sum(a, c.b, "x"); }), ErrorKind::overflow) << c.a << " + " << c.b;
        }
        else
            EXPECT_EQ(sum(a, c.b, "x").value(), c.a + c.b);
    }
    EXPECT_EQ(kind_of([] { (void)difference(Integer{-32768}, Integer{1}, "x"); }), ErrorKind::overflow);
    EXPECT_EQ(kind_of([] { (void)difference(Integer{0}, Integer{-32768}, "x"); }), ErrorKind::overflow);
    EXPECT_EQ(difference(Integer{-1}, Integer{32767}, "x").value(), -32768);
}

TEST(Integer, ConversionRoundsHalvesToEven)
{
    struct Case {
        double x;
        int expected;
    };
    const Case cases[] = {{2.5, 2},       {3.5, 4},         {-2.5, -2},         {-3.5, -4}, {0.4999999, 0},
                          {32767.4, 32767}, {-32768.5, -32768}, {4321.538, 4322}, {-1998.46, -1998}};
    for (const Case& c : cases)
        EXPECT_EQ(to_integer(c.x, "x").value(), c.expected) << c.x;
    for (const double x : {32767.5, -32768.6, 1e10, std::numeric_limits<double>::infinity()})
        EXPECT_EQ(kind_of([x] { (void)to_integer(x, "x"); }), ErrorKind::overflow) << x;
    EXPECT_EQ(kind_of([] { (void)to_integer(std::nan(""), "x"); }), ErrorKind::fpfault);
}

TEST(Single, StoringAFormulaFaultsOnOverflowAndInvalidResults)
{
    EXPECT_EQ(to_single(0.1, "x"), 0.1F);
    EXPECT_EQ(to_single(double{FLT_MAX}, "x"), FLT_MAX);
    for (const double x : {1e39, -1e39, std::numeric_limits<double>::infinity(), std::nan("")})
        EXPECT_EQ(kind_of([x] { (void)to_single(x, "x"); }), ErrorKind::fpfault) << x;
}

TEST(Cell, AnEmptyCellComparesAsZero)
{
    const Cell empty;
    EXPECT_FALSE(empty.filled());
    EXPECT_EQ(empty.value(), 0.0F);
    const Cell half(0.5F);
    EXPECT_TRUE(half.filled());
    EXPECT_EQ(half.value(), 0.5F);
    EXPECT_NE(Cell(0.0F), empty);
}

TEST(Table, IndexesOutsideTheInclusiveRangeAreBoundsErrors)
{
    Table<int, 0, 25> t("yc");
    t(Integer{0}) = 1;
    t(Integer{25}) = 2;
    EXPECT_EQ(t(Integer{25}), 2);
    EXPECT_EQ(kind_of([&] { t(Integer{26}) = 3; }), ErrorKind::bounds);
    EXPECT_EQ(kind_of([&] { (void)t(Integer{-1}); }), ErrorKind::bounds);
    try {
        (void)t.at(Integer{26}, [] { return std::string("connection 3, its to bus"); });
        FAIL();
    } catch (const PassError& e) {
        EXPECT_STREQ(e.what(), "connection 3, its to bus: yc(26) is outside the table's range 0..25");
    }

    Table2<int, 0, 2000, 0, 25> grid("sun_table");
    grid(Integer{2000}, Integer{25}) = 7;
    EXPECT_EQ(grid(Integer{2000}, Integer{25}), 7);
    EXPECT_EQ(kind_of([&] { (void)grid(Integer{2001}, Integer{0}); }), ErrorKind::bounds);
    EXPECT_EQ(kind_of([&] { (void)grid(Integer{1}, Integer{26}); }), ErrorKind::bounds);
}

TEST(Table, ALiftedUpperBoundReachesTheIntegerRangeAndStorageFollowsTheWrites)
{
    Table<Single, 0, 25> yc("yc", integer_max);
    const auto& read = yc;
    yc(Integer{30}) = 1.5F;
    EXPECT_EQ(read(Integer{30}), 1.5F);
    EXPECT_EQ(read(Integer{29}), 0.0F);
    EXPECT_EQ(read(Integer{32767}), 0.0F);  // within the bounds but never written
    EXPECT_EQ(read.at(Integer{32767}, [] { return std::string(); }), 0.0F);
    try {
        (void)read.at(Integer{-1}, [] { return std::string("connection 3, its to bus"); });
        FAIL();
    } catch (const PassError& e) {
        EXPECT_STREQ(e.what(), "connection 3, its to bus: yc(-1) is outside the table's range 0..32767");
    }

    Table2<Cell, 0, 2000, 0, 25> grid("sun_table", integer_max, integer_max);
    const auto& cells = grid;
    grid(Integer{1}, Integer{40}) = Cell(1.0F);
    grid(Integer{2}, Integer{0}) = Cell(2.0F);
    grid(Integer{32767}, Integer{32767}) = Cell(3.0F);
    EXPECT_EQ(cells(Integer{1}, Integer{40}), Cell(1.0F));
    EXPECT_EQ(cells(Integer{2}, Integer{0}), Cell(2.0F));
    EXPECT_EQ(cells(Integer{32767}, Integer{32767}), Cell(3.0F));
    for (const auto& [r, c] : {std::pair{2, 40}, {1, 41}, {3, 0}, {2001, 26}, {32767, 32766}})
        EXPECT_FALSE(cells(Integer(static_cast<std::int16_t>(r)), Integer(static_cast<std::int16_t>(c))).filled());
    EXPECT_EQ(kind_of([&] { (void)cells(Integer{-1}, Integer{0}); }), ErrorKind::bounds);
    EXPECT_EQ(Cell(-0.0F), Cell(0.0F));
}

}  // namespace
}  // namespace umbrascope
