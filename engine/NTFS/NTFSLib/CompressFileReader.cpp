#include "CompressFileReader.h"

#include <algorithm>
#include <cstring>

#include "FileNode.h"
#include "ReleasePtr.h"
#include "SearchInterfaces.h"
#include "Utility/CatchExeception.h"

namespace {

// Most pieces one file may be cut into (4 TiB of 64 KiB units).
constexpr size_t kMaxPieces = size_t{1} << 26;

uint16_t Le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

}  // namespace

bool ReGroupCompressDataRunList(const std::vector<DataRun>& runs,
                                std::vector<tagCompressDataRun>& pieces, long long maxClusters) {
    pieces.clear();
    std::vector<tagCompressDataRun> pending;
    long long missing = kCompressUnitClusters;
    long long placed = 0;
    for (const DataRun& run : runs) {
        if (placed >= maxClusters)
            break;
        if (run.length <= 0)
            continue;
        const bool sparse = run.start < 0;
        long long left = run.length;
        long long used = 0;
        while (left >= missing && placed < maxClusters) {
            const int32_t type =
                sparse ? (missing == kCompressUnitClusters ? SPARSE_UNIT : COMPRESSED_UNIT)
                       : NONECOMPRESSED_UNIT;
            for (tagCompressDataRun& p : pending) {
                p.eType = type;
                pieces.push_back(p);
            }
            pending.clear();
            pieces.push_back(
                {sparse ? run.start : run.start + used, static_cast<int32_t>(missing), type});
            if (pieces.size() > kMaxPieces)
                return false;
            left -= missing;
            used += missing;
            placed += missing;
            missing = kCompressUnitClusters;
        }
        if (left > 0 && left < missing && placed < maxClusters) {
            pending.push_back({sparse ? run.start : run.start + used, static_cast<int32_t>(left),
                               NONECOMPRESSED_UNIT});
            missing -= left;
            placed += left;
        }
    }
    for (tagCompressDataRun& p : pending) {
        p.eType = p.s64LCN < 0 ? COMPRESSED_UNIT : NONECOMPRESSED_UNIT;
        pieces.push_back(p);
    }
    return true;
}

int DecompressBlock(const uint8_t* chunk, size_t size, uint8_t* out, size_t room) {
    if (!chunk || size < 2)
        return -1;
    const uint16_t header = Le16(chunk);
    const size_t length = static_cast<size_t>(header & 0x0FFF) + 3;
    if (length > size)
        return -1;
    if (!(header & 0x8000)) {
        const size_t n = static_cast<size_t>(header & 0x0FFF) + 1;
        if (n > room)
            return -1;
        std::memcpy(out, chunk + 2, n);
        return static_cast<int>(n);
    }
    size_t in = 2, o = 0;
    while (in < length) {
        const uint8_t flags = chunk[in++];
        for (int bit = 0; bit < 8 && in < length; ++bit) {
            if (!((flags >> bit) & 1)) {
                if (o >= room)
                    return -1;
                out[o++] = chunk[in++];
                continue;
            }
            if (in + 2 > length)
                return -1;
            const uint16_t value = Le16(chunk + in);
            in += 2;
            // The further into the chunk, the more bits the distance takes.
            int shift = 0;
            for (size_t q = o == 0 ? 0 : o - 1; q > 15; q >>= 1)
                ++shift;
            const size_t count = static_cast<size_t>(value & (0x0FFF >> shift)) + 3;
            const size_t distance = static_cast<size_t>(value >> (12 - shift)) + 1;
            if (distance > o || count > room - o)
                return -1;
            for (size_t k = 0; k < count; ++k, ++o)
                out[o] = out[o - distance];
        }
    }
    return static_cast<int>(o);
}

bool DecompressUnit(const uint8_t* data, size_t size, uint8_t* out, size_t unitBytes) {
    std::memset(out, 0, unitBytes);
    if (size < 2)
        return true;
    if (Le16(data) == 0) {
        std::memcpy(out, data, std::min(size, unitBytes));
        return true;
    }
    size_t in = 0, o = 0;
    while (o < unitBytes && size - in > 2) {
        const uint16_t header = Le16(data + in);
        if (header == 0)
            break;
        const size_t length = static_cast<size_t>(header & 0x0FFF) + 3;
        if (length > size - in)
            return false;
        const size_t room = std::min<size_t>(kLznt1ChunkBytes, unitBytes - o);
        if (DecompressBlock(data + in, length, out + o, room) < 0)
            return false;
        // Every chunk stands for 4 KiB of the unit; what it does not
        // produce stays zero.
        o += room;
        in += length;
    }
    return true;
}

CCompressFileReader* CreateCompressFileReader() {
    return new CCompressFileReader();
}

