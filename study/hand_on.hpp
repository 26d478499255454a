#pragma once
// Handing a slice on: the states a slice begins with where the slice before's run left its
// regulators and capacitors, their record beside the slice's script, and their fingerprint in the
// slicing.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "study/controls.hpp"
#include "study/plan.hpp"
#include "study/slices.hpp"
#include "study/study.hpp"

namespace umbrascope::study {

// The fingerprint a slicing records of the states a slice is handed.
[[nodiscard]] std::string handed_print(const Handed& handed);

// The states a slice was handed, as handed.csv beside its script records them.
[[nodiscard]] std::string handed_text(const Handed& handed);

// Writing the same study again, in the same slices, hands each slice that was handed on the same
// states again: the run is the same, so the slice before's run is too. A slice whose states are not
// on record settles again, and `result` says so.
void hold_handed(const std::filesystem::path& folder, const std::vector<Slice>& planned, double overlap_s,
                 WriteResult& result, std::vector<std::optional<Handed>>& handed);

}  // namespace umbrascope::study
