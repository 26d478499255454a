#include "cli/command_line.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "umbrascope/version.hpp"

namespace umbrascope {

CommandLine::CommandLine(std::string program, int argc, char* argv[], std::string_view usage)
    : program_(std::move(program)), args_(argv + 1, argv + argc), usage_(usage)
{
}

bool CommandLine::next()
{
    if (at_ >= args_.size())
        return false;
    arg_ = args_[at_++];
    has_attached_ = false;
    option_ = !operands_only_ && arg_.size() > 1 && arg_[0] == '-';
    if (option_ && arg_ == "--") {
        operands_only_ = true;
        return next();
    }
    if (!option_)
        return true;
    if (const std::size_t eq = arg_.find('='); arg_.rfind("--", 0) == 0 && eq != std::string::npos) {
        attached_ = arg_.substr(eq + 1);
        has_attached_ = true;
        arg_.resize(eq);
    }
    if (arg_ == "--help" || arg_ == "-h") {
        flag();
        std::fwrite(usage_.data(), 1, usage_.size(), stdout);
        std::exit(0);
    }
    if (arg_ == "--version") {
        flag();
        std::printf("%s %s\n", program_.c_str(), std::string(version).c_str());
        std::exit(0);
    }
    return true;
}

std::string CommandLine::value()
{
    std::string given;
    if (has_attached_)
        given = attached_;
    else if (at_ < args_.size())
        given = args_[at_++];
    if (given.empty())
        usage_error(arg_ + " needs a value");
    return given;
}

void CommandLine::flag() const
{
    if (has_attached_)
        usage_error(arg_ + " takes no value");
}

long CommandLine::whole_number(long lo, long hi)
{
    const std::string text = value();
    long n = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (error != std::errc() || end != text.data() + text.size() || n < lo || n > hi)
        usage_error(arg_ + " takes a whole number from " + std::to_string(lo) + " to " + std::to_string(hi) + ", not '" +
                    text + "'");
    return n;
}

double CommandLine::number(double lo, double hi)
{
    const std::string text = value();
    double n = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(n) || n < lo || n > hi) {
        char range[96];
        std::snprintf(range, sizeof range, "from %g to %g", lo, hi);
        usage_error(arg_ + " takes a number " + range + " (with a point for decimals), not '" + text + "'");
    }
    return n;
}

void CommandLine::usage_error(const std::string& message) const
{
    std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", program_.c_str(), message.c_str(), program_.c_str());
    std::exit(2);
}

void CommandLine::fail(const std::string& message) const
{
    std::fprintf(stderr, "%s: %s\n", program_.c_str(), message.c_str());
    std::exit(2);
}

}  // namespace umbrascope
