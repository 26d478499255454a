#pragma once
// The tables an import takes: bus coordinate files ("name, x, y", or latitude and longitude) and
// the two-table form of a network (buses "name,x,y" and branches "from,to").

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "import/circuit.hpp"

namespace umbrascope::import {

struct Bus {
    std::string name;  // as the file spells it
    std::string key;   // as the circuit's buses are matched: lower case, without a node suffix
    double x = 0;
    double y = 0;
    Site site;         // where the file gives it
};

struct CoordinateTable {
    std::vector<Bus> buses;
    int repeated = 0;  // lines naming a bus already given (in any letter case); the first is kept
    std::optional<Site> first_repeated;
    int skipped = 0;   // lines that look meant as coordinates but are not "name, x, y"
    std::optional<Site> first_skipped;
};

// What the two numbers of a coordinate line are: x and y as they stand, or degrees, latitude
// first (as LatLongCoords has them) or longitude first, made metres east and north of the feeder's
// south-west corner.
enum class Degrees { none, latitude_first, longitude_first };

// A coordinate file as OpenDSS's Buscoords reads it: "name, x, y" with the fields separated by
// commas, blanks or tabs; lines that are not of that form are passed over. Throws ImportError when
// no line gives coordinates, or a coordinate is not a finite number (or not degrees).
[[nodiscard]] CoordinateTable read_coordinates(std::string_view text, const std::string& file, Degrees degrees);

// A bus table "name,x,y" with an optional header line. Throws ImportError.
[[nodiscard]] CoordinateTable read_bus_table(std::string_view text, const std::string& file,
                                             Degrees degrees = Degrees::none);

// Whether coordinates as they stand look like degrees, spanning under one unit where a feeder in
// feet or metres would be a dot: longitude first (every x within ±180, every y within ±90),
// latitude first (the reverse), or either.
struct DegreesFit {
    bool longitude_first = false;
    bool latitude_first = false;
    [[nodiscard]] bool any() const { return longitude_first || latitude_first; }
};
[[nodiscard]] DegreesFit look_like_degrees(const CoordinateTable& table);

// A branch table "from,to" by bus name, with an optional header line (a first line naming no bus of
// `known`, a lower-case set of the bus table's names, and no name another line uses). Gives the
// circuit the table describes.
[[nodiscard]] Circuit read_branch_table(std::string_view text, const std::string& file,
                                        const std::vector<std::string>& known);

}  // namespace umbrascope::import
