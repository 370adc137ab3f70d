#include "FileReader.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "EngineServices.h"
#include "FileNode.h"
#include "IStorageDevice.h"
#include "ReleasePtr.h"
#include "SearchedPartitionInfo.h"
#include "SectorSize.h"
#include "Utility/CatchExeception.h"

bool RecordMatchesDevice(const CSearchedPartitionInfo* partition, IStorageDevice* device) {
    if (!partition || !device)
        return false;
    const unsigned deviceSize =
        vk::NormaliseSectorSize(static_cast<uint64_t>(std::max(device->GetSectorSize(), 0)));
    if (partition->GetSectorSize() == deviceSize)
        return true;
    // Cluster sizes come from the record and run origins are device sectors:
    // with two sector sizes one of them would address the wrong bytes.
    CatchExeception::WriteLog(
        "file reader: partition record of %u-byte sectors on a device of %u-byte sectors, "
        "refused\n",
        partition->GetSectorSize(), deviceSize);
    return false;
}

namespace {

// How far into the file the runs reach. A size past their end would be
// made of nothing but zeros no run gave: a damaged or hostile record
// claiming 2^62 bytes over one cluster would fill the destination. Runs
// with data (not sparse or lost) are counted only up to the device's size
// in all: no file holds more data than its device, so runs past that are
// damage, and a huge run off the device's end cannot fill it either.
long long CoveredBytes(const std::vector<DataRun>& runs, long long bpc, IStorageDevice* device) {
    const long long ss = static_cast<long long>(
        vk::NormaliseSectorSize(static_cast<uint64_t>(std::max(device->GetSectorSize(), 0))));
    const long long sectors = device->GetTotalSectors();
    long long deviceBytes = INT64_MAX;
    if (sectors >= 0 && __builtin_mul_overflow(sectors, ss, &deviceBytes))
        deviceBytes = INT64_MAX;
    long long at = 0;         // file offset of the current run's end
    long long allocated = 0;  // data bytes the runs so far claim
    for (const DataRun& run : runs) {
        long long bytes = 0;
        if (__builtin_mul_overflow(run.length, bpc, &bytes))
            bytes = INT64_MAX;
        if (run.start >= 0) {
            const long long usable = std::min(bytes, deviceBytes - allocated);
            allocated += usable;
            if (usable < bytes)
                return __builtin_add_overflow(at, usable, &at) ? INT64_MAX : at;
        }
        if (__builtin_add_overflow(at, bytes, &at))
            return INT64_MAX;
    }
    return at;
}

}  // namespace

int CFileReader::Open(IStorageDevice* device, CFileNode* node, CSearchedPartitionInfo* partition) {
    if (!device || !node || !partition)
        return 0;
    if (!RecordMatchesDevice(partition, device))
        return 0;
    const long long bpc =
        static_cast<long long>(partition->sectorsPerCluster) * partition->GetSectorSize();
    if (partition->sectorsPerCluster == 0 || bpc <= 0 || bpc > (1LL << 30))
        return 0;
    const long long size = node->GetFileSize();
    if (size < 0)
        return 0;
    IDataRunList* list = node->GetDataRunList();
    // An empty file has nothing to read and often no runs at all, but it is
    // still a file the user wants back.
    if (!list && size != 0)
        return 0;

    std::vector<DataRun> runs;
    const bool resident =
        list && (list->IsResident() != 0 || list->GetDataRunListType() == DATARUN_LIST_RESIDENT);
    if (!resident && list) {
        for (const DataRun* r = list->GetFirst(); r; r = list->GetNext()) {
            if (runs.size() >= kMaxReaderRuns) {
                CatchExeception::WriteLog("CFileReader::Open: more than %zu runs, refused\n",
                                          kMaxReaderRuns);
                return 0;
            }
            if (r->length <= 0)
                continue;
            runs.push_back(*r);
        }
    }
    device_ = device;
    node_ = node;
    long long readable = size;
    if (!resident) {
        readable = std::min(size, CoveredBytes(runs, bpc, device));
        if (readable < size)
            CatchExeception::WriteLog(
                "CFileReader::Open: a size of %lld bytes over runs that hold %lld, cut\n", size,
                readable);
    }
    claimedSize_ = readable < size ? size : 0;
    sectorsPerCluster_ = static_cast<int>(partition->sectorsPerCluster);
    bytesPerCluster_ = static_cast<int>(bpc);
    fileSize_ = readable;
    // Past the valid data length the file reads as zeros, however much of
    // it the runs cover.
    const long long valid = node->GetValidDataLength();
    validSize_ = valid >= 0 && valid < readable && !resident ? valid : readable;
    runOrigin_ = partition->runOriginSector;
    runs_ = std::move(runs);
    resident_ = resident;
    return 1;
}

