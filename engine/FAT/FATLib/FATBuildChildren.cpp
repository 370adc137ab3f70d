#include "FATBuildChildren.h"

#include <strings.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <unordered_set>

#include "ByteReader.h"
#include "EngineServices.h"
#include "FATDBR.h"
#include "FATDirEntry.h"
#include "FATFolderAnalyser.h"
#include "FATTable.h"
#include "IStorageDevice.h"
#include "IniFile.h"
#include "ReleasePtr.h"
#include "SearchInterfaces.h"
#include "SearchedPartitionInfo.h"
#include "Utility/CatchExeception.h"
#include "Utility/FileUtility.h"

namespace {

constexpr uint64_t kBand = 0x10000;
constexpr uint32_t kMaxRunSectors = 128;
constexpr size_t kMaxCarriedBytes = 1023;

// -1 while no signature search is built: the answer is unknown.
int CallTest(const uint8_t* sector, unsigned length) {
    IFileStartService* test = vk::FileStartService();
    return test ? test->TestFileStart(sector, length) : -1;
}

uint64_t High(uint64_t x) {
    return x & ~(kBand - 1);
}

uint64_t ClustersFor(uint64_t size, uint64_t clusterBytes) {
    return clusterBytes == 0 ? 0 : (size + clusterBytes - 1) / clusterBytes;
}

// "MZ", then the 32-bit offset at 60 pointing at "PE" inside the sector.
bool IsWindowsProgramStart(const uint8_t* sector, size_t length) {
    const vk::ByteReader r(sector, length);
    if (r.U8(0) != 'M' || r.U8(1) != 'Z')
        return false;
    const uint64_t pe = r.LE32(60);
    if (pe + 3 > length)
        return false;
    return r.U8(pe) == 'P' && r.U8(pe + 1) == 'E';
}

// Clusters met so far on one chain. Most files take a cluster or two: those
// are checked by a scan of a small array, and only a long chain pays for a
// hash set.
class ChainSeen {
public:
    // False when the cluster was met before.
    bool Insert(uint64_t cluster) {
        if (many_.empty()) {
            if (std::find(few_.begin(), few_.begin() + count_, cluster) != few_.begin() + count_)
                return false;
            if (count_ < few_.size()) {
                few_[count_++] = cluster;
                return true;
            }
            many_.insert(few_.begin(), few_.end());
        }
        return many_.insert(cluster).second;
    }

private:
    std::array<uint64_t, 16> few_{};
    size_t count_ = 0;
    std::unordered_set<uint64_t> many_;
};

}  // namespace

CEmptyFileVirtualClusterNum& GetEmptyFileVirtualClusterNumObject() {
    static CEmptyFileVirtualClusterNum counter;
    return counter;
}

// ---------------------------------------------------------------------------
// Data runs

CFATBuildDataRun::CFATBuildDataRun(const IFATTable* fat, uint32_t sectorSize,
                                   uint32_t sectorsPerCluster, uint64_t dataSectors,
                                   std::vector<bool>* clusterUse)
    : m_fat(fat),
      m_sectorSize(sectorSize),
      m_sectorsPerCluster(sectorsPerCluster),
      m_dataSectors(dataSectors),
      m_clusterUse(clusterUse) {}

