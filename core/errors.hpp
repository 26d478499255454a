#pragma once
// The one error path of a pass: every failure throws a PassError, and only the event edge
// (a click or tick handler, or the exporter's loop) catches it and makes the one report.

#include <stdexcept>
#include <string>
#include <string_view>

namespace umbrascope {

enum class ErrorKind { overflow, fpfault, bounds, conversion, argument, file, drawing };

// One word per kind, as the trace and the error report write it.
[[nodiscard]] std::string_view kind_name(ErrorKind kind);

class PassError : public std::runtime_error {
public:
    PassError(ErrorKind kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}
    [[nodiscard]] ErrorKind kind() const noexcept { return kind_; }

private:
    ErrorKind kind_;
};

[[noreturn]] void fail(ErrorKind kind, const std::string& message);

// What a user can do about a failure beyond what it says, for the few whose cause lies outside
// the run: "; " and the advice, or nothing.
[[nodiscard]] std::string advice_for(const PassError& error);

}  // namespace umbrascope
