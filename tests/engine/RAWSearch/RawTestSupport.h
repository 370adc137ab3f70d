// Test doubles shared by the signature-search tests: a tree builder that
// records what it is handed, a progress sink that can say stop, a device
// with unreadable sectors, and byte helpers.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "FileNode.h"
#include "SearchInterfaces.h"
#include "support/MemoryStorageDevice.h"

namespace rawtest {

inline void Put16(std::vector<uint8_t>& v, size_t at, uint16_t x, bool le = true) {
    if (v.size() < at + 2)
        v.resize(at + 2);
    for (int i = 0; i < 2; ++i)
        v[at + (le ? i : 1 - i)] = static_cast<uint8_t>(x >> (8 * i));
}
inline void Put32(std::vector<uint8_t>& v, size_t at, uint32_t x, bool le = true) {
    if (v.size() < at + 4)
        v.resize(at + 4);
    for (int i = 0; i < 4; ++i)
        v[at + (le ? i : 3 - i)] = static_cast<uint8_t>(x >> (8 * i));
}
inline void PutBytes(std::vector<uint8_t>& v, size_t at, const std::string& s) {
    if (v.size() < at + s.size())
        v.resize(at + s.size());
    std::memcpy(v.data() + at, s.data(), s.size());
}

// Takes every node it accepts and frees them at the end.
class RecordingBuilder : public IDirecotryTreeBuilder {
public:
    struct Added {
        IFileNode* node;
        int type;
    };
    ~RecordingBuilder() override { Clear(); }
    // Frees what it was given and forgets it.
    void Clear() {
        for (Added& a : added)
            a.node->Release();
        added.clear();
    }
    int Initialize(const char*, IDrirectoryTree*, IRecoveryFilter*) override { return 1; }
    int AddNode(IFileNode* node, _tagSearcherType type) override {
        ++offered;
        if (refuse && refuse(node))
            return 0;
        added.push_back({node, type});
        return 1;
    }
    int AddSearcherInfo(_tagSearcherType type, long long rootId) override {
        infos.emplace_back(type, rootId);
        return 1;
    }
    void FlashBuild(_tagSearcherType type) override { flashed.push_back(type); }
    void Release() override {}
    void SetPartitonDevice(CSearchedPartitionInfo*, IStorageDevice*) override {}

    std::vector<IFileNode*> Files(int type = -1) const {
        std::vector<IFileNode*> out;
        for (const Added& a : added) {
            if (!a.node->IsDirectory() && (type < 0 || a.type == type))
                out.push_back(a.node);
        }
        return out;
    }
    const Added* Find(const std::string& name) const {
        for (const Added& a : added) {
            if (a.node->GetFileName() && name == a.node->GetFileName())
                return &a;
        }
        return nullptr;
    }
    const Added* FindId(long long id, bool folder) const {
        for (const Added& a : added) {
            if (a.node->GetCurrentNodeID() == id && (a.node->IsDirectory() != 0) == folder)
                return &a;
        }
        return nullptr;
    }
    // Folder names from the tree's root down to the node's parent.
    std::string FolderPath(IFileNode* node) const {
        std::string path;
        long long parent = node->GetParentNodeID();
        for (int depth = 0; depth < 16; ++depth) {
            const Added* folder = FindId(parent, true);
            if (folder == nullptr)
                break;
            path = std::string(folder->node->GetFileName()) + (path.empty() ? "" : "/" + path);
            parent = folder->node->GetParentNodeID();
        }
        return path;
    }

    std::vector<Added> added;
    std::vector<std::pair<int, long long>> infos;
    std::vector<int> flashed;
    std::function<bool(IFileNode*)> refuse;
    int offered = 0;
};

class SwitchProgress : public IProgress {
public:
    void UpdateProgress(_PROGRESS_INFO*) override {}
    int Continued() override { return ++asked > stopAfter ? 0 : 1; }
    int shouldBuild() override { return 1; }
    long long asked = 0;
    long long stopAfter = 1LL << 62;
};

// Reads that touch sectors [badFirst, badEnd) fail.
class FlakyDevice : public velmora::test::MemoryStorageDevice {
public:
    FlakyDevice(std::vector<uint8_t> bytes, int sectorSize, long long badFirst, long long badEnd)
        : MemoryStorageDevice(std::move(bytes), sectorSize), badFirst_(badFirst), badEnd_(badEnd) {}
    int ReadSector(void* buffer, long long first, long long count) override {
        if (first < badEnd_ && badFirst_ < first + count)
            return 0;
        return MemoryStorageDevice::ReadSector(buffer, first, count);
    }

private:
    long long badFirst_;
    long long badEnd_;
};

}  // namespace rawtest
