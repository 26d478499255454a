#include "app/export_job.hpp"

#include <optional>

#include "output/canvas.hpp"
#include "app/pass_driver.hpp"
#include "core/trace.hpp"
#include "output/animation_writer.hpp"
#include "output/output_file.hpp"
#include "output/png_writer.hpp"

namespace umbrascope {

namespace fs = std::filesystem;

namespace {
struct Cancelled {};

bool is_animation(const fs::path& path)
{
    try {
        (void)animation_type(path);
        return true;
    } catch (const WriteError&) {
        return false;
    }
}
}  // namespace

ExportJob::ExportJob(fs::path input, fs::path target, FrameOptions options, bool large)
    : input_(std::move(input)), target_(std::move(target)), options_(options), large_(large)
{
}

ExportJob::~ExportJob()
{
    cancel();
    if (worker_.joinable())
        worker_.join();
}

void ExportJob::start()
{
    running_ = true;
    worker_ = std::thread([this] { run(); });
}

void ExportJob::run()
{
    Trace trace(nullptr);
    RecordingControls controls(&trace);
    Canvas canvas(1.0);
    InputSlot input(input_);
    auto st = std::make_unique<RunState>(large_);
    Picture picture;  // for frames of other sizes
    TeeSurface surface(canvas, options_.sized() ? &picture : nullptr);
    Pass pass{*st, input, controls, surface};
    std::optional<AnimationWriter> animation;
    IndexedFrame indexed;
    bool failed = false;
    HeadlessResult result;
    QString problem;
    try {
        const bool animated = is_animation(target_);
        if (!animated)
            fs::create_directories(target_);
        HeadlessEvents events;
        events.on_error = [&](const PassError&) { failed = true; };
        events.after_pass = [&](int ordinal) {
            if (cancelled_)
                throw Cancelled{};
            const FrameFacts facts{*st, shown_row(*st, failed)};
            if (options_.sized())
                index_frame(picture_frame(picture, facts, options_), indexed);
            else
                compose_indexed_frame(canvas, facts, options_, indexed);
            failed = false;
            if (animated) {
                if (!animation)
                    animation.emplace(target_, indexed.width, indexed.height, 10);
                animation->add(indexed);
            } else {
                char name[32];
                std::snprintf(name, sizeof name, "frame-%04d.png", ordinal);
                write_file(target_ / name, encode_png(indexed));
            }
            emit progress(ordinal, st->n_time.value());
        };
        // As the exporter does with --keep-going: a failed pass still gives its frame.
        result = run_headless(pass, controls, trace, HeadlessOptions{32767, true}, events);
        if (animation)
            animation->finish();
    } catch (const Cancelled&) {
        problem = QStringLiteral("cancelled");
    } catch (const WriteError& error) {
        problem = QString::fromStdString(error.what());
    } catch (const std::filesystem::filesystem_error& error) {
        problem = QString::fromStdString(error.what());
    }
    running_ = false;
    emit finished(problem, result.passes, result.failures);
}

}  // namespace umbrascope
