#pragma once
// The command lines of the small programs: options as "--name value" or "--name=value", operands,
// "--help" and "--version". A wrong command line ends the program with status 2 and a hint.

#include <string>
#include <string_view>
#include <vector>

namespace umbrascope {

class CommandLine {
public:
    CommandLine(std::string program, int argc, char* argv[], std::string_view usage);

    // Moves to the next argument; false after the last. Answers --help and --version itself.
    bool next();
    [[nodiscard]] bool is_option() const { return option_; }
    [[nodiscard]] const std::string& arg() const { return arg_; }  // the option's name, or the operand

    [[nodiscard]] std::string value();  // the option's value, attached or the next argument
    void flag() const;                  // the option takes no value
    [[nodiscard]] long whole_number(long lo, long hi);
    [[nodiscard]] double number(double lo, double hi);

    [[noreturn]] void usage_error(const std::string& message) const;  // with the hint to --help
    // The option just read is none of the program's: said with the nearest its usage names.
    [[noreturn]] void unknown_option() const;
    [[noreturn]] void fail(const std::string& message) const;         // "program: message", status 2

private:
    std::string program_;
    std::vector<std::string> args_;
    std::string_view usage_;
    std::size_t at_ = 0;
    std::string arg_;
    std::string attached_;
    bool has_attached_ = false;
    bool option_ = false;
    bool operands_only_ = false;
};

// The option of `usage` nearest `given` by its spelling ("--unit" for "--units"); empty where none
// is near enough to be meant.
[[nodiscard]] std::string nearest_option(std::string_view usage, const std::string& given);

}  // namespace umbrascope
