#pragma once

#include "core/input.hpp"

namespace umbrascope {

// Closes the input slot when the reader that opened it returns or fails, so that a failed
// reader never leaves its file for later passes to read as something else.
class CloseOnExit {
public:
    explicit CloseOnExit(InputSlot& input) : input_(input) {}
    CloseOnExit(const CloseOnExit&) = delete;
    CloseOnExit& operator=(const CloseOnExit&) = delete;
    ~CloseOnExit() { input_.close(); }

private:
    InputSlot& input_;
};

}  // namespace umbrascope
