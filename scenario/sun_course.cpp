#include "scenario/sun_course.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <numbers>

#include "core/clock.hpp"
#include "core/words.hpp"

namespace umbrascope::scenario {

namespace {

constexpr double degree = std::numbers::pi / 180;
constexpr double solar_constant = 1367;  // W/m2 at one astronomical unit

double turn(double degrees)
{
    const double d = std::fmod(degrees, 360);
    return d < 0 ? d + 360 : d;
}

std::vector<std::string> parts(const std::string& text, char separator)
{
    std::vector<std::string> out(1);
    for (const char c : text) {
        if (c == separator)
            out.emplace_back();
        else
            out.back() += c;
    }
    return out;
}

std::optional<int> digits(const std::string& text, std::size_t count)
{
    if (text.size() != count)
        return std::nullopt;
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

// The mean anomaly of the sun, degrees, `n` days after J2000.0.
double mean_anomaly(double n) { return turn(357.528 + 0.9856003 * n); }

}  // namespace

std::optional<Site> site_of(const std::string& text)
{
    const std::vector<std::string> fields = parts(text, ',');
    if (fields.size() < 2 || fields.size() > 3)
        return std::nullopt;
    std::vector<double> values;
    for (const std::string& field : fields) {
        const std::optional<double> value = number_of(field);
        if (!value)
            return std::nullopt;
        values.push_back(*value);
    }
    Site site{values[0], values[1], values.size() > 2 ? values[2] : 0.0};
    if (std::fabs(site.latitude) > 90 || std::fabs(site.longitude) > 180 || site.elevation < -500 || site.elevation > 9000)
        return std::nullopt;
    return site;
}

std::optional<CivilDate> date_of(const std::string& text)
{
    const std::vector<std::string> fields = parts(text, '-');
    if (fields.size() != 3)
        return std::nullopt;
    const std::optional<int> year = digits(fields[0], 4), month = digits(fields[1], 2), day = digits(fields[2], 2);
    if (!year || !month || !day || *year < 1900 || *year > 2100 || *month < 1 || *month > 12 || *day < 1)
        return std::nullopt;
    const bool leap = (*year % 4 == 0 && *year % 100 != 0) || *year % 400 == 0;
    constexpr int lengths[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (*day > lengths[*month - 1] + (*month == 2 && leap ? 1 : 0))
        return std::nullopt;
    return CivilDate{*year, *month, *day};
}

std::optional<double> utc_offset_of(const std::string& text)
{
    if (text.size() != 6 || (text[0] != '+' && text[0] != '-') || text[3] != ':')
        return std::nullopt;
    const std::optional<int> hours = digits(text.substr(1, 2), 2), minutes = digits(text.substr(4, 2), 2);
    if (!hours || !minutes || *minutes > 59 || *hours * 60 + *minutes > 14 * 60)
        return std::nullopt;
    return (text[0] == '-' ? -1 : 1) * (*hours * 3600.0 + *minutes * 60.0);
}

double julian_day(const CivilDate& date, double seconds)
{
    // Meeus, Astronomical Algorithms, chapter 7, for the Gregorian calendar.
    int year = date.year, month = date.month;
    if (month <= 2) {
        year -= 1;
        month += 12;
    }
    const int century = year / 100;
    const int gregorian = 2 - century + century / 4;
    return std::floor(365.25 * (year + 4716)) + std::floor(30.6001 * (month + 1)) + date.day + gregorian - 1524.5 +
           seconds / 86400;
}

SunPosition sun_position(const Site& site, double julian)
{
    // Michalsky (1988), Solar Energy 40(3) 227-235, with the azimuth taken by its quadrant.
    const double n = julian - 2451545.0;
    const double hours = std::fmod(julian - 0.5, 1.0) * 24;  // universal time
    const double mean_longitude = turn(280.460 + 0.9856474 * n);
    const double g = mean_anomaly(n) * degree;
    const double longitude = turn(mean_longitude + 1.915 * std::sin(g) + 0.020 * std::sin(2 * g)) * degree;
    const double obliquity = (23.439 - 0.0000004 * n) * degree;
    const double right_ascension = std::atan2(std::cos(obliquity) * std::sin(longitude), std::cos(longitude));
    const double declination = std::asin(std::sin(obliquity) * std::sin(longitude));
    const double sidereal = std::fmod(6.697375 + 0.0657098242 * n + hours, 24.0);  // Greenwich mean, hours
    double hour_angle = turn(sidereal * 15 + site.longitude - right_ascension / degree);
    if (hour_angle > 180)
        hour_angle -= 360;
    const double h = hour_angle * degree;
    const double latitude = site.latitude * degree;
    const double cos_zenith =
        std::sin(declination) * std::sin(latitude) + std::cos(declination) * std::cos(latitude) * std::cos(h);
    const double azimuth = std::atan2(-std::cos(declination) * std::sin(h),
                                      std::sin(declination) * std::cos(latitude) -
                                          std::cos(declination) * std::sin(latitude) * std::cos(h));
    return {std::acos(std::clamp(cos_zenith, -1.0, 1.0)) / degree, turn(azimuth / degree)};
}

double extraterrestrial(double julian)
{
    // The Astronomical Almanac's distance of the sun, in astronomical units.
    const double g = mean_anomaly(julian - 2451545.0) * degree;
    const double distance = 1.00014 - 0.01671 * std::cos(g) - 0.00014 * std::cos(2 * g);
    return solar_constant / (distance * distance);
}

double haurwitz(double zenith)
{
    const double c = std::cos(zenith * degree);
    return c > 0 ? 1098 * c * std::exp(-0.059 / c) : 0;
}

double air_mass(double zenith)
{
    if (zenith >= 90)
        return HUGE_VAL;
    return 1 / (std::cos(zenith * degree) + 0.50572 * std::pow(96.07995 - zenith, -1.6364));
}

double ineichen_perez(double zenith, double julian, double elevation, double linke_turbidity)
{
    const double c = std::cos(zenith * degree);
    if (c <= 0)
        return 0;
    // The standard atmosphere's pressure at the elevation, for the absolute air mass.
    const double pressure = 100 * std::pow((44331.514 - elevation) / 11880.516, 1 / 0.1902632);
    const double absolute = air_mass(zenith) * pressure / 101325;
    const double fh1 = std::exp(-elevation / 8000), fh2 = std::exp(-elevation / 1250);
    const double cg1 = 5.09e-5 * elevation + 0.868, cg2 = 3.92e-5 * elevation + 0.0387;
    return cg1 * extraterrestrial(julian) * c * std::exp(-cg2 * absolute * (fh1 + fh2 * (linke_turbidity - 1)));
}

std::vector<CourseRow> sun_course(const CourseOptions& options, long count)
{
    std::vector<CourseRow> rows;
    rows.reserve(static_cast<std::size_t>(std::max(0L, count)));
    for (long k = 0; k < count; ++k) {
        CourseRow row;
        row.local = options.start + static_cast<double>(k) * options.interval;
        const double julian = julian_day(options.date, row.local - options.utc_offset);
        row.sun = sun_position(options.site, julian);
        row.clear = options.linke_turbidity
                        ? ineichen_perez(row.sun.zenith, julian, options.site.elevation, *options.linke_turbidity)
                        : haurwitz(row.sun.zenith);
        rows.push_back(row);
    }
    return rows;
}

std::string model_name(const CourseOptions& options)
{
    return options.linke_turbidity ? "Ineichen-Perez (2002), Linke turbidity " + decimal_text(*options.linke_turbidity, 2)
                                   : std::string("Haurwitz (1945)");
}

std::string course_text(const std::vector<CourseRow>& rows)
{
    std::string out = "row,time,zenith_deg,azimuth_deg,clear_sky_w_m2\n";
    out.reserve(rows.size() * 40 + out.size());
    char line[96];
    for (std::size_t k = 0; k < rows.size(); ++k) {
        const int length = std::snprintf(line, sizeof line, "%zu,%s,%.4f,%.4f,%.2f\n", k + 1,
                                         clock_text(rows[k].local).c_str(), rows[k].sun.zenith, rows[k].sun.azimuth,
                                         rows[k].clear);
        out.append(line, static_cast<std::size_t>(length));
    }
    return out;
}

}  // namespace umbrascope::scenario
