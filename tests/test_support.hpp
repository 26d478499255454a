#pragma once
// Runs passes against recording controls and a tracing surface in a temporary input folder.

#include <filesystem>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "run/pass_driver.hpp"
#include "core/run_state.hpp"
#include "core/trace.hpp"

namespace umbrascope::testing {

class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    void write(const std::string& name, const std::string& content) const;
    [[nodiscard]] const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// A command line as main() receives it, from words that outlive it.
class Argv {
public:
    explicit Argv(std::vector<std::string> words) : words_(std::move(words))
    {
        for (std::string& word : words_)
            pointers_.push_back(word.data());
    }
    [[nodiscard]] int count() const { return static_cast<int>(pointers_.size()); }
    [[nodiscard]] char** data() { return pointers_.data(); }

private:
    std::vector<std::string> words_;
    std::vector<char*> pointers_;
};

// The three input files of a small, valid run: two buses, one connection, `rows` sun rows.
std::string network_file(const std::string& body = "bus_coordinates\n1,A,0,0\n2,B,3,1\nbus_connections\n1,2\n");
std::string sun_file(int rows, int buses = 2);
std::string track_file(const std::string& records = "", const std::string& parameters = "x,x,x,1,0.5,1,x,0,0.5,");

struct PassRun {
    explicit PassRun(const std::filesystem::path& folder, bool large = false);

    // Runs one pass as the window's event edge would; returns the error it reported, if any.
    std::optional<PassError> pass();
    [[nodiscard]] std::vector<std::string> trace_lines() const;
    [[nodiscard]] std::vector<std::string> lines_of(const std::string& tag) const;  // trace lines with this tag
    void clear_trace() { out.str({}); }
    [[nodiscard]] const std::vector<Text>& list(ListBox box) const { return controls.list(box); }

    std::ostringstream out;
    Trace trace{&out};
    RecordingControls controls{&trace};
    TraceSurface surface{&trace, nullptr};
    InputSlot input;
    std::unique_ptr<RunState> state;
    RunState& st = *state;
    Pass world{st, input, controls, surface};
};

// A run in its own folder, with the given files.
struct Scenario {
    Scenario(const std::string& network, const std::string& sun, const std::string& track);
    TempFolder folder;
    PassRun run;
};

std::vector<std::string> split_lines(const std::string& text);
// A CSV file's rows, its fields as CSV reads them, empty lines passed over.
std::vector<std::vector<std::string>> csv_rows(const std::string& text);
// A file's bytes; empty when it cannot be read.
std::string read_file(const std::filesystem::path& path);
// The names in a folder, sorted: what a run left there.
std::vector<std::string> folder_names(const std::filesystem::path& folder);

// Switches the process to a comma-decimal locale (de_DE.UTF-8, built with localedef when the system
// lacks it) for the life of the object, and back to "C" after.
class CommaLocale {
public:
    CommaLocale();
    ~CommaLocale();
    CommaLocale(const CommaLocale&) = delete;
    CommaLocale& operator=(const CommaLocale&) = delete;
    [[nodiscard]] bool active() const { return active_; }

private:
    bool active_ = false;
};
std::vector<std::string> utf8_items(const std::vector<Text>& items);

}  // namespace umbrascope::testing

namespace umbrascope::testing {

// Runs one step on its own, as a pass would; returns the error it ended with, if any.
template <class F>
std::optional<PassError> attempt(F&& step)
{
    try {
        step();
    } catch (const PassError& error) {
        return error;
    }
    return std::nullopt;
}

}  // namespace umbrascope::testing
