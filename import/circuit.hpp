#pragma once
// Reads an OpenDSS circuit as far as a picture of it needs: which buses each element in service
// joins, and where the circuit's bus coordinates are. Follows Redirect and Compile, and the
// switching of Open, Close, Disable, Enable and enabled=; every other command (Set, Solve, Show,
// ...) is passed over.

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "import/source_files.hpp"

namespace umbrascope::import {

// Input an import cannot take; the message names the file and line where there is one.
class ImportError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Where a message points: "Master.dss:12".
struct Site {
    std::string file;
    long line = 0;
    [[nodiscard]] std::string text() const { return line > 0 ? file + ":" + std::to_string(line) : file; }
};

struct CoordinateCommand {
    bool latlong = false;         // LatLongCoords: latitude, longitude
    std::filesystem::path from;   // the folder of the file holding the command
    std::string name;             // the file as the command names it
    Site site;
};

// An element that makes or takes power where the sun falls: a Load, PVSystem, Generator or Storage.
struct PowerElement {
    std::string name;  // "PVSystem.pv_12", as spelt after New
    int bus = -1;      // its bus1, an index into Circuit::buses; -1 when it names none
};

// One terminal of an element in service, as a monitor sees it: its bus, and the node each of its
// conductors meets (conductor k at nodes[k - 1]; node 0 is ground).
struct Terminal {
    int bus = -1;            // an index into Circuit::buses
    std::vector<int> nodes;
};

// An element in service that a monitor can watch, with the number OpenDSS gives each terminal.
struct WiredElement {
    std::string name;                 // "Line.650632" as spelt after New; "Vsource.source" for the circuit's source
    std::string element_class;        // lower case: "line", "load", ...
    std::vector<std::optional<Terminal>> terminals;  // by terminal number from 1; empty where not named
    std::optional<double> pmpp;       // a PV system's Pmpp= in kW, where the circuit gives one
    // A line's or transformer's rating is the circuit's own: its NormAmps, EmergAmps, kVA,
    // normhkVA, ... or those of its code, geometry or conductors; not where the engine's defaults rate it.
    bool rated = false;
};

// A line of a length the circuit gives in a unit, between two buses.
struct LineLength {
    int from = -1;  // indexes into Circuit::buses
    int to = -1;
    double metres = 0;
};

// Two buses an element in service joins in series, and how far apart it puts them along the
// feeder, as OpenDSS measures a bus's distance: a line's length in its units= (km where it gives
// none: a line without a length is 1 long, a switch 0.001), any other element 0.
struct Span {
    int from = -1;  // indexes into Circuit::buses
    int to = -1;
    double metres = 0;
    bool unitless = false;  // a line without units=, counted in km
};

// A regulator's or a capacitor's control in service, on an element in service.
struct Control {
    std::string kind;     // "regcontrol" or "capcontrol"
    std::string name;     // as spelt after New, without its class: "VREG2_A"
    std::string element;  // what it switches, as the circuit spells it: "Transformer.VREG2_A", "Capacitor.C1"
    int winding = 0;      // the winding a RegControl taps, from 1; 0 for a CapControl
    int bus = -1;         // that winding's bus, or the capacitor's: an index into Circuit::buses
    // A RegControl's set point as the circuit gives it: vreg (120 V where not given) on the winding's
    // voltage over ptratio (the engine's 60 where not given), and that winding's voltage from
    // neutral, kV, where the transformer gives it.
    double vreg = 120;
    std::optional<double> ptratio;
    std::optional<double> winding_kv;
    bool reversible = false;  // a RegControl's reversible=yes: it has settings for power flowing back
};

// A load in service, as the engine compiles it: its kW from kW=, or from kVA= and pf= where those
// came last (10 kW where neither is given), its phases (3 unless given) and kV (12.47 unless given).
struct LoadSite {
    std::string name;  // "Load.s1a", as spelt after New
    int bus = -1;      // its bus1, an index into Circuit::buses
    std::string bus1;  // as named, with its node suffixes: "s1a.1.2"
    int phases = 3;
    double kv = 12.47;
    double kw = 10;
    bool delta = false;  // conn=delta
    // The loadshapes it follows, as named (lower case); "" where it names none.
    std::string daily, yearly, duty;
};

// A property of a Loadshape as the circuit gives it, in the order given, with the folder a file it
// names is found from.
struct ShapeProperty {
    std::string name;  // lower case: "npts", "mult", ...
    std::string value;
    std::filesystem::path folder;
    Site site;
};

struct LoadshapeDefinition {
    std::string name;  // lower case, without its class
    std::vector<ShapeProperty> properties;
};

// A file a circuit reads that is not there: "mult=(file=LS_PhaseA.txt)".
struct MissingFile {
    Site site;                    // where it is named
    std::filesystem::path looked;  // where OpenDSS would look for it
};

struct Circuit {
    std::string name;                            // as spelt after New Circuit, "" when the script has none
    std::string source_bus;                      // the circuit's source bus, lower case ("sourcebus" unless named)
    std::vector<std::string> buses;              // lower case, node suffixes dropped, in the order first named
    // Each element's distinct buses, in the order elements are defined; elements out of service
    // (open, or disabled) join nothing and are left out.
    std::vector<std::vector<int>> elements;
    int left_out = 0;                             // elements naming buses, out of service
    std::vector<PowerElement> power_elements;     // in service, in the order defined
    std::vector<WiredElement> wired;              // in service, in the order defined
    int skipped = 0;                              // commands not understood
    std::optional<Site> first_skipped;
    std::optional<CoordinateCommand> coordinates;  // the last Buscoords or LatLongCoords
    int files = 0;
    // Files named in another letter case than they have, each as the link that would serve:
    // "ln -s LineCodes2.DSS /feeder/LineCodes2.dss".
    std::vector<std::string> other_case;
    std::vector<Site> displays;                   // Show, Plot and Visualize commands, which open windows
    std::vector<LineLength> lengths;              // lines in service with a length in a known unit
    std::string control_mode;                     // the last Set ControlMode, lower case; "" for none
    std::optional<double> load_mult;              // the last Set LoadMult; none where it sets none
    std::vector<Span> spans;                      // every element in service between two buses
    std::vector<Control> controls;                // in the order defined
    std::vector<MissingFile> missing;             // files named in properties that are not there
    std::vector<LoadSite> loads;                  // in service, in the order defined
    std::vector<LoadshapeDefinition> loadshapes;  // in the order defined
    std::vector<std::string> debug_traces;        // elements given debugtrace=yes: "RegControl.reg1 at m.dss:12"
    // Controls in service whose transformer or capacitor the circuit does not define, which the
    // engine refuses: "RegControl.rc names Transformer.regx, which the circuit does not define".
    std::vector<std::string> unmatched_controls;
};

// A bus as a circuit names it, in lower case without its node suffix: "632.1.2.3" is bus 632.
[[nodiscard]] std::string bus_key(std::string_view named);

// The nodes of a bus as a circuit names it: "632.1.2.3" gives 1, 2, 3; "632" none. A node that is
// not a whole number from 0 ends the list.
[[nodiscard]] std::vector<int> bus_nodes(std::string_view named);

// Reads the circuit whose entry file is `entry`. Throws ImportError.
[[nodiscard]] Circuit read_circuit(const std::filesystem::path& entry, SourceFiles& files);

}  // namespace umbrascope::import
