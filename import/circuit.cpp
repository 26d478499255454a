#include "core/words.hpp"
#include "import/circuit.hpp"

#include <array>
#include <charconv>
#include <cmath>
#include <optional>
#include <set>
#include <string_view>
#include <unordered_map>

#include "core/lines.hpp"

namespace umbrascope::import {

namespace fs = std::filesystem;

namespace {

// One parameter of a command line: "name=value", or a value alone (positional).
struct Param {
    std::string_view name;
    std::string_view value;
};

char closing_of(char c)
{
    switch (c) {
    case '"': return '"';
    case '\'': return '\'';
    case '(': return ')';
    case '[': return ']';
    case '{': return '}';
    default: return 0;
    }
}

// Splits one line into parameters. Comments run from "!" or "//" to the end of the line, and from
// "/*" to "*/", across lines (`in_block` carries that over). A quoted or bracketed value must close
// on its own line.
class LineSplitter {
public:
    LineSplitter(std::string_view line, const Site& site) : line_(line), site_(site) {}

    void split(bool& in_block, std::vector<Param>& out)
    {
        out.clear();
        const std::size_t n = line_.size();
        while (i_ < n) {
            if (in_block) {
                const std::size_t end = line_.find("*/", i_);
                if (end == std::string_view::npos)
                    return;
                i_ = end + 2;
                in_block = false;
                continue;
            }
            while (i_ < n && (is_blank(line_[i_]) || line_[i_] == ','))
                ++i_;
            if (i_ >= n || comment_starts())
                return;
            if (line_.compare(i_, 2, "/*") == 0) {
                in_block = true;
                i_ += 2;
                continue;
            }
            if (out.empty() && line_[i_] == '~') {  // "~" continues the element before, like More
                out.push_back({{}, line_.substr(i_, 1)});
                ++i_;
                continue;
            }
            bool quoted = false;
            const std::string_view word = read_word(quoted);
            std::size_t j = i_;
            while (j < n && is_blank(line_[j]))
                ++j;
            if (!quoted && j < n && line_[j] == '=') {
                i_ = j + 1;
                while (i_ < n && is_blank(line_[i_]))
                    ++i_;
                std::string_view value;
                if (i_ < n && line_[i_] != ',' && !comment_starts())
                    value = read_word(quoted);
                out.push_back({word, value});
            } else {
                out.push_back({{}, word});
            }
        }
    }

private:
    [[nodiscard]] bool comment_starts() const { return line_[i_] == '!' || line_.compare(i_, 2, "//") == 0; }

    std::string_view read_word(bool& quoted)
    {
        const std::size_t n = line_.size();
        const char open = line_[i_];
        if (const char close = closing_of(open); close != 0) {
            quoted = true;
            int depth = 1;
            std::size_t j = i_ + 1;
            for (; j < n; ++j) {
                if (line_[j] == close && --depth == 0)
                    break;
                if (line_[j] == open && open != close)
                    ++depth;
            }
            if (j >= n)
                throw ImportError(site_.text() + ": the " + std::string(1, open) + " opened at column " +
                                  std::to_string(i_ + 1) + " is not closed on its line");
            const std::string_view word = line_.substr(i_ + 1, j - i_ - 1);
            i_ = j + 1;
            return word;
        }
        quoted = false;
        const std::size_t start = i_;
        while (i_ < n && !is_blank(line_[i_]) && line_[i_] != ',' && line_[i_] != '=' && line_[i_] != '!')
            ++i_;
        return line_.substr(start, i_ - start);
    }

