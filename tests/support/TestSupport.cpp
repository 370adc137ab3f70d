#include "support/TestSupport.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace velmora::test {

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/velmora-test-XXXXXX";
    if (mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

void WriteFile(const std::string& path, const std::string& text) {
    WriteFile(path, std::vector<uint8_t>(text.begin(), text.end()));
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string ReadText(const std::string& path) {
    auto bytes = ReadFile(path);
    return std::string(bytes.begin(), bytes.end());
}

std::string SourceDir() {
    if (const char* env = std::getenv("VELMORA_SOURCE_DIR"); env && *env) return env;
    return VELMORA_SOURCE_DIR_DEFAULT;
}

std::string BinaryDir() {
    if (const char* env = std::getenv("VELMORA_BINARY_DIR"); env && *env) return env;
    return VELMORA_BINARY_DIR_DEFAULT;
}

bool IsRoot() { return geteuid() == 0; }

}  // namespace velmora::test
