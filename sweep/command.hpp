#pragma once
// umbrascope-study sweep VERB ...: the sweep's command line, which umbrascope-study hands on.

namespace umbrascope::sweep {

// argv[0] is the program, argv[1] "sweep". Gives the exit status.
int sweep_main(int argc, char* argv[]);

}  // namespace umbrascope::sweep
