// The importer: OpenDSS syntax as circuits are written, the joining of buses with coordinates
// through buses without, the tables, and the published feeders.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <map>
#include <set>

#include "core/words.hpp"
#include "import/elements.hpp"
#include "import/network.hpp"
#include "network/network_file.hpp"
#include "network/plot_geometry.hpp"
#include "scenario/network_buses.hpp"
#include "scenario/sensor.hpp"
#include "scenario/sun_model.hpp"
#include "test_support.hpp"

namespace umbrascope::import {
namespace {

namespace fs = std::filesystem;

// Each element's buses, "a-b" joined by " | ".
std::string joins(const Circuit& circuit)
{
    std::string out;
    for (const std::vector<int>& element : circuit.elements) {
        if (!out.empty())
            out += " | ";
        for (std::size_t i = 0; i < element.size(); ++i)
            out += (i > 0 ? "-" : "") + circuit.buses[static_cast<std::size_t>(element[i])];
    }
    return out;
}

Circuit read(const std::vector<std::pair<std::string, std::string>>& files)
{
    MemoryFiles memory;
    for (const auto& [path, text] : files)
        memory.add(path, text);
    return read_circuit(files.front().first, memory);
}

TEST(Circuit, ElementsJoinTheBusesTheyName)
{
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, std::string>> files;
        std::string joins;
        int skipped = 0;
        int left_out = 0;
    };
    const Case cases[] = {
        {"bus1 and bus2, node suffixes, any letter case",
         {{"m.dss", "NEW LINE.L1 BUS1=SourceBus.1.2.3 Bus2=632.1\nnew line.l2 bus1=632.3 bus2=633"}},
         "sourcebus-632 | 632-633"},
        {"buses as an array in brackets, parentheses or quotes",
         {{"m.dss", "New Transformer.T1 buses=[a.1 b.1]\nNew Transformer.T2 buses=(b, c.1.2)\n"
                    "New Transformer.T3 buses=\"c d\""}},
         "a-b | b-c | c-d"},
        {"a transformer's bus per winding, continued with ~ and More",
         {{"m.dss", "New Transformer.T phases=3 windings=2\n~ wdg=1 bus=HV conn=delta\nmore wdg=2 bus=LV.1.2.3"}},
         "hv-lv"},
        {"a centre-tapped service transformer names its secondary twice",
         {{"m.dss", "New Transformer.S XfmrCode=CT15 buses=[L1.1 X1.1.0 X1.0.2]"}}, "l1-x1"},
        {"comments after ! and //, and in a block over lines",
         {{"m.dss", "New Line.a bus1=p bus2=q ! bus2=z\n// New Line.b bus1=z bus2=y\n/* New Line.c bus1=y\n"
                    "bus2=x */ New Line.d bus1=q bus2=r\n"}},
         "p-q | q-r"},
        {"positional values, and the element a like= copies",
         {{"m.dss", "New Line.L1 a b linecode=x\nNew Line.L2 bus1=b c\nNew Line.L3 like=L1"}}, "a-b | b-c | a-b"},
        {"edits: Edit, Class.name.property=, and a redefinition in place",
         {{"m.dss", "New Line.L1 bus1=a bus2=b\nNew Line.L2 bus1=b bus2=c\nEdit Line.L1 bus2=d\nLine.L2.bus2=e\n"
                    "New Line.L1 bus1=f bus2=g"}},
         "f-g | b-e"},
        {"the object named with object=, one-bus elements, a bus joined to itself",
         {{"m.dss", "New object=circuit.c bus1=src\nNew Load.x bus1=src.1\nNew Line.s bus1=k.1 bus2=k.2"}},
         "src | src | k"},
        {"Redirect and Compile: relative to the naming file, any case, quoted, bracketed, each file once",
         {{"top/Master.dss", "Redirect \"sub\\Lines.DSS\"\nCompile (SUB/lines.dss)\nredirect [other.dss]"},
          {"top/sub/lines.dss", "New Line.a bus1=a bus2=b\nRedirect ../Other.dss"},
          {"top/other.dss", "New Line.b bus1=b bus2=c"}},
         "a-b | b-c"},
        {"commands not understood are counted and passed over",
         {{"m.dss", "~ bus1=a bus2=b\nNew Line\nEdit Line.nothing bus1=a\nNew Line.ok bus1=a bus2=b\nSolve\nSet x=1"}},
         "a-b", 3},
        {"a continuation with no blank after ~, and a first bus= before any wdg= (winding 1)",
         {{"m.dss", "New Transformer.T phases=1 windings=2 bus=hv\n~wdg=2 bus=lv"}}, "hv-lv"},
        {"enabled= on New, Edit and Class.name.enabled=, by its first letter",
         {{"m.dss", "New Line.t1 bus1=a bus2=b enabled=False\nNew Line.t2 bus1=b bus2=c\n"
                    "New Line.t3 bus1=c bus2=d enabled=no\nEdit Line.t3 enabled=Yes\nNew Line.t4 bus1=d bus2=e Enabled=0\n"
                    "Line.t2.enabled=true\nNew Line.t5 bus1=e bus2=f\nLine.T5.enabled=n\n"
                    "New Line.t6 bus1=f bus2=g enabled=no\nLine.t6.enabled=True"}},
         "b-c | c-d | f-g", 0, 3},
        {"Open, Close, Disable and Enable in the script's order, the last word holding",
         {{"m.dss", "New Line.s1 bus1=a bus2=b\nNew Line.s2 bus1=b bus2=c\nNew Line.s3 bus1=c bus2=d\n"
                    "New Load.off bus1=d\nOpen Line.s1 1\nOpen line.S2\nClose object=Line.s2 term=2\nDisable Line.s3\n"
                    "Enable Line.S3\nDisable Line.s3\nOpen Load.off\nOpen Line.nothing\nNew Line.s4 bus1=d bus2=e\n"
                    "Open Line.s4\nEdit Line.s4 bus2=f\nOpen Line.s4\nClose Line.s4\n"
                    "New Line.s5 bus1=x bus2=y\nDisable Line.s5\nEnable Line.s5"}},
         "b-c | d-f | x-y", 1, 3},
    };
    for (const Case& c : cases) {
        const Circuit circuit = read(c.files);
        EXPECT_EQ(joins(circuit), c.joins) << c.name;
        EXPECT_EQ(circuit.skipped, c.skipped) << c.name;
        EXPECT_EQ(circuit.left_out, c.left_out) << c.name;
    }
}

TEST(Circuit, TheLastCoordinateCommandNamesTheFile)
{
    const Circuit circuit = read({{"a/m.dss", "Buscoords first.csv\nRedirect b/more.dss\n"},
                                  {"a/b/more.dss", "! coordinates\nLatLongCoords File=\"Geo.csv\"\n"}});
    ASSERT_TRUE(circuit.coordinates);
    EXPECT_TRUE(circuit.coordinates->latlong);
    EXPECT_EQ(circuit.coordinates->name, "Geo.csv");
    EXPECT_EQ(circuit.coordinates->from, fs::path("a/b"));
    EXPECT_EQ(circuit.coordinates->site.text(), "a/b/more.dss:2");
}

TEST(Circuit, BadInputNamesItsFileAndLine)
{
    struct Case {
        const char* name;
        std::string master;
        const char* message;
    };
    const Case cases[] = {
        {"a missing Redirect target", "Clear\nRedirect Lines.dss\n",
         "m.dss:2: Redirect names Lines.dss, which is not in . (in any letter case)"},
        {"an unterminated quote", "New Line.a bus1=a\nNew Line.b bus1=\"b bus2=c\n",
         "m.dss:2: the \" opened at column 17 is not closed on its line"},
        {"an unterminated bracket", "New Transformer.t buses=[a b\n~ kvs=[1 2]\n",
         "m.dss:1: the [ opened at column 25 is not closed on its line"},
        {"Redirect without a file", "Redirect\n", "m.dss:1: Redirect names no file"},
    };
    for (const Case& c : cases) {
        try {
            (void)read({{"m.dss", c.master}});
            ADD_FAILURE() << c.name << ": taken";
        } catch (const ImportError& e) {
            EXPECT_EQ(std::string(e.what()), c.message) << c.name;
        }
    }
}

CoordinateTable table_of(const std::vector<std::string>& names)
{
    CoordinateTable table;
    for (const std::string& name : names)
        table.buses.push_back({name, lower(name), 0, 0});
    return table;
}

std::string pairs(const Network& network)
{
    std::string out;
    for (const auto& [a, b] : network.connections)
        out += (out.empty() ? "" : " ") + network.buses[static_cast<std::size_t>(a)].name + "-" +
               network.buses[static_cast<std::size_t>(b)].name;
    return out;
}

TEST(Join, BusesWithCoordinatesAreJoinedThroughThoseWithout)
{
    struct Case {
        const char* name;
        std::string circuit;
        std::string connections;
        int bridged, parts;
    };
    // Buses A to E have coordinates; lower-case x, y, z have none.
    const Case cases[] = {
        {"direct, each pair once, in the order first joined",
         "New Line.1 A B\nNew Line.2 C B\nNew Line.3 B A\nNew Line.4 A A", "A-B C-B", 0, 3},
        {"through a secondary without coordinates", "New Line.1 A x\nNew Line.2 x B", "A-B", 1, 4},
        {"through a chain, joined when the chain closes", "New Line.1 A x\nNew Line.2 y B\nNew Line.3 x y", "A-B", 2, 4},
        {"a star of three around a bus without coordinates", "New Line.1 A x\nNew Line.2 B x\nNew Line.3 x C",
         "A-B A-C B-C", 1, 3},
        {"a dead end without coordinates joins nothing", "New Line.1 A x\nNew Line.2 x y\nNew Line.3 A B", "A-B", 2, 4},
        {"a transformer joins all its windings", "New Transformer.t buses=[A B x]\nNew Line.1 x C",
         "A-B A-C B-C", 1, 3},
    };
    for (const Case& c : cases) {
        MemoryFiles files;
        files.add("m.dss", c.circuit);
        const Network network = join_network(table_of({"A", "B", "C", "D", "E"}), read_circuit("m.dss", files));
        EXPECT_EQ(pairs(network), c.connections) << c.name;
        EXPECT_EQ(network.bridged, c.bridged) << c.name;
        EXPECT_EQ(network.parts, c.parts) << c.name;
    }
}

TEST(Join, RefusesMoreConnectionsThanTheNetworkHolds)
{
    // 300 buses around one bus without coordinates: 44,850 pairs.
    std::vector<std::string> names;
    std::string circuit;
    for (int i = 0; i < 300; ++i) {
        names.push_back("b" + std::to_string(i));
        circuit += "New Line.l" + std::to_string(i) + " b" + std::to_string(i) + " hub\n";
    }
    MemoryFiles files;
    files.add("m.dss", circuit);
    EXPECT_THROW((void)join_network(table_of(names), read_circuit("m.dss", files)), ImportError);
}

TEST(Coordinates, LinesOfNameAndTwoNumbers)
{
    const CoordinateTable table = read_coordinates(
        "\xEF\xBB\xBF// Busname, x, y\r\nSourceBus, 200, 400\r\n650\t200\t350\nrg60 200 , 300\nsourcebus,1,1\n"
        "x,y,z\n\n632, -1.5e3, +2 ! a comment\n",
        "c.csv", Degrees::none);
    ASSERT_EQ(table.buses.size(), 4U);
    EXPECT_EQ(table.buses[0].name, "SourceBus");
    EXPECT_EQ(table.buses[2].name, "rg60");
    EXPECT_EQ(table.buses[2].y, 300);
    EXPECT_EQ(table.buses[3].x, -1500);
    EXPECT_EQ(table.buses[3].y, 2);
    EXPECT_EQ(table.repeated, 1);  // sourcebus again: the first spelling stays
    EXPECT_EQ(table.first_repeated->text(), "c.csv:5");
    EXPECT_EQ(table.skipped, 0);  // the header, the comment and "x,y,z" hold no number

    // A line with a number that is not "name, x, y" is passed over, and counted.
    const CoordinateTable typo = read_coordinates("a, 1, 2\nb, 0, zz\nc, 3\n", "c.csv", Degrees::none);
    EXPECT_EQ(typo.buses.size(), 1U);
    EXPECT_EQ(typo.skipped, 2);
    EXPECT_EQ(typo.first_skipped->text(), "c.csv:2");

    for (const char* text : {"just words\n", ""})
        EXPECT_THROW((void)read_coordinates(text, "c.csv", Degrees::none), ImportError) << text;
    EXPECT_THROW((void)read_coordinates("a, nan, 1\n", "c.csv", Degrees::none), ImportError);
}

TEST(Coordinates, LatitudeAndLongitudeBecomeMetresFromTheSouthWestCorner)
{
    // 0.01 degrees of latitude is 1112 m everywhere; of longitude at 60 degrees north half that.
    const CoordinateTable table =
        read_coordinates("sw, 59.995, 10.0\nne, 60.005, 10.02\nmid, 60.0, 10.01\n", "geo.csv", Degrees::latitude_first);
    ASSERT_EQ(table.buses.size(), 3U);
    EXPECT_EQ(table.buses[0].x, 0);
    EXPECT_EQ(table.buses[0].y, 0);
    EXPECT_NEAR(table.buses[1].y, 1111.95, 0.01);
    EXPECT_NEAR(table.buses[1].x, 1111.95, 0.1);
    EXPECT_NEAR(table.buses[2].x, table.buses[1].x / 2, 0.01);
    EXPECT_THROW((void)read_coordinates("a, 95, 10\n", "geo.csv", Degrees::latitude_first), ImportError);
}

TEST(Tables, BusesAndBranchesByName)
{
    const CoordinateTable buses = read_bus_table("name,x,y\nPlant,0,0\n\"Feeder end\", 3, 1.25\nTap,1,1\n", "b.csv");
    ASSERT_EQ(buses.buses.size(), 3U);
    EXPECT_EQ(buses.buses[1].name, "Feeder end");
    std::vector<std::string> known;
    for (const Bus& bus : buses.buses)
        known.push_back(bus.key);
    const Circuit circuit = read_branch_table("from,to\nplant,junction\njunction,FEEDER END\nTap,Plant\n", "r.csv", known);
    const Network network = join_network(buses, circuit);
    EXPECT_EQ(pairs(network), "Plant-Feeder end Tap-Plant");
    EXPECT_EQ(network.bridged, 1);
    EXPECT_EQ(network.unplaced, std::vector<std::string>{"junction"});

    // A first line is a header only when no bus and no other branch knows its names.
    struct Headed {
        const char* text;
        std::size_t branches;
    };
    for (const Headed& c : {Headed{"plant,tap\n", 1}, Headed{"from,to\nplant,tap\n", 1},
                            Headed{"s1,s2\ns2,plant\ns1,tap\n", 3}, Headed{"s1,s2\nplant,tap\n", 1},
                            Headed{"From,TO\nfrom,plant\n", 2}})
        EXPECT_EQ(read_branch_table(c.text, "r.csv", known).elements.size(), c.branches) << c.text;

    struct Bad {
        const char* text;
        const char* message;
    };
    for (const Bad& bad : {Bad{"name,x,y\na,1\n", "b.csv:2: 2 fields where a bus has three: name,x,y"},
                           Bad{"1,a,0,0\n2,b,1,1\n", "b.csv:2: 4 fields where a bus has three: name,x,y"},
                           Bad{"a,1,2\nb,one,2\n", "b.csv:2: x is not a number: 'one'"},
                           Bad{"a,1,2\n\"b,1,2\n", "b.csv:2: a quoted name is not closed on its line"}}) {
        try {
            (void)read_bus_table(bad.text, "b.csv");
            ADD_FAILURE() << bad.text;
        } catch (const ImportError& e) {
            EXPECT_EQ(std::string(e.what()), bad.message);
        }
    }
}

TEST(NetworkFile, ReadsBackAsThePictureReadsIt)
{
    Network network;
    network.buses = {{"SourceBus", "", 1693950, 12277577.7570982}, {"bus 2", "", -0.000125, 3}, {"3", "", 0, -0.5}};
    network.connections = {{0, 1}, {1, 2}};
    testing::TempFolder folder;
    folder.write(std::string(network_file_name), network_file_text(network, "m.dss"));
    const scenario::NetworkBuses back = scenario::read_network_buses(folder.path());
    ASSERT_EQ(back.names, (std::vector<std::string>{"SourceBus", "bus 2", "3"}));
    EXPECT_EQ(back.connections, 2);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(back.places[i].x, static_cast<float>(network.buses[i].x)) << i;
        EXPECT_EQ(back.places[i].y, static_cast<float>(network.buses[i].y)) << i;
    }