    std::string_view line_;
    const Site& site_;
    std::size_t i_ = 0;
};

// The properties a value without a name sets, in order, for the classes whose buses come first.
const std::vector<std::string_view>& positional_order(const std::string& element_class)
{
    static const std::vector<std::string_view> two_buses{"bus1", "bus2"};
    static const std::vector<std::string_view> windings{"phases", "windings", "wdg", "bus"};
    static const std::vector<std::string_view> none;
    if (element_class == "line" || element_class == "capacitor" || element_class == "reactor" ||
        element_class == "fault")
        return two_buses;
    static const std::vector<std::string_view> regulator{"transformer", "winding"};
    if (element_class == "transformer" || element_class == "autotrans")
        return windings;
    if (element_class == "regcontrol")
        return regulator;
    return none;
}

struct Element {
    std::string element_class;
    std::vector<std::string> buses;  // by terminal or winding; empty where not named
    std::vector<std::string> named;  // the same as named, with their node suffixes
    int winding = 1;                 // the winding that "bus=" sets, chosen by "wdg="
    std::size_t next_positional = 0;
    std::string spelt;               // "Class.name" as the New command spells it
    bool disabled = false;           // enabled=false, or Disable
    bool open = false;               // Open, until Close
    std::optional<int> phases;       // phases=, a line's code's, or a code's own nphases=
    std::vector<bool> delta;         // by terminal or winding: conn=delta
    std::optional<double> length;    // a line's length=, in its units=
    double metres_per_unit = 0;      // of units=; 0 where none is given
    bool switch_length = false;      // the length a switch is given, not the circuit's own
    std::string controlled;          // a control's transformer= or capacitor=, as spelt
    int control_winding = 1;         // a RegControl's winding=
    // A load's power as given: kW=, or kVA= with pf=, whichever came last.
    std::optional<double> kw;
    std::optional<double> kva;
    double pf = 0.88;
    bool kw_last = true;
    std::optional<double> kv;
    std::vector<std::optional<double>> winding_kv;  // a transformer's kv= or kvs=, by winding
    std::optional<double> vreg;                      // a RegControl's
    std::optional<double> ptratio;
    std::optional<double> pmpp;                      // a PV system's
    bool reversible = false;                         // a RegControl's
    bool rated = false;  // a line's or transformer's rating given: its own, or its code's, geometry's or wires'
    std::string daily, yearly, duty;                 // a load's loadshapes, lower case
    std::vector<ShapeProperty> shape;                // a Loadshape's properties, in order
};

std::optional<double> real_number(std::string_view text)
{
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

double load_kw(const Element& load)
{
    if (!load.kw_last && load.kva)
        return *load.kva * std::fabs(load.pf);
    return load.kw.value_or(10);
}

// Metres in one of OpenDSS's length units; 0 for none or another word.
double metres_in(std::string_view units)
{
    const std::string word = lower(units);
    if (word == "ft")
        return 0.3048;
    if (word == "m")
        return 1;
    if (word == "km")
        return 1000;
    if (word == "mi")
        return 1609.344;
    if (word == "kft")
        return 304.8;
    if (word == "in")
        return 0.0254;
    if (word == "cm")
        return 0.01;
    if (word == "mm")
        return 0.001;
    return 0;
}

constexpr int default_phases = 3;

// The classes whose elements carry current at their terminals, which a monitor can watch.
bool is_wired(const std::string& element_class)
{
    static const std::set<std::string, std::less<>> wired{"line",      "transformer", "autotrans", "capacitor",
                                                          "reactor",   "load",        "pvsystem",  "generator",
                                                          "storage",   "vsource",     "isource",   "circuit"};
    return wired.count(element_class) != 0;
}

// Shunt elements and transformer windings have a conductor more than their phases (the neutral of
// a wye, or the second wire of a single-phase delta); series elements and sources have as many.
int conductors_of(const Element& element, std::size_t terminal)
{
    const int phases = element.phases.value_or(default_phases);
    const std::string& c = element.element_class;
    const bool winding = c == "transformer" || c == "autotrans";
    const bool shunt = c == "load" || c == "pvsystem" || c == "generator" || c == "storage";
    if (!winding && !shunt)
        return phases;
    const bool delta = terminal < element.delta.size() && element.delta[terminal];
    return delta && phases > 1 ? phases : phases + 1;
}

// Each conductor's node: those named, then 1, 2, ... up to the phases, then ground.
std::vector<int> terminal_nodes(const Element& element, std::size_t terminal)
{
    const std::vector<int> named = bus_nodes(element.named[terminal]);
    const int phases = element.phases.value_or(default_phases);
    std::vector<int> nodes(static_cast<std::size_t>(conductors_of(element, terminal)));
    for (std::size_t k = 0; k < nodes.size(); ++k)
        nodes[k] = k < named.size() ? named[k] : static_cast<int>(k) < phases ? static_cast<int>(k) + 1 : 0;
    return nodes;
}

bool is_delta(std::string_view conn)
{
    const std::string word = lower(conn);
    return (!word.empty() && word.front() == 'd') || word == "ll";
}

std::optional<int> whole_number(std::string_view text)
{
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

bool makes_or_takes_power(const std::string& element_class)
{
    return element_class == "load" || element_class == "pvsystem" || element_class == "generator" ||
           element_class == "storage";
}

// OpenDSS reads a yes/no value by its first letter: y, t or 1 is yes, n, f or 0 is no.
std::optional<bool> yes_or_no(std::string_view value)
{
    if (value.empty())
        return std::nullopt;
    switch (value.front()) {
    case 'y': case 'Y': case 't': case 'T': case '1': return true;
    case 'n': case 'N': case 'f': case 'F': case '0': return false;
    default: return std::nullopt;
    }
}

// Calls `word` for each word of a bracketed list such as "[650 RG60]" or "[delta, wye]".
template <class F>
void for_each_word(std::string_view value, F&& word)
{
    const auto separates = [](char c) { return is_blank(c) || c == ',' || c == '"' || c == '\''; };
    std::size_t i = 0;
    while (i < value.size()) {
        while (i < value.size() && separates(value[i]))
            ++i;
        const std::size_t start = i;
        while (i < value.size() && !separates(value[i]))
            ++i;
        if (i > start)
            word(value.substr(start, i - start));
    }
}

constexpr int deepest_redirect = 64;
constexpr int most_terminals = 1000;

class Reader {
public:
    Reader(SourceFiles& files, Circuit& circuit) : files_(files), circuit_(circuit) {}

    void read_file(const fs::path& path, const Site& named_at, int depth)
    {
        if (depth > deepest_redirect)
            throw ImportError(named_at.text() + ": Redirect and Compile nest more than " +
                              std::to_string(deepest_redirect) + " files deep");
        std::string why;
        const std::optional<std::string> bytes = files_.read(path, why);
        if (!bytes)
            throw ImportError((named_at.file.empty() ? path.string() : named_at.text()) + ": cannot read " +
                              path.string() + ": " + why);
        ++circuit_.files;
        const fs::path folder = files_.folder_of(path);
        Site site{path.string(), 0};
        bool in_block = false;
        std::vector<Param> params;
        each_line(*bytes, [&](std::string_view line, long number) {
            site.line = number;
            LineSplitter(line, site).split(in_block, params);
            if (!params.empty())
                command(params, folder, site, depth);
        });
    }

    void finish()
    {
        // The source's bus as the circuit leaves it: New Circuit, its continuation lines (~, More)
        // and any later Edit Vsource.source all set it, as the engine reads them.
        if (const auto source = by_name_.find("vsource.source"); source != by_name_.end()) {
            const Element& element = elements_[source->second];
            circuit_.source_bus = element.buses.empty() || element.buses.front().empty() ? std::string("sourcebus")
                                                                                           : element.buses.front();
        }
        for (const Element& element : elements_)
            if (element.element_class == "loadshape")
                circuit_.loadshapes.push_back({lower(element.spelt.substr(element.spelt.find('.') + 1)), element.shape});
        std::unordered_map<std::string, int> bus_index;
        const auto index_of = [&](const std::string& bus) {
            const auto [at, added] = bus_index.try_emplace(bus, static_cast<int>(circuit_.buses.size()));
            if (added)
                circuit_.buses.push_back(bus);
            return at->second;
        };
        for (const Element& element : elements_) {
            if (element.disabled || element.open) {
                bool names_a_bus = false;
                for (const std::string& bus : element.buses)
                    names_a_bus = names_a_bus || !bus.empty();
                circuit_.left_out += names_a_bus ? 1 : 0;
                continue;
            }
            std::vector<int> joined;
            for (const std::string& bus : element.buses) {
                if (bus.empty())
                    continue;
                const int at = index_of(bus);
                bool seen = false;
                for (const int earlier : joined)
                    seen = seen || earlier == at;
                if (!seen)
                    joined.push_back(at);
            }
            const bool joins = !joined.empty();
            if (joins)
                circuit_.elements.push_back(std::move(joined));
            if (makes_or_takes_power(element.element_class))
                circuit_.power_elements.push_back(
                    {element.spelt, element.buses.empty() || element.buses.front().empty() ? -1 : index_of(element.buses.front())});
            if (is_wired(element.element_class) && joins)
                circuit_.wired.push_back(wired(element, index_of));
            if (element.element_class == "load" && !element.buses.empty() && !element.buses.front().empty())
                circuit_.loads.push_back({element.spelt, index_of(element.buses.front()), element.named.front(),
                                          element.phases.value_or(default_phases), element.kv.value_or(12.47),
                                          load_kw(element), !element.delta.empty() && element.delta.front(),
                                          element.daily, element.yearly, element.duty});
            if (element.element_class == "line" && element.length && element.metres_per_unit > 0 &&
                element.buses.size() == 2 && !element.buses[0].empty() && !element.buses[1].empty())
                circuit_.lengths.push_back(
                    {index_of(element.buses[0]), index_of(element.buses[1]), *element.length * element.metres_per_unit});
            add_spans(element, index_of);
        }
        for (const Element& element : elements_)
            add_control(element, index_of);
    }

    void mark_read(const fs::path& path) { read_.insert(lower(path.lexically_normal().string())); }

private:
    // The spans of an element in service: a line's between its two buses; a transformer's, or
    // any other element's that joins buses in series, from its first bus to each other, of 0.
    template <class IndexOf>
    void add_spans(const Element& element, const IndexOf& index_of)
    {
        const std::string& c = element.element_class;
        if (makes_or_takes_power(c) || c == "circuit" || c == "vsource" || c == "isource" || c == "capacitor" ||
            element.buses.size() < 2 || element.buses[0].empty())
            return;
        if (c == "capacitor" || c == "reactor" || c == "fault") {
            // Series only when both buses are named and differ.
            if (element.buses[1].empty() || element.buses[1] == element.buses[0])
                return;
        }
        const int from = index_of(element.buses[0]);
        for (std::size_t t = 1; t < element.buses.size(); ++t) {
            if (element.buses[t].empty() || element.buses[t] == element.buses[0])
                continue;
            Span span{from, index_of(element.buses[t]), 0, false};
            if (c == "line") {
                // OpenDSS takes a length without units in km, and a line without one as 1 long.
                const double length = element.length.value_or(1);
                span.unitless = element.metres_per_unit <= 0 && !element.switch_length;
                span.metres = length * (element.metres_per_unit <= 0 ? 1000 : element.metres_per_unit);
            }
            circuit_.spans.push_back(span);
        }
    }

    // A RegControl or CapControl in service whose transformer or capacitor is in service.
    template <class IndexOf>
    void add_control(const Element& control, const IndexOf& index_of)
    {
        const bool regulator = control.element_class == "regcontrol";
        if ((!regulator && control.element_class != "capcontrol") || control.disabled || control.controlled.empty())
            return;
        const auto found = by_name_.find((regulator ? "transformer." : "capacitor.") + lower(control.controlled));
        if (found == by_name_.end()) {
            circuit_.unmatched_controls.push_back(control.spelt + " names " + (regulator ? "Transformer." : "Capacitor.") +
                                                  control.controlled + ", which the circuit does not define");
            return;
        }
        const Element& element = elements_[found->second];
        const int winding = regulator ? control.control_winding : 1;
        if (element.disabled || element.open || winding < 1 || static_cast<std::size_t>(winding) > element.buses.size() ||
            element.buses[static_cast<std::size_t>(winding - 1)].empty())
            return;
        const std::size_t dot = control.spelt.find('.');
        Control out{control.element_class, control.spelt.substr(dot + 1), element.spelt, regulator ? winding : 0,
                    index_of(element.buses[static_cast<std::size_t>(winding - 1)])};
        if (regulator) {
            out.vreg = control.vreg.value_or(120);
            out.ptratio = control.ptratio;
            out.reversible = control.reversible;
            // The winding's voltage from neutral: a single-phase winding's kV as given, a
            // three-phase wye's line to line over root 3, a delta's line to line.
            const auto w = static_cast<std::size_t>(winding - 1);
            if (w < element.winding_kv.size() && element.winding_kv[w] && *element.winding_kv[w] > 0) {
                const bool delta = w < element.delta.size() && element.delta[w];
                const int phases = element.phases.value_or(default_phases);
                out.winding_kv = *element.winding_kv[w] / (phases > 1 && !delta ? std::sqrt(3.0) : 1.0);
            }
        }
        circuit_.controls.push_back(out);
    }

    template <class IndexOf>
    static WiredElement wired(const Element& element, const IndexOf& index_of)
    {
        const bool source = element.element_class == "circuit";
        WiredElement out{source ? std::string("Vsource.source") : element.spelt,
                         source ? std::string("vsource") : element.element_class,
                         {},
                         element.pmpp,
                         element.rated};
        out.terminals.resize(element.buses.size());
        for (std::size_t t = 0; t < element.buses.size(); ++t)
            if (!element.buses[t].empty())
                out.terminals[t] = Terminal{index_of(element.buses[t]), terminal_nodes(element, t)};
        return out;
    }

    void skip(const Site& site)
    {
        if (circuit_.skipped++ == 0)
            circuit_.first_skipped = site;
    }

    void command(const std::vector<Param>& params, const fs::path& folder, const Site& site, int depth)
    {
        folder_ = folder;
        site_ = site;
        const Param& first = params.front();
        if (!first.name.empty()) {
            // "Transformer.Reg1.wdg=2 Tap=1.05": an element's property set directly.
            const std::string name = lower(first.name);
            const std::size_t dot = name.rfind('.');
            if (dot == std::string::npos || name.find('.') == dot)
                return;  // "Set x=y" style options
            const auto found = by_name_.find(name.substr(0, dot));
            if (found == by_name_.end())
                return skip(site);
            active_ = found->second;
            Element& element = elements_[active_];
            set(element, name.substr(dot + 1), first.value);
            apply(element, params, 1);
            return;
        }
        const std::string word = lower(first.value);
        if (word == "new") {
            define(params, site);
        } else if (word == "~" || word == "more") {
            if (active_ >= elements_.size())
                return skip(site);
            apply(elements_[active_], params, 1);
        } else if (word == "edit") {
            if (params.size() < 2)
                return skip(site);
            const auto found = by_name_.find(lower(object_name(params[1])));
            if (found == by_name_.end())
                return skip(site);
            active_ = found->second;
            apply(elements_[active_], params, 2);
        } else if (word == "open" || word == "close" || word == "disable" || word == "enable") {
            // "Open Line.sw1 1": switching in script order, the last word holding.
            if (params.size() < 2)
                return skip(site);
            const auto found = by_name_.find(lower(object_name(params[1])));
            if (found == by_name_.end())
                return skip(site);
            Element& element = elements_[found->second];
            if (word == "open" || word == "close")
                element.open = word == "open";
            else
                element.disabled = word == "disable";
        } else if (word == "redirect" || word == "compile") {
            follow(params, folder, site, depth, word == "redirect" ? "Redirect" : "Compile");
        } else if (word == "set") {
            // The circuit's own control mode, which a study keeps.
            for (std::size_t i = 1; i < params.size(); ++i) {
                const std::string option = lower(params[i].name);
                if (option == "controlmode" && !params[i].value.empty())
                    circuit_.control_mode = lower(params[i].value);
                else if (option == "loadmult")
                    if (const std::optional<double> mult = real_number(params[i].value))
                        circuit_.load_mult = *mult;
            }
        } else if (word == "show" || word == "plot" || word == "visualize") {
            circuit_.displays.push_back(site);
        } else if (word == "buscoords" || word == "latlongcoords") {
            const std::string_view name = file_argument(params);
            if (name.empty())
                return skip(site);
            circuit_.coordinates = CoordinateCommand{word == "latlongcoords", folder, std::string(name), site};
        }
    }

    static std::string_view object_name(const Param& param)
    {
        return param.name.empty() || lower(param.name) == "object" ? param.value : std::string_view{};
    }

    static std::string_view file_argument(const std::vector<Param>& params)
    {
        for (std::size_t i = 1; i < params.size(); ++i)
            if (params[i].name.empty() || lower(params[i].name) == "file")
                return params[i].value;
        return {};
    }

    void define(const std::vector<Param>& params, const Site& site)
    {
        const std::string object = params.size() < 2 ? std::string() : lower(object_name(params[1]));
        const std::size_t dot = object.find('.');
        if (dot == 0 || dot == std::string::npos || dot + 1 == object.size())
            return skip(site);
        const auto [at, added] = by_name_.try_emplace(object, elements_.size());
        if (added)
            elements_.emplace_back();
        active_ = at->second;
        Element& element = elements_[active_];
        element = Element{};
        element.element_class = object.substr(0, dot);
        element.spelt = std::string(object_name(params[1]));
        if (element.element_class == "circuit") {
            // New Circuit makes the source, Vsource.source, at bus1 (sourcebus unless named).
            circuit_.name = element.spelt.substr(dot + 1);
            by_name_["vsource.source"] = active_;
        }
        apply(element, params, 2);
    }

    void apply(Element& element, const std::vector<Param>& params, std::size_t from)
    {
        const std::vector<std::string_view>& order = positional_order(element.element_class);
        for (std::size_t i = from; i < params.size(); ++i) {
            if (params[i].name.empty()) {
                if (element.next_positional < order.size())
                    set(element, std::string(order[element.next_positional]), params[i].value);
                ++element.next_positional;
                continue;
            }
            const std::string property = lower(params[i].name);
            element.next_positional = order.size();
            for (std::size_t k = 0; k < order.size(); ++k)
                if (order[k] == property)
                    element.next_positional = k + 1;
            set(element, property, params[i].value);
        }
    }

    static void set_bus(Element& element, int terminal, std::string_view named)
    {
        if (terminal < 1 || terminal > most_terminals)
            return;
        if (element.buses.size() < static_cast<std::size_t>(terminal)) {
            element.buses.resize(static_cast<std::size_t>(terminal));
            element.named.resize(static_cast<std::size_t>(terminal));
        }
        element.buses[static_cast<std::size_t>(terminal - 1)] = bus_key(named);
        element.named[static_cast<std::size_t>(terminal - 1)] = std::string(named);
    }

    static void set_delta(Element& element, std::size_t terminal, bool delta)
    {
        if (terminal >= static_cast<std::size_t>(most_terminals))
            return;
        if (element.delta.size() <= terminal)
            element.delta.resize(terminal + 1);
        element.delta[terminal] = delta;
    }

    // A line takes the phases of the code or geometry it names, when that is known by then.
    void take_phases_of(Element& element, const std::string& code_class, std::string_view code)
    {
        const auto found = by_name_.find(code_class + "." + lower(code));
        if (found == by_name_.end())
            return;
        if (elements_[found->second].phases)
            element.phases = elements_[found->second].phases;
        element.rated = element.rated || elements_[found->second].rated;
    }

    // A line's, a transformer's or their codes' property that rates them, in amps or kVA.
    static bool rates(const Element& element, const std::string& property)
    {
        const std::string& of = element.element_class;
        if (of == "line" || of == "linecode" || of == "linegeometry" || of == "wiredata" || of == "cndata" ||
            of == "tsdata")
            return property == "normamps" || property == "emergamps" || property == "ratings";
        if (of == "transformer" || of == "autotrans" || of == "xfmrcode")
            return property == "kva" || property == "kvas" || property == "normhkva" || property == "emerghkva" ||
                   property == "ratings";
        return false;
    }

    // A file a property reads, as "mult=(file=LS_PhaseA.txt)" or "csvfile=curve.csv" names it,
    // looked for as OpenDSS looks: from the folder of the script that names it.
    void note_file(const std::string& property, std::string_view value)
    {
        std::string_view name;
        if (property == "csvfile" || property == "sngfile" || property == "dblfile") {
            name = value;
        } else {
            const std::string start = lower(value.substr(0, 8));
            for (const std::string_view prefix : {"file=", "sngfile=", "dblfile="})
                if (start.rfind(prefix, 0) == 0) {
                    name = value.substr(prefix.size());
                    name = name.substr(0, name.find_first_of(", \t"));
                }
        }
        while (!name.empty() && (name.front() == '"' || name.front() == '\''))
            name.remove_prefix(1);
        while (!name.empty() && (name.back() == '"' || name.back() == '\''))
            name.remove_suffix(1);
        if (name.empty())
            return;
        const std::optional<fs::path> path = files_.find(folder_, name);
        if (!path) {
            circuit_.missing.push_back({site_, folder_ / fs::path(std::string(name))});
            return;
        }
        const std::string named = fs::path(std::string(name)).filename().string();
        if (path->filename().string() != named)
            circuit_.other_case.push_back("ln -s " + path->filename().string() + " " + (path->parent_path() / named).string());
    }

    void set(Element& element, const std::string& property, std::string_view value)
    {
        note_file(property, value);
        if (rates(element, property))
            element.rated = true;
        // A control that writes a file of its own on every step: REG_<name>.csv and the like.
        if (property == "debugtrace" && yes_or_no(value).value_or(false))
            circuit_.debug_traces.push_back(element.spelt + " at " + site_.text());
        if (property == "bus1") {
            set_bus(element, 1, value);
        } else if (property == "bus2") {
            set_bus(element, 2, value);
        } else if (property == "bus") {
            set_bus(element, element.winding, value);
        } else if (property == "wdg") {
            int winding = 0;
            const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), winding);
            if (error == std::errc() && end == value.data() + value.size())
                element.winding = winding;
        } else if (property == "phases" || property == "nphases") {
            if (const std::optional<int> phases = whole_number(value); phases && *phases >= 1 && *phases <= most_terminals)
                element.phases = *phases;
        } else if (property == "length" && element.element_class == "line") {
            double length = 0;
            const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), length);
            if (error == std::errc() && end == value.data() + value.size() && length > 0) {
                element.length = length;
                element.switch_length = false;
            }
        } else if (property == "units" && element.element_class == "line") {
            element.metres_per_unit = metres_in(value);
        } else if (property == "switch" && element.element_class == "line") {
            // A switch is a line 0.001 long, in no unit, as OpenDSS makes it.
            if (yes_or_no(value).value_or(false)) {
                element.length = 0.001;
                element.metres_per_unit = 0;
                element.switch_length = true;
            }
        } else if ((property == "transformer" && element.element_class == "regcontrol") ||
                   (property == "capacitor" && element.element_class == "capcontrol")) {
            element.controlled = std::string(value);
        } else if (property == "winding" && element.element_class == "regcontrol") {
            if (const std::optional<int> winding = whole_number(value); winding && *winding >= 1 && *winding <= most_terminals)
                element.control_winding = *winding;
        } else if (property == "linecode" && element.element_class == "line") {
            take_phases_of(element, "linecode", value);
        } else if (property == "geometry" && element.element_class == "line") {
            take_phases_of(element, "linegeometry", value);
        } else if ((property == "wire" || property == "wires" || property == "cncable" || property == "cncables" ||
                    property == "tscable" || property == "tscables") &&
                   (element.element_class == "line" || element.element_class == "linegeometry")) {
            // Conductors' data rate the line or geometry that names them.
            const std::string data = property.substr(0, 2) == "cn" ? "cndata" : property.substr(0, 2) == "ts" ? "tsdata" : "wiredata";
            for_each_word(value, [&](std::string_view wire) {
                const auto found = by_name_.find(data + "." + lower(wire));
                if (found != by_name_.end() && elements_[found->second].rated)
                    element.rated = true;
            });
        } else if (property == "xfmrcode" &&
                   (element.element_class == "transformer" || element.element_class == "autotrans")) {
            // A transformer code gives the phases and the windings' connections.
            const auto found = by_name_.find("xfmrcode." + lower(value));
            if (found != by_name_.end()) {
                const Element& code = elements_[found->second];
                if (code.phases)
                    element.phases = code.phases;
                if (!code.delta.empty())
                    element.delta = code.delta;
                if (!code.winding_kv.empty())
                    element.winding_kv = code.winding_kv;
                element.rated = element.rated || code.rated;
            }
        } else if (property == "conn") {
            const bool winding = element.element_class == "transformer" || element.element_class == "autotrans" ||
                                 element.element_class == "xfmrcode";
            set_delta(element, winding ? static_cast<std::size_t>(std::max(element.winding, 1) - 1) : 0, is_delta(value));
        } else if (property == "conns") {
            std::size_t winding = 0;
            for_each_word(value, [&](std::string_view conn) { set_delta(element, winding++, is_delta(conn)); });
        } else if (property == "buses") {
            element.buses.clear();
            element.named.clear();
            int terminal = 0;
            for_each_word(value, [&](std::string_view bus) { set_bus(element, ++terminal, bus); });
        } else if (property == "enabled") {
            if (const std::optional<bool> enabled = yes_or_no(value))
                element.disabled = !*enabled;
        } else if (element.element_class == "load" && (property == "kw" || property == "kva" || property == "pf" ||
                                                          property == "kv")) {
            const std::optional<double> number = real_number(value);
            if (!number)
                return;
            if (property == "kw") {
                element.kw = *number;
                element.kw_last = true;
            } else if (property == "kva") {
                element.kva = *number;
                element.kw_last = false;
            } else if (property == "pf") {
                element.pf = *number;
            } else {
                element.kv = *number;
            }
        } else if (element.element_class == "load" && (property == "daily" || property == "yearly" ||
                                                          property == "duty")) {
            (property == "daily" ? element.daily : property == "yearly" ? element.yearly : element.duty) =
                lower(value);
        } else if (element.element_class == "loadshape" && property != "like") {
            element.shape.push_back({property, std::string(value), folder_, site_});
        } else if (element.element_class == "regcontrol" && property == "reversible") {
            if (const std::optional<bool> yes = yes_or_no(value))
                element.reversible = *yes;
        } else if (element.element_class == "pvsystem" && property == "pmpp") {
            if (const std::optional<double> number = real_number(value); number && *number > 0)
                element.pmpp = *number;
        } else if (element.element_class == "regcontrol" && (property == "vreg" || property == "ptratio")) {
            if (const std::optional<double> number = real_number(value); number && *number > 0)
                (property == "vreg" ? element.vreg : element.ptratio) = *number;
        } else if ((element.element_class == "transformer" || element.element_class == "xfmrcode") &&
                   (property == "kv" || property == "kvs")) {
            const auto set_kv = [&](std::size_t winding, std::string_view text) {
                if (winding >= static_cast<std::size_t>(most_terminals))
                    return;
                if (element.winding_kv.size() <= winding)
                    element.winding_kv.resize(winding + 1);
                element.winding_kv[winding] = real_number(text);
            };
            if (property == "kv") {
                set_kv(static_cast<std::size_t>(std::max(element.winding, 1) - 1), value);
            } else {
                std::size_t winding = 0;
                for_each_word(value, [&](std::string_view kv) { set_kv(winding++, kv); });
            }
        } else if (property == "like") {
            const auto found = by_name_.find(element.element_class + "." + lower(value));
            if (found != by_name_.end() && &elements_[found->second] != &element) {
                const Element& like = elements_[found->second];
                element.buses = like.buses;
                element.named = like.named;
                element.phases = like.phases;
                element.delta = like.delta;
                element.length = like.length;
                element.metres_per_unit = like.metres_per_unit;
                element.switch_length = like.switch_length;
                element.controlled = like.controlled;
                element.control_winding = like.control_winding;
                element.kw = like.kw;
                element.kva = like.kva;
                element.pf = like.pf;
                element.kw_last = like.kw_last;
                element.kv = like.kv;
                element.winding_kv = like.winding_kv;
                element.vreg = like.vreg;
                element.ptratio = like.ptratio;
                element.pmpp = like.pmpp;
                element.reversible = like.reversible;
                element.rated = like.rated;
                element.daily = like.daily;
                element.yearly = like.yearly;
                element.duty = like.duty;
                element.shape = like.shape;
            }
        }
    }