IDataRunList* CFATBuildDataRun::BuildDataRunList(uint64_t firstCluster, uint64_t size, bool deleted,
                                                 bool* damaged) {
    if (damaged)
        *damaged = false;
    if (!m_fat || m_dataSectors == 0 || m_sectorsPerCluster == 0 || m_sectorSize == 0)
        return nullptr;
    const uint64_t clusterLimit = m_dataSectors / m_sectorsPerCluster + 2;
    if (firstCluster < 2 || firstCluster >= clusterLimit)
        return nullptr;
    vk::ReleasePtr<CDataRunList> list(static_cast<CDataRunList*>(CreateDataRunList()));
    if (!list)
        return nullptr;
    // Without any FAT copy a live file's chain cannot be followed at all:
    // it is taken like a deleted one, and marked as a guess.
    const bool guess = !deleted && !m_fat->HasEntries();
    if (deleted || guess) {
        BuildDeleteFileDataRunList(list.get(), firstCluster, size, m_fat, m_sectorsPerCluster,
                                   m_dataSectors, m_sectorSize);
        if (list->GetCount() == 0)
            return nullptr;
        if (guess)
            CatchExeception::WriteLog(
                "FAT data runs: no FAT copy; file at cluster %llu taken as contiguous\n",
                static_cast<unsigned long long>(firstCluster));
        MarkUsed(list.get());
        return list.release();
    }

    const uint64_t clusterBytes = static_cast<uint64_t>(m_sectorSize) * m_sectorsPerCluster;
    const uint64_t needed = std::max<uint64_t>(1, ClustersFor(size, clusterBytes));
    // Runs gathered as (first cluster, length); the list would refuse a
    // cluster twice, so a chain that comes back is cut where it does.
    std::vector<std::pair<uint64_t, uint64_t>> runs{{firstCluster, 1}};
    ChainSeen seen;
    seen.Insert(firstCluster);
    uint64_t taken = 1;
    uint64_t cur = firstCluster;
    const char* broken = nullptr;
    uint64_t brokenAt = 0;
    while (taken < needed) {
        const uint64_t next = m_fat->GetNextCluster(static_cast<uint32_t>(cur));
        brokenAt = next;
        if (next >= kFATEndOfChain) {
            broken = "ends early";
        } else if (next == kFATBadCluster) {
            broken = "meets the bad-cluster mark";
        } else if (next < 2) {
            broken = "meets a freed entry";
        } else if (next >= clusterLimit) {
            broken = "leaves the volume";
        } else if (!seen.Insert(next)) {
            broken = "loops back";
        }
        if (broken)
            break;
        if (next == cur + 1)
            ++runs.back().second;
        else
            runs.emplace_back(next, 1);
        ++taken;
        cur = next;
    }
    for (const auto& [first, length] : runs) {
        const DataRun run(static_cast<long long>(first - 2), static_cast<long long>(length));
        list->AddDataRun(&run);
    }
    if (taken < needed) {
        CatchExeception::WriteLog(
            "FAT data runs: chain of the file at cluster %llu %s after %llu of %llu clusters "
            "(entry 0x%llx); the rest is lost\n",
            static_cast<unsigned long long>(firstCluster), broken,
            static_cast<unsigned long long>(taken), static_cast<unsigned long long>(needed),
            static_cast<unsigned long long>(brokenAt));
        const DataRun lost(kLostRunStart, static_cast<long long>(needed - taken));
        list->AddDataRun(&lost);
        if (damaged)
            *damaged = true;
    }
    MarkUsed(list.get());
    return list.release();
}

void CFATBuildDataRun::BuildDeleteFileDataRunList(IDataRunList* list, uint64_t firstCluster,
                                                  uint64_t size, const IFATTable* fat,
                                                  uint32_t sectorsPerCluster, uint64_t dataSectors,
                                                  uint32_t sectorSize) {
    if (!list || !fat || firstCluster < 2 || sectorsPerCluster == 0)
        return;
    const uint64_t clusterBytes = static_cast<uint64_t>(sectorSize) * sectorsPerCluster;
    const uint64_t clusterLimit = dataSectors / sectorsPerCluster + 2;
    ChainSeen seen;
    bool followFat = true;
    uint64_t covered = 0;
    uint64_t cur = firstCluster;
    while (covered < size && cur >= 2 && cur < clusterLimit) {
        if (!seen.Insert(cur)) {
            CatchExeception::WriteLog("FAT data runs: stale chain from %llu loops back to %llu\n",
                                      static_cast<unsigned long long>(firstCluster),
                                      static_cast<unsigned long long>(cur));
            break;
        }
        const DataRun run(static_cast<long long>(cur - 2), 1);
        list->AddDataRun(&run);
        covered += clusterBytes;
        uint64_t next = followFat ? fat->GetNextCluster(static_cast<uint32_t>(cur)) : cur + 1;
        if (next == 0) {
            followFat = false;
            next = cur + 1;
        }
        if (next >= kFATBadCluster)
            break;
        cur = next;
    }
}

void CFATBuildDataRun::MarkUsed(IDataRunList* list) {
    if (!m_clusterUse || !list)
        return;
    for (const DataRun* r = list->GetFirst(); r; r = list->GetNext()) {
        if (r->start < 0)
            continue;
        for (long long i = 0; i < r->length; ++i) {
            const uint64_t index = static_cast<uint64_t>(r->start + i);
            if (index < m_clusterUse->size())
                (*m_clusterUse)[index] = true;
        }
    }
}

// ---------------------------------------------------------------------------
// The walker