    for (const char* name : {"a,b", "x bus_connections", "tab\there"}) {
        network.buses[1].name = name;
        EXPECT_THROW((void)network_file_text(network, "m.dss"), ImportError) << name;
    }
}

// Each load, PV system, generator and storage element in service gets the drawn bus that stands
// for it: its own, else the nearest by hops through buses that are not drawn, the earlier in the
// coordinate file on a tie, none when nothing drawn is reached.
TEST(Elements, EachTakesTheNearestDrawnBus)
{
    const Circuit circuit = read({{"m.dss",
                                   "New Line.l1 bus1=a bus2=b\nNew Line.l2 bus1=b bus2=c\n"
                                   "New Transformer.t1 buses=[b.1 x1.1.0]\nNew Line.service bus1=x1 bus2=x2\n"
                                   "New Load.Near bus1=X2.1 kW=5\n"
                                   "New PVSystem.Own bus1=c.1.2\n"
                                   "New Transformer.t2 buses=[c y]\nNew Transformer.t3 buses=[a y]\nNew Generator.tie bus1=y\n"
                                   "New Line.z bus1=z bus2=w\nNew Storage.lost bus1=w\n"
                                   "New Load.off bus1=a enabled=no\nNew Capacitor.cap bus1=b\n"
                                   "New Line.tie bus1=x2 bus2=c enabled=false\n"
                                   "New Line.beyond bus1=c bus2=v\nNew Line.on bus1=v bus2=u\nNew Line.back bus1=u bus2=a\n"
                                   "New Load.far bus1=u\nNew Load.none\n"}});
    const Network network = join_network(read_coordinates("a,0,0\nb,1,0\nc,2,0\n", "c.csv", Degrees::none), circuit);
    EXPECT_EQ(elements_file_text(stand_ins(circuit, network)),
              "element,bus,drawn_bus\n"
              "Load.Near,x2,b\n"       // two hops through the service transformer's secondary
              "PVSystem.Own,c,c\n"     // its own bus is drawn
              "Generator.tie,y,a\n"    // one hop from c and from a: a comes first in the coordinates
              "Storage.lost,w,\n"      // reaches nothing drawn
              "Load.far,u,a\n"         // one hop from a, two from c
              "Load.none,,\n");

    // A name holding a comma or a quote is one quoted field, and comes back whole to the clouds,
    // which give the PV system its shape.
    const Circuit quoted = read({{"m.dss", "New \"PVSystem.roof, east\" bus1=a\nNew 'PVSystem.say \"hi\"' bus1=b\n"}});
    const Network small = join_network(read_coordinates("a,0,0\nb,1,0\n", "c.csv", Degrees::none), quoted);
    const std::string text = elements_file_text(stand_ins(quoted, small));
    EXPECT_EQ(text, "element,bus,drawn_bus\n\"PVSystem.roof, east\",a,a\n\"PVSystem.say \"\"hi\"\"\",b,b\n");
    const std::vector<scenario::PvSystem> pv = scenario::read_pv_systems(text, "feeder_elements.csv");
    ASSERT_EQ(pv.size(), 2U);
    EXPECT_EQ(pv[0].element, "PVSystem.roof, east");
    EXPECT_EQ(pv[0].drawn_bus, "a");
    EXPECT_EQ(pv[1].element, "PVSystem.say \"hi\"");
}