    void follow(const std::vector<Param>& params, const fs::path& folder, const Site& site, int depth,
                const char* command_name)
    {
        const std::string_view name = file_argument(params);
        if (name.empty())
            throw ImportError(site.text() + ": " + command_name + " names no file");
        const std::optional<fs::path> path = files_.find(folder, name);
        if (!path)
            throw ImportError(site.text() + ": " + command_name + " names " + std::string(name) +
                              ", which is not in " + (folder.empty() ? std::string(".") : folder.string()) +
                              " (in any letter case)");
        // A name that only matches in another letter case, which engines on case-sensitive file
        // systems do not find.
        const std::string named = fs::path(std::string(name)).filename().string();
        if (path->filename().string() != named)
            circuit_.other_case.push_back("ln -s " + path->filename().string() + " " + (path->parent_path() / named).string());
        // Each file once: circuits compile the same file again to run it twice.
        if (!read_.insert(lower(path->lexically_normal().string())).second)
            return;
        const std::size_t active = active_;
        read_file(*path, site, depth + 1);
        active_ = active;
    }

    SourceFiles& files_;
    Circuit& circuit_;
    std::vector<Element> elements_;
    std::unordered_map<std::string, std::size_t> by_name_;  // "class.name" in lower case
    std::size_t active_ = static_cast<std::size_t>(-1);
    std::set<std::string> read_;
    fs::path folder_;  // of the script whose command is being read
    Site site_;
};

}  // namespace

std::string bus_key(std::string_view named)
{
    const std::size_t dot = named.find('.');
    std::string_view bus = named.substr(0, dot);
    while (!bus.empty() && is_blank(bus.front()))
        bus.remove_prefix(1);
    while (!bus.empty() && is_blank(bus.back()))
        bus.remove_suffix(1);
    return lower(bus);
}

std::vector<int> bus_nodes(std::string_view named)
{
    std::vector<int> nodes;
    std::size_t dot = named.find('.');
    while (dot != std::string_view::npos) {
        const std::size_t next = named.find('.', dot + 1);
        const std::string_view field =
            trim_blanks(named.substr(dot + 1, next == std::string_view::npos ? std::string_view::npos : next - dot - 1));
        const std::optional<int> node = whole_number(field);
        if (!node || *node < 0)
            break;
        nodes.push_back(*node);
        dot = next;
    }
    return nodes;
}

Circuit read_circuit(const fs::path& entry, SourceFiles& files)
{
    Circuit circuit;
    Reader reader(files, circuit);
    reader.mark_read(entry);
    reader.read_file(entry, Site{}, 0);
    reader.finish();
    return circuit;
}

}  // namespace umbrascope::import
