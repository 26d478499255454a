// Writes input files at the system's limits into a folder, created if missing; with --large, the
// large feeder for runs with large inputs.
// Usage: umbrascope-make-limits FOLDER [--bad-record-every-tenth-step] [--large]

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "tools/limits.hpp"

namespace {

constexpr const char* usage = R"(usage: umbrascope-make-limits FOLDER [--bad-record-every-tenth-step] [--large]

Writes input files at Umbrascope's limits into FOLDER (created if missing): 25 buses, 100
connections, 2000 sun-table rows and a track of 4 clouds a step. With --large, the large feeder
instead: 2500 buses, 5000 connections and 8000 rows. With --bad-record-every-tenth-step, the
second cloud of every tenth step has an x that is not a number.
)";

}  // namespace

int main(int argc, char* argv[])
{
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(usage, stdout);
        return 0;
    }
    umbrascope::tools::LimitOptions options;
    bool usage_ok = argc >= 2 && argv[1][0] != '-';
    for (int i = 2; usage_ok && i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--bad-record-every-tenth-step")
            options.bad_record_every_tenth_step = true;
        else if (arg == "--large")
            options.large = true;
        else
            usage_ok = false;
    }
    if (!usage_ok) {
        std::fputs(usage, stderr);
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
        std::fprintf(stderr, "umbrascope-make-limits: cannot create the folder %s: %s\n", folder.c_str(),
                     error.message().c_str());
        return 1;
    }
    errno = 0;
    if (!umbrascope::tools::write_limit_inputs(folder, options)) {
        const int cause = errno;
        std::fprintf(stderr, "umbrascope-make-limits: cannot write the input files in %s: %s\n", folder.c_str(),
                     cause != 0 ? std::strerror(cause) : "write error");
        return 1;
    }
    return 0;
}
