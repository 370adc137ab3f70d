// Helpers every benchmark shares: a clock, the median of rounds, and running
// a peer tool or fixture script from an argument vector (never a shell).
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "DataRun.h"
#include "FileNode.h"

namespace bench {

// A fingerprint of what a tree builder produced: every batch in the order it
// was shown, and the finished tree walked in its sibling order, with each
// node's id, parent, name, size, deleted mark and runs. Two builds that
// print the same digest showed the same nodes in the same places.
class TreeDigest {
public:
    void Add(uint64_t v) {
        for (int i = 0; i < 8; ++i) {
            hash_ ^= (v >> (8 * i)) & 0xFF;
            hash_ *= 0x100000001b3ULL;
        }
    }
    void AddText(const char* s) {
        for (; s && *s; ++s)
            Add(static_cast<unsigned char>(*s));
        Add(0xFF);
    }
    void AddNode(IFileNode* n, bool withRuns) {
        Add(static_cast<uint64_t>(n->GetCurrentNodeID()));
        IFileNode* parent = n->GetParent();
        Add(parent ? static_cast<uint64_t>(parent->GetCurrentNodeID()) : 0xDEAD);
        AddText(n->GetFileName());
        Add(static_cast<uint64_t>(n->GetFileSize()));
        Add(static_cast<uint64_t>(n->IsDeleted()));
        Add(static_cast<uint64_t>(n->IsDirectory()));
        auto* node = dynamic_cast<CFileNode*>(n);
        if (withRuns && node) {
            Add(static_cast<uint64_t>(node->IsDamaged()));
            if (IDataRunList* runs = node->GetDataRunList()) {
                Add(static_cast<uint64_t>(runs->GetDataRunListType()));
                Add(static_cast<uint64_t>(runs->GetOffset()));
                for (const DataRun* r = runs->GetFirst(); r; r = runs->GetNext()) {
                    Add(static_cast<uint64_t>(r->start));
                    Add(static_cast<uint64_t>(r->length));
                }
            }
        }
    }
    // One batch as the receiver is shown it.
    void AddBatch(IFileNode** nodes, unsigned count, int lost, bool withRuns) {
        Add(static_cast<uint64_t>(lost));
        for (unsigned i = 0; i < count; ++i)
            AddNode(nodes[i], withRuns);
    }
    // The tree below `root`, depth first in sibling order.
    void AddTree(IFileNode* root, bool withRuns) {
        std::vector<std::pair<IFileNode*, int>> stack{{root, 0}};
        while (!stack.empty()) {
            auto [n, depth] = stack.back();
            stack.pop_back();
            Add(static_cast<uint64_t>(depth));
            AddNode(n, withRuns);
            std::vector<IFileNode*> children;
            for (IFileNode* c = n->GetFirstChild(); c; c = c->GetNextNode())
                children.push_back(c);
            for (auto it = children.rbegin(); it != children.rend(); ++it)
                stack.emplace_back(*it, depth + 1);
        }
    }
    uint64_t Value() const { return hash_; }

private:
    uint64_t hash_ = 0xcbf29ce484222325ULL;
};

inline double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

inline double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty()      ? 0
           : v.size() % 2 ? v[v.size() / 2]
                          : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// Runs a program with its output thrown away, or its standard output written
// to `stdoutPath`. Times are UTC and mtools skips its geometry check, so
// fixture scripts and peers give the same listings on every machine. The
// exit status, or -1 when it did not exit.
inline int RunProgram(const std::vector<std::string>& args, const char* stdoutPath = nullptr) {
    const pid_t pid = fork();
    if (pid == 0) {
        const int sink = stdoutPath != nullptr
                             ? ::open(stdoutPath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644)
                             : ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (sink >= 0)
            dup2(sink, 1);
        const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (null >= 0)
            dup2(null, 2);
        setenv("MTOOLS_SKIP_CHECK", "1", 1);
        setenv("TZ", "UTC", 1);
        std::vector<char*> argv;
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) < 0)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace bench
