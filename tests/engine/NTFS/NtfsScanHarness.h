// Shared pieces of the NTFS scan tests: a device with unreadable sectors,
// a progress sink and a tree receiver that record what they are given, the
// path a node is shown under, and byte surgery on fixture images.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "IStorageDevice.h"
#include "NtfsFixtures.h"
#include "NtfsRecordBuilder.h"
#include "SearchInterfaces.h"
#include "support/MemoryStorageDevice.h"

namespace ntfstest {

using velmora::test::MemoryStorageDevice;

// A device whose chosen sectors cannot be read.
class FailingDevice final : public IStorageDevice {
public:
    FailingDevice(std::vector<uint8_t> bytes, int sectorSize)
        : mem_(std::move(bytes), sectorSize) {}
    int Open(char* p) override { return mem_.Open(p); }
    int Close() override { return mem_.Close(); }
    int ReadSector(void* buffer, long long first, long long count) override {
        for (long long s = first; s < first + count; ++s) {
            if (bad.count(s))
                return 0;
        }
        return mem_.ReadSector(buffer, first, count);
    }
    int GetSectorSize() override { return mem_.GetSectorSize(); }
    long long GetTotalSectors() override { return mem_.GetTotalSectors(); }
    int IOCtl(unsigned long long c, void* a) override { return mem_.IOCtl(c, a); }
    IStorageDeviceData* GetPrivateData() override { return mem_.GetPrivateData(); }
    void SetPrivateData(IStorageDeviceData* d) override { mem_.SetPrivateData(d); }
    int GetType() override { return kDeviceVolume; }
    VKRESULT GetLastError() override { return mem_.GetLastError(); }
    std::set<long long> bad;

private:
    MemoryStorageDevice mem_;
};

class RecordingProgress final : public IProgress {
public:
    void UpdateProgress(_PROGRESS_INFO* info) override { states.push_back(info->state); }
    int Continued() override { return stopAfter < 0 || ++asked <= stopAfter; }
    int shouldBuild() override { return 1; }
    std::vector<int> states;
    int stopAfter = -1;
    int asked = 0;
};

class CollectingTree final : public IDrirectoryTree {
public:
    void ShowNodes(IFileNode** nodes, unsigned count, int) override {
        shown.insert(shown.end(), nodes, nodes + count);
    }
    void ShowFilesystemNode(IFilesystemNode*) override { ++roots; }
    std::vector<IFileNode*> shown;
    int roots = 0;
};

inline std::string NodePath(IFileNode* node) {
    std::string path;
    for (IFileNode* n = node; n && n->GetParent(); n = n->GetParent())
        path = "/" + std::string(n->GetFileName() ? n->GetFileName() : "") + path;
    return path;
}

// Byte surgery on a fresh mkntfs image, whose first records lie together
// at the $MFT's start.
struct ImageBytes {
    explicit ImageBytes(std::vector<uint8_t> b) : bytes(std::move(b)) {
        sectorSize = Get16(bytes, 11);
        cluster = uint64_t{sectorSize} * bytes[13];
        mft = vk::LoadLE<uint64_t>(bytes.data() + 0x30) * cluster;
        recordSize = 1024;
    }
    size_t RecordAt(int64_t n) const { return static_cast<size_t>(mft + n * recordSize); }
    int64_t Find(const std::u16string& name) const {
        for (int64_t n = 16; n < 400; ++n) {
            CNTFSFileRecord r(bytes.data() + RecordAt(n), recordSize);
            if (!r.IsValid())
                continue;
            for (int i = 0; i < 4; ++i) {
                CNTFSFileRecordFileNameAttribute a(r.FindAttibute(0x30, i));
                if (!a.Empty() && a.IsFileNameEqual(name))
                    return n;
            }
        }
        return -1;
    }
    // Edits record n with its update sequence undone, then puts it back.
    void Patch(int64_t n, const std::function<void(uint8_t*)>& edit) {
        uint8_t* r = bytes.data() + RecordAt(n);
        ASSERT_TRUE(CNTFSFileRecord::UnfixupFileRecord(r, recordSize));
        edit(r);
        ASSERT_TRUE(CNTFSFileRecord::FixupFileRecord(r, recordSize));
    }
    // The offset of record n's first attribute of a type.
    size_t AttributeOf(int64_t n, uint32_t type) const {
        std::vector<uint8_t> copy(bytes.begin() + static_cast<long>(RecordAt(n)),
                                  bytes.begin() + static_cast<long>(RecordAt(n) + recordSize));
        CNTFSFileRecord::UnfixupFileRecord(copy.data(), copy.size());
        size_t off = 0;
        CNTFSFileRecord::FindAttibute(copy.data(), copy.size(), type, 0, &off);
        return off;
    }
    std::vector<uint8_t> bytes;
    uint32_t sectorSize;
    uint64_t cluster;
    uint64_t mft;
    uint32_t recordSize;
};

inline std::vector<uint8_t> LoadBytes(const std::string& name) {
    auto device = MemoryStorageDevice::FromFile(Image(name), 512);
    return device->Bytes();
}

}  // namespace ntfstest
