#include "cli/command_line.hpp"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <vector>
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

std::string nearest_option(std::string_view usage, const std::string& given)
{
    // Edit distance to each "--word" of the usage; within two edits, or a plain prefix, is meant.
    const auto distance = [](const std::string& a, const std::string& b) {
        std::vector<std::size_t> row(b.size() + 1);
        for (std::size_t j = 0; j <= b.size(); ++j)
            row[j] = j;
        for (std::size_t i = 1; i <= a.size(); ++i) {
            std::size_t diagonal = row[0];
            row[0] = i;
            for (std::size_t j = 1; j <= b.size(); ++j) {
                const std::size_t up = row[j];
                row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
                diagonal = up;
            }
        }
        return row[b.size()];
    };
    std::string best;
    std::size_t best_distance = 3;
    for (std::size_t at = usage.find("--"); at != std::string_view::npos; at = usage.find("--", at + 2)) {
        std::size_t end = at + 2;
        while (end < usage.size() && (std::isalnum(static_cast<unsigned char>(usage[end])) != 0 || usage[end] == '-'))
            ++end;
        const std::string option(usage.substr(at, end - at));
        if (option.size() <= 2 || option == given)
            continue;
        const std::size_t d = option.rfind(given, 0) == 0 && given.size() >= 4 ? 1 : distance(given, option);
        if (d < best_distance) {
            best_distance = d;
            best = option;
        }
    }
    return best;
}

void CommandLine::unknown_option() const
{
    const std::string nearest = nearest_option(usage_, arg_);
    usage_error("unknown option '" + arg_ + "'" + (nearest.empty() ? std::string() : " (did you mean " + nearest + "?)"));
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
