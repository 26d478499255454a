#pragma once
// A whole run written to files, as umbrascope-export and the window's Export run make it: one
// frame file per pass (PNG, SVG) and one animation, from the input files as they are now. Every
// file is written whole or not at all, and a run that fails replaces nothing it was not asked to:
// without keep_going it stops at its first failed pass, writes no frame of that pass, and leaves
// the animation unmade, so a film already under that name stays as it was.

#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <string>

#include "core/errors.hpp"
#include "model/controls.hpp"
#include "model/sky_field.hpp"
#include "model/voltages.hpp"
#include "output/frame_picture.hpp"
#include "run/export_page.hpp"

namespace umbrascope {

struct ExportPlan {
    std::filesystem::path input = ".";
    bool large = false;
    std::filesystem::path folder = "frames";  // the frame files' folder, made when the first is written
    bool png = false;
    bool svg = false;
    std::optional<std::filesystem::path> animation;  // its extension picks GIF, MP4 or WebM
    int fps = 10;
    FrameOptions frame;
    int first_row = 1;  // the frames of passes first_row to last_pass are written
    int last_pass = 32767;
    // Where `input` is a part of a longer sky: its first row's number there less one. The frame
    // files are named by the whole sky's rows.
    long row_offset = 0;
    std::string title;  // the page's; by default the input folder's name
    // A sweep whose search by bus's answers colour the buses, `input` being its first sky.
    std::optional<std::filesystem::path> hosting;
    // Where set, the run is gathered for a page as a page's is, and handed here at its end
    // instead of written: for a page of a sky run a part at a time.
    std::function<void(const RunState& st, const SkyHeader& sky, PageGatherer& gathered)> take_page;
    bool keep_going = false;  // carry on after a failed pass, its frame written as the failure left it
    std::ostream* trace = nullptr;
};

struct ExportEvents {
    std::function<void(int pass, int row, const PassError& error)> on_error;  // the one report of a failed pass
    std::function<void(const std::string& text)> on_warning;                 // about what the first pass read
    std::function<void(int done, int rows)> on_progress;
    // Asked after each pass: true ends the run there, with nothing more written and no animation.
    std::function<bool()> stop_requested;
    // After each pass's files are handed on; may throw WriteError to end the run.
    std::function<void()> after_pass;
};

struct ExportResult {
    int passes = 0;
    int failures = 0;
    int rows = 0;  // of the sun table, as the first pass read it
    long frames_from = 0;  // the frame files written whole, frame-<frames_from> to frame-<frames_to>; 0 for none
    long frames_to = 0;
    bool animation_made = false;
    bool stopped = false;         // stop_requested ended the run
    bool ended_by_failure = false;  // a failed pass ended it, without keep_going
};

// The study's files a run's pictures and pages draw on: the voltage tables (read where wanted, or
// where there and `voltages_if_there`, left out with a warning where they do not fit), the measured
// sky's field, and the controls table likewise. Throws VoltageError for what was asked for and
// cannot be had.
struct StudyFiles {
    std::optional<RunVoltages> voltages;
    std::optional<SkyField> field;
    std::optional<ControlsTable> controls;
};
[[nodiscard]] StudyFiles read_study_files(const std::filesystem::path& folder, bool voltages_wanted, bool voltages_if_there,
                                          bool controls_wanted, bool controls_if_there,
                                          const std::function<void(const std::string&)>& warn);

// Runs the passes and writes the files. Throws WriteError for a file that cannot be written; the
// animation and the frames not yet whole are then left unmade. With the frame's by_voltage or
// profile, the folder's voltage tables are read first and checked against the first pass: throws
// VoltageError, before any file is written, where they cannot be read or do not fit the run.
ExportResult export_run(const ExportPlan& plan, const ExportEvents& events);

// What a run that ended early left, for its last message: "frames 1 to 4 are in frames; film.mp4
// was not made (a file there before is as it was)".
[[nodiscard]] std::string kept_text(const ExportPlan& plan, const ExportResult& result);

}  // namespace umbrascope
