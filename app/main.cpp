// Umbrascope: shows cloud shadows passing over a small power network. Reads its three input files
// from FOLDER (default: the working folder) on the first click of READ COORDINATES.

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/form1.hpp"
#include "app/viewer.hpp"
#include "model/hosting_map.hpp"
#include "umbrascope/version.hpp"

namespace {

constexpr const char* usage_text = R"(Usage: umbrascope [--large [--from-row N]] [FOLDER]

Shows cloud shadows passing over a small power network. Umbrascope reads three files from FOLDER
(default: the current folder, or the bundled example when the current folder has none of them):
cloud_bus_coords_connections.txt, cloud_sun_intensity_table.txt and cloud_centers_plot.txt.
Press READ COORDINATES (or Space or Enter) to read them and start the animation, one time row
every 100 ms.

  --large     take large inputs: up to 32767 buses, connections and sun rows (by default at
              most 25 buses, 100 connections and 2000 rows). A sun table of more rows than a
              run holds (32766; a day at one second has 43200) is shown a part at a time,
              its rows numbered as the whole sky's; Ctrl+G shows another part
  --from-row N  with --large, the part of such a sky from row N on (default: 1)
  --version   show the version and exit
  --help      show this text and exit

In the window (also in its context menu, on a right click):
  P           pause or resume the animation
  N           one step while paused
  F5          restart: read the files again and start anew
  Ctrl+O      open another folder
  Ctrl+G      of a sun table longer than a run, show the rows from another row on
  Ctrl+S      save the picture shown now (PNG or SVG, at the classic size or larger)
  Ctrl+E      export the whole run (GIF, MP4 or WebM, at the classic size or larger)
  + and -     twice or half the speed, from 1/8 to 8 times; 0 the normal speed
  V           the picture window: zoom with the wheel, drag to pan, F to fit; Home, End,
              Left, Right, Page Up and Page Down show any row at once; a timeline to scrub
  Ctrl+Q      quit
  The menu also turns Large inputs on or off (the run starts again). Click a bus, in either
  window, for a chart of its sun intensity over the run; Ctrl+click adds more buses.

FOLDER may be a sweep with a search by bus (umbrascope-study sweep locate, then run or gather):
the window opens its first sky with each bus coloured by the largest plant it can take, in bands
of kW, and a bus's tooltip gives its row of locational_hc.csv. C switches the colouring among
sunlight, voltage (where the sky has a study's tables) and that hosting capacity.

Without a display, umbrascope-export draws the same pictures into files.
Exit status: 0 when the window was closed, 2 for a wrong argument or when no window can be opened.
)";

[[noreturn]] void fail_start(const std::string& message, bool hint = true)
{
    std::fprintf(stderr, "umbrascope: %s\n", message.c_str());
    if (hint)
        std::fputs("Try 'umbrascope --help'.\n", stderr);
    std::exit(2);
}

[[noreturn]] void no_display(const char* what)
{
    std::fprintf(stderr,
                 "umbrascope: cannot open a window: %s.\n"
                 "umbrascope-export draws the same pictures into files without a display.\n",
                 what);
    std::_Exit(2);
}

// The toolkit reports a display it cannot reach with its own warnings and then aborts; say it in
// the program's words instead.
void startup_messages(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    const bool platform = context.category != nullptr && std::string(context.category).rfind("qt.qpa", 0) == 0;
    if (type == QtFatalMsg || (platform && message.contains(QStringLiteral("could not connect to display")))) {
        const QByteArray display = qgetenv("DISPLAY");
        const std::string what = display.isEmpty() ? std::string("no display could be reached")
                                                   : "the display " + display.toStdString() + " could not be reached";
        no_display(what.c_str());
    }
    if (!platform)
        std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
}

}  // namespace

int main(int argc, char* argv[])
{
    std::filesystem::path folder = ".";
    bool folder_given = false;
    bool large = false;
    long first_row = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(usage_text, stdout);
            return 0;
        }
        if (arg == "--version") {
            std::printf("umbrascope %s\n", std::string(umbrascope::version).c_str());
            return 0;
        }
        if (arg == "--large") {
            large = true;
            continue;
        }
        if (arg == "--from-row") {
            char* end = nullptr;
            const char* text = i + 1 < argc ? argv[++i] : "";
            first_row = std::strtol(text, &end, 10);
            if (*text == '\0' || *end != '\0' || first_row < 1 || first_row > 1'000'000)
                fail_start("--from-row takes a row number from 1 to 1000000, not '" + std::string(text) + "'");
            continue;
        }
        if (arg.rfind('-', 0) == 0 && arg != "-")
            fail_start("unknown option '" + arg + "'");
        if (folder_given)
            fail_start("only one FOLDER, please; '" + arg + "' is a second one");
        folder = arg;
        folder_given = true;
    }
    if (first_row > 1 && !large)
        fail_start("--from-row shows a part of a sun table longer than a run, which takes --large");
    std::error_code error;
    if (!std::filesystem::is_directory(folder, error))
        fail_start("'" + folder.string() + (std::filesystem::exists(folder, error) ? "' is not a folder" : "' does not exist"),
                   false);

    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        no_display("neither DISPLAY nor WAYLAND_DISPLAY is set");
    const QtMessageHandler previous = qInstallMessageHandler(startup_messages);
    QApplication application(argc, argv);
    qInstallMessageHandler(previous);

    QApplication::setOrganizationName(QStringLiteral("Umbrascope"));
    QApplication::setApplicationName(QStringLiteral("Umbrascope"));
    QGuiApplication::setDesktopFileName(QString::fromUtf8(umbrascope::application_id.data(),
                                                          static_cast<qsizetype>(umbrascope::application_id.size())));

    // Started from the desktop's menu there is no folder: show the bundled example rather than an
    // error, when the working folder holds none of the input files.
    QString note;
    if (!folder_given) {
        const bool any_input = std::filesystem::exists(folder / std::string(umbrascope::network_file_name)) ||
                               std::filesystem::exists(folder / std::string(umbrascope::sun_table_file_name)) ||
                               std::filesystem::exists(folder / std::string(umbrascope::track_file_name));
        const std::filesystem::path example =
            std::filesystem::path(QCoreApplication::applicationDirPath().toStdString()) /
            std::string(umbrascope::installed_example_from_bindir);
        if (!any_input && std::filesystem::exists(example / std::string(umbrascope::network_file_name), error)) {
            folder = example.lexically_normal();
            note = QStringLiteral("the bundled example, since the working folder has no input files");
        }
    }

    // A sweep with a search by bus opens the map of its first sky, coloured by the answers.
    std::optional<std::filesystem::path> hosting;
    if (const std::optional<std::filesystem::path> sky = umbrascope::hosting_sky(folder)) {
        hosting = std::filesystem::absolute(folder);
        folder = *sky;
        note = QStringLiteral("the hosting capacity of the search in %1").arg(QString::fromStdString(hosting->string()));
    }
    umbrascope::Form1 window(folder, large);
    umbrascope::Viewer viewer(window, note, first_row, hosting);
    window.setWindowTitle(viewer.title());
    window.show();
    return QApplication::exec();
}
