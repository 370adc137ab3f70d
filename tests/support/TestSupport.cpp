#include "support/TestSupport.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace velmora::test {

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/velmora-test-XXXXXX";
    if (mkdtemp(tmpl.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

void WriteFile(const std::string& path, const std::string& text) {
    WriteFile(path, std::vector<uint8_t>(text.begin(), text.end()));
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>());
}

std::string ReadText(const std::string& path) {
    auto bytes = ReadFile(path);
    return std::string(bytes.begin(), bytes.end());
}

std::string SourceDir() {
    if (const char* env = std::getenv("VELMORA_SOURCE_DIR"); env && *env)
        return env;
    return VELMORA_SOURCE_DIR_DEFAULT;
}

std::string BinaryDir() {
    if (const char* env = std::getenv("VELMORA_BINARY_DIR"); env && *env)
        return env;
    return VELMORA_BINARY_DIR_DEFAULT;
}

bool IsRoot() {
    return geteuid() == 0;
}

ScopedEnv::ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) {
        hadValue_ = true;
        saved_ = old;
    }
    Set(value);
}

ScopedEnv::~ScopedEnv() {
    if (hadValue_)
        setenv(name_.c_str(), saved_.c_str(), 1);
    else
        unsetenv(name_.c_str());
}

void ScopedEnv::Set(const char* value) {
    if (value)
        setenv(name_.c_str(), value, 1);
    else
        unsetenv(name_.c_str());
}

bool ToolsRequired() {
    const char* v = std::getenv("VELMORA_REQUIRE_TOOLS");
    return v && std::string(v) == "1";
}

bool RunProgram(const std::vector<std::string>& argv, std::string* output) {
    if (argv.empty())
        return false;
    int fds[2];
    if (pipe(fds) != 0)
        return false;
    pid_t pid = fork();
    if (pid < 0) {
        close(fds[0]);
        close(fds[1]);
        return false;
    }
    if (pid == 0) {
        dup2(fds[1], STDOUT_FILENO);
        close(fds[0]);
        close(fds[1]);
        std::vector<char*> args;
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(fds[1]);
    std::string out;
    char buf[4096];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0)
        out.append(buf, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (output)
        *output = out;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace velmora::test