CFATBuildChildren::CFATBuildChildren(IDirecotryTreeBuilder* builder, IProgress* progress,
                                     CSearchedPartitionInfo* partition, IStorageDevice* device,
                                     FATVisitedClusters* visited, FATFolderMap* folderMap,
                                     uint64_t totalSectors, int fileSystemType,
                                     const IFATTable* fat, uint32_t sectorsPerCluster,
                                     uint32_t rootCluster, uint64_t rootDirStart,
                                     uint32_t rootDirSectors, uint64_t dataStart)
    : m_builder(builder),
      m_progress(progress),
      m_partition(partition),
      m_device(device),
      m_visited(visited),
      m_folderMap(folderMap),
      m_sectorSize(device ? static_cast<uint32_t>(device->GetSectorSize()) : 0),
      m_totalSectors(totalSectors),
      m_fsType(fileSystemType),
      m_fat(fat),
      m_sectorsPerCluster(sectorsPerCluster),
      m_rootCluster(rootCluster),
      m_rootDirStart(rootDirStart),
      m_rootDirSectors(rootDirSectors),
      m_dataStart(dataStart) {
    if (device && device->GetTotalSectors() > 0)
        m_deviceSectors = static_cast<uint64_t>(device->GetTotalSectors());
    const uint64_t partitionStart =
        partition && partition->startSector > 0 ? static_cast<uint64_t>(partition->startSector) : 0;
    const uint64_t end = partitionStart + totalSectors;
    if (m_sectorsPerCluster != 0 && dataStart < end) {
        m_dataSectors = end - dataStart;
        m_clusterLimit = m_dataSectors / m_sectorsPerCluster + 2;
        m_dataSectors = (m_clusterLimit - 2) * m_sectorsPerCluster;
    }
    if (m_sectorSize != 0)
        m_sector.assign(m_sectorSize + 1, 0);
    if (m_fsType == FILE_SYSTEM_FAT32) {
        m_preReadFileCluNum = 0;
        // Missing file, section, key or value: on; "0": off.
        m_revise = true;
        CIniFile ini(GetAppWorkPath() + "/UIConfig.ini");
        std::string value;
        if (ini.LoadFile() == 0 && ini.ReadItem("UserExperience", "bRevise", value) == 0 &&
            value == "0")
            m_revise = false;
    }
}

CFATBuildChildren::~CFATBuildChildren() {
    m_damage.LogSummary();
}

long long CFATBuildChildren::CapToVolume(CFATFileProperties& props) const {
    // A size read from a damaged entry (one flipped byte) can claim more than
    // the whole data area: cut to what the area can hold.
    const uint64_t capacity = m_dataSectors * m_sectorSize;
    const long long size = props.GetFileSize();
    if (size <= 0 || static_cast<uint64_t>(size) <= capacity)
        return 0;
    props.SetFileSize(static_cast<long long>(capacity));
    return size;
}

long long CFATBuildChildren::RunBytes(IDataRunList* runs) const {
    long long clusters = 0;
    for (const DataRun* r = runs->GetFirst(); r; r = runs->GetNext())
        clusters += r->length;
    return clusters * static_cast<long long>(m_sectorsPerCluster) * m_sectorSize;
}

bool CFATBuildChildren::RunsPassDeviceEnd(IDataRunList* runs) const {
    if (!runs || m_deviceSectors == 0)
        return false;
    for (const DataRun* r = runs->GetFirst(); r; r = runs->GetNext()) {
        if (r->start < 0)
            continue;
        const uint64_t end = ConvertClusterNumToSector(static_cast<uint64_t>(r->start) + 2) +
                             static_cast<uint64_t>(r->length) * m_sectorsPerCluster;
        if (end > m_deviceSectors)
            return true;
    }
    return false;
}

uint64_t CFATBuildChildren::ConvertClusterNumToSector(uint64_t n) const {
    return n >= 2 ? FATClusterToSector(m_dataStart, n, m_sectorsPerCluster) : 0;
}

IDataRunList* CFATBuildChildren::BuildDataRunList(uint64_t firstCluster, uint64_t size,
                                                  bool deleted, bool* damaged) {
    CFATBuildDataRun runs(m_fat, m_sectorSize, m_sectorsPerCluster, m_dataSectors, nullptr);
    return runs.BuildDataRunList(firstCluster, size, deleted, damaged);
}

