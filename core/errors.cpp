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

void fail(ErrorKind kind, const std::string& message)
{
    throw PassError(kind, message);
}

}  // namespace umbrascope
