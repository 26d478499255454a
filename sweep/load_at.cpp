#include "sweep/load_at.hpp"

#include <algorithm>
#include <cfenv>
#include <cmath>
#include <cstring>
#include <map>
#include <unordered_map>

#include "core/file_bytes.hpp"
#include "core/lines.hpp"
#include "core/words.hpp"
#include "scenario/sun_model.hpp"
#include "study/study.hpp"
#include "sweep/cases.hpp"

namespace umbrascope::sweep {

namespace fs = std::filesystem;
using scenario::dss_word;

namespace {

constexpr int days_before_month[] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365};

std::optional<int> two_digits(std::string_view text)
{
    if (text.size() != 2 || text[0] < '0' || text[0] > '9' || text[1] < '0' || text[1] > '9')
        return std::nullopt;
    return (text[0] - '0') * 10 + (text[1] - '0');
}

// The numbers of a list as the engine takes them: separated by blanks or commas.
std::vector<double> numbers_in(std::string_view text, const std::string& what)
{
    std::vector<double> out;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t start = text.find_first_not_of(" \t,\r\n", at);
        if (start == std::string_view::npos)
            break;
        const std::size_t end = std::min(text.find_first_of(" \t,\r\n", start), text.size());
        const std::optional<double> value = number_of(text.substr(start, end - start));
        if (!value)
            throw SweepError(what + ": '" + std::string(text.substr(start, end - start)) + "' is not a number");
        out.push_back(*value);
        at = end;
    }
    return out;
}

// A property's values: inline, or from the file it names, as "file=name.txt col=2 header=yes",
// "sngfile=name.sng" or "dblfile=name.dbl".
std::vector<double> values_of(const import::ShapeProperty& property, const std::string& shape)
{
    const std::string what = "Loadshape." + shape + " " + property.name + "= (" + property.site.text() + ")";
    const std::string low = lower(property.value);
    std::string kind;
    for (const char* prefix : {"file=", "sngfile=", "dblfile="})
        if (low.rfind(prefix, 0) == 0)
            kind = prefix;
    if (kind.empty())
        return numbers_in(property.value, what);
    // "file=name col=2 header=yes", the options after the name.
    std::string_view rest = std::string_view(property.value).substr(kind.size());
    std::size_t end = rest.find_first_of(" \t,");
    std::string name(rest.substr(0, end));
    while (!name.empty() && (name.front() == '"' || name.front() == '\''))
        name.erase(name.begin());
    while (!name.empty() && (name.back() == '"' || name.back() == '\''))
        name.pop_back();
    for (char& c : name)
        if (c == '\\')
            c = '/';
    int column = 1;
    bool header = false;
    while (end != std::string_view::npos && end < rest.size()) {
        const std::size_t start = rest.find_first_not_of(" \t,", end);
        if (start == std::string_view::npos)
            break;
        end = rest.find_first_of(" \t,", start);
        const std::string option = lower(rest.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (option.rfind("col=", 0) == 0 || option.rfind("column=", 0) == 0) {
            const std::optional<double> n = number_of(option.substr(option.find('=') + 1));
            if (!n || *n < 1 || *n != std::floor(*n)) {
                std::string text = what;
                text += ": '" + option + "' is not a column from 1";
                throw SweepError(text);
            }
            column = static_cast<int>(*n);
        } else if (option.rfind("header=", 0) == 0) {
            header = option.substr(7) == "yes" || option.substr(7) == "true";
        } else {
            std::string text = what;
            text += ": the option '" + option + "' is not one the sweep reads (col=, header=)";
            throw SweepError(text);
        }
    }
    fs::path path = fs::path(name).is_absolute() ? fs::path(name) : property.folder / name;
    std::string bytes, why;
    if (!file_bytes(path, bytes, why))
        throw SweepError(what + ": cannot read " + path.string() + ": " + why);
    std::vector<double> out;
    if (kind != "file=") {
        const std::size_t size = kind == "sngfile=" ? sizeof(float) : sizeof(double);
        for (std::size_t at = 0; at + size <= bytes.size(); at += size) {
            if (size == sizeof(float)) {
                float value = 0;
                std::memcpy(&value, bytes.data() + at, size);
                out.push_back(value);
            } else {
                double value = 0;
                std::memcpy(&value, bytes.data() + at, size);
                out.push_back(value);
            }
        }
        return out;
    }
    each_line(bytes, [&](std::string_view line, long number) {
        if ((header && number == 1) || trim_blanks(line).empty())
            return;
        int field = 0;
        std::size_t at = 0;
        while (at <= line.size()) {
            const std::size_t start = line.find_first_not_of(" \t", at);
            if (start == std::string_view::npos)
                break;
            std::size_t stop = line.find_first_of(",\t ", start);
            if (stop == std::string_view::npos)
                stop = line.size();
            if (++field == column) {
                const std::optional<double> value = number_of(line.substr(start, stop - start));
                if (!value)
                    throw SweepError(what + ": " + path.string() + ":" + std::to_string(number) + ": '" +
                                     std::string(line.substr(start, stop - start)) + "' is not a number");
                out.push_back(*value);
                return;
            }
            at = line.find_first_not_of(" \t", stop);
            if (at != std::string_view::npos && line[at] == ',')
                ++at;
            if (at == std::string_view::npos)
                break;
        }
        throw SweepError(what + ": " + path.string() + ":" + std::to_string(number) + " has no column " +
                         std::to_string(column));
    });
    return out;
}

double rounded_half_even(double value)
{
    const int mode = std::fegetround();
    std::fesetround(FE_TONEAREST);
    const double out = std::nearbyint(value);
    std::fesetround(mode);
    return out;
}

}  // namespace

