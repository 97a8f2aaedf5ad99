// Files as the Maildir tests write and read them.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace skerrow::test {

namespace fs = std::filesystem;

inline std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A new folder of the user's alone in under (the temporary directory), its
// name starting with prefix.
inline fs::path makeTempDir(const std::string& prefix, const fs::path& under = fs::temp_directory_path()) {
    std::string pattern = (under / (prefix + "-XXXXXX")).string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("cannot make a folder in " + under.string());
    return pattern;
}

// Writes the file whole, making its folders.
inline void writeFile(const fs::path& path, const std::string& content) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    if (!(out << content).flush())
        throw std::runtime_error("cannot write " + path.string());
}

// The names in a folder, sorted; none when it does not exist.
inline std::vector<std::string> fileNames(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code missing;
    for (const auto& entry : fs::directory_iterator(folder, missing))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// A message from its header lines and body, lines ended by eol.
inline std::string mailText(const std::vector<std::string>& headers, const std::string& body,
                            const std::string& eol = "\n") {
    std::string text;
    for (const auto& header : headers)
        text += header + eol;
    return text + eol + body;
}

} // namespace skerrow::test