int CFATBuildChildren::BuildRoot(std::vector<CFATFileNode*>& folders, int reportLive, int enable) {
    if (!enable)
        return 0;
    if (m_fsType == FILE_SYSTEM_FAT32)
        return BuildChildren(nullptr, m_rootCluster, folders, 1, reportLive);
    if (!m_device || m_sectorSize == 0 || m_rootDirSectors == 0)
        return 0;
    std::vector<uint8_t> root;
    try {
        root.assign(static_cast<size_t>(m_rootDirSectors) * m_sectorSize, 0);
    } catch (const std::bad_alloc&) {
        return 0;
    }
    if (!m_device->ReadSector(root.data(), static_cast<long long>(m_rootDirStart),
                              m_rootDirSectors)) {
        // What can be read of the root is walked; only a root with no
        // readable sector at all is not built.
        std::vector<bool> unreadable;
        const uint64_t lost =
            ReadSectorsSalvaging(root.data(), m_rootDirStart, m_rootDirSectors, unreadable);
        if (lost > 0)
            m_damage.Skip("root directory sectors", m_rootDirStart, "unreadable");
        if (lost == m_rootDirSectors) {
            CatchExeception::WriteLog("FAT root directory at sector %llu unreadable\n",
                                      static_cast<unsigned long long>(m_rootDirStart));
            return 0;
        }
    }
    return BuildChildrenFromBuffer(root.data(), root.size(), nullptr, folders, nullptr, nullptr, 0,
                                   reportLive) == -1
               ? 0
               : 1;
}

uint64_t CFATBuildChildren::ReadSectorsSalvaging(uint8_t* out, uint64_t first, uint64_t count,
                                                 std::vector<bool>& unreadable) {
    unreadable.assign(static_cast<size_t>(count), false);
    uint64_t lost = 0;
    // Halves, down to single sectors: an isolated bad sector costs a few
    // reads, not one per sector.
    std::vector<std::pair<uint64_t, uint64_t>> spans{{0, count}};
    while (!spans.empty()) {
        const auto [at, n] = spans.back();
        spans.pop_back();
        uint8_t* where = out + at * m_sectorSize;
        if (m_device->ReadSector(where, static_cast<long long>(first + at),
                                 static_cast<long long>(n)))
            continue;
        if (n == 1) {
            std::memset(where, 0, m_sectorSize);
            unreadable[static_cast<size_t>(at)] = true;
            ++lost;
            continue;
        }
        spans.emplace_back(at + n / 2, n - n / 2);
        spans.emplace_back(at, n / 2);
    }
    return lost;
}

