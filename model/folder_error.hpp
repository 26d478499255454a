#pragma once
// A file of a scenario's folder that cannot be read as what it should be; the message names the
// file and line and says what to do.

#include <stdexcept>

namespace umbrascope {

class FolderError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace umbrascope
