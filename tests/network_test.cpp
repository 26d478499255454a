#include <gtest/gtest.h>

#include "network/network_file.hpp"
#include "test_support.hpp"

namespace umbrascope {
namespace {

using testing::attempt;
using testing::PassRun;
using testing::TempFolder;
using testing::utf8_items;
using Lines = std::vector<std::string>;

struct NetworkRead {
    explicit NetworkRead(const std::string& content) : run(folder.path())
    {
        folder.write(std::string(network_file_name), content);
        error = attempt([this] { read_network_file(run.world); });
    }
    [[nodiscard]] Lines raw() const { return utf8_items(run.list(ListBox::Coordinates_Listbox)); }
    [[nodiscard]] Lines parsed() const { return utf8_items(run.list(ListBox::Coordinates_Repeated_Listbox)); }
    TempFolder folder;
    PassRun run;
    std::optional<PassError> error;
};

TEST(NetworkFile, EchoesEveryLineAsReadAndEveryRecordAsUnderstood)
{
    const NetworkRead read("bus_coordinates\n1,Plant,0.50,2\n1,Plant,0.50,2\n7,Feeder end,3,1.25\nbus_connections\n1,2\n");
    ASSERT_FALSE(read.error);
    EXPECT_EQ(read.raw(), (Lines{"bus_coordinates", "1,Plant,0.50,2", "1,Plant,0.50,2", "7,Feeder end,3,1.25",
                                 "bus_connections", "1,2"}));
    EXPECT_EQ(read.parsed(), (Lines{"1,Plant,0.5,2", "7,Feeder end,3,1.25", "1,1,2"}));
    const RunState& st = read.run.st;
    EXPECT_EQ(st.nbus, 2);
    EXPECT_EQ(st.nconn, 1);
    EXPECT_EQ(st.bus_num(Integer{2}), 7);
    EXPECT_EQ(st.bus_name(Integer{2}), U"Feeder end");
    EXPECT_EQ(st.xc(Integer{1}), 0.5F);
    EXPECT_EQ(st.yc(Integer{2}), 1.25F);
    EXPECT_EQ(st.from_bus(Integer{1}), 1);
    EXPECT_EQ(st.to_bus(Integer{1}), 2);
    EXPECT_EQ(st.delim, U',');
    EXPECT_FALSE(read.run.input.is_open());
}

TEST(NetworkFile, SectionsMarkersAndTheRepeatFilter)
{
    struct Case {
        const char* name;
        std::string content;
        int nbus;
        int nconn;
        Lines parsed;
    };
    const Case cases[] = {
        {"empty file", "", 0, 0, {}},
        {"no connection section", "1,A,0,0\n2,B,1,1\n", 2, 0, {"1,A,0,0", "2,B,1,1"}},
        {"connections only", "bus_connections\n1,2\n3,4\n", 0, 2, {"1,1,2", "2,3,4"}},
        {"buses before the marker", "1,A,0,0\nbus_coordinates\n2,B,1,1\n", 2, 0, {"1,A,0,0", "2,B,1,1"}},
        {"both markers on one line", "bus_coordinates bus_connections\n1,A,0,0\n", 1, 0, {"1,A,0,0"}},
        {"consecutive repeat dropped, later repeat taken", "1,A,0,0\n1,A2,5,5\n2,B,1,1\n1,C,2,2\n", 3, 0,
         {"1,A,0,0", "2,B,1,1", "1,C,2,2"}},
        {"first bus number 0 is a repeat", "0,Z,0,0\n1,A,1,1\n0,Y,2,2\n0,X,3,3\n", 2, 0, {"1,A,1,1", "0,Y,2,2"}},
        {"bus numbers round halves to even", "2.5,A,0,0\n3.5,B,1,1\n", 2, 0, {"2,A,0,0", "4,B,1,1"}},
        {"blanks around a name stay", "1,  Bus A ,0,0\n", 1, 0, {"1,  Bus A ,0,0"}},
        {"CRLF line ends", "1,A,0,0\r\nbus_connections\r\n1,1\r\n", 1, 1, {"1,A,0,0", "1,1,1"}},
        {"numbers as understood", "1,A, 0.50 ,1e3\n", 1, 0, {"1,A,0.5,1000"}},
        {"a connection to an index above nbus", "1,A,0,0\nbus_connections\n1,40\n", 1, 1, {"1,A,0,0", "1,1,40"}},
    };
    for (const Case& c : cases) {
        const NetworkRead read(c.content);
        EXPECT_FALSE(read.error) << c.name << ": " << (read.error ? read.error->what() : "");
        EXPECT_EQ(read.run.st.nbus, c.nbus) << c.name;
        EXPECT_EQ(read.run.st.nconn, c.nconn) << c.name;
        EXPECT_EQ(read.parsed(), c.parsed) << c.name;
    }
}

TEST(NetworkFile, FailuresEndTheReadWithTheRightKindAndKeepWhatWasStored)
{
    struct Case {
        const char* name;
        std::string content;
        ErrorKind kind;
        const char* message;
        int nbus;
        int nconn;
    };
    const std::string f = "cloud_bus_coords_connections.txt";
    const Case cases[] = {
        {"no delimiter in a coordinate line", "1,A,0,0\n3;Feeder;1.5;2\n", ErrorKind::argument,
         "cloud_bus_coords_connections.txt line 2, field 1: \"3;Feeder;1.5;2\" has no \",\" before the bus name", 1, 0},
        {"a blank line among buses", "1,A,0,0\n\n", ErrorKind::argument, nullptr, 1, 0},
        {"only two delimiters", "1,A,0\n", ErrorKind::argument,
         "cloud_bus_coords_connections.txt line 1, field 3: \"1,A,0\" has no \",\" before the y coordinate", 1, 0},
        {"a marker in other letter case", "BUS_COORDINATES\n", ErrorKind::argument, nullptr, 0, 0},
        {"a connection without a delimiter", "bus_connections\n1,2\n3\n", ErrorKind::argument,
         "cloud_bus_coords_connections.txt line 3: \"3\" has no \",\" between the two bus indexes of a connection", 0, 1},
        {"a blank line among connections", "bus_connections\n\n", ErrorKind::argument, nullptr, 0, 0},
        {"markers mean nothing among connections", "bus_connections\nbus_coordinates\n", ErrorKind::argument, nullptr, 0, 0},
        {"a bus number that is not a number", "x,A,0,0\n", ErrorKind::conversion,
         "cloud_bus_coords_connections.txt line 1, field 1: \"x\" is not a number", 0, 0},
        {"an empty x", "1,A,,0\n", ErrorKind::conversion, nullptr, 1, 0},
        {"a fifth field joins the y field", "1,A,0,0,9\n", ErrorKind::conversion,
         "cloud_bus_coords_connections.txt line 1, field 4: \"0,9\" is not a number", 1, 0},
        {"a third field joins the to field", "bus_connections\n1,2,3\n", ErrorKind::conversion,
         "cloud_bus_coords_connections.txt line 2, field 2: \"2,3\" is not a number", 0, 1},
        {"a bus number beyond the Integer range", "40000,A,0,0\n", ErrorKind::overflow, nullptr, 0, 0},
        {"a connection index beyond the Integer range", "bus_connections\n1,-40000\n", ErrorKind::overflow, nullptr, 0, 1},
        {"a line too long to scan to its end", "1,A,0," + std::string(32762, '0') + "\n", ErrorKind::overflow,
         "cloud_bus_coords_connections.txt line 1, field 4: the line is 32768 characters long; its last field must end "
         "by position 32767", 1, 0},
    };
    for (const Case& c : cases) {
        const NetworkRead read(c.content);
        ASSERT_TRUE(read.error) << c.name;
        EXPECT_EQ(read.error->kind(), c.kind) << c.name << ": " << read.error->what();
        if (c.message != nullptr) {
            EXPECT_STREQ(read.error->what(), c.message) << c.name;
        }
        EXPECT_EQ(read.run.st.nbus, c.nbus) << c.name;
        EXPECT_EQ(read.run.st.nconn, c.nconn) << c.name;
        EXPECT_FALSE(read.run.input.is_open()) << c.name;  // a failed read closes its file
    }
}

TEST(NetworkFile, MissingFile)
{
    TempFolder empty;
    PassRun run(empty.path());
    const auto error = attempt([&] { read_network_file(run.world); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind(), ErrorKind::file);
    EXPECT_TRUE(run.list(ListBox::Coordinates_Listbox).empty());
}

TEST(NetworkFile, HoldsAtMost25BusesAnd100Connections)
{
    std::string buses;
    for (int b = 1; b <= 25; ++b)
        buses += std::to_string(b) + ",B" + std::to_string(b) + "," + std::to_string(b) + ",1\n";
    std::string connections = "bus_connections\n";
    for (int c = 1; c <= 100; ++c)
        connections += "1,2\n";

    const NetworkRead full(buses + connections);
    ASSERT_FALSE(full.error);
    EXPECT_EQ(full.run.st.nbus, 25);
    EXPECT_EQ(full.run.st.nconn, 100);

    const NetworkRead bus26(buses + "26,Extra,26.5,7\n");
    ASSERT_TRUE(bus26.error);
    EXPECT_EQ(bus26.error->kind(), ErrorKind::bounds);
    EXPECT_STREQ(bus26.error->what(),
                 "cloud_bus_coords_connections.txt line 26: a 26th bus; the network holds at most 25 buses"
                 " (run with --large for bigger inputs)");
    EXPECT_EQ(bus26.run.st.nbus, 26);
    EXPECT_EQ(bus26.run.st.bus_num(Integer{26}), 26);
    EXPECT_EQ(bus26.run.st.bus_name(Integer{26}), U"Extra");
    EXPECT_EQ(bus26.run.st.xc(Integer{26}), 26.5F);
    EXPECT_EQ(bus26.parsed().size(), 25U);

    const NetworkRead conn101(buses + connections + "2,3\n");
    ASSERT_TRUE(conn101.error);
    EXPECT_EQ(conn101.error->kind(), ErrorKind::bounds);
    EXPECT_STREQ(conn101.error->what(), "cloud_bus_coords_connections.txt line 127: a 101st connection; the network"
                                        " holds at most 100 connections (run with --large for bigger inputs)");
    EXPECT_EQ(conn101.run.st.nconn, 101);
    EXPECT_EQ(conn101.raw().back(), "2,3");         // echoed as read before it failed
    EXPECT_EQ(conn101.parsed().back(), "100,1,2");  // but never stored
}

}  // namespace
}  // namespace umbrascope
