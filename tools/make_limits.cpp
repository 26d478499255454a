// Writes input files at the system's limits into a folder, created if missing; with --large, the
// large feeder for runs with large inputs.
// Usage: umbrascope-make-limits FOLDER [--bad-record-every-tenth-step] [--large]

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "tools/limits.hpp"

int main(int argc, char* argv[])
{
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
        std::fputs("usage: umbrascope-make-limits FOLDER [--bad-record-every-tenth-step] [--large]\n", stderr);
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
