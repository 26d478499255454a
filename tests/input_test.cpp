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
              "track.txt is not open, so the pass cannot test for its end: the first pass failed before it could "
              "open the file; mend the input, then start Umbrascope again to run anew");
    // The folder as the user gave it.
    EXPECT_EQ(error_of([&] { slot.open("missing.txt"); }),
              "cannot open missing.txt in the folder " + folder.path().string() + ": file not found");
    EXPECT_EQ(error_of([&] { InputSlot(".").open("missing.txt"); }),
              "cannot open missing.txt in the working folder: file not found");
    folder.write("empty.txt", "");
    slot.open("empty.txt");
    EXPECT_EQ(error_of([&] { slot.read_line(line, "empty.txt"); }), "empty.txt is empty: the pass needs a line from it");
    slot.close();
    slot.open("f.txt");
    EXPECT_EQ(error_of([&] { slot.open("f.txt"); }), "cannot open f.txt: f.txt is still open in the input slot");
    slot.read_line(line, "f.txt");
    EXPECT_EQ(slot.line_number(), 1);
    EXPECT_EQ(error_of([&] { slot.read_line(line, "f.txt"); }),
              "f.txt: read past the end of the file, which ends after line 1");
    slot.close();
    slot.close();  // closing twice is harmless
    slot.set_restart_hint("press F5");
    EXPECT_EQ(error_of([&] { slot.read_line(line, "f.txt"); }),
              "f.txt is not open, so the pass cannot read a line from it: the run has ended (its file was closed "
              "after the last row); press F5");
}

TEST(InputSlot, AHeldLineIsReadAgainWithItsNumberUntilTheFileCloses)
{
    TempFolder folder;
    folder.write("f.txt", "a\nb");
    InputSlot slot(folder.path());
    Text line;
    slot.open("f.txt");
    slot.read_line(line, "f.txt");
    slot.read_line(line, "f.txt");
    slot.hold_line(line);
    EXPECT_FALSE(slot.at_end("f.txt"));  // the file itself is at its end
    slot.read_line(line, "f.txt");
    EXPECT_EQ(line, U"b");
    EXPECT_EQ(slot.line_number(), 2);
    EXPECT_TRUE(slot.at_end("f.txt"));
    slot.hold_line(line);
    slot.close();  // drops the held line
    slot.open("f.txt");
    EXPECT_FALSE(slot.at_end("f.txt"));
    slot.read_line(line, "f.txt");
    EXPECT_EQ(line, U"a");
}

}  // namespace
}  // namespace umbrascope