LoadTime load_time(const std::string& text)
{
    LoadTime out;
    out.text = text;
    std::string_view clock = text;
    const std::string form = "--load-at takes HH:MM, or MM-DD HH:MM for yearly shapes, not '" + text + "'";
    if (const std::size_t space = clock.find(' '); space != std::string_view::npos) {
        const std::string_view date = clock.substr(0, space);
        clock = trim_blanks(clock.substr(space + 1));
        const std::optional<int> month = date.size() == 5 && date[2] == '-' ? two_digits(date.substr(0, 2)) : std::nullopt;
        const std::optional<int> day = date.size() == 5 ? two_digits(date.substr(3, 2)) : std::nullopt;
        if (!month || !day || *month < 1 || *month > 12 || *day < 1 ||
            *day > days_before_month[*month] - days_before_month[*month - 1])
            throw SweepError(form);
        out.day = days_before_month[*month - 1] + *day;
    }
    const std::optional<int> hours = clock.size() == 5 && clock[2] == ':' ? two_digits(clock.substr(0, 2)) : std::nullopt;
    const std::optional<int> minutes = clock.size() == 5 ? two_digits(clock.substr(3, 2)) : std::nullopt;
    if (!hours || !minutes || *minutes > 59 || *hours > 24 || (*hours == 24 && *minutes > 0))
        throw SweepError(form);
    out.hour = *hours + *minutes / 60.0;
    return out;
}

Shape read_shape(const import::LoadshapeDefinition& definition)
{
    Shape shape;
    std::optional<std::size_t> points;
    for (const import::ShapeProperty& property : definition.properties) {
        const std::string what = "Loadshape." + definition.name + " " + property.name + "= (" + property.site.text() + ")";
        const auto number = [&] {
            const std::optional<double> value = number_of(trim_blanks(property.value));
            if (!value || !std::isfinite(*value))
                throw SweepError(what + ": '" + property.value + "' is not a number");
            return *value;
        };
        const std::string& name = property.name;
        if (name == "npts") {
            const double n = number();
            if (n < 1 || n != std::floor(n))
                throw SweepError(what + ": '" + property.value + "' is not a number of points from 1");
            points = static_cast<std::size_t>(n);
        } else if (name == "interval") {
            shape.interval = number();
        } else if (name == "sinterval") {
            shape.interval = number() / 3600;
        } else if (name == "minterval") {
            shape.interval = number() / 60;
        } else if (name == "mult" || name == "pmult") {
            shape.mult = values_of(property, definition.name);
        } else if (name == "qmult") {
            shape.qmult = values_of(property, definition.name);
        } else if (name == "hour") {
            shape.hours = values_of(property, definition.name);
        } else if (name == "action") {
            const std::string action = lower(trim_blanks(property.value));
            if (action == "normalize") {
                double most = 0;
                for (const double value : shape.mult)
                    most = std::max(most, std::fabs(value));
                if (most > 0)
                    for (double& value : shape.mult)
                        value /= most;
            } else if (action != "dosavetofile" && action != "savetofile") {
                throw SweepError(what + ": the action '" + property.value + "' is not one the sweep follows (normalize)");
            }
        } else if (name == "useactual") {
            if (lower(trim_blanks(property.value)) == "yes" || lower(trim_blanks(property.value)) == "true")
                throw SweepError(what + ": a shape of actual kW (useactual=yes) is not a multiplier the sweep can hold "
                                        "loads at");
        } else if (name == "mean" || name == "stddev" || name == "csvfile" || name == "sngfile" || name == "dblfile" ||
                   name == "pqcsvfile" || name == "interpolation" || name == "memorymapping") {
            std::string text = what;
            text += ": the sweep reads a shape's points from mult= (inline, or (file=...), (sngfile=...) or "
                    "(dblfile=...)), not from " + name + "=";
            throw SweepError(text);
        }
    }
    const std::string named = "Loadshape." + definition.name +
                              (definition.properties.empty() ? std::string()
                                                             : " (" + definition.properties.front().site.text() + ")");
    if (shape.mult.empty())
        throw SweepError(named + " gives no mult= the sweep can read");
    std::size_t n = points.value_or(shape.mult.size());
    n = std::min(n, shape.mult.size());
    shape.mult.resize(n);
    if (!shape.qmult.empty())
        shape.qmult.resize(std::min(n, shape.qmult.size()));
    if (shape.interval <= 0 || !shape.hours.empty()) {
        if (shape.hours.size() < n)
            throw SweepError(named + " gives " + std::to_string(shape.hours.size()) + " hours for its " +
                             std::to_string(n) + " points, and no interval");
        shape.hours.resize(n);
        shape.interval = 0;
    }
    return shape;
}

