// Golden traces: whole runs on small input folders, every observable event pinned. Run with
// UPDATE_GOLDEN=1 to write the expected traces anew after an intended change, and read the diff.
// An `options` file in a folder holds words: keep-going, large (large inputs), passes=N.
// Every folder within the classic bounds gives the same trace with large inputs too.

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "test_support.hpp"

namespace umbrascope {
namespace {

namespace fs = std::filesystem;

struct GoldenCase {
    std::string name;
    fs::path input;
    fs::path expected;
    HeadlessOptions options;
    bool large = false;
};

void PrintTo(const GoldenCase& c, std::ostream* os) { *os << c.name; }

std::vector<GoldenCase> golden_cases()
{
    const fs::path source = UMBRASCOPE_SOURCE_DIR;
    std::vector<GoldenCase> cases;
    for (const fs::directory_entry& entry : fs::directory_iterator(source / "tests/data/golden")) {
        if (!entry.is_directory())
            continue;
        GoldenCase c{entry.path().filename().string(), entry.path(), entry.path() / "expected.trace", {}};
        std::ifstream options(entry.path() / "options");
        for (std::string word; options >> word;) {
            c.options.keep_going = c.options.keep_going || word == "keep-going";
            c.large = c.large || word == "large";
            if (word.rfind("passes=", 0) == 0)
                c.options.max_passes = std::stoi(word.substr(7));
        }
        cases.push_back(c);
    }
    std::sort(cases.begin(), cases.end(), [](const GoldenCase& a, const GoldenCase& b) { return a.name < b.name; });
    cases.push_back({"ieee13_example", source / "examples/ieee13", source / "tests/data/golden/ieee13.trace", {}});
    return cases;
}

std::string read_file(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string first_difference(const std::vector<std::string>& expected, const std::vector<std::string>& actual)
{
    std::size_t i = 0;
    while (i < expected.size() && i < actual.size() && expected[i] == actual[i])
        ++i;
    std::string out = "first difference at line " + std::to_string(i + 1) + "\n";
    const std::size_t from = i >= 3 ? i - 3 : 0;
    for (std::size_t k = from; k < i; ++k)
        out += "  " + expected[k] + "\n";
    for (std::size_t k = i; k < std::min(expected.size(), i + 3); ++k)
        out += "- " + expected[k] + "\n";
    for (std::size_t k = i; k < std::min(actual.size(), i + 3); ++k)
        out += "+ " + actual[k] + "\n";
    return out;
}

class Golden : public ::testing::TestWithParam<GoldenCase> {};

std::string trace_of(const GoldenCase& c, bool large)
{
    // Run in the input folder, as the window runs in its working folder.
    const fs::path home = fs::current_path();
    fs::current_path(c.input);
    testing::PassRun run(".", large);
    (void)run_headless(run.world, run.controls, run.trace, c.options, {});
    run.input.close();
    fs::current_path(home);
    return run.out.str();
}

TEST_P(Golden, TraceMatches)
{
    const GoldenCase& c = GetParam();
    const std::string actual = trace_of(c, c.large);
    if (std::getenv("UPDATE_GOLDEN") != nullptr) {
        std::ofstream(c.expected, std::ios::binary) << actual;
        GTEST_SKIP() << "wrote " << c.expected;
    }
    const std::string expected = read_file(c.expected);
    ASSERT_FALSE(expected.empty()) << "no expected trace at " << c.expected << "; run with UPDATE_GOLDEN=1";
    if (actual != expected)
        ADD_FAILURE() << first_difference(testing::split_lines(expected), testing::split_lines(actual));
    if (!c.large) {
        const std::string large = trace_of(c, true);
        if (large != expected)
            ADD_FAILURE() << "with large inputs: " << first_difference(testing::split_lines(expected), testing::split_lines(large));
    }
}

INSTANTIATE_TEST_SUITE_P(Folders, Golden, ::testing::ValuesIn(golden_cases()),
                         [](const ::testing::TestParamInfo<GoldenCase>& param_info) {
                             std::string name = param_info.param.name;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

}  // namespace
}  // namespace umbrascope
