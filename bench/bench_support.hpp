#pragma once
// What the benchmarks that run programs and the OpenDSS engine share: files whole, shell words,
// commands run quietly, and the engine at UMBRASCOPE_OPENDSS (default ../shared/opendss/dss).

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace umbrascope::bench {

inline std::string slurp(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void put(const std::filesystem::path& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

// A path as one word of the shell.
inline std::string quote(const std::filesystem::path& path)
{
    std::string quoted(1, '\'');
    quoted += path.string();
    quoted += '\'';
    return quoted;
}

// Whether a shell command ran and ended well; its output goes nowhere.
inline bool run(const std::string& command) { return std::system((command + " > /dev/null 2>&1").c_str()) == 0; }

inline std::filesystem::path engine()
{
    const char* named = std::getenv("UMBRASCOPE_OPENDSS");
    return named != nullptr ? std::filesystem::path(named)
                            : std::filesystem::path(UMBRASCOPE_SOURCE_DIR) / "../shared/opendss/dss";
}

inline bool engine_runs()
{
    return std::filesystem::exists(engine()) && run(quote(engine()) + " -c \"new circuit.probe\" -c solve");
}

}  // namespace umbrascope::bench
