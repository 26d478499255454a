#include "run/export_run.hpp"

#include "model/hosting_map.hpp"

#include <QByteArray>
#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <memory>
#include <vector>

#include "core/trace.hpp"
#include "output/animation_writer.hpp"
#include "output/background_writer.hpp"
#include "output/canvas.hpp"
#include "output/frame_files.hpp"
#include "output/png_writer.hpp"
#include "output/svg_picture.hpp"
#include "run/pass_driver.hpp"
#include "run/export_page.hpp"
#include "run/recolour.hpp"
#include "run/run_warnings.hpp"
#include "core/fingerprint.hpp"
#include "model/controls.hpp"
#include "model/folder_error.hpp"
#include "model/sky_field.hpp"
#include "model/voltages.hpp"

namespace umbrascope {

namespace fs = std::filesystem;

namespace {

struct Stopped {};

}  // namespace

StudyFiles read_study_files(const fs::path& folder, bool voltages_wanted, bool voltages_if_there, bool controls_wanted,
                            bool controls_if_there, const std::function<void(const std::string&)>& warn)
{
    // Where they do not fit the sky or the network (a sky made again since the study, say) they
    // are left out, and that said, unless they were asked for.
    const auto left_out = [&](const char* what, const std::exception& error) {
        if (warn)
            warn(std::string("the page leaves out the study's ") + what + ": " + error.what());
    };
    StudyFiles out;
    if (voltages_wanted) {
        out.voltages = RunVoltages::read(folder);
    } else if (voltages_if_there && has_voltage_tables(folder)) {
        try {
            out.voltages = RunVoltages::read(folder);
        } catch (const VoltageError& error) {
            left_out("voltages", error);
        }
    }
    try {
        out.field = read_sky_field(folder);
        if (controls_wanted || controls_if_there) {
            out.controls = ControlsTable::read(folder);
            if (!out.controls && controls_wanted)
                throw VoltageError("the regulators and capacitors need the controls table " + std::string(controls_table_name) +
                                   " in " + folder.string() + ": make it with umbrascope-study read " + folder.string());
            const std::optional<std::string> sky = file_fingerprint(folder / sun_table_file_name);
            if (out.controls && out.controls->sky() && sky && *out.controls->sky() != *sky) {
                const VoltageError stale((folder / controls_table_name).string() +
                                         " was made for another sky than the sun table there now: read the study again "
                                         "(umbrascope-study read " + folder.string() + ") after running it for this sky");
                if (controls_wanted)
                    throw stale;
                left_out("regulators and capacitors", stale);
                out.controls.reset();
            }
        }
    } catch (const FolderError& error) {
        throw VoltageError(error.what());
    }
    return out;
}

ExportResult export_run(const ExportPlan& plan, const ExportEvents& events)
{
    if (plan.animation)
        (void)animation_type(*plan.animation);  // an unknown type fails before any pass

    Trace trace(plan.trace);
    RecordingControls controls(&trace);
    // The window's picture for classic frames, and the recorded shapes for SVG and other sizes;
    // each only where a file needs it. Before the first pass asked for, nothing is drawn: every
    // later pass starts by wiping the picture whole.
    Canvas canvas(1.0);
    Picture picture;
    // A page (.html) is the run itself, which the browser draws: the recorded picture gives it each
    // row's clouds, and no frame of a film is drawn.
    const bool page = (plan.animation && animation_type(*plan.animation) == AnimationType::html) || plan.take_page;
    const bool film = plan.animation && !page;
    const bool classic = (plan.png || film) && !plan.frame.sized();
    const bool recorded = plan.svg || plan.frame.sized() || page;
    TeeSurface drawn(classic ? static_cast<Surface&>(canvas) : picture, classic && recorded ? &picture : nullptr);
    NoSurface nothing;
    TeeSurface gate(plan.first_row > 1 ? static_cast<Surface&>(nothing) : drawn, nullptr);
    TraceSurface traced(&trace, &gate);

    InputSlot input(plan.input);
    input.set_restart_hint("run the export again");
    auto st = std::make_unique<RunState>(plan.large);
    // Buses coloured by voltage: the discs take their class's colour before anything records them.
    RecolourSurface surface(traced, st.get());
    // A page takes the study's voltages and controls wherever the folder has them (a page of a
    // part takes the whole sky's, which its caller reads).
    const bool page_takes_all = page && !plan.take_page;
    const bool voltages_wanted = plan.frame.by_voltage || plan.frame.profile;
    const auto left_out = [&](const char* what, const std::exception& error) {
        if (events.on_warning)
            events.on_warning(std::string("the page leaves out the study's ") + what + ": " + error.what());
    };
    StudyFiles study = read_study_files(plan.input, voltages_wanted, page_takes_all,
                                        plan.frame.show_controls, page_takes_all, events.on_warning);
    std::optional<RunVoltages>& voltages = study.voltages;
    std::optional<SkyField>& field = study.field;
    std::optional<ControlsTable>& equipment = study.controls;  // the regulators and capacitors
    ControlPlaces places;
    if (plan.frame.by_voltage)
        surface.set_colouring(&*voltages);
    std::optional<HostingMap> hosting;
    if (plan.hosting) {
        try {
            hosting = HostingMap::read(*plan.hosting);
        } catch (const FolderError& error) {
            throw WriteError(std::string("the hosting capacity cannot be shown: ") + error.what());
        }
        hosting->bind_when_drawn(*st);
        surface.set_colouring(&*hosting);
    }
    Pass pass{*st, input, controls, surface};

    ExportResult result;
    // The frames' options, with the buses' spacing once the first pass has placed them, and the
    // voltages once the first pass has shown they fit the run.
    FrameOptions frame = plan.frame;
    frame.field = field ? &*field : nullptr;
    std::vector<ProfileSegment> segments;
    ProfileAxes axes;
    std::string own_outside;  // said once in the voltage band
    const SkyHeader sky = read_sky_header(plan.input);
    FrameFiles frames(plan.folder);
    std::optional<AnimationWriter> animation;
    PageGatherer gathered;
    // The frame files and the animation are encoded and written on a second thread while the next
    // pass draws; each job holds its frame until it is done with it.
    BackgroundWriter writer;
    bool pass_failed = false;
    // The frames' pixels are drawn into the same buffers pass after pass: one the writer has
    // finished with is drawn into again, so a long film allocates no memory a frame.
    std::vector<std::shared_ptr<IndexedFrame>> indexed_frames;
    const auto spare_frame = [&indexed_frames] {
        for (const std::shared_ptr<IndexedFrame>& pooled : indexed_frames)
            if (pooled.use_count() == 1) {
                // The writer's last use of it comes before this pass draws into it again.
                std::atomic_thread_fence(std::memory_order_acquire);
                return pooled;
            }
        return indexed_frames.emplace_back(std::make_shared<IndexedFrame>());
    };

    HeadlessEvents headless;
    headless.on_error = [&](const PassError& failure) {
        pass_failed = true;
        if (events.on_error)
            events.on_error(st->num_pass.value(), shown_row(*st, true), failure);
    };
    headless.after_pass = [&](int ordinal) {
        surface.flush();  // the discs held back to go above, where the pass ended before its last
        if (events.stop_requested && events.stop_requested())
            throw Stopped{};
        const bool failed = std::exchange(pass_failed, false);
        if (ordinal == 1 && frame.sized() && !frame.shown)
            frame.bus_spacing = bus_spacing(*st);
        if (ordinal == 1 && voltages && !failed) {
            try {
                voltages->check(*st);
            } catch (const VoltageError& error) {
                if (voltages_wanted)
                    throw;
                left_out("voltages", error);
                voltages.reset();
            }
        }
        if (ordinal == 1 && voltages && !failed) {
            frame.voltages = &*voltages;
            own_outside = voltages->own_outside_note(*st);
            segments = profile_segments(*st, *voltages);
            frame.segments = &segments;
            axes = profile_extent(*voltages);
            frame.profile_axes = &axes;
            const bool placed = std::any_of(voltages->distances().begin(), voltages->distances().end(),
                                            [](double d) { return d >= 0; });
            if (frame.profile && !placed && events.on_warning)
                events.on_warning("the voltage profile has no bus to place: " + std::string(voltage_report_file_name) +
                                  " gives no distances from the source (umbrascope-study read --source BUS gives them)");
        }
        if (ordinal == 1 && equipment && !failed && equipment->rows() != st->n_time.value()) {
            const VoltageError misfit((plan.input / controls_table_name).string() + " has " +
                                      std::to_string(equipment->rows()) + " rows where the sun table has " +
                                      std::to_string(st->n_time.value()) + ": read the study again (umbrascope-study read " +
                                      plan.input.string() + ")");
            if (plan.frame.show_controls)
                throw misfit;
            left_out("regulators and capacitors", misfit);
            equipment.reset();
        }
        if (ordinal == 1 && equipment && !failed) {
            places = control_places(*st, *equipment);
            frame.controls = &*equipment;
            frame.control_places = &places;
        }
        if (ordinal == 1 && !failed && events.on_warning)
            for (const std::string& warning : first_pass_warnings(*st))
                events.on_warning(warning);
        if (ordinal + 1 == plan.first_row)
            gate.set_first(drawn);
        // A failed pass that ends the run leaves no frame: only what the user asked for with
        // keep_going may show a failure's picture.
        if (ordinal < plan.first_row || (failed && !plan.keep_going)) {
            if (events.on_progress)
                events.on_progress(ordinal, st->n_time.value());
            return;
        }
        const FrameFacts facts{*st, shown_row(*st, failed), &sky, {}, own_outside};
        std::array<char, 32> stem{};
        std::snprintf(stem.data(), stem.size(), "frame-%04ld", ordinal + plan.row_offset);
        // Drawn and indexed here, while the writer encodes the frame before.
        if (page && !failed)
            gathered.add_row(picture, facts.row);
        std::shared_ptr<IndexedFrame> cut;
        if (plan.png || film) {
            cut = spare_frame();
            if (frame.sized())
                draw_indexed_picture_frame(*cut, picture, facts, frame);
            else
                compose_indexed_frame(canvas, facts, frame, *cut);
        }
        QByteArray svg;
        if (plan.svg)
            svg = picture_svg(picture, facts, frame);
        writer.submit([&, cut, svg, stem, ordinal] {
            const std::string name(stem.data());
            const IndexedFrame* indexed = cut.get();
            if (plan.png)
                frames.add(name + ".png", encode_png(*indexed));
            if (plan.svg)
                frames.add(name + ".svg", std::string_view(svg.constData(), static_cast<std::size_t>(svg.size())));
            if (plan.png || plan.svg)
                frames.end_frame(static_cast<int>(ordinal + plan.row_offset));
            if (film) {
                if (!animation)
                    animation.emplace(*plan.animation, indexed->width, indexed->height, plan.fps);
                animation->add(*indexed);
            }
        });
        if (events.after_pass)
            events.after_pass();
        if (events.on_progress)
            events.on_progress(ordinal, st->n_time.value());
    };

    try {
        const HeadlessResult run =
            run_headless(pass, controls, trace, HeadlessOptions{plan.last_pass, plan.keep_going}, headless);
        result.passes = run.passes;
        result.failures = run.failures;
        result.ended_by_failure = run.failures > 0 && !plan.keep_going;
        writer.finish();
        frames.commit();
        if (animation && !result.ended_by_failure) {
            animation->finish();
            result.animation_made = true;
        }
        if (plan.take_page && !result.ended_by_failure && st->num_pass > 0 && st->n_time > 0) {
            plan.take_page(*st, sky, gathered);
        } else if (page && !result.ended_by_failure && st->num_pass > 0 && st->n_time > 0) {
            // The page of the rows run: the whole run, or the first passes asked for.
            RunState& whole = *st;
            const Integer rows = whole.n_time;
            whole.n_time = Integer(static_cast<std::int16_t>(std::min(rows.value(), run.passes)));
            std::error_code error;
            const fs::path folder = fs::absolute(plan.input, error).lexically_normal();
            std::string title = plan.title.empty() ? folder.filename().string() : plan.title;
            if (title.empty() || title == ".")
                title = folder.parent_path().filename().string();
            PageInput contents = gathered.finish(whole, sky, title, frame.voltages, frame.by_voltage, frame.profile,
                                              equipment ? &*equipment : nullptr, field ? &*field : nullptr);
            if (hosting)
                add_hosting(contents, *hosting);
            whole.n_time = rows;
            write_page(*plan.animation, contents);
            result.animation_made = true;
        }
    } catch (const Stopped&) {
        // The writer drops what waits; the frames drawn but not yet written and the animation go
        // with it, while the frames already written are named.
        writer.drop();
        frames.commit();
        result.passes = st->num_pass.value();
        result.stopped = true;
    } catch (const WriteError&) {
        writer.drop();
        try {
            frames.commit();
        } catch (const WriteError&) {  // the first failure is the one to tell
        }
        throw;
    }
    result.rows = st->n_time.value();
    if ((plan.png || plan.svg) && frames.last_whole() >= plan.first_row + plan.row_offset) {
        result.frames_from = plan.first_row + plan.row_offset;
        result.frames_to = frames.last_whole();
    }
    return result;
}

std::string kept_text(const ExportPlan& plan, const ExportResult& result)
{
    std::string text;
    if (plan.png || plan.svg)
        text = result.frames_from > 0 ? "frames " + std::to_string(result.frames_from) + " to " +
                                            std::to_string(result.frames_to) + " are in " + plan.folder.string()
                                      : "no frame file was written";
    if (plan.animation && !result.animation_made) {
        std::error_code error;
        const bool there = fs::exists(*plan.animation, error);
        text += (text.empty() ? "" : "; ") + plan.animation->string() + " was not made" +
                (there ? " (the file there before is as it was)" : "");
    }
    return text;
}

}  // namespace umbrascope
