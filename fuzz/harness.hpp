#pragma once
// Shared by the fuzz targets: a scratch input folder, recording controls, and a raster surface,
// with the checks that must hold after any input.

#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

#include "core/raster.hpp"
#include "core/run_state.hpp"
#include "core/trace.hpp"

namespace umbrascope::fuzz {

inline const std::filesystem::path& scratch_folder()
{
    static const std::filesystem::path folder = [] {
        const std::filesystem::path shm = "/dev/shm";
        std::filesystem::path path = (std::filesystem::is_directory(shm) ? shm : std::filesystem::temp_directory_path()) /
                                     ("umbrascope-fuzz-" + std::to_string(::getpid()));
        std::filesystem::create_directories(path);
        return path;
    }();
    return folder;
}

// Aborts, so that libFuzzer keeps the input, when a rule does not hold.
inline void require(bool holds)
{
    if (!holds)
        std::abort();
}

// Plain system calls: the files are written and removed on every run, so no stream or path
// object is built for them.
inline std::string input_path(std::string_view name)
{
    return scratch_folder().string() + '/' + std::string(name);
}

inline void write_input(std::string_view name, std::string_view bytes)
{
    const int file = ::open(input_path(name).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    require(file >= 0);
    for (std::size_t written = 0; written < bytes.size();) {
        const ::ssize_t count = ::write(file, bytes.data() + written, bytes.size() - written);
        require(count > 0);
        written += static_cast<std::size_t>(count);
    }
    ::close(file);
}

inline void remove_input(std::string_view name)
{
    ::unlink(input_path(name).c_str());
}

inline void require_known_kind(const PassError& error)
{
    const auto kind = static_cast<int>(error.kind());
    require(kind >= static_cast<int>(ErrorKind::overflow) && kind <= static_cast<int>(ErrorKind::drawing));
    require(*error.what() != '\0');
}

// The client area's pixels at a tenth of the window's scale, shared by all runs: what they hold
// never matters, only that every write stays inside them. The small grid keeps the every-pass fill
// of the frame cheap, so that the runs go to the readers and the geometry rather than to pixels.
constexpr int pixels_wide = 80;
constexpr int pixels_high = 62;

inline std::uint32_t* shared_pixels()
{
    static std::vector<std::uint32_t> pixels(std::size_t{pixels_wide} * pixels_high);
    return pixels.data();
}

// A first byte 0x01 runs the input with large inputs and is not part of the files; any other
// input runs with the classic bounds.
inline bool take_large_mode(const std::uint8_t*& data, std::size_t& size)
{
    if (size == 0 || data[0] != 0x01)
        return false;
    ++data;
    --size;
    return true;
}

// One window's worth of state, drawing into the shared pixels at 150 twips per pixel; with
// `traced`, every event also goes to the trace in `out`.
struct World {
    explicit World(bool large = false, bool traced = true)
        : st(std::make_unique<RunState>(large)), input(scratch_folder()), trace(traced ? &out : nullptr),
          surface(&trace, &raster), pass{*st, input, controls, surface}
    {
    }
    std::unique_ptr<RunState> st;
    InputSlot input;
    std::ostringstream out;
    Trace trace;
    RecordingControls controls{&trace};
    RasterSurface raster{shared_pixels(), pixels_wide, pixels_high, pixels_wide, 1.0 / 150};
    TraceSurface surface;
    Pass pass;
};

}  // namespace umbrascope::fuzz
