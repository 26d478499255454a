// umbrascope-export: runs the same passes as the window, headless, and writes every picture as a
// frame and, on request, a trace of every observable event.

#include <QGuiApplication>
#include <cstdio>
#include <optional>

#include "run/export_command.hpp"

int main(int argc, char* argv[])
{
    using namespace umbrascope;
    const ExportOptions options = parse_export_command(argc, argv);
    catch_stop_signals();
    // Text in frames needs the toolkit's fonts, which need an application object; the exporter
    // never shows a window, so it never needs a display.
    std::optional<QGuiApplication> application;
    if (frames_need_fonts(options)) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        // The toolkit's own notes (a missing runtime folder, say) are not for the exporter's users.
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
            if (type == QtCriticalMsg || type == QtFatalMsg)
                std::fprintf(stderr, "umbrascope-export: %s\n", message.toLocal8Bit().constData());
        });
        application.emplace(argc, argv);
    }
    return run_export_command(options);
}
