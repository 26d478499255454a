#include <gtest/gtest.h>

#include "core/input.hpp"
#include "test_support.hpp"

namespace umbrascope {
namespace {

using testing::TempFolder;

std::vector<std::string> read_all(const std::string& bytes)
{
    TempFolder folder;
    folder.write("f.txt", bytes);
    InputSlot slot(folder.path());
    slot.open("f.txt");
    std::vector<std::string> lines;
    Text line;
    while (!slot.at_end("f.txt")) {
        slot.read_line(line, "f.txt");
        lines.push_back(encode_utf8(line));
    }
    slot.close();
    return lines;
}

TEST(InputSlot, SplitsLinesAtLfAndCrlf)
{
    using Lines = std::vector<std::string>;
    struct Case {
        std::string bytes;
        Lines expected;
    };
    const Case cases[] = {
        {"", {}},
        {"a", {"a"}},
        {"a\n", {"a"}},
        {"a\r\nb\r\n", {"a", "b"}},
        {"a\nb", {"a", "b"}},
        {"a\n\n", {"a", ""}},
        {"\n", {""}},
        {"a\rb\n", {"a\rb"}},          // a lone CR is text
        {"\xEF\xBB\xBFx,1\n", {"x,1"}},  // a byte-order mark is not text
        {"a\xFF\n", {"a\xEF\xBF\xBD"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(read_all(c.bytes), c.expected) << '"' << c.bytes << '"';
}

TEST(InputSlot, ReadsLinesLongerThanItsBuffer)
{
    const std::string longest(200000, 'x');
    EXPECT_EQ(read_all(longest + "\n" + "y"), (std::vector<std::string>{longest, "y"}));
}

TEST(InputSlot, FileErrors)
{
    TempFolder folder;
    folder.write("f.txt", "one\n");
    InputSlot slot(folder.path());
    Text line;
    const auto error_of = [&](auto&& f) -> std::string {
        try {
            f();
        } catch (const PassError& e) {
            EXPECT_EQ(e.kind(), ErrorKind::file);
            return e.what();
        }
        return "no error";
    };
    EXPECT_EQ(error_of([&] { (void)slot.at_end("track.txt"); }),
              "track.txt is not open, so the pass cannot test for its end (no earlier pass opened it)");
    EXPECT_NE(error_of([&] { slot.open("missing.txt"); }).find("cannot open missing.txt in"), std::string::npos);
    slot.open("f.txt");
    EXPECT_EQ(error_of([&] { slot.open("f.txt"); }), "cannot open f.txt: f.txt is still open in the input slot");
    slot.read_line(line, "f.txt");
    EXPECT_EQ(slot.line_number(), 1);
    EXPECT_EQ(error_of([&] { slot.read_line(line, "f.txt"); }), "f.txt: read past the end of the file after line 1");
    slot.close();
    slot.close();  // closing twice is harmless
    EXPECT_EQ(error_of([&] { slot.read_line(line, "f.txt"); }),
              "f.txt is not open, so the pass cannot read a line from it (the file was closed earlier in this run)");
}

}  // namespace
}  // namespace umbrascope