void CFileReader::Close() {
    device_ = nullptr;
    node_ = nullptr;
    runs_.clear();
}

int CFileReader::IsCompressFile() {
    return node_ ? node_->IsCompressed() : 0;
}

IFileReader* CFileReader::Clone() {
    return new CFileReader(*this);
}

int CFileReader::DeviceSectorSize() const {
    const int s = device_ ? device_->GetSectorSize() : 0;
    return static_cast<int>(vk::NormaliseSectorSize(static_cast<uint64_t>(std::max(s, 0))));
}

bool CFileReader::ClusterToByte(long long cluster, long long within, long long* position) const {
    const long long sector = DeviceSectorSize();
    long long origin = 0, pos = 0;
    if (cluster < 0 || within < 0)
        return false;
    if (__builtin_mul_overflow(cluster, static_cast<long long>(bytesPerCluster_), &pos))
        return false;
    if (__builtin_mul_overflow(runOrigin_, sector, &origin))
        return false;
    if (__builtin_add_overflow(pos, origin, &pos))
        return false;
    if (__builtin_add_overflow(pos, within, &pos))
        return false;
    if (pos < 0)
        return false;
    *position = pos;
    return true;
}

bool CFileReader::ReadDeviceBytes(long long position, unsigned char* out, long long length) {
    const long long ss = DeviceSectorSize();
    const long long total = device_->GetTotalSectors();
    long long end = 0;
    if (length <= 0)
        return true;
    if (position < 0 || __builtin_add_overflow(position, length, &end))
        return false;
    // Checked here as well as by the device: a run past the end is damage,
    // and some devices pad short reads rather than fail them.
    if (total >= 0 && end / ss + (end % ss != 0 ? 1 : 0) > total)
        return false;

    std::vector<unsigned char> bounce;
    long long sector = position / ss;
    long long skip = position % ss;
    if (skip != 0) {
        bounce.resize(static_cast<size_t>(ss));
        if (!device_->ReadSector(bounce.data(), sector, 1))
            return false;
        const long long n = std::min(length, ss - skip);
        std::memcpy(out, bounce.data() + skip, static_cast<size_t>(n));
        out += n;
        length -= n;
        ++sector;
    }
    const long long whole = length / ss;
    if (whole > 0) {
        if (!device_->ReadSector(out, sector, whole))
            return false;
        out += whole * ss;
        length -= whole * ss;
        sector += whole;
    }
    if (length > 0) {
        bounce.resize(static_cast<size_t>(ss));
        if (!device_->ReadSector(bounce.data(), sector, 1))
            return false;
        std::memcpy(out, bounce.data(), static_cast<size_t>(length));
    }
    return true;
}

void CFileReader::SalvageSectors(long long first, long long count, unsigned char* out, long long at,
                                 CLostRanges& failed) {
    const long long ss = DeviceSectorSize();
    const long long total = device_->GetTotalSectors();
    // Sectors past the device's end do not exist: lost without asking.
    if (total >= 0 && first + count > total) {
        const long long inside = std::max(0LL, total - first);
        std::memset(out + inside * ss, 0, static_cast<size_t>((count - inside) * ss));
        failed.Add(at + inside * ss, (count - inside) * ss);
        count = inside;
    }
    if (count <= 0)
        return;
    if (device_->ReadSector(out, first, count))
        return;
    if (count == 1) {
        std::memset(out, 0, static_cast<size_t>(ss));
        failed.Add(at, ss);
        return;
    }
    // Halving finds an isolated bad sector in a few dozen reads instead of
    // one read per sector of the chunk.
    const long long half = count / 2;
    SalvageSectors(first, half, out, at, failed);
    SalvageSectors(first + half, count - half, out + half * ss, at + half * ss, failed);
}

bool CFileReader::ReadDeviceBytesSalvaging(long long position, unsigned char* out, long long length,
                                           long long fileOffset) {
    if (length <= 0)
        return true;
    if (ReadDeviceBytes(position, out, length))
        return true;
    const long long ss = DeviceSectorSize();
    // Whole sectors through a buffer of the span they cover, so that the
    // caller's buffer is never written past `length`.
    const long long skip = position % ss;
    const long long sectors = (skip + length + ss - 1) / ss;
    std::vector<unsigned char> span;
    try {
        span.assign(static_cast<size_t>(sectors * ss), 0);
    } catch (const std::bad_alloc&) {
        std::memset(out, 0, static_cast<size_t>(length));
        lost_.Add(fileOffset, length);
        return false;
    }
    CLostRanges failed;  // byte offsets within the span
    SalvageSectors(position / ss, sectors, span.data(), 0, failed);
    // Only the part of a failed sector that belongs to the asked bytes is
    // lost.
    for (const LostRange& r : failed.Ranges()) {
        const long long from = std::max(r.offset, skip);
        const long long to = std::min(r.offset + r.length, skip + length);
        if (to > from)
            lost_.Add(fileOffset + from - skip, to - from);
    }
    std::memcpy(out, span.data() + skip, static_cast<size_t>(length));
    CatchExeception::WriteLog(
        "CFileReader: %lld bytes at device byte %lld read in part; %lld unreadable bytes are "
        "zeros\n",
        length, position, failed.TotalBytes());
    return failed.Empty();
}