double shape_value(const std::vector<double>& values, const Shape& shape, double hour)
{
    const std::size_t n = values.size();
    if (n == 0)
        return 1;
    if (shape.hours.empty()) {
        // Point k (from 1) at k x interval; the time's nearest point, wrapping round.
        auto index = static_cast<long long>(rounded_half_even(hour / shape.interval));
        if (index > static_cast<long long>(n))
            index %= static_cast<long long>(n);
        if (index <= 0)
            index = static_cast<long long>(n);
        return values[static_cast<std::size_t>(index - 1)];
    }
    // Given hours: past the last, from the start again; between two, the line between them.
    const double last = shape.hours.back();
    if (last > 0 && hour > last)
        hour -= std::floor(hour / last) * last;
    if (hour <= shape.hours.front())
        return values.front();
    for (std::size_t k = 1; k < n; ++k)
        if (hour <= shape.hours[k]) {
            const double span = shape.hours[k] - shape.hours[k - 1];
            return span > 0 ? values[k - 1] + (values[k] - values[k - 1]) * (hour - shape.hours[k - 1]) / span : values[k];
        }
    return values.back();
}

LoadsHeld hold_loads_at(const import::Circuit& circuit, const std::string& when, double interval_s)
{
    const LoadTime time = load_time(when);
    std::unordered_map<std::string, const import::LoadshapeDefinition*> defined;
    for (const import::LoadshapeDefinition& definition : circuit.loadshapes)
        defined[definition.name] = &definition;
    std::unordered_map<std::string, Shape> shapes;
    const auto shape_of = [&](const std::string& name, const import::LoadSite& load) -> const Shape& {
        if (const auto found = shapes.find(name); found != shapes.end())
            return found->second;
        const auto definition = defined.find(name);
        if (definition == defined.end())
            throw SweepError(load.name + " follows the loadshape " + name + ", which the circuit does not define");
        return shapes.emplace(name, read_shape(*definition->second)).first->second;
    };
    // One loadshape a value, each of one point; a load follows it as its duty shape.
    std::map<std::pair<double, double>, std::string> held;
    std::string edits;
    int daily = 0, yearly = 0, duty = 0, base = 0;
    double least = HUGE_VAL, most = -HUGE_VAL;
    std::vector<std::string> undated;
    for (const import::LoadSite& load : circuit.loads) {
        double hour = time.hour;
        std::string name = load.daily;
        if (name.empty() && !load.yearly.empty()) {
            if (!time.day) {
                undated.push_back(load.name);
                continue;
            }
            name = load.yearly;
            hour += (*time.day - 1) * 24.0;
        }
        if (name.empty()) {
            (load.duty.empty() ? base : duty) += 1;
            continue;
        }
        (name == load.daily ? daily : yearly) += 1;
        const Shape& shape = shape_of(name, load);
        const double p = std::round(shape_value(shape.mult, shape, hour) * 1e6) / 1e6;
        const double q = shape.qmult.empty() ? p : std::round(shape_value(shape.qmult, shape, hour) * 1e6) / 1e6;
        least = std::min(least, p);
        most = std::max(most, p);
        auto [at, added] = held.try_emplace({p, q}, "sweep_load_at_" + std::to_string(held.size() + 1));
        edits += "Edit " + dss_word(load.name) + " duty=" + at->second + "\n";
    }
    if (!undated.empty())
        throw SweepError(study::first_names(undated) + (undated.size() == 1 ? " follows" : " follow") +
                         " a yearly shape and no daily one: give the day, --load-at MM-DD " + when);
    LoadsHeld out;
    out.lines = "! Every load held at its daily (else yearly) shape's value at " + when +
                " (--load-at): a shape of one point each value.\n";
    for (const auto& [value, name] : held) {
        out.lines += "New Loadshape." + name + " npts=1 sinterval=" + decimal_text(interval_s, 6) + " mult=[" +
                     decimal_text(value.first, 6) + "]";
        if (value.second != value.first)
            out.lines += " qmult=[" + decimal_text(value.second, 6) + "]";
        out.lines += "\n";
    }
    out.lines += edits;
    out.said = "Loads held at " + when + ": ";
    std::vector<std::string> parts;
    if (daily > 0)
        parts.push_back(std::to_string(daily) + " at their daily shape's value");
    if (yearly > 0)
        parts.push_back(std::to_string(yearly) + " at their yearly shape's on day " + std::to_string(*time.day));
    if (daily + yearly > 0)
        parts.back() += " (" + decimal_text(least, 3) + (most > least ? " to " + decimal_text(most, 3) : std::string()) +
                        " of their base kW)";
    if (duty > 0)
        parts.push_back(std::to_string(duty) + " following their duty shape only, as before");
    if (base > 0)
        parts.push_back(std::to_string(base) + " with no shape, at their base kW");
    for (std::size_t k = 0; k < parts.size(); ++k)
        out.said += (k == 0 ? "" : k + 1 == parts.size() ? " and " : ", ") + parts[k];
    return out;
}

}  // namespace umbrascope::sweep
