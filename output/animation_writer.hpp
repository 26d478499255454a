#pragma once
// One animation file for a whole run, encoded with FFmpeg's libraries: GIF (lossless, the frames'
// own palette), MP4 (H.264, yuv420p) or WebM (VP9), chosen by the file's extension. The file is
// written whole or not at all, like every other output.

#include <filesystem>
#include <memory>
#include <string>

#include "output/indexed_frame.hpp"

namespace umbrascope {

// GIF, MP4 and WebM are films of the frames; a page (.html) is the run itself, which a browser draws.
enum class AnimationType { gif, mp4, webm, html };

// The type an extension names; throws WriteError naming the file when it names none.
[[nodiscard]] AnimationType animation_type(const std::filesystem::path& path);

class AnimationWriter {
public:
    // Every frame must then have this size. Throws WriteError.
    AnimationWriter(const std::filesystem::path& path, int width, int height, int frames_per_second);
    ~AnimationWriter();
    AnimationWriter(const AnimationWriter&) = delete;
    AnimationWriter& operator=(const AnimationWriter&) = delete;

    void add(const IndexedFrame& picture);  // throws WriteError
    void finish();                        // the file takes its name; throws WriteError

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace umbrascope