int CFATBuildChildren::BuildChildren(CFATFileNode* folder, uint64_t firstCluster,
                                     std::vector<CFATFileNode*>& folders, int root,
                                     int reportLive) {
    if (!m_device || !m_fat || m_sectorSize == 0 || m_sectorsPerCluster == 0)
        return 0;
    if (firstCluster < 2 || firstCluster >= m_clusterLimit) {
        CatchExeception::WriteLog("FAT folder at cluster %llu lies outside the volume\n",
                                  static_cast<unsigned long long>(firstCluster));
        return 0;
    }
    const size_t clusterBytes = static_cast<size_t>(m_sectorsPerCluster) * m_sectorSize;
    const size_t runBytes =
        std::max<size_t>(clusterBytes, static_cast<size_t>(kMaxRunSectors) * m_sectorSize);
    std::vector<uint8_t> buffer;
    try {
        buffer.resize(kMaxCarriedBytes + runBytes);
    } catch (const std::bad_alloc&) {
        return 0;
    }
    size_t carried = 0;
    uint64_t cur = firstCluster;
    while (cur >= 2 && cur < kFATEndOfChain) {
        if (cur >= m_clusterLimit || cur == kFATBadCluster) {
            CatchExeception::WriteLog(
                "FAT folder at cluster %llu: chain leaves the volume at %llu\n",
                static_cast<unsigned long long>(firstCluster),
                static_cast<unsigned long long>(cur));
            break;
        }
        // A contiguous run of clusters not read before, up to 128 sectors.
        const uint64_t runFirst = cur;
        if (m_visited && m_visited->count(static_cast<uint32_t>(runFirst))) {
            CatchExeception::WriteLog("FAT folder at cluster %llu comes back to cluster %llu\n",
                                      static_cast<unsigned long long>(firstCluster),
                                      static_cast<unsigned long long>(runFirst));
            return 0;
        }
        uint64_t count = 1;
        uint64_t next = m_fat->GetNextCluster(static_cast<uint32_t>(cur));
        while ((count + 1) * m_sectorsPerCluster <= kMaxRunSectors && next == cur + 1 &&
               next < m_clusterLimit &&
               !(m_visited && m_visited->count(static_cast<uint32_t>(next)))) {
            ++count;
            cur = next;
            next = m_fat->GetNextCluster(static_cast<uint32_t>(cur));
        }
        if (m_visited)
            for (uint64_t c = runFirst; c < runFirst + count; ++c)
                m_visited->insert(static_cast<uint32_t>(c));

        const uint64_t sectors = count * m_sectorsPerCluster;
        const uint64_t firstSector = ConvertClusterNumToSector(runFirst);
        bool firstSectorRead = true;
        if (!m_device->ReadSector(buffer.data() + carried, static_cast<long long>(firstSector),
                                  static_cast<long long>(sectors))) {
            // Every sector that can be read is kept; the ones that cannot
            // are zeros, which read as unused entries. The folder is still
            // shown (its name and place come from its parent) and marked,
            // since what it lists may be short.
            std::vector<bool> unreadable;
            const uint64_t lost =
                ReadSectorsSalvaging(buffer.data() + carried, firstSector, sectors, unreadable);
            if (lost > 0) {
                m_damage.Skip("folder sectors", firstSector, "unreadable");
                if (folder)
                    folder->MarkDamaged();
                firstSectorRead = !unreadable[0];
            }
            // A first sector that could not be read cannot show its "." and
            // "..". A live folder's place is known from its parent's entry
            // and the FAT, so the rest of it is read; a deleted folder's
            // place is a guess that nothing could confirm.
            if (runFirst == firstCluster && !firstSectorRead && folder && folder->IsDeleted())
                return 0;
            if (lost == sectors) {
                carried = 0;
                cur = next;
                continue;
            }
        }
        if (runFirst == firstCluster && firstSectorRead) {
            const uint8_t* first = buffer.data() + carried;
            const bool dot = CFATFolderAnalyser::IsCurDirFileName(first);
            const bool dotDot = CFATFolderAnalyser::IsParentDirFileName(first + kFATDirEntrySize);
            if (root ? (dot || dotDot) : !(dot && dotDot)) {
                CatchExeception::WriteLog("FAT folder at cluster %llu does not start like a %s\n",
                                          static_cast<unsigned long long>(firstCluster),
                                          root ? "root" : "folder");
                return 0;
            }
        }
        const size_t length = carried + static_cast<size_t>(sectors) * m_sectorSize;
        const long long used = BuildChildrenFromBuffer(buffer.data(), length, folder, folders,
                                                       nullptr, nullptr, 0, reportLive);
        if (used < 0)
            return 1;
        const size_t rest =
            static_cast<size_t>(used) <= length ? length - static_cast<size_t>(used) : 0;
        if (rest >= 1 && rest <= kMaxCarriedBytes) {
            std::memmove(buffer.data(), buffer.data() + used, rest);
            carried = rest;
        } else {
            carried = 0;
        }
        cur = next;
    }
    return 1;
}