int CCompressFileReader::Open(IStorageDevice* device, CFileNode* node,
                              CSearchedPartitionInfo* partition) {
    if (!CFileReader::Open(device, node, partition))
        return 0;
    if (bytesPerCluster_ < 512 || UnitBytes() > kMaxCompressUnitBytes) {
        CatchExeception::WriteLog("CCompressFileReader::Open: %d-byte clusters are not supported\n",
                                  bytesPerCluster_);
        Close();
        return 0;
    }
    if (!resident_ && !BuildLayout(runs_, fileSize_, layout_)) {
        CatchExeception::WriteLog("CCompressFileReader::Open: run list too long for the file\n");
        Close();
        return 0;
    }
    return 1;
}

IFileReader* CCompressFileReader::Clone() {
    auto* copy = new CCompressFileReader(*this);
    // The copy writes nowhere until it is asked to.
    copy->memory_ = nullptr;
    copy->memorySize_ = 0;
    copy->memoryMode_ = false;
    return copy;
}

void CCompressFileReader::IndexUnits(Layout& layout) {
    layout.firsts.clear();
    long long clusters = 0;
    for (size_t i = 0; i < layout.pieces.size(); ++i) {
        if (clusters % kCompressUnitClusters == 0)
            layout.firsts.push_back(i);
        clusters += layout.pieces[i].count;
    }
    layout.firsts.push_back(layout.pieces.size());
}

bool CCompressFileReader::BuildLayout(const std::vector<DataRun>& runs, long long bytes,
                                      Layout& layout) const {
    layout = Layout{};
    const long long unit = UnitBytes();
    if (unit <= 0 || bytes < 0)
        return false;
    const long long units = bytes / unit + (bytes % unit ? 1 : 0);
    if (units > static_cast<long long>(kMaxPieces / kCompressUnitClusters))
        return false;
    if (!ReGroupCompressDataRunList(runs, layout.pieces, units * kCompressUnitClusters))
        return false;
    IndexUnits(layout);
    return true;
}

bool CCompressFileReader::DecodeUnit(const Layout& layout, size_t k, std::vector<uint8_t>& raw,
                                     uint8_t* out) {
    const size_t unitBytes = static_cast<size_t>(UnitBytes());
    const long long unitStart = static_cast<long long>(k) * UnitBytes();
    std::memset(out, 0, unitBytes);
    if (k + 1 >= layout.firsts.size())
        return true;  // past the runs: zeros
    if (unitStart >= validSize_)
        return true;  // never written: zeros, whatever the clusters hold
    const size_t first = layout.firsts[k], last = layout.firsts[k + 1];
    const int32_t type = layout.pieces[first].eType;
    auto lose = [&](const char* why) {
        CatchExeception::WriteLog("CCompressFileReader: unit %zu %s; its bytes are zeros\n", k,
                                  why);
        std::memset(out, 0, unitBytes);
        lost_.Add(unitStart, static_cast<long long>(unitBytes));
        return false;
    };

    if (type == SPARSE_UNIT) {
        // Zeros by definition, unless the clusters were lost.
        if (layout.pieces[first].s64LCN != kLostRunStart)
            return true;
        lost_.Add(unitStart, static_cast<long long>(unitBytes));
        return false;
    }
    // Plain units go straight to the output (every readable sector kept);
    // compressed ones gather their allocated clusters first.
    raw.resize(unitBytes);
    size_t at = 0;
    bool whole = true;
    for (size_t i = first; i < last; ++i) {
        const tagCompressDataRun& p = layout.pieces[i];
        const size_t bytes = static_cast<size_t>(p.count) * static_cast<size_t>(bytesPerCluster_);
        if (at + bytes > unitBytes)
            return lose("is longer than a unit");
        if (p.s64LCN > 0) {
            long long position = 0;
            if (!ClusterToByte(p.s64LCN, 0, &position))
                return lose("lies outside the device");
            if (type == COMPRESSED_UNIT) {
                if (!ReadDeviceBytes(position, raw.data() + at, static_cast<long long>(bytes)))
                    return lose("cannot be read");
            } else if (!ReadDeviceBytesSalvaging(position, out + at, static_cast<long long>(bytes),
                                                 unitStart + static_cast<long long>(at))) {
                whole = false;
            }
            at += bytes;
        } else if (p.s64LCN == kLostRunStart) {
            if (type == COMPRESSED_UNIT)
                return lose("has lost clusters");
            lost_.Add(unitStart + static_cast<long long>(at), static_cast<long long>(bytes));
            whole = false;
            at += bytes;
        } else if (type != COMPRESSED_UNIT) {
            at += bytes;  // nothing stored there: zeros
        }
    }
    if (type != COMPRESSED_UNIT)
        return whole;
    if (!DecompressUnit(raw.data(), at, out, unitBytes))
        return lose("holds damaged compressed data");
    return true;
}

