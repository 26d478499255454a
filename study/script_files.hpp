#pragma once
// What the study's writing and reading share: the marks its scripts carry, the run's placeholder in
// the texts written before the run is named, and the refusal of a results folder that does not
// hold the whole of one run.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "output/output_file.hpp"
#include "study/exports.hpp"

namespace umbrascope::study {

// Where a text names the run, before its name is known.
inline constexpr std::string_view run_placeholder = "study_@RUN@";
inline constexpr std::string_view run_mark = "Every export of this script is named ";
inline constexpr std::string_view circuit_print_mark = "! For the circuit's files as they were read, fingerprint";

// The first few kilobytes of a file.
[[nodiscard]] std::string head_of(const std::filesystem::path& path);

// The text with every `from` made `to`, in one pass.
[[nodiscard]] std::string replaced(const std::string& text, std::string_view from, const std::string& to);

// Finishes every file, then names each: all or none on the disk.
void commit_all(std::vector<OutputFile>& files);

// Refuses a results folder that does not hold the whole of one run of the script now in the
// folder, saying whose exports it holds instead and what to run. Throws StudyError.
void refuse_unless_whole(const ResultsFolder& results, const std::string& run, const std::string& circuit,
                         const std::filesystem::path& folder, bool given);

}  // namespace umbrascope::study
