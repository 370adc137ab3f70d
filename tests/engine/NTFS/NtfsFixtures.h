// The NTFS fixture images for the tests: the committed images unpacked once
// per test run into the build tree and shared by the test processes (no
// root, FUSE or mkntfs needed), the 4 KiB-sector view
// of ntfs.img derived from it, and a walk over every MFT record of an image
// through the record library.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "NTFSLib/NTFSDBR.h"
#include "NTFSLib/NTFSFileNode.h"
#include "NTFSLib/NTFSMultiFileRecord.h"
#include "support/MemoryStorageDevice.h"
#include "support/SharedFolder.h"
#include "support/TestSupport.h"

namespace ntfstest {

inline bool HaveTool(const std::string& tool) {
    return velmora::test::RunProgram({"sh", "-c", "command -v " + tool + " >/dev/null"});
}

// Unpacks tests/fixtures/ntfs/committed/*.img.gz into `dir` and derives
// ntfs_4kdev.img there.
inline bool UnpackImages(const std::string& dir) {
    const std::string src = velmora::test::SourceDir() + "/tests/fixtures/ntfs";
    for (const char* name : {"ntfs", "ntfs_4k", "ntfs_log", "ntfs_init"}) {
        std::string bytes;
        if (!velmora::test::RunProgram({"gzip", "-dc", src + "/committed/" + name + ".img.gz"},
                                       &bytes))
            return false;
        velmora::test::WriteFile(dir + "/" + name + ".img", bytes);
        std::filesystem::copy_file(src + "/committed/" + name + ".json",
                                   dir + "/" + name + ".json");
    }
    return velmora::test::RunProgram({"python3", "-c",
                                      "import sys; sys.path.insert(0, sys.argv[1]); import "
                                      "make; make.derive_4kdev(sys.argv[2])",
                                      src, dir});
}

// Every test runs in a process of its own: the images are made once per run
// in the build tree and read by all of them.
inline std::string SharedImages(const std::string& name,
                                const std::function<bool(const std::string&)>& make) {
    const std::string fixtures = velmora::test::SourceDir() + "/tests/fixtures";
    return velmora::test::SharedFolder(velmora::test::BinaryDir() + "/tests/shared", name,
                                       {fixtures + "/ntfs", fixtures + "/lib"}, make);
}

// The unpacked images; "" when that fails.
inline const std::string& FixtureDir() {
    static const std::string path = SharedImages("ntfs", UnpackImages);
    return path;
}

// The lost-volume disks of tests/fixtures/ntfs/lost_disks.py, made beside
// images unpacked for them (reformatted.img only where mkntfs is installed);
// "" when they cannot be made.
inline const std::string& LostDiskDir() {
    static const std::string path = SharedImages("ntfs-lost", [](const std::string& dir) {
        return UnpackImages(dir) &&
               velmora::test::RunProgram(
                   {"python3", velmora::test::SourceDir() + "/tests/fixtures/ntfs/lost_disks.py",
                    dir});
    });
    return path;
}

// A file of the unpacked images, or else of the lost-volume disks.
inline std::string FixtureFile(const std::string& file) {
    const std::string unpacked = FixtureDir() + "/" + file;
    if (FixtureDir().empty() || std::filesystem::exists(unpacked) || LostDiskDir().empty())
        return unpacked;
    return LostDiskDir() + "/" + file;
}
inline std::string Image(const std::string& name) {
    return FixtureFile(name + ".img");
}
inline std::string Manifest(const std::string& name) {
    return FixtureFile(name + ".json");
}

// One base record as the library reads it.
struct WalkedRecord {
    int64_t number = 0;
    int64_t sector = 0;
    uint32_t offsetInSector = 0;
    bool inUse = false;
    bool folder = false;
    std::vector<std::pair<int64_t, std::string>> names;  // parent, name
    std::unique_ptr<CNTFSFileProperties> props;
    int64_t parent = -1;
};

struct WalkedVolume {
    NTFSVolumeGeometry geometry;
    CNTFSDataRunList mft;
    std::vector<WalkedRecord> records;
    NTFSRecordLocator Locator() const {
        NTFSRecordLocator l;
        l.sectorSize = geometry.deviceSectorSize;
        l.clusterBytes = geometry.clusterBytes;
        l.recordBytes = geometry.recordBytes;
        l.mftRuns = &mft;
        return l;
    }
};

// Every valid base record of the $MFT, with its names and properties.
inline bool WalkMft(IStorageDevice& device, WalkedVolume& out) {
    const uint32_t ss = static_cast<uint32_t>(device.GetSectorSize());
    std::vector<uint8_t> boot(std::max<size_t>(ss, 512));
    CNTFSDBR dbr;
    if (!device.ReadSector(boot.data(), 0, 1) || !dbr.InitFromBuffer(boot.data()) ||
        !GetNTFSVolumeGeometry(dbr, ss, &out.geometry))
        return false;
    const NTFSVolumeGeometry& g = out.geometry;
    std::vector<uint8_t> bytes;
    if (!NTFSRecordLocator::ReadAt(
            &device, static_cast<int64_t>(g.mftCluster * g.clusterBytes / ss),
            static_cast<uint32_t>(g.mftCluster * g.clusterBytes % ss), g.recordBytes, bytes))
        return false;
    CNTFSFileRecord mftRecord(bytes.data(), bytes.size());
    int64_t mftSize = 0;
    if (!CNTFSFileRecordAnalyzer::AddDataRunListfromFileRecordBuffer(mftRecord, out.mft, false,
                                                                     &mftSize))
        return false;
    out.mft.Sort();
    const NTFSRecordLocator locator = out.Locator();
    for (int64_t n = 0; n < mftSize / g.recordBytes; ++n) {
        WalkedRecord w;
        w.number = n;
        if (!locator.Locate(n, &w.sector, &w.offsetInSector) ||
            !NTFSRecordLocator::ReadAt(&device, w.sector, w.offsetInSector, g.recordBytes, bytes))
            continue;
        CNTFSFileRecord record(bytes.data(), bytes.size());
        if (!record.IsValid() || record.IsExtendFileRecord())
            continue;
        w.inUse = record.IsinUse();
        w.folder = record.IsFolder();
        auto list = CNTFSMultiFileRecord::InitExtendFileRecord(record, w.sector, w.offsetInSector,
                                                               n, locator, &device);
        CNTFSMultiFileRecord multi(record, w.sector, w.offsetInSector, &device, list.get());
        for (int i = 0;; ++i) {
            NTFSAttributeRef ref = multi.FindAttibute(0x30, i);
            if (ref.Empty())
                break;
            CNTFSFileRecordFileNameAttribute name(ref.attribute);
            w.names.emplace_back(name.GetFileRecordNumberofParentDirectory(), name.GetFileName());
        }
        CNTFSFilePropertiesBuilder::Options o;
        o.clusterBytes = g.clusterBytes;
        o.recordOffsetInSector = static_cast<uint16_t>(w.offsetInSector);
        w.props.reset(
            CNTFSFilePropertiesBuilder::BuildFileProperties(w.sector, multi, o, &w.parent));
        if (w.props)
            w.props->SetExtendFileRecordInfoList(std::move(list));
        out.records.push_back(std::move(w));
    }
    return true;
}

}  // namespace ntfstest
