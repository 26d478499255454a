#include "test_support.hpp"

#include <algorithm>
#include <atomic>
#include <clocale>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <unistd.h>

#include "core/csv.hpp"
#include "core/lines.hpp"

namespace umbrascope::testing {

TempFolder::TempFolder()
{
    static std::atomic<int> counter{0};
    path_ = std::filesystem::temp_directory_path() /
            ("umbrascope-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    std::filesystem::create_directories(path_);
}

TempFolder::~TempFolder()
{
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void TempFolder::write(const std::string& name, const std::string& content) const
{
    std::ofstream(path_ / name, std::ios::binary) << content;
}

std::string network_file(const std::string& body) { return body; }

std::string sun_file(int rows, int buses)
{
    std::string text = "h1\nh2\nh3\nh4\nh5\nh6\n";
    for (int r = 1; r <= rows; ++r) {
        text += std::to_string(r * 10);
        for (int b = 1; b <= buses; ++b)
            text += ",0.5";
        text += '\n';
    }
    return text;
}

std::string track_file(const std::string& records, const std::string& parameters)
{
    return "t1\nt2\nt3\n" + parameters + "\n" + records;
}

PassRun::PassRun(const std::filesystem::path& folder, bool large)
    : input(folder), state(std::make_unique<RunState>(large))
{
}

std::optional<PassError> PassRun::pass()
{
    try {
        run_pass(world);
    } catch (const PassError& error) {
        trace.error(error);
        return error;
    }
    return std::nullopt;
}

std::string read_file(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> folder_names(const std::filesystem::path& folder)
{
    std::vector<std::string> names;
    std::error_code error;
    for (const std::filesystem::directory_entry& entry : std::filesystem::directory_iterator(folder, error))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::vector<std::string>> csv_rows(const std::string& text)
{
    std::vector<std::vector<std::string>> rows;
    each_line(text, [&](std::string_view line, long) {
        if (!line.empty())
            rows.push_back(csv_fields(line).value());
    });
    return rows;
}

std::vector<std::string> split_lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::string line;
    std::istringstream in(text);
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

std::vector<std::string> PassRun::trace_lines() const { return split_lines(out.str()); }

std::vector<std::string> PassRun::lines_of(const std::string& tag) const
{
    std::vector<std::string> lines;
    for (const std::string& line : trace_lines())
        if (line.rfind(tag + "\t", 0) == 0)
            lines.push_back(line);
    return lines;
}

Scenario::Scenario(const std::string& network, const std::string& sun, const std::string& track) : run(folder.path())
{
    folder.write(std::string(network_file_name), network);
    folder.write(std::string(sun_table_file_name), sun);
    folder.write(std::string(track_file_name), track);
}

std::vector<std::string> utf8_items(const std::vector<Text>& items)
{
    std::vector<std::string> out;
    out.reserve(items.size());
    for (const Text& item : items)
        out.push_back(encode_utf8(item));
    return out;
}

}  // namespace umbrascope::testing

namespace umbrascope::testing {

namespace {
constexpr const char* comma_locale_name = "de_DE.UTF-8";

// The locale's files, made once per process in a temporary folder that LOCPATH then names.
bool make_comma_locale()
{
    static TempFolder folder;
    const std::filesystem::path target = folder.path() / comma_locale_name;
    const std::string command = "localedef -i de_DE -f UTF-8 '" + target.string() + "' >/dev/null 2>&1";
    (void)std::system(command.c_str());  // warnings give a non-zero status with usable files
    if (!std::filesystem::exists(target / "LC_NUMERIC"))
        return false;
    ::setenv("LOCPATH", folder.path().c_str(), 1);
    return true;
}
}  // namespace

CommaLocale::CommaLocale()
{
    active_ = std::setlocale(LC_ALL, comma_locale_name) != nullptr;
    if (!active_) {
        static const bool made = make_comma_locale();
        active_ = made && std::setlocale(LC_ALL, comma_locale_name) != nullptr;
    }
    if (active_ && std::localeconv()->decimal_point[0] != ',')
        active_ = false;
}

CommaLocale::~CommaLocale() { std::setlocale(LC_ALL, "C"); }

}  // namespace umbrascope::testing