// Each drawn bus's distance from the source is the sum of the line lengths along the way, as the
// engine measures a bus's distance from a meter at the head: a line's own units=, else km (its
// code's units do not count), a line without a length 1 long, a switch 0.001, a transformer 0. The
// figures are the engine's own (Export Profile after New EnergyMeter at the head).
TEST(Distances, AlongTheLinesAsTheEngineMeasuresThem)
{
    const Circuit circuit = read({{"m.dss",
                                   "New Circuit.d basekv=12.47 bus1=src\n"
                                   "New Linecode.lcmi nphases=3 r1=0.1 x1=0.1 units=mi\n"
                                   "New Linecode.lcnone nphases=3 r1=0.1 x1=0.1\n"
                                   "New Line.a bus1=src bus2=b1 length=2 linecode=lcnone\n"
                                   "New Line.b bus1=b1 bus2=b2 length=2 linecode=lcmi\n"
                                   "New Line.c bus1=b2 bus2=b3 linecode=lcmi\n"
                                   "New Line.d bus1=b3 bus2=b4 length=2 units=ft linecode=lcmi\n"
                                   "New Line.e bus1=b4 bus2=b5 switch=y\n"
                                   "New Transformer.t buses=[b5 b6] kvs=[12.47 12.47]\n"
                                   "New Line.f bus1=b6 bus2=b7 length=3 units=kft\n"
                                   "New Line.g bus1=b7 bus2=b8 length=1 units=km\nLine.g.units=mi\n"
                                   "New Line.h bus1=b8 bus2=b9 units=mi length=2\n"
                                   "New Line.i bus1=b9 bus2=b10 linecode=lcmi units=ft length=100\n~ linecode=lcmi\n"
                                   "New Line.open bus1=b10 bus2=far length=1 units=km enabled=no\n"}});
    std::string coords;
    for (const char* bus : {"src", "b1", "b2", "b3", "b4", "b5", "b6", "b7", "b8", "b9", "B10", "far"})
        coords += std::string(bus) + ",0,0\n";
    const Network network = join_network(read_coordinates(coords, "c.csv", Degrees::none), circuit);
    const std::vector<DrawnDistance> along = distances_along_lines(circuit, network);
    const double engine[] = {0, 2, 4, 5, 5.00061, 5.00161, 5.00161, 5.91601, 7.52535, 10.744, 10.7745};
    ASSERT_EQ(along.size(), 12U);
    for (std::size_t i = 0; i < 11; ++i) {
        ASSERT_TRUE(along[i].km) << along[i].bus;
        EXPECT_NEAR(*along[i].km, engine[i], 0.005 * engine[i] + 0.005) << along[i].bus;
    }
    EXPECT_EQ(along[10].bus, "B10");
    EXPECT_FALSE(along[11].km) << "an open line leads nowhere";
    EXPECT_EQ(circuit_record(circuit, network, "m.dss").lines_without_units, 3);  // a, b and c, not the switch

    // IEEE 34, a drawing whose coordinates put bus 832 a few units from the source: along its
    // lines it is 52.7 km away, as the engine says.
    DiskFiles files;
    const fs::path feeder = fs::path(UMBRASCOPE_SOURCE_DIR) / "tests/data/feeders/ieee34";
    const Circuit ieee34 = read_circuit(feeder / "ieee34Mod1.dss", files);
    std::string text;
    {
        std::ifstream in(feeder / "IEEE34_BusXY.csv");
        text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    const Network drawn34 = join_network(read_coordinates(text, "IEEE34_BusXY.csv", Degrees::none), ieee34);
    std::map<std::string, double> km;
    for (const DrawnDistance& d : distances_along_lines(ieee34, drawn34))
        if (d.km)
            km[d.bus] = *d.km;
    for (const auto& [bus, expected] : std::map<std::string, double>{{"802", 0.786384}, {"806", 1.31369}, {"814", 31.6291},
                                                                     {"850", 31.6321}, {"832", 52.7121}, {"848", 57.7505},
                                                                     {"840", 57.6773}, {"862", 57.5005}, {"890", 55.9308}})
        EXPECT_NEAR(km.at(bus), expected, 0.005 * expected + 0.005) << bus;
}

// The distances' small rules, each on a feeder of two or three lines: the line's units, a line
// given from its far bus, like= copying units=, the record's count of lines without units, and the
// file's round trip to the metre.
TEST(Distances, EachRuleOnASmallFeeder)
{
    struct Case {
        const char* what;
        const char* lines;   // after "New Circuit.d bus1=src"
        double far_km;       // bus "far" from the source
        int without_units;   // lines without units= the record counts
    };
    const Case cases[] = {
        {"one line without units, in km", "New Line.a bus1=src bus2=far length=1.5\n", 1.5, 1},
        {"from the far bus to the near one", "New Line.a bus1=far bus2=src length=2 units=km\n", 2, 0},
        {"like= copies units=", "New Line.a bus1=src bus2=mid length=2 units=mi\nNew Line.b like=a bus1=mid bus2=far\n",
         2 * 3.218688, 0},
        {"two lines without units", "New Line.a bus1=src bus2=mid length=1\nNew Line.b bus1=mid bus2=far length=0.25\n",
         1.25, 2},
        {"a length to the metre", "New Line.a bus1=src bus2=far length=1234.567 units=m\n", 1.234567, 0},
    };
    for (const Case& c : cases) {
        const Circuit circuit = read({{"m.dss", std::string("New Circuit.d bus1=src\n") + c.lines}});
        const Network network = join_network(read_coordinates("src,0,0\nmid,1,0\nfar,2,0\n", "c.csv", Degrees::none), circuit);
        std::optional<double> far;
        for (const DrawnDistance& d : distances_along_lines(circuit, network))
            if (d.bus == "far")
                far = d.km;
        ASSERT_TRUE(far) << c.what;
        EXPECT_NEAR(*far, c.far_km, 1e-9) << c.what;
        // The record keeps its count, even of one line, and reads back as written.
        const CircuitRecord record = circuit_record(circuit, network, "m.dss");
        EXPECT_EQ(record.lines_without_units, c.without_units) << c.what;
        EXPECT_EQ(read_circuit_record_text(circuit_record_text(record)).lines_without_units, c.without_units) << c.what;
        const std::string text = circuit_record_text(record);
        EXPECT_EQ(text.back(), '\n') << c.what;
        // The file round-trips to the metre.
        const std::vector<DrawnDistance> back =
            read_distances_text(distances_file_text(distances_along_lines(circuit, network)), "d.csv");
        for (const DrawnDistance& d : back) {
            if (d.bus == "far") {
                EXPECT_NEAR(*d.km, c.far_km, 5e-7) << c.what;
            }
        }
    }
}

// A loop in the lines: the buses reached by more than one path are named, their distance the
// shortest; lines a phase or regulators in a bank between the same two buses are no loop.
TEST(Distances, BusesReachedByMoreThanOnePathAreMarked)
{
    const Circuit circuit = read({{"m.dss", "New Circuit.d bus1=src\n"
                                            "New Line.l1 bus1=src bus2=a length=1 units=km\n"
                                            "New Line.l2 bus1=a bus2=b length=1 units=km\n"
                                            "New Line.l3 bus1=b bus2=c length=1 units=km\n"
                                            "New Line.l4 bus1=a bus2=c length=3 units=km\n"
                                            "New Line.l5 bus1=c bus2=d length=1 units=km\n"
                                            "New Line.pa bus1=src.1 bus2=x.1 length=2 units=km\n"
                                            "New Line.pb bus1=src.2 bus2=x.2 length=2 units=km\n"
                                            "New Transformer.r1 phases=1 buses=[x.1 y.1]\n"
                                            "New Transformer.r2 phases=1 buses=[x.2 y.2]\n"
                                            "New Line.z bus1=y bus2=z length=1 units=km\n"}});
    const Network network = join_network(
        read_coordinates("src,0,0\na,1,0\nb,2,0\nc,3,0\nd,4,0\nx,0,1\ny,0,2\nz,0,3\n", "c.csv", Degrees::none), circuit);
    const std::map<std::string, std::pair<double, bool>> expected{
        {"src", {0, false}}, {"a", {1, false}}, {"b", {2, true}}, {"c", {3, true}}, {"d", {4, true}},
        {"x", {2, false}},   {"y", {2, false}}, {"z", {3, false}}};
    const std::vector<DrawnDistance> along = distances_along_lines(circuit, network);
    ASSERT_EQ(along.size(), expected.size());
    for (const DrawnDistance& d : along) {
        ASSERT_TRUE(d.km) << d.bus;
        EXPECT_NEAR(*d.km, expected.at(d.bus).first, 1e-9) << d.bus;
        EXPECT_EQ(d.meshed, expected.at(d.bus).second) << d.bus;
    }
    // The file says which, and reads back; an import's file of two fields still reads.
    const std::vector<DrawnDistance> back = read_distances_text(distances_file_text(along), "d.csv");
    for (std::size_t i = 0; i < along.size(); ++i)
        EXPECT_EQ(back[i].meshed, along[i].meshed) << along[i].bus;
    EXPECT_NE(distances_file_text(along).find("\nb,2,more than one\n"), std::string::npos);
    EXPECT_FALSE(read_distances_text("bus,distance_km\na,1.5\n", "old.csv").front().meshed);
}

// A control given debugtrace=yes, which writes a file on every step, is named with where.
TEST(Circuit, DebugTracesAreNamed)
{
    const Circuit circuit = read({{"m.dss", "New Circuit.c bus1=s\nNew Transformer.t buses=[s r]\n"
                                            "New RegControl.rc transformer=t winding=2 debugtrace=yes\n"
                                            "New CapControl.cc capacitor=c debugtrace=no\n"
                                            "Edit CapControl.cc DebugTrace=Y\n"}});
    EXPECT_EQ(circuit.debug_traces, (std::vector<std::string>{"RegControl.rc at m.dss:3", "CapControl.cc at m.dss:5"}));
    EXPECT_TRUE(read({{"m.dss", "New Circuit.c bus1=s\nNew RegControl.rc transformer=t debugtrace=no\n"}}).debug_traces.empty());
}

// The source's bus where the circuit gives it: on New Circuit, on its continuation lines, or by a
// later Edit of Vsource.source, the last holding, as the engine reads them.
TEST(Circuit, TheSourceBusWhereTheCircuitGivesIt)
{
    struct Case {
        const char* script;
        const char* source;
    };
    const Case cases[] = {
        {"New Circuit.c bus1=s1\n", "s1"},
        {"New Circuit.c\n", "sourcebus"},
        {"New object=circuit.ieee123\n~ basekv=4.16 Bus1=150 pu=1.00 R1=0 X1=0.0001\n", "150"},
        {"New Circuit.c basekv=4.16\nMore bus1=s2.1.2.3\n", "s2"},
        {"New Circuit.c bus1=s1\nNew Line.l bus1=s1 bus2=x\nEdit Vsource.source bus1=x\n", "x"},
        {"New Circuit.c bus1=s1\nVsource.source.bus1=s3\n", "s3"},
        {"New Circuit.c bus1=s1\nNew Line.l bus1=s1 bus2=x\n~ length=2\n", "s1"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(read({{"m.dss", c.script}}).source_bus, c.source) << c.script;

    // IEEE 123 as published gives its source on a continuation line: bus 83 is 5.502 km along its
    // lines, as the engine says, to 0.5 % and 5 m.
    DiskFiles files;
    const fs::path feeder = fs::path(UMBRASCOPE_SOURCE_DIR) / "tests/data/feeders/ieee123";
    const Circuit ieee123 = read_circuit(feeder / "IEEE123Master.dss", files);
    EXPECT_EQ(ieee123.source_bus, "150");
    std::string text;
    {
        std::ifstream in(feeder / "BusCoords.dat");
        text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    const Network drawn = join_network(read_coordinates(text, "BusCoords.dat", Degrees::none), ieee123);
    std::map<std::string, double> km;
    for (const DrawnDistance& d : distances_along_lines(ieee123, drawn))
        if (d.km)
            km[d.bus] = *d.km;
    EXPECT_NEAR(km.at("83"), 5.502, 0.005 * 5.502 + 0.005);
    EXPECT_NEAR(km.at("150"), 0, 1e-9);
}

// What a study needs of the circuit besides its buses: the controls in service with the element
// each switches, the circuit's own control mode, and the files it reads that are not there.
TEST(Circuit, ControlsControlModeAndMissingFiles)
{
    const Circuit circuit = read({{"m.dss",
                                   "New Circuit.c bus1=s\n"
                                   "New Transformer.Reg1 phases=1 buses=[s.1 r.1]\n"
                                   "New RegControl.RC1 transformer=reg1 winding=2 vreg=122\n"
                                   "New RegControl.RC2 like=rc1\n"            // like= carries the transformer and winding
                                   "New RegControl.rc3 Reg1\n"                // positional: the transformer, winding 1
                                   "New RegControl.off transformer=reg1 enabled=no\n"
                                   "New RegControl.nothing transformer=gone\n"
                                   "New Transformer.out buses=[s o] enabled=no\nNew RegControl.on_off transformer=out\n"
                                   "New Capacitor.C1 bus1=r\nNew CapControl.cc capacitor=C1 element=Line.l type=voltage\n"
                                   "New Loadshape.ls npts=3 interval=1 mult=(file=LS_PhaseA.txt)\n"
                                   "New Loadshape.there npts=3 interval=1 mult=(File=here.csv)\n"
                                   "New XYcurve.eff npts=2 csvfile=\"curve one.csv\"\n"
                                   "Set ControlMode=Static\n/*\nSet ControlMode=time\n*/\nset controlmode=OFF\n"
                                   "New PVSystem.a bus1=r Pmpp=40 kVA=44\nNew PVSystem.b like=a bus1=s\n"
                                   "New PVSystem.c bus1=r\nNew PVSystem.d like=a bus1=s\nEdit PVSystem.d pmpp=55.5\n"
                                   "New PVSystem.e bus1=r Pmpp=-3\n"},
                                  {"here.csv", "1\n1\n1\n"}});
    std::vector<std::string> controls;
    for (const Control& control : circuit.controls)
        controls.push_back(control.kind + " " + control.name + " " + control.element + " " + std::to_string(control.winding) +
                           " " + circuit.buses[static_cast<std::size_t>(control.bus)]);
    EXPECT_EQ(controls, (std::vector<std::string>{"regcontrol RC1 Transformer.Reg1 2 r", "regcontrol RC2 Transformer.Reg1 2 r",
                                                   "regcontrol rc3 Transformer.Reg1 1 s", "capcontrol cc Capacitor.C1 0 r"}));
    EXPECT_EQ(circuit.control_mode, "off");
    std::vector<std::string> missing;
    for (const MissingFile& file : circuit.missing)
        missing.push_back(file.site.text() + " " + file.looked.filename().string());
    EXPECT_EQ(missing, (std::vector<std::string>{"m.dss:12 LS_PhaseA.txt", "m.dss:14 curve one.csv"}));
    // A control of an element the circuit does not define is named; one out of service is not.
    EXPECT_EQ(circuit.unmatched_controls,
              (std::vector<std::string>{"RegControl.nothing names Transformer.gone, which the circuit does not define"}));
    // Each PV system's Pmpp as the engine would take it: given, copied by like=, edited; none
    // where the circuit gives none or one that is no rating.
    std::vector<std::string> ratings;
    for (const WiredElement& element : circuit.wired)
        if (element.element_class == "pvsystem")
            ratings.push_back(element.name + " " + (element.pmpp ? decimal_text(*element.pmpp, 1) : "none"));
    EXPECT_EQ(ratings, (std::vector<std::string>{"PVSystem.a 40", "PVSystem.b 40", "PVSystem.c none",
                                                  "PVSystem.d 55.5", "PVSystem.e none"}));
}

// The published feeders import whole: every bus of their coordinate files, joined as the circuit
// joins them.
TEST(Feeders, EveryPublishedFeederImports)
{
    struct Case {
        const char* folder;
        const char* entry;
        const char* coords;  // "" for the circuit's own Buscoords
        std::size_t buses, connections;
        int bridged, parts;
        std::size_t loops;
    };
    const Case cases[] = {
        {"ieee13", "IEEE13Nodeckt.dss", "IEEE13Node_BusXY.csv", 16, 15, 0, 1, 0},
        {"ieee34", "Run_IEEE34Mod1.dss", "", 37, 36, 0, 1, 0},
        {"ieee37", "ieee37.dss", "IEEE37_BusXY.csv", 39, 38, 0, 1, 0},
        {"ieee123", "Run_IEEE123Bus.DSS", "", 130, 129, 2, 1, 0},
        {"ieee8500", "Master.dss", "", 2476, 2458, 2417, 18, 0},
    };
    const fs::path feeders = fs::path(UMBRASCOPE_SOURCE_DIR) / "tests/data/feeders";
    for (const Case& c : cases) {
        DiskFiles files;
        const Circuit circuit = read_circuit(feeders / c.folder / c.entry, files);
        std::string why;
        fs::path coords = feeders / c.folder / c.coords;
        if (*c.coords == '\0')
            coords = *files.find(circuit.coordinates->from, circuit.coordinates->name);
        const CoordinateTable table = read_coordinates(*files.read(coords, why), coords.string(), Degrees::none);
        const Network network = join_network(table, circuit);
        EXPECT_EQ(network.buses.size(), c.buses) << c.folder;
        EXPECT_EQ(network.connections.size(), c.connections) << c.folder;
        EXPECT_EQ(network.bridged, c.bridged) << c.folder;
        EXPECT_EQ(network.parts, c.parts) << c.folder;
        EXPECT_EQ(circuit.skipped, 0) << c.folder;
        // One connection fewer than buses in each part, and one more for each loop.
        EXPECT_EQ(network.connections.size(), network.buses.size() - static_cast<std::size_t>(network.parts) + c.loops)
            << c.folder;
    }
}

// The 13-node feeder joins exactly the branches of the bundled example, drawn by hand from the
// published diagram.
TEST(Feeders, The13NodeFeederJoinsTheExamplesBranches)
{
    const fs::path root = UMBRASCOPE_SOURCE_DIR;
    DiskFiles files;
    std::string why;
    const fs::path coords = root / "tests/data/feeders/ieee13/IEEE13Node_BusXY.csv";
    const Network network = join_network(read_coordinates(*files.read(coords, why), coords.string(), Degrees::none),
                                         read_circuit(root / "tests/data/feeders/ieee13/IEEE13Nodeckt.dss", files));
    std::set<std::pair<int, int>> imported;
    for (auto [a, b] : network.connections)
        imported.insert({std::min(a, b) + 1, std::max(a, b) + 1});
    std::set<std::pair<int, int>> example;
    std::ifstream in(root / "examples/ieee13/cloud_bus_coords_connections.txt");
    bool connections = false;
    for (std::string line; std::getline(in, line);) {
        if (connections) {
            const int a = std::stoi(line), b = std::stoi(line.substr(line.find(',') + 1));
            example.insert({std::min(a, b), std::max(a, b)});
        }
        connections = connections || line.find("bus_connections") != std::string::npos;
    }
    EXPECT_EQ(imported, example);
}

}  // namespace
}  // namespace umbrascope::import

namespace umbrascope::import {
namespace {

// The 8500-node feeder, in state-plane feet, fills the plot area along its larger span.
TEST(Feeders, The8500NodeFeederFillsTheFrame)
{
    const fs::path feeder = fs::path(UMBRASCOPE_SOURCE_DIR) / "tests/data/feeders/ieee8500";
    DiskFiles files;
    std::string why;
    const Network network = join_network(
        read_coordinates(*files.read(feeder / "Buscoords.dss", why), "Buscoords.dss", Degrees::none),
        read_circuit(feeder / "Master.dss", files));
    testing::TempFolder folder;
    folder.write(std::string(network_file_name), network_file_text(network, "Master.dss"));
    testing::PassRun run(folder.path(), true);
    read_network_file(run.world);
    compute_plot_geometry(run.world);
    const RunState& st = run.st;
    double left = 1e9, right = -1e9, top = 1e9, bottom = -1e9;
    for (int k = 1; k <= st.nbus.value(); ++k) {
        const Integer i{static_cast<std::int16_t>(k)};
        const double xn = (double{st.xc(i)} - st.xc_min) / st.c_span;
        const double yn = (double{st.yc(i)} - st.yc_min) / st.c_span;
        const double x = st.xp_min.value() + xn * (st.xp_max.value() - st.xp_min.value());
        const double y = st.yp_max.value() - yn * (st.yp_max.value() - st.yp_min.value());
        left = std::min(left, x), right = std::max(right, x), top = std::min(top, y), bottom = std::max(bottom, y);
    }
    const double width = st.xp_max.value() - st.xp_min.value();
    const double height = st.yp_max.value() - st.yp_min.value();
    EXPECT_TRUE(right - left > 0.99 * width || bottom - top > 0.99 * height)
        << "the feeder is drawn small: " << left << ".." << right << " by " << top << ".." << bottom;
    EXPECT_GE(left, st.xp_min.value() - 1);
    EXPECT_LE(right, st.xp_max.value() + 1);
    EXPECT_GE(top, 1040 - 1);  // within the unlifted plot area
    EXPECT_LE(bottom, 7360 + 1);
}

}  // namespace
}  // namespace umbrascope::import

namespace umbrascope::import {
namespace {

// The measured sky over the published 13-node and 8500-node feeders equals the model worked
// straight from its statement, for every bus and row: the wind carries the shade toward
// (-sin FROM, -cos FROM); a bus sees the series at t - lag, held at its ends.
TEST(Feeders, AMeasuredSkyOverThePublishedFeedersIsTheModel)
{
    const fs::path root = UMBRASCOPE_SOURCE_DIR;
    DiskFiles files;
    std::string why;
    const scenario::SensorSeries series =
        scenario::read_sensor(*files.read(root / "tests/data/feeders/ieee8500/Normalized-1s-2900-pts.CSV", why), "sky");
    struct Case {
        const char* name;
        fs::path folder;  // holding the network file
        double metres_per_unit;
        double speed, from;
    };
    testing::TempFolder feeder;
    const fs::path coords = root / "tests/data/feeders/ieee8500/Buscoords.dss";
    const Network network = join_network(read_coordinates(*files.read(coords, why), coords.string(), Degrees::none),
                                         read_circuit(root / "tests/data/feeders/ieee8500/Master.dss", files));
    feeder.write(std::string(network_file_name), network_file_text(network, "Master.dss"));
    for (const Case& c : {Case{"13-node, feet", root / "examples/ieee13", 0.3048, 0.5, 225},
                          Case{"8500-node, feet", feeder.path(), 0.3048, 10, 270},
                          Case{"8500-node as if metres", feeder.path(), 1, 4, 10}}) {
        const scenario::NetworkBuses buses = scenario::read_network_buses(c.folder);
        scenario::SensorSky sky;
        sky.interval = 1;
        sky.row_interval = 2;
        sky.metres_per_unit = c.metres_per_unit;
        sky.speed = c.speed;
        sky.from = c.from;
        sky.scale = 0.8;
        sky.at = buses.places[buses.places.size() / 2];
        sky.rows = 1500;
        const scenario::SunTable table = scenario::sensor_sun(buses.places, series, sky);
        const double radians = c.from * std::acos(-1.0) / 180;
        const std::vector<double>& v = series.values;
        for (std::size_t b = 0; b < buses.places.size(); ++b) {
            const double dx = buses.places[b].x - sky.at.x, dy = buses.places[b].y - sky.at.y;
            const double lag = (-dx * std::sin(radians) - dy * std::cos(radians)) * c.metres_per_unit / c.speed;
            for (int r = 1; r <= sky.rows; ++r) {
                const double t = std::clamp((r - 1) * 2.0 - lag, 0.0, static_cast<double>(v.size() - 1));
                const auto k = static_cast<std::size_t>(std::floor(t));
                const double value = k + 1 < v.size() ? v[k] + (t - static_cast<double>(k)) * (v[k + 1] - v[k]) : v[k];
                ASSERT_NEAR(static_cast<double>(table.at(r - 1, static_cast<int>(b))) / 1000, value / 0.8, 0.0005 + 1e-9)
                    << c.name << ", bus " << b + 1 << ", row " << r;
            }
        }
    }
}

}  // namespace
}  // namespace umbrascope::import
