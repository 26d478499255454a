// The sun's course: its position against an independent astronomy library, and the clear-sky
// models against their published formulas.

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <numbers>
#include <sstream>
#include <string>

#include "scenario/sun_course.hpp"

namespace umbrascope::scenario {
namespace {

constexpr double degree = std::numbers::pi / 180;

// The angle between two directions of the sky, degrees.
double apart(double zenith1, double azimuth1, double zenith2, double azimuth2)
{
    const auto unit = [](double zenith, double azimuth) {
        return std::array{std::sin(zenith * degree) * std::sin(azimuth * degree),
                          std::sin(zenith * degree) * std::cos(azimuth * degree), std::cos(zenith * degree)};
    };
    const auto a = unit(zenith1, azimuth1), b = unit(zenith2, azimuth2);
    return std::acos(std::clamp(a[0] * b[0] + a[1] * b[1] + a[2] * b[2], -1.0, 1.0)) / degree;
}

TEST(SunCourse, PositionWithinFiveHundredthsOfADegreeOfPyEphemFrom1950To2050)
{
    std::ifstream in(std::string(UMBRASCOPE_SOURCE_DIR) + "/tests/data/sun/sun_positions.csv");
    ASSERT_TRUE(in) << "the reference positions are missing";
    std::string line;
    std::getline(in, line);
    int checked = 0;
    double worst_zenith = 0, worst_apart = 0;
    while (std::getline(in, line)) {
        std::replace(line.begin(), line.end(), ',', ' ');
        std::istringstream fields(line);
        Site site;
        std::string date_text;
        double seconds = 0, zenith = 0, azimuth = 0;
        fields >> site.latitude >> site.longitude >> site.elevation >> date_text >> seconds >> zenith >> azimuth;
        const std::optional<CivilDate> date = date_of(date_text);
        ASSERT_TRUE(date) << date_text;
        const SunPosition sun = sun_position(site, julian_day(*date, seconds));
        worst_zenith = std::max(worst_zenith, std::fabs(sun.zenith - zenith));
        worst_apart = std::max(worst_apart, apart(sun.zenith, sun.azimuth, zenith, azimuth));
        EXPECT_NEAR(sun.zenith, zenith, 0.05) << line;
        EXPECT_LT(apart(sun.zenith, sun.azimuth, zenith, azimuth), 0.05) << line;
        ++checked;
    }
    EXPECT_EQ(checked, 300);
    std::printf("largest difference from PyEphem: zenith %.4f deg, direction %.4f deg\n", worst_zenith, worst_apart);
}

TEST(SunCourse, JulianDaysOfKnownDates)
{
    EXPECT_DOUBLE_EQ(julian_day({2000, 1, 1}, 43200), 2451545.0);  // J2000.0
    EXPECT_DOUBLE_EQ(julian_day({1957, 10, 4}, 0), 2436115.5);     // Meeus, example 7.a
    EXPECT_DOUBLE_EQ(julian_day({2026, 6, 21}, 0), 2461212.5);
    EXPECT_DOUBLE_EQ(julian_day({2024, 3, 1}, 0) - julian_day({2024, 2, 28}, 0), 2);  // a leap year
    EXPECT_DOUBLE_EQ(julian_day({2100, 3, 1}, 0) - julian_day({2100, 2, 28}, 0), 1);  // not one
}

TEST(SunCourse, ClearSkiesAsTheirPublishedFormulasGive)
{
    // Values worked from the formulas as published, apart from this code: Haurwitz (1945) 1098 cos z
    // exp(-0.059 / cos z); Kasten and Young (1989); Ineichen and Perez (2002) with the standard
    // atmosphere's pressure and the Almanac's distance of the sun.
    struct Haurwitz {
        double zenith, ghi, air_mass;
    };
    for (const Haurwitz c : {Haurwitz{0, 1035.0920, 0.99971}, {30, 888.2713, 1.15399}, {60, 487.8941, 1.99429},
                             {85, 48.6299, 10.30579}, {89.5, 0.0111, 31.34903}}) {
        EXPECT_NEAR(haurwitz(c.zenith), c.ghi, 1e-3) << c.zenith;
        EXPECT_NEAR(air_mass(c.zenith), c.air_mass, 1e-4) << c.zenith;
    }
    struct Ineichen {
        double zenith, elevation, turbidity;
        CivilDate date;
        double ghi, extra;
    };
    for (const Ineichen c : {Ineichen{0, 0, 3, {2026, 6, 21}, 1023.0083, 1323.630},
                             {30, 1609, 2.5, {2026, 1, 3}, 1032.4669, 1413.856},
                             {60, 0, 5, {2026, 7, 4}, 390.1875, 1322.440},
                             {75, 500, 3, {2026, 12, 8}, 202.0865, 1408.800}}) {
        const double julian = julian_day(c.date, 43200);
        EXPECT_NEAR(extraterrestrial(julian), c.extra, 1e-2);
        EXPECT_NEAR(ineichen_perez(c.zenith, julian, c.elevation, c.turbidity), c.ghi, 1e-2) << c.zenith;
    }
    for (const double down : {90.0, 90.01, 120.0, 180.0}) {
        EXPECT_EQ(haurwitz(down), 0);
        EXPECT_EQ(ineichen_perez(down, 2461212.5, 0, 3), 0);
    }
    // A hazier sky lets less through; a higher site more.
    EXPECT_GT(ineichen_perez(40, 2461212.5, 0, 2), ineichen_perez(40, 2461212.5, 0, 4));
    EXPECT_GT(ineichen_perez(40, 2461212.5, 2000, 3), ineichen_perez(40, 2461212.5, 0, 3));
}

TEST(SunCourse, ADayRowByRowInLocalClockTime)
{
    CourseOptions options;
    options.site = {39.7392, -104.9903, 1609};  // Denver
    options.date = {2026, 6, 21};
    options.utc_offset = -6 * 3600;
    options.start = 0;
    options.interval = 60;
    const std::vector<CourseRow> day = sun_course(options, 24 * 60);
    ASSERT_EQ(day.size(), 1440U);
    // Noon by the sun near 13:00 of daylight time there; the zenith then is the latitude less the
    // solstice's declination.
    const auto highest = std::min_element(day.begin(), day.end(),
                                          [](const CourseRow& a, const CourseRow& b) { return a.sun.zenith < b.sun.zenith; });
    EXPECT_NEAR(highest->local / 3600, 13.0, 0.1);
    EXPECT_NEAR(highest->sun.zenith, 39.7392 - 23.44, 0.05);
    EXPECT_NEAR(highest->sun.azimuth, 180, 1.5);
    EXPECT_EQ(day.front().clear, 0);  // midnight
    EXPECT_GT(highest->clear, 900);
    const std::string text = course_text(day);
    EXPECT_EQ(text.substr(0, text.find('\n')), "row,time,zenith_deg,azimuth_deg,clear_sky_w_m2");
    EXPECT_NE(text.find("\n781,13:00:00,"), std::string::npos);
    // Past midnight the clock goes round and the date on.
    options.start = 23 * 3600;
    const std::vector<CourseRow> night = sun_course(options, 3);
    EXPECT_EQ(course_text(night).substr(course_text(night).rfind("3,") , 10), "3,23:02:00");
    // A polar night: the sun never rises at Tromsø at the winter solstice.
    options.site = {69.6492, 18.9553, 0};
    options.date = {2026, 12, 21};
    options.utc_offset = 3600;
    options.start = 0;
    for (const CourseRow& row : sun_course(options, 1440))
        EXPECT_EQ(row.clear, 0);
}

TEST(SunCourse, SitesDatesAndOffsetsAsGivenOrRefused)
{
    EXPECT_TRUE(site_of("39.7,-105"));
    EXPECT_EQ(site_of("39.7,-105,1609")->elevation, 1609);
    EXPECT_EQ(site_of("-90,180")->latitude, -90);
    for (const char* bad : {"91,0", "0,180.5", "-90.1,0", "39.7", "39.7,-105,1609,2", "a,b", "39.7,-105,10000", ""})
        EXPECT_FALSE(site_of(bad)) << bad;
    EXPECT_TRUE(date_of("2024-02-29"));
    for (const char* bad : {"2026-02-29", "2026-13-01", "2026-04-31", "2026-4-1", "26-04-01", "2026/04/01", "1899-12-31", ""})
        EXPECT_FALSE(date_of(bad)) << bad;
    EXPECT_EQ(*utc_offset_of("-06:00"), -21600);
    EXPECT_EQ(*utc_offset_of("+05:30"), 19800);
    EXPECT_EQ(*utc_offset_of("+14:00"), 50400);
    for (const char* bad : {"+14:30", "6:00", "+6:00", "+06:60", "-06", ""})
        EXPECT_FALSE(utc_offset_of(bad)) << bad;
}

}  // namespace
}  // namespace umbrascope::scenario
