#pragma once
// umbrascope-export's command: its options, and a whole run written as they ask, with the
// messages, progress and exit status the program gives. Toolkit-free: the program's main makes
// the application object that text in frames needs.

#include <filesystem>
#include <optional>
#include <string>

#include "output/frame_picture.hpp"

namespace umbrascope {

struct ExportOptions {
    std::filesystem::path input = ".";
    std::filesystem::path output = "frames";
    bool png = true;
    bool svg = false;
    bool format_given = false;
    std::optional<std::filesystem::path> animation;
    int fps = 10;
    FrameOptions frame;
    int passes = 32767;
    int first_row = 1;  // --rows A:B writes the frames of passes A to B
    bool rows_given = false;  // of a sky longer than a run, --rows A:B runs that part of it
    bool keep_going = false;
    bool large = false;
    std::optional<std::string> trace;
    // --colour-by hosting: the sweep given as --input, whose first sky `input` then is.
    std::optional<std::filesystem::path> hosting;
};

// The command line. Answers --help and --version, and ends the program with status 2 and one
// line for a wrong one.
[[nodiscard]] ExportOptions parse_export_command(int argc, char* argv[]);

// Whether the frames carry text, whose fonts need the toolkit's application object.
[[nodiscard]] bool frames_need_fonts(const ExportOptions& options);

// Ctrl+C or a termination request stops the run at the next pass's end, leaving no half-written
// file; a second ends the program at once.
void catch_stop_signals();

// The run, to its exit status: 0 when every pass succeeded, 1 when a pass failed, 2 for a file
// that cannot be written (then it has ended the program), 128 + the signal after a stop.
[[nodiscard]] int run_export_command(const ExportOptions& options);

}  // namespace umbrascope
