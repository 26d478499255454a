#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <memory>
#include <random>

#include "clouds/sun_table.hpp"
#include "test_support.hpp"

namespace umbrascope {
namespace {

using testing::attempt;
using testing::PassRun;
using testing::TempFolder;
using Lines = std::vector<std::string>;

const std::string header = "h1\nh2\nh3\nh4\nh5\nh6\n";

struct SunRead {
    explicit SunRead(const std::string& content) : run(folder.path())
    {
        folder.write(std::string(sun_table_file_name), content);
        run.st.delim = U',';
        error = attempt([this] { read_sun_table(run.world); });
    }
    [[nodiscard]] Lines echo() const { return testing::utf8_items(run.list(ListBox::Info_Listbox)); }
    [[nodiscard]] Cell cell(int r, int c) const
    {
        return run.st.sun_table(Integer(static_cast<std::int16_t>(r)), Integer(static_cast<std::int16_t>(c)));
    }
    TempFolder folder;
    PassRun run;
    std::optional<PassError> error;
};

TEST(SunTable, EchoesHeaderFirstRowLastRowAndTheRebuiltLastRow)
{
    struct Case {
        const char* name;
        std::string rows;
        Lines tail;  // what follows the six header lines
        int n_time;
        int ncol;
    };
    const Case cases[] = {
        {"no data rows", "", {"h6", ""}, 0, -9999},
        {"one row", "10,0.5,1\n", {"10,0.5,1", "10,0.5,1", "10,0.5,1"}, 1, 3},
        {"many rows", "10,0.1\n20,0.2\n30, 0.30 ,1.50\n", {"10,0.1", "30, 0.30 ,1.50", "30,0.3,1.5"}, 3, 3},
        {"rows of different lengths", "10,1,2,3,4\n20,5\n", {"10,1,2,3,4", "20,5", "20,5"}, 2, 2},
        {"a last row without a delimiter", "10,1\n0.25\n", {"10,1", "0.25", ""}, 2, 1},
        {"CRLF line ends", "10,1\r\n20,2\r\n", {"10,1", "20,2", "20,2"}, 2, 2},
    };
    for (const Case& c : cases) {
        const SunRead read(header + c.rows);
        ASSERT_FALSE(read.error) << c.name << ": " << read.error->what();
        Lines expected{"h1", "h2", "h3", "h4", "h5", "h6"};
        expected.insert(expected.end(), c.tail.begin(), c.tail.end());
        EXPECT_EQ(read.echo(), expected) << c.name;
        EXPECT_EQ(read.run.st.n_time, c.n_time) << c.name;
        EXPECT_EQ(read.run.st.ncol, c.ncol) << c.name;
        EXPECT_EQ(read.run.st.i_time, 1) << c.name;
        EXPECT_FALSE(read.run.input.is_open()) << c.name;
    }
}

TEST(SunTable, StoresTimesAndIntensitiesByRowAndBusIndex)
{
    const SunRead read(header + "10,0.5,0.75\n20,1\n7\n");
    ASSERT_FALSE(read.error);
    const RunState& st = read.run.st;
    EXPECT_EQ(st.time_val(Integer{1}), Cell(10.0F));
    EXPECT_EQ(read.cell(1, 1), Cell(0.5F));
    EXPECT_EQ(read.cell(1, 2), Cell(0.75F));
    EXPECT_EQ(read.cell(2, 1), Cell(1.0F));
    EXPECT_FALSE(read.cell(2, 2).filled());  // a cell its row did not fill compares as 0
    EXPECT_EQ(read.cell(2, 2).value(), 0.0F);
    EXPECT_EQ(read.cell(3, 0), Cell(7.0F));  // a row without a delimiter fills column 0
    EXPECT_FALSE(st.time_val(Integer{3}).filled());
    EXPECT_FALSE(read.cell(0, 1).filled());
}

TEST(SunTable, LimitsOf2000RowsAnd26Fields)
{
    std::string rows;
    for (int r = 1; r <= 2000; ++r)
        rows += std::to_string(r) + ",1\n";
    const SunRead full(header + rows);
    ASSERT_FALSE(full.error);
    EXPECT_EQ(full.run.st.n_time, 2000);

    const SunRead row2001(header + rows + "2001,1\n");
    ASSERT_TRUE(row2001.error);
    EXPECT_EQ(row2001.error->kind(), ErrorKind::bounds);
    EXPECT_STREQ(row2001.error->what(),
                 "cloud_sun_intensity_table.txt line 2007, field 1: a 2001st data row; the sun table holds at most 2000 rows"
                 " (run with --large for bigger inputs)");
    EXPECT_EQ(row2001.run.st.i_time, 2001);
    EXPECT_EQ(row2001.run.st.n_time, 0);

    std::string fields26 = "1";
    for (int f = 2; f <= 26; ++f)
        fields26 += ",0.5";
    const SunRead wide(header + fields26 + "\n");
    ASSERT_FALSE(wide.error);
    EXPECT_EQ(wide.run.st.ncol, 26);
    const SunRead too_wide(header + "10,1\n" + fields26 + ",0.5\n");
    ASSERT_TRUE(too_wide.error);
    EXPECT_EQ(too_wide.error->kind(), ErrorKind::bounds);
    EXPECT_EQ(too_wide.run.st.ncol, 2);  // from the last complete row
    EXPECT_EQ(too_wide.cell(2, 25), Cell(0.5F));
}

TEST(SunTable, EveryNumberFormConvertsAsOneFieldDoesAndTheFirstBadFieldFails)
{
    const std::vector<std::string> fields{"1e1", " 0.5 ", "+2", "-0", "12345678", "1.5E-3", "\t7\t", ".25", "3."};
    std::string row;
    for (const std::string& field : fields)
        row += (row.empty() ? "" : ",") + field;
    for (const bool large : {false, true}) {
        TempFolder folder;
        folder.write(std::string(sun_table_file_name), header + row + "\n" + row + ",x,y\n");
        PassRun run(folder.path(), large);
        run.st.delim = U',';
        const auto error = attempt([&] { read_sun_table(run.world); });
        ASSERT_TRUE(error);
        EXPECT_STREQ(error->what(), "cloud_sun_intensity_table.txt line 8, field 10: \"x\" is not a number");
        EXPECT_EQ(run.st.col, 10);
        for (int r = 1; r <= 2; ++r) {
            const Site site{"", 0, 0};
            EXPECT_EQ(run.st.time_val(Integer(static_cast<std::int16_t>(r))), Cell(10.0F));
            for (std::size_t f = 1; f < fields.size(); ++f) {
                const Cell stored = run.st.sun_table(Integer(static_cast<std::int16_t>(r)), Integer(static_cast<std::int16_t>(f)));
                const Single expected = text_to_single(text_of(fields[f]), site);
                EXPECT_EQ(std::bit_cast<std::uint32_t>(stored.value()), std::bit_cast<std::uint32_t>(expected)) << fields[f];
            }
        }
    }
}

TEST(SunTable, Failures)
{
    struct Case {
        const char* name;
        std::string content;
        ErrorKind kind;
        const char* message;
        int i_time;
    };
    const Case cases[] = {
        {"five lines", "h1\nh2\nh3\nh4\nh5\n", ErrorKind::file,
         "cloud_sun_intensity_table.txt: read past the end of the file, which ends after line 5", 0},
        {"a field that is not a number", header + "10,1\n20,1,0..7\n", ErrorKind::conversion,
         "cloud_sun_intensity_table.txt line 8, field 3: \"0..7\" is not a number", 2},
        {"two delimiters in a row", header + "10,,1\n", ErrorKind::conversion, nullptr, 1},
        {"a delimiter at the end of a row", header + "10,1,\n", ErrorKind::conversion, nullptr, 1},
        {"an empty line after the last row", header + "10,1\n\n", ErrorKind::conversion,
         "cloud_sun_intensity_table.txt line 8, field 1: \"\" is not a number", 2},
        {"a delimiter beyond position 32767", header + std::string(32767, '1') + ",1\n", ErrorKind::overflow, nullptr, 1},
    };
    for (const Case& c : cases) {
        const SunRead read(c.content);
        ASSERT_TRUE(read.error) << c.name;
        EXPECT_EQ(read.error->kind(), c.kind) << c.name << ": " << read.error->what();
        if (c.message != nullptr) {
            EXPECT_STREQ(read.error->what(), c.message) << c.name;
        }
        EXPECT_EQ(read.run.st.i_time, c.i_time) << c.name;
        EXPECT_EQ(read.run.st.n_time, 0) << c.name;
        EXPECT_FALSE(read.run.input.is_open()) << c.name;  // a failed read closes its file
    }
    const SunRead partial(header + "10,0.5,x\n");
    EXPECT_EQ(partial.cell(1, 1), Cell(0.5F));  // the row's earlier fields stay stored
    EXPECT_EQ(partial.echo().size(), 7U);
}

// Random tables, mostly of usual rows with now and then a field of another form, a bad field, a
// CRLF line end, a one-field row, a row past the widest or the bounds, read in blocks and one row at
// a time: the same cells, state, echo and error. The largest tables take several blocks on two threads.
TEST(SunTable, ReadingInBlocksMatchesReadingRowByRow)
{
    const std::vector<std::string> plain{"0.5", "1", "0", "12.25", "-3.125", " 7 ", "+0.75", "\t.5", "5.", "9999999"};
    const std::vector<std::string> other{"1e3", "12345678", "-1.5E-2", "0x1", "x", "", " ", "1,5", "\xC3\xA9", "\xFF", "1..2"};
    std::mt19937 random(20261207);
    const auto pick = [&](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(random); };
    for (int table = 0; table < 60; ++table) {
        const bool large = table % 2 == 1;
        const std::size_t rows = table < 50 ? 1 + pick(300) : (table < 58 ? 3000 + pick(3000) : 6000);
        const std::size_t widest = table < 58 ? 2 + pick(large ? 60 : 26) : 400;
        const bool one_bad = table % 3 == 0;
        std::string content = header;
        for (std::size_t r = 0; r < rows; ++r) {
            const std::size_t fields = pick(40) == 0 ? 1 : 2 + pick(widest - 1);
            for (std::size_t f = 0; f < fields; ++f) {
                const bool odd = pick(200) == 0 && (one_bad || pick(2) == 0);
                const std::vector<std::string>& forms = odd ? other : plain;
                content += (f == 0 ? "" : ",") + forms[odd && !one_bad ? pick(3) : pick(forms.size())];
            }
            content += pick(30) == 0 ? "\r\n" : "\n";
        }
        if (pick(4) == 0)
            content.pop_back();  // no line end after the last row

        TempFolder folder;
        folder.write(std::string(sun_table_file_name), content);
        std::array<std::unique_ptr<PassRun>, 2> runs;
        std::array<std::optional<PassError>, 2> errors;
        for (const RowReading reading : {RowReading::in_blocks, RowReading::one_by_one}) {
            const auto at = static_cast<std::size_t>(reading);
            runs[at] = std::make_unique<PassRun>(folder.path(), large);
            runs[at]->st.delim = U',';
            errors[at] = attempt([&] { read_sun_table(runs[at]->world, reading); });
        }
        const RunState& blocks = runs[0]->st;
        const RunState& one = runs[1]->st;
        const std::string name = "table " + std::to_string(table);
        ASSERT_EQ(errors[0].has_value(), errors[1].has_value()) << name;
        if (errors[0]) {
            EXPECT_EQ(errors[0]->kind(), errors[1]->kind()) << name;
            EXPECT_STREQ(errors[0]->what(), errors[1]->what()) << name;
        }
        EXPECT_EQ(testing::utf8_items(runs[0]->list(ListBox::Info_Listbox)),
                  testing::utf8_items(runs[1]->list(ListBox::Info_Listbox)))
            << name;
        EXPECT_EQ(encode_utf8(blocks.text_line), encode_utf8(one.text_line)) << name;
        for (const auto& [a, b] : {std::pair{blocks.i_time, one.i_time}, {blocks.n_time, one.n_time}, {blocks.ncol, one.ncol},
                                   {blocks.col, one.col}, {blocks.pos, one.pos}, {blocks.pos_start, one.pos_start}})
            EXPECT_EQ(a, b) << name;
        EXPECT_EQ(std::bit_cast<std::uint32_t>(blocks.cell_val), std::bit_cast<std::uint32_t>(one.cell_val)) << name;
        const int last_row = std::min(static_cast<int>(rows) + 1, blocks.time_val.upper());
        for (int r = 0; r <= last_row; ++r) {
            const Integer row(static_cast<std::int16_t>(r));
            ASSERT_EQ(blocks.time_val(row), one.time_val(row)) << name << " row " << r;
            for (int c = 0; c <= std::min(static_cast<int>(widest) + 1, blocks.sun_table.column_upper()); ++c) {
                const Integer col(static_cast<std::int16_t>(c));
                ASSERT_EQ(std::bit_cast<std::uint32_t>(blocks.sun_table(row, col)), std::bit_cast<std::uint32_t>(one.sun_table(row, col)))
                    << name << " row " << r << " column " << c;
            }
        }
    }
}

TEST(SunTable, MissingFile)
{
    TempFolder empty;
    PassRun run(empty.path());
    const auto error = attempt([&] { read_sun_table(run.world); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind(), ErrorKind::file);
}

}  // namespace
}  // namespace umbrascope
