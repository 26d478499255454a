#pragma once
// A search by bus's answers on the feeder's map (umbrascope-study sweep locate, then run or
// gather): each drawn bus coloured by the band of the least capacity of the buses drawn at it, the
// same in every row, and each bus's row of locational_hc.csv.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/run_state.hpp"
#include "model/bus_colouring.hpp"

namespace umbrascope {

// The sky a sweep's search by bus was made under, where `folder` is such a sweep with its answer:
// the first of its skies.
[[nodiscard]] std::optional<std::filesystem::path> hosting_sky(const std::filesystem::path& folder);

class HostingMap : public BusColouring {
public:
    // The answers of the sweep `sweep`. Throws FolderError naming a file that cannot be read.
    static HostingMap read(const std::filesystem::path& sweep);
    // Each of the run's buses (by the network file's names) given its answer.
    void bind(const RunState& st);
    // The same, done when a disc is first coloured: for a run whose network is read by its first pass.
    void bind_when_drawn(const RunState& st) { unbound_ = &st; }
    // The band of bus `bus` (from 1), or -1 where no bus drawn there has an answer.
    [[nodiscard]] int band_of(int bus) const;

    [[nodiscard]] std::optional<Colour> disc_colour(int row, int bus) const override;
    // A bus with an answer goes above the others, so that a few searched among many are seen.
    [[nodiscard]] bool drawn_above(int row, int bus) const override;
    // The rows of locational_hc.csv of the buses drawn at bus `bus` (from 1), as "name = value"
    // lines; empty where none was searched there.
    [[nodiscard]] std::string rows_of(int bus) const;
    [[nodiscard]] double max_kw() const { return max_kw_; }
    [[nodiscard]] const std::filesystem::path& sweep() const { return sweep_; }

private:
    struct Answer {
        std::string drawn_bus;                 // lower case
        std::optional<double> hc_kw;           // nothing where not found
        std::vector<std::string> fields;       // the CSV row
    };
    std::filesystem::path sweep_;
    double max_kw_ = 0;
    std::vector<std::string> header_;
    std::vector<Answer> answers_;
    mutable std::vector<std::vector<std::size_t>> by_bus_;  // bus (from 1) to answers drawn there
    mutable const RunState* unbound_ = nullptr;
    void bind_now() const;
    void index_buses(const RunState& st) const;
};

}  // namespace umbrascope
