#include "app/export_job.hpp"

#include "app/error_report.hpp"
#include "output/animation_writer.hpp"
#include "output/output_file.hpp"

namespace umbrascope {

namespace fs = std::filesystem;

namespace {

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

ExportJob::ExportJob(fs::path input, fs::path target, FrameOptions options, bool large, bool keep_going)
    : input_(std::move(input)), target_(std::move(target)), options_(options), large_(large), keep_going_(keep_going)
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
    ExportPlan plan;
    plan.input = input_;
    plan.large = large_;
    plan.frame = options_;
    plan.keep_going = keep_going_;
    plan.row_offset = row_offset_;
    plan.title = title_;
    if (is_animation(target_)) {
        plan.animation = target_;
    } else {
        plan.folder = target_;
        plan.png = true;
    }
    ExportEvents events;
    events.on_progress = [this](int done, int rows) { emit progress(done, rows); };
    events.stop_requested = [this] { return cancelled_.load(); };
    QString first_error;
    events.on_error = [&first_error](int pass, int, const PassError& error) {
        if (first_error.isEmpty())
            first_error = QStringLiteral("pass %1: %2").arg(pass).arg(window_text(report_text(error)));
    };
    QString problem;
    QString kept;
    ExportResult result;
    try {
        result = export_run(plan, events);
        if (result.stopped)
            problem = QStringLiteral("cancelled");
        else if (result.ended_by_failure)
            kept = first_error + QStringLiteral(". ") + QString::fromStdString(kept_text(plan, result));
    } catch (const WriteError& error) {
        problem = QString::fromStdString(error.what());
    }
    running_ = false;
    emit finished(problem, kept, result.passes, result.failures);
}

}  // namespace umbrascope
