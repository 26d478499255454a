// Writes input files at the system's limits into a folder.
// Usage: umbrascope-make-limits FOLDER [--bad-record-every-tenth-step]

#include <cstdio>
#include <string>

#include "tools/limits.hpp"

int main(int argc, char* argv[])
{
    if (argc < 2 || argc > 3 || (argc == 3 && std::string(argv[2]) != "--bad-record-every-tenth-step")) {
        std::fputs("usage: umbrascope-make-limits FOLDER [--bad-record-every-tenth-step]\n", stderr);
        return 2;
    }
    umbrascope::tools::LimitOptions options;
    options.bad_record_every_tenth_step = argc == 3;
    return umbrascope::tools::write_limit_inputs(argv[1], options) ? 0 : 1;
}