bool CCompressFileReader::DecodeRange(const Layout& layout, long long first, long long length,
                                      uint8_t* out) {
    const long long unit = UnitBytes();
    std::vector<uint8_t> raw, plain(static_cast<size_t>(unit));
    bool whole = true;
    while (length > 0) {
        const size_t k = static_cast<size_t>(first / unit);
        const long long within = first % unit;
        if (!DecodeUnit(layout, k, raw, plain.data()))
            whole = false;
        ZeroUnwritten(static_cast<long long>(k) * unit, plain.data());
        const long long n = std::min(length, unit - within);
        std::memcpy(out, plain.data() + within, static_cast<size_t>(n));
        out += n;
        first += n;
        length -= n;
    }
    return whole;
}

void CCompressFileReader::ZeroUnwritten(long long unitStart, uint8_t* out) const {
    const long long unit = UnitBytes();
    if (validSize_ >= unitStart + unit)
        return;
    const long long from = std::max(0LL, validSize_ - unitStart);
    std::memset(out + from, 0, static_cast<size_t>(unit - from));
}

void CCompressFileReader::Emit(const uint8_t* data, size_t length) {
    if (!memoryMode_ || !memory_ || writePosition_ >= memorySize_)
        return;
    const size_t n = std::min<size_t>(length, static_cast<size_t>(memorySize_ - writePosition_));
    std::memcpy(memory_ + writePosition_, data, n);
    writePosition_ += static_cast<long long>(n);
}

bool CCompressFileReader::RecoverCompressFile(const std::vector<tagCompressDataRun>& pieces,
                                              long long budget) {
    Layout layout;
    layout.pieces = pieces;
    IndexUnits(layout);
    _PROGRESS_INFO info{};
    info.state = PROGRESS_RUNNING;
    info.total = fileSize_;
    const long long unit = UnitBytes();
    std::vector<uint8_t> raw, plain(static_cast<size_t>(unit));
    for (size_t k = 0; budget > 0; ++k) {
        if (progress_ && !progress_->Continued())
            return true;  // stopped: what was written stays
        DecodeUnit(layout, k, raw, plain.data());
        ZeroUnwritten(static_cast<long long>(k) * unit, plain.data());
        const long long n = std::min(unit, budget);
        Emit(plain.data(), static_cast<size_t>(n));
        budget -= n;
        info.done += n;
        if (progress_)
            progress_->UpdateProgress(&info);
    }
    return true;
}

bool CCompressFileReader::DeCompressFile(IDataRunList* list, long long budget) {
    if (!list || budget < 0 || !device_)
        return false;
    std::vector<DataRun> runs;
    for (const DataRun* r = list->GetFirst(); r && runs.size() < kMaxReaderRuns;
         r = list->GetNext())
        runs.push_back(*r);
    Layout layout;
    if (!BuildLayout(runs, budget, layout))
        return false;
    return RecoverCompressFile(layout.pieces, budget);
}

bool CCompressFileReader::Recovery(char* buffer, int size, IProgress* progress) {
    progress_ = progress;
    if (!buffer || size < 0 || !device_ || resident_)
        return false;
    memoryMode_ = true;
    memory_ = buffer;
    memorySize_ = size;
    writePosition_ = 0;
    CDataRunList runs;
    for (const DataRun& r : runs_)
        runs.AddDataRun(&r);
    const bool ok = DeCompressFile(&runs, std::min<long long>(size, fileSize_));
    memoryMode_ = false;
    memory_ = nullptr;
    memorySize_ = 0;
    return ok;
}

unsigned CCompressFileReader::ReadData(long long offset, char* buffer, unsigned length) {
    if (!buffer || !device_ || offset < 0 || offset >= fileSize_)
        return 0;
    if (resident_)
        return CFileReader::ReadData(offset, buffer, length, nullptr);
    const long long n = std::min<long long>(length, fileSize_ - offset);
    DecodeRange(layout_, offset, n, reinterpret_cast<uint8_t*>(buffer));
    return static_cast<unsigned>(n);
}

unsigned CCompressFileReader::ReadData(long long offset, char* buffer, unsigned length,
                                       int* error) {
    if (resident_)
        return CFileReader::ReadData(offset, buffer, length, error);
    if (!buffer || !device_ || offset < 0 || offset >= fileSize_) {
        if (error)
            *error = -1;
        return 0;
    }
    const long long n = std::min<long long>(length, fileSize_ - offset);
    if (!DecodeRange(layout_, offset, n, reinterpret_cast<uint8_t*>(buffer)) && error)
        *error = kReadDataLost;
    return static_cast<unsigned>(n);
}

IFileReader* CreateNTFSCompressFileReader() {
    return CreateCompressFileReader();
}

IFileReader* OpenNTFSCompressFileReader(IStorageDevice* device, CFileNode* node,
                                        CSearchedPartitionInfo* partition) {
    vk::ReleasePtr<CCompressFileReader> reader(CreateCompressFileReader());
    if (reader && reader->Open(device, node, partition))
        return reader.release();
    return nullptr;
}
