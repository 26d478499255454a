#pragma once
// The sun's course over a day at a place: where the sun stands and the irradiance a cloudless sky
// gives on level ground, row by row. The position is the Astronomical Almanac's approximate
// algorithm (Michalsky 1988, within 0.01 degrees over 1950-2050): the true position, without
// refraction. The clear sky is Haurwitz's (1945) model, or Ineichen and Perez's (2002) given a
// Linke turbidity.

#include <optional>
#include <string>
#include <vector>

namespace umbrascope::scenario {

struct Site {
    double latitude = 0;   // degrees north
    double longitude = 0;  // degrees east
    double elevation = 0;  // metres above the sea
};

struct CivilDate {
    int year = 2000;
    int month = 1;
    int day = 1;
};

// "LAT,LON" or "LAT,LON,ELEVATION". Gives nothing for text that is not one, or a place off the
// globe (latitude beyond 90, longitude beyond 180, elevation below -500 m or above 9000 m).
[[nodiscard]] std::optional<Site> site_of(const std::string& text);
// "YYYY-MM-DD", a day of the Gregorian calendar from 1900 to 2100; nothing for another text.
[[nodiscard]] std::optional<CivilDate> date_of(const std::string& text);
// "+HH:MM" or "-HH:MM", from -14:00 to +14:00, in seconds; nothing for another text.
[[nodiscard]] std::optional<double> utc_offset_of(const std::string& text);

// The Julian day of `seconds` past the midnight that begins `date` in universal time.
[[nodiscard]] double julian_day(const CivilDate& date, double seconds);

struct SunPosition {
    double zenith = 0;   // degrees from straight up, true (no refraction)
    double azimuth = 0;  // degrees from north, east positive, 0 to 360
};

[[nodiscard]] SunPosition sun_position(const Site& site, double julian);

// The irradiance of the sun above the atmosphere at the day of the year, W/m2.
[[nodiscard]] double extraterrestrial(double julian);

// The global horizontal irradiance under a cloudless sky, W/m2; 0 with the sun down.
[[nodiscard]] double haurwitz(double zenith);
// The Kasten and Young (1989) relative air mass at the zenith; infinite with the sun down.
[[nodiscard]] double air_mass(double zenith);
[[nodiscard]] double ineichen_perez(double zenith, double julian, double elevation, double linke_turbidity);

struct CourseOptions {
    Site site;
    CivilDate date;
    double utc_offset = 0;  // seconds the local clock is ahead of universal time
    double start = 0;       // the first row's local clock time, seconds after midnight
    double interval = 1;    // seconds between rows
    std::optional<double> linke_turbidity;  // Ineichen-Perez with it, Haurwitz without
};

struct CourseRow {
    double local = 0;  // seconds after the date's local midnight (past 86400 on the day after)
    SunPosition sun;
    double clear = 0;  // W/m2
};

// The course at `count` instants from the start, `interval` apart.
[[nodiscard]] std::vector<CourseRow> sun_course(const CourseOptions& options, long count);

// "Haurwitz (1945)" or "Ineichen-Perez (2002), Linke turbidity 3"
[[nodiscard]] std::string model_name(const CourseOptions& options);

// The course as its file: row,time,zenith_deg,azimuth_deg,clear_sky_w_m2, time in local clock time.
[[nodiscard]] std::string course_text(const std::vector<CourseRow>& rows);

}  // namespace umbrascope::scenario