long long CFATBuildChildren::BuildChildrenFromBuffer(uint8_t* entries, size_t length,
                                                     CFATFileNode* parent,
                                                     std::vector<CFATFileNode*>& folders,
                                                     std::vector<CFATFileNode*>* deletedFolders,
                                                     std::vector<CFATFileNode*>* deletedFiles,
                                                     int stop, int reportLive) {
    if (!entries)
        return -1;
    uint64_t parentCluster = 0, start = 0, expected = 0;
    bool parentDeleted = false, forced = false;
    if (parent) {
        CFATFileProperties* pp = parent->GetFATFileProperties();
        if (!pp)
            return -1;
        parentCluster = static_cast<uint64_t>(pp->GetFirstClusterNum());
        start = expected = parentCluster;
        parentDeleted = (pp->GetState() & kFATStateDeleted) != 0;
        if (parentDeleted && (pp->GetState() & kFATStateReguessChildren)) {
            start = expected = 0;
            forced = true;
        }
    }
    long long pending = -1;
    int dots = 0;
    size_t off = 0;
    for (; off + kFATDirEntrySize <= length; off += kFATDirEntrySize) {
        CTempFATDirEntry entry(entries + off);
        if (!entry.IsSoundFATDirEntry(false)) {
            pending = -1;
            if (stop)
                break;
            continue;
        }
        if (entry.IsLongFileNameEntry()) {
            if (pending < 0)
                pending = static_cast<long long>(off);
            continue;
        }
        if (entry.IsVolumeLabel()) {
            pending = -1;
            continue;
        }
        if (entry.IsDotEntry()) {
            pending = -1;
            if (++dots > 2)
                return -1;
            continue;
        }
        const bool erased = entry.IsErased();
        const bool isFolder = entry.IsDirectory();
        if (!reportLive && !parentDeleted && !erased && !isFolder) {
            pending = -1;
            continue;
        }
        const uint64_t entryCluster = entry.GetFirstClusterNO();
        if (entryCluster >= 3 && entryCluster >= m_clusterLimit) {
            m_damage.Skip("directory entry", entryCluster, "names a cluster past the volume");
            pending = -1;
            if (stop)
                break;
            continue;
        }
        if (parentCluster != 0 && entryCluster == parentCluster) {
            pending = -1;
            continue;
        }
        // A run that is too long or broken leaves the short name.
        CFATFileProperties* props = nullptr;
        if (pending >= 0)
            props = CFATFilePropertiesBuilder::BuildFATFilePropertyFromDirEntryBuffer(
                entries + pending, off + kFATDirEntrySize - static_cast<size_t>(pending));
        if (!props) {
            const std::string name = entry.GetShortName(false);
            props = CFATFilePropertiesBuilder::BuildFATFilePropertyFromDirEntry(name.c_str(),
                                                                                entries + off);
        }
        pending = -1;
        if (!props)
            continue;
        if (parentDeleted)
            props->SetState(props->GetState() | kFATStateDeleted);
        props->SetParentFirstClusterNum(static_cast<long long>(parentCluster));
        props->SetMetaDataSector(static_cast<long long>(ConvertClusterNumToSector(parentCluster)));

        ReverseDelFileFirstNum(entry, start, expected, props, forced);
        uint64_t first = static_cast<uint64_t>(props->GetFirstClusterNum());
        if (parentCluster != 0 && first == parentCluster) {
            first = entryCluster;
            props->SetFirstClusterNum(static_cast<long long>(first));
        }
        vk::ReleasePtr<IDataRunList> runs;
        bool damaged = false;
        long long claimed = 0;
        if (!isFolder) {
            if (props->GetFileSize() == 0) {
                props->SetFirstClusterNum(static_cast<long long>(
                    GetEmptyFileVirtualClusterNumObject().GetVirtualClusterNum()));
            } else {
                const bool deleted = (props->GetState() & kFATStateDeleted) != 0;
                claimed = CapToVolume(*props);
                runs.reset(BuildDataRunList(first, static_cast<uint64_t>(props->GetFileSize()),
                                            deleted, &damaged));
                // A deleted file whose clusters run out before its size (the
                // volume ends, its stale chain ends) has no more data: its
                // size is cut to what its runs hold and the rest is lost.
                if (deleted && runs) {
                    const long long held = RunBytes(runs.get());
                    if (held < props->GetFileSize()) {
                        if (claimed == 0)
                            claimed = props->GetFileSize();
                        props->SetFileSize(held);
                    }
                }
            }
        }
        auto* node = new (std::nothrow) CFATFileNode();
        if (!node) {
            CFATFileProperties::Destory(props);
            continue;
        }
        node->SetFileProperties(props);
        IDataRunList* nodeRuns = runs.release();  // the node's from here on
        node->SetDataRunList(nodeRuns);
        // A live file whose chain could not be read at all (no FAT copy,
        // on a live volume or one rebuilt by the deep search) was placed by
        // a guess: a fragmented one would come back with another file's
        // bytes after its first fragment. Marked, so the user knows.
        // Deleted files have no chain left to read on any volume.
        if (claimed > 0) {
            CatchExeception::WriteLog(
                "FAT entry %s: size %lld cannot be held by its volume, cut to %lld\n",
                props->GetFileName() ? props->GetFileName() : "", claimed, props->GetFileSize());
            node->SetClaimedSize(claimed);
            damaged = true;
        }
        const bool guessed = !isFolder && m_fat && !m_fat->HasEntries() &&
                             (props->GetState() & kFATStateDeleted) == 0 &&
                             static_cast<uint64_t>(props->GetFileSize()) >
                                 static_cast<uint64_t>(m_sectorsPerCluster) * m_sectorSize;
        if (damaged || guessed || RunsPassDeviceEnd(nodeRuns))
            node->MarkDamaged();
        if (m_partition)
            node->SetBelongedPartition(static_cast<unsigned short>(m_partition->partitionIndex));
        if (m_builder) {
            if (!m_builder->AddNode(node, SEARCHER_FAT)) {
                node->Release();
                continue;
            }
        } else {
            m_ownedNodes.emplace_back(node);
        }
        if (isFolder) {
            if (m_folderMap && !m_folderMap->count(first))
                (*m_folderMap)[first] = node;
            folders.push_back(node);
            if (deletedFolders && node->IsDeleted())
                deletedFolders->push_back(node);
        } else if (deletedFiles && node->IsDeleted()) {
            deletedFiles->push_back(node);
        }
    }
    return pending >= 0 ? pending : static_cast<long long>(length);
}

