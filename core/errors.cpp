#include "core/errors.hpp"

namespace umbrascope {

std::string_view kind_name(ErrorKind kind)
{
    switch (kind) {
    case ErrorKind::overflow: return "overflow";
    case ErrorKind::fpfault: return "fpfault";
    case ErrorKind::bounds: return "bounds";
    case ErrorKind::conversion: return "conversion";
    case ErrorKind::argument: return "argument";
    case ErrorKind::file: return "file";
    case ErrorKind::drawing: return "drawing";
    }
    return "drawing";
}

std::string advice_for(const PassError& error)
{
    // A sun table past the rows a run can count: a long sky, such as a day at one second.
    if (error.kind() == ErrorKind::overflow &&
        std::string_view(error.what()).find("the row count i_time: 32767 + 1") != std::string_view::npos)
        return "; the sun table has more rows than a run counts (32767): to look at a long sky, look at a part of it "
               "(umbrascope-export --large --rows A:B, up to 32766 rows), or make a part of it in a folder of its own "
               "(umbrascope-clouds --sensor-window START,END, or a longer --interval); umbrascope-study takes the whole of it";
    return {};
}

void fail(ErrorKind kind, const std::string& message)
{
    throw PassError(kind, message);
}

}  // namespace umbrascope
