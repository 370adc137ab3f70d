// Helpers of the FAT image tests: running mkfs.fat, mtools and Sleuth Kit
// from argument vectors, and payloads that tell files apart.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/TestSupport.h"

namespace velmora::fattest {

inline bool HaveTool(const std::string& name) {
    for (const char* dir : {"/usr/sbin/", "/usr/bin/", "/sbin/", "/bin/"}) {
        if (access((std::string(dir) + name).c_str(), X_OK) == 0)
            return true;
    }
    return false;
}

// Runs a program from an argument vector (never a shell) with the mtools
// settings the fixtures need; answers its exit status and standard output.
inline int RunTool(const std::vector<std::string>& args, std::string* out = nullptr) {
    int fds[2];
    if (pipe(fds) != 0)
        return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 1);
        close(fds[0]);
        close(fds[1]);
        setenv("MTOOLS_SKIP_CHECK", "1", 1);
        setenv("TZ", "UTC", 1);
        std::vector<char*> argv;
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(fds[1]);
    std::string text;
    char buf[4096];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof(buf))) > 0)
        text.append(buf, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (out)
        *out = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline std::vector<uint8_t> Payload(size_t size, uint8_t seed) {
    std::vector<uint8_t> v(size);
    uint32_t x = 0x9E3779B9u * (seed + 1);
    for (auto& b : v) {
        x = x * 1664525u + 1013904223u;
        b = static_cast<uint8_t>(x >> 24);
    }
    return v;
}

// The pieces of a tool's output between separators.
inline std::vector<std::string> Split(const std::string& text, char sep) {
    std::vector<std::string> out;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find(sep, pos);
        if (end == std::string::npos)
            end = text.size();
        out.push_back(text.substr(pos, end - pos));
        pos = end + 1;
    }
    return out;
}

// Sleuth Kit shows a deleted short name's first byte as "_", we as "#";
// case differs between long and short names.
inline std::string Normal(std::string s) {
    for (auto& c : s) {
        if (c == '#')
            c = '_';
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return s;
}

// Volumes made at test time in a private folder; skipped without the tools.
class FatVolumeTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* tool : {"mkfs.fat", "mcopy", "mmd", "mdel", "mdeltree"}) {
            if (!HaveTool(tool))
                GTEST_SKIP() << tool << " is not installed (dosfstools, mtools)";
        }
    }

    std::string Make(const std::string& name, const std::vector<std::string>& mkfsArgs,
                     const std::string& size) {
        const std::string img = m_dir / name;
        EXPECT_EQ(RunTool({"truncate", "-s", size, img}), 0);
        std::vector<std::string> args = {"mkfs.fat"};
        args.insert(args.end(), mkfsArgs.begin(), mkfsArgs.end());
        args.push_back(img);
        std::string ignored;
        EXPECT_EQ(RunTool(args, &ignored), 0);
        return img;
    }

    void M(const std::vector<std::string>& args) {
        std::string ignored;
        ASSERT_EQ(RunTool(args, &ignored), 0) << args[0] << " " << args.back();
    }

    velmora::test::TempDir m_dir;
};

}  // namespace velmora::fattest