// ---------------------------------------------------------------------------
// The FAT32 first-cluster guess

void CFATBuildChildren::ReverseDelFileFirstNum(CTempFATDirEntry& entry, uint64_t start,
                                               uint64_t& expected, CFATFileProperties* properties,
                                               bool forced) {
    uint64_t c = entry.GetFirstClusterNO();
    if (m_fsType != FILE_SYSTEM_FAT32) {
        properties->SetFirstClusterNum(static_cast<long long>(c));
        return;
    }
    const uint64_t clusterBytes = static_cast<uint64_t>(m_sectorsPerCluster) * m_sectorSize;
    const uint64_t n = ClustersFor(static_cast<uint64_t>(properties->GetFileSize()), clusterBytes);
    const bool erased = entry.IsErased();
    const bool isFolder = entry.IsDirectory();
    const char* name = properties->GetFileName() ? properties->GetFileName() : "";
    bool found = false;

    if (m_revise && erased && !isFolder && c < kBand && c >= 2) {
        const std::string text = name;
        const size_t dot = text.rfind('.');
        if (text.size() >= 2 && dot != std::string::npos)
            m_currentExtension = text.substr(dot + 1);
        if (start == 0 || High(expected) != High(start) || forced) {
            Candidate r = TryGetRealFirstNum(High(expected) + c, 10, false);
            if (!r.found)
                r = TryGetRealFirstNum(c, 35, false);
            if (!r.found)
                r.cluster = c;
            if (r.found) {
                c = r.cluster;
                found = true;
            } else if (expected > kBand && r.cluster <= 0xFFFF) {
                c = High(expected) + r.cluster;
            } else if (start > kBand && r.cluster < kBand && !forced) {
                c = High(start) + r.cluster;
            } else {
                c = r.cluster;
            }
        } else {
            c = High(start) + c;
            if (c < kBand) {
                Candidate r = TryGetRealFirstNum(c, 35, false);
                if (r.found && High(r.cluster) != High(start)) {
                    uint64_t settled = r.cluster;
                    bool settledFound = false;
                    bInDelFileOrDIRMap(settled, entry, properties, settledFound, expected, false);
                    if (settledFound) {
                        c = settled;
                        found = true;
                    }
                }
            }
        }
        if (c >= m_clusterLimit)
            c = entry.GetFirstClusterNO();
        entry.SetFirstClusterNO(c);
    } else if (isFolder && !erased) {
        m_folderNames[c] = name;
    } else if (m_revise && isFolder && erased && c >= 2) {
        if (bEffectiveDIRFDT(c)) {
            bool f = false;
            bInDelFileOrDIRMap(c, entry, properties, f, expected, true);
        } else {
            Candidate r = TryGetRealFirstNum(c, 50, true);
            if (r.found) {
                uint64_t settled = r.cluster;
                bool f = false;
                bInDelFileOrDIRMap(settled, entry, properties, f, expected, true);
                if (f)
                    c = settled;
            } else if (m_preReadFileCluNum > 0x310000) {
                r = TryGetRealFirstNum(High(m_preReadFileCluNum) + c, 50, true);
                if (r.found) {
                    c = r.cluster;
                    entry.SetFirstClusterNO(c);
                    m_preReadFileCluNum = c;
                }
            }
        }
    }
    expected = std::max(c + n, start);
    if (!isFolder && (found || c > kBand))
        m_preReadFileCluNum = expected;
    properties->SetFirstClusterNum(static_cast<long long>(c));
}

CFATBuildChildren::Candidate CFATBuildChildren::TryGetRealFirstNum(uint64_t first, int attempts,
                                                                   bool folderTest) {
    Candidate result{first, false};
    for (int k = 0; k + 1 < attempts; ++k) {
        const uint64_t candidate = first + static_cast<uint64_t>(k) * kBand;
        if (candidate < 2 || candidate >= m_clusterLimit)
            break;
        // A cluster the FAT gives to a live file or folder holds that one's
        // data now: taking it would hand the live data out under the
        // deleted name.
        if (m_fat && m_fat->GetNextCluster(static_cast<uint32_t>(candidate)) != 0)
            continue;
        const bool taken =
            folderTest ? bEffectiveDIRFDT(candidate) : !bReviseFAT32FileFirstClu(candidate);
        if (taken) {
            result.cluster = candidate;
            result.found = true;
            return result;
        }
    }
    return result;
}

