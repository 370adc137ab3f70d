// Small helpers shared by the tests: private temporary folders and files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velmora::test {

// A private folder made with mkdtemp, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);
void WriteFile(const std::string& path, const std::string& text);
std::vector<uint8_t> ReadFile(const std::string& path);
std::string ReadText(const std::string& path);

// The source tree's root (tests find fixture scripts through it).
std::string SourceDir();
// The build tree's root.
std::string BinaryDir();

// Runs a program from an argument vector (never a shell string); whether it
// exited with 0, and its standard output when asked for.
bool RunProgram(const std::vector<std::string>& argv, std::string* output = nullptr);

// True when running as root (loop devices, mounts).
bool IsRoot();

}  // namespace velmora::test