int CFileReader::ReadResidentData(long long offset, unsigned char* buffer, int length, int& got) {
    got = 0;
    if (offset < 0 || length < 0)
        return 0;
    IResidentDataService* service = vk::ResidentDataService();
    vk::ReleasePtr<IFileReader> reader(
        service
            ? service->CreateResidentDataReader(device_, static_cast<IFileNode*>(node_), runOrigin_,
                                                static_cast<unsigned>(sectorsPerCluster_))
            : nullptr);
    if (!reader)
        return 0;
    int error = 0;
    const unsigned n = reader->ReadData(offset, reinterpret_cast<char*>(buffer),
                                        static_cast<unsigned>(length), &error);
    if (n == 0 || n > static_cast<unsigned>(length))
        return 0;
    got = static_cast<int>(n);
    // Data inside a torn record: what its stale sectors held is not given
    // back as the file's.
    if (const CLostRanges* lost = reader->GetLostRanges())
        lost_.Add(*lost);
    return 1;
}

int CFileReader::Read(long long offset, unsigned char* buffer, int length, int& got, int* error) {
    got = 0;
    auto fail = [error]() {
        if (error)
            *error = -1;
        return 0;
    };
    if (!device_ || !buffer || length < 0 || offset < 0 || offset >= fileSize_)
        return fail();
    long long want = std::min<long long>(length, fileSize_ - offset);
    if (resident_) {
        const long long lostBefore = lost_.TotalBytes();
        if (!ReadResidentData(offset, buffer, static_cast<int>(want), got))
            return fail();
        if (lost_.TotalBytes() != lostBefore && error)
            *error = kReadDataLost;
        return 1;
    }
    if (runs_.empty())
        return fail();
    // Past the valid data length the file holds zeros, whatever its
    // clusters (or their lost runs) hold: those bytes are not read.
    const long long unwritten = std::min(want, offset + want - std::max(offset, validSize_));
    if (unwritten > 0) {
        std::memset(buffer + (want - unwritten), 0, static_cast<size_t>(unwritten));
        want -= unwritten;
    }

    const long long bpc = bytesPerCluster_;
    bool lost = false;
    long long runFirstByte = 0;  // file offset of the current run's first byte
    for (const DataRun& run : runs_) {
        if (want <= 0)
            break;
        long long runBytes = 0;
        if (__builtin_mul_overflow(run.length, bpc, &runBytes))
            return fail();
        long long runEnd = 0;
        if (__builtin_add_overflow(runFirstByte, runBytes, &runEnd))
            return fail();
        const long long pos = offset + got;
        if (pos < runEnd) {
            const long long within = pos - runFirstByte;
            const long long n = std::min(want, runEnd - pos);
            unsigned char* out = buffer + got;
            if (run.start < 0) {
                std::memset(out, 0, static_cast<size_t>(n));
                if (run.IsLost()) {
                    lost_.Add(pos, n);
                    lost = true;
                }
            } else {
                long long device = 0;
                if (!ClusterToByte(run.start, within, &device)) {
                    CatchExeception::WriteLog(
                        "CFileReader::Read: run at cluster %lld cannot be addressed\n", run.start);
                    std::memset(out, 0, static_cast<size_t>(n));
                    lost_.Add(pos, n);
                    lost = true;
                } else if (!ReadDeviceBytesSalvaging(device, out, n, pos)) {
                    lost = true;
                }
            }
            got += static_cast<int>(n);
            want -= n;
        }
        runFirstByte = runEnd;
    }
    // The zeros follow only a whole written part: runs that end first make
    // a short read, as they do for any file.
    if (unwritten > 0 && want <= 0)
        got += static_cast<int>(unwritten);
    if (lost && error)
        *error = kReadDataLost;
    return 1;
}

unsigned CFileReader::ReadData(long long offset, char* buffer, unsigned length, int* error) {
    int got = 0;
    const int asked = static_cast<int>(std::min<unsigned>(length, 0x7FFFFFFFu));
    if (!Read(offset, reinterpret_cast<unsigned char*>(buffer), asked, got, error))
        return 0;
    return static_cast<unsigned>(got);
}