bool CFATBuildChildren::ReadClusterStart(uint64_t cluster) {
    if (!m_device || m_sector.empty())
        return false;
    const uint64_t sector = ConvertClusterNumToSector(cluster);
    if (sector == 0 || m_deviceSectors < 10 || sector > m_deviceSectors - 10)
        return false;
    std::fill(m_sector.begin(), m_sector.end(), 0);
    return m_device->ReadSector(m_sector.data(), static_cast<long long>(sector), 1) != 0;
}

uint8_t& CFATBuildChildren::VerdictOf(uint64_t cluster) {
    constexpr uint64_t kFlatLimit = uint64_t{1} << 24;
    if (cluster < m_clusterLimit && m_clusterLimit <= kFlatLimit && !m_flatVerdictsFailed) {
        if (m_flatVerdicts.empty()) {
            try {
                m_flatVerdicts.assign(static_cast<size_t>(m_clusterLimit), 0);
            } catch (const std::bad_alloc&) {
                m_flatVerdictsFailed = true;
                return m_verdicts[cluster];
            }
        }
        return m_flatVerdicts[static_cast<size_t>(cluster)];
    }
    return m_verdicts[cluster];
}

bool CFATBuildChildren::bEffectiveDIRFDT(uint64_t cluster) {
    uint8_t& v = VerdictOf(cluster);
    if (v & 0x8)
        return (v & 0x2) != 0;
    const bool folder = ReadClusterStart(cluster) && m_sectorSize >= 2 * kFATDirEntrySize &&
                        CFATFolderAnalyser::IsCurDirFileName(m_sector.data()) &&
                        CFATFolderAnalyser::IsParentDirFileName(m_sector.data() + kFATDirEntrySize);
    v |= 0x8 | (folder ? 0x2 : 0);
    return folder;
}

bool CFATBuildChildren::bReviseFAT32FileFirstClu(uint64_t cluster) {
    if (m_mapMode) {
        if (!m_fileSectorMap || m_fileSectorMap->empty() || !m_typeName ||
            m_currentExtension.empty())
            return true;
        const auto it = m_fileSectorMap->find(ConvertClusterNumToSector(cluster));
        if (it == m_fileSectorMap->end())
            return true;
        const char* type = m_typeName(static_cast<int>(it->second));
        return !type || strcasecmp(type, m_currentExtension.c_str()) != 0;
    }
    uint8_t& v = VerdictOf(cluster);
    if (v & 0x4)
        return (v & 0x1) == 0;
    // Without the signature search the answer is unknown: the candidate is
    // not taken, and the guess falls back to the folder's band.
    const bool start =
        ReadClusterStart(cluster) && (IsWindowsProgramStart(m_sector.data(), m_sectorSize) ||
                                      CallTest(m_sector.data(), m_sectorSize) == 1);
    v |= 0x4 | (start ? 0x1 : 0);
    return !start;
}

void CFATBuildChildren::bInDelFileOrDIRMap(uint64_t& cluster, CTempFATDirEntry& entry,
                                           CFATFileProperties* properties, bool& found,
                                           uint64_t previous, bool folderMode) {
    auto& names = folderMode ? m_folderNames : m_deletedFileNames;
    const std::string name = properties->GetFileName() ? properties->GetFileName() : "";
    uint64_t c = cluster;
    bool own = true;
    bool settled = false;
    for (int round = 0; round < 10 && !settled; ++round) {
        const auto it = names.find(c);
        if (it == names.end()) {
            names[c] = name;
            settled = true;
        } else if (it->second == name) {
            own = false;
            settled = true;
        } else {
            const Candidate r = TryGetRealFirstNum(c + kBand, folderMode ? 50 : 40, folderMode);
            if (r.found) {
                c = r.cluster;
            } else if (r.cluster < previous) {
                c = High(previous) + (r.cluster & (kBand - 1));
            } else {
                own = false;
                settled = true;
            }
        }
    }
    if (!settled)
        own = false;
    if (own && c < m_clusterLimit) {
        cluster = c;
        found = true;
        entry.SetFirstClusterNO(c);
    }
}
