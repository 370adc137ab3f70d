#include "ExFatPartitionBuilder.h"

#include <algorithm>
#include <unordered_set>

#include "ExFatFileNode.h"
#include "ExFatLayout.h"
#include "Utility/CatchExeception.h"

namespace {

// A folder longer than this is no folder (exFAT caps directories at 256 MiB).
constexpr uint64_t kMaxFolderBytes = 0xFFFFFFF;
// Every cluster size from a run's smallest to its largest, doubling.
template <typename F>
void ForEachClusterSize(const CFileSet& set, F&& f) {
    for (uint64_t c = std::max<uint64_t>(1, set.minClusterSize); c <= set.maxClusterSize; c *= 2) {
        if (!f(c))
            return;
    }
}

uint64_t LargestPowerOfTwoDividing(uint64_t v) {
    return v & (~v + 1);
}

}  // namespace

// ---------------------------------------------------------------------------
// CExFatPartitionEx

void CExFatPartitionEx::MatchSet(CFileSet* set, int score) {
    if (!set || !set->hasSector)
        return;
    auto [it, inserted] = matches.try_emplace(set->firstSector, Match{set, score});
    if (!inserted && it->second.score < score)
        it->second.score = score;
}

bool CExFatPartitionEx::Contains(const CFileSet& set) const {
    const uint64_t heap = GetDataRegionStartSector();
    const uint64_t spc = GetSectorsPerCluster();
    return set.hasSector && set.firstSector >= heap + 2 * spc &&
           set.LastSector() <= heap + GetTotalSectors();
}

bool CExFatPartitionEx::IsClusterStart(uint64_t sector) const {
    const uint64_t heap = GetDataRegionStartSector();
    const uint64_t spc = GetSectorsPerCluster();
    return spc != 0 && sector >= heap && (sector - heap) % spc == 0;
}

uint64_t CExFatPartitionEx::ClusterOf(uint64_t sector) const {
    const uint64_t heap = GetDataRegionStartSector();
    const uint64_t spc = GetSectorsPerCluster();
    if (spc == 0 || sector < heap)
        return 0;
    return (sector - heap) / spc + 2;
}

bool CExFatPartitionGreater::operator()(const CExFatPartitionEx* a,
                                        const CExFatPartitionEx* b) const {
    if (a->evidence != b->evidence)
        return a->evidence > b->evidence;
    if (a->matches.size() != b->matches.size())
        return a->matches.size() > b->matches.size();
    return a->Key() < b->Key();
}

// ---------------------------------------------------------------------------
// Bookkeeping

CPartitionBuilder::~CPartitionBuilder() {
    Clear();
}

void CPartitionBuilder::PrepareBuild(uint32_t sectorSize, uint64_t totalSectors) {
    Clear();
    m_sectorSize = sectorSize ? sectorSize : 512;
    m_totalSectors = totalSectors;
}

void CPartitionBuilder::Clear() {
    m_partitionSet.clear();
    m_list.clear();
    m_pending.clear();
    m_sets.clear();
    m_removed.clear();
    m_upcase.clear();
    m_fatStarts.clear();
    m_next = 0;
    m_horizon = 0;
}

CFileSet* CPartitionBuilder::FindFileSet(uint64_t sector) const {
    const auto it = std::lower_bound(
        m_sets.begin(), m_sets.end(), sector,
        [](const std::unique_ptr<CFileSet>& s, uint64_t at) { return s->firstSector < at; });
    return it != m_sets.end() && (*it)->firstSector == sector ? it->get() : nullptr;
}

CExFatPartitionEx* CPartitionBuilder::FindPartition(uint64_t heap,
                                                    uint32_t sectorsPerCluster) const {
    const auto it = m_partitionSet.find({heap, sectorsPerCluster});
    return it == m_partitionSet.end() ? nullptr : it->second;
}

CExFatPartitionEx* CPartitionBuilder::NewPartition(uint64_t heap, uint32_t sectorsPerCluster,
                                                   uint32_t evidence) {
    auto* p = new CExFatPartitionEx();
    p->SetSectorSize(m_sectorSize);
    p->SetDataRegionStartSector(heap);
    p->SetSectorsPerCluster(sectorsPerCluster);
    p->SetStartSector(heap);
    const uint64_t room = m_totalSectors > heap ? m_totalSectors - heap : 0;
    p->SetTotalSectors(room);
    const uint64_t clusters = sectorsPerCluster ? room / sectorsPerCluster : 0;
    p->SetTotalClusters(
        static_cast<uint32_t>(std::min<uint64_t>(clusters, exfat::kLastValidCluster - 1)));
    p->evidence = evidence;
    return p;
}

void CPartitionBuilder::Insert(std::unique_ptr<CExFatPartitionEx> partition) {
    const Key key = partition->Key();
    if (m_partitionSet.count(key) != 0)
        return;
    m_partitionSet.emplace(key, partition.get());
    m_list.push_back(std::move(partition));
}

void CPartitionBuilder::SortList() {
    std::sort(m_list.begin(), m_list.end(),
              [](const std::unique_ptr<CExFatPartitionEx>& a,
                 const std::unique_ptr<CExFatPartitionEx>& b) {
                  return CExFatPartitionGreater()(a.get(), b.get());
              });
}

void CPartitionBuilder::SpillPartition() {
    if (m_list.size() <= kMaxPartitions)
        return;
    while (m_list.size() > kSpillTo) {
        m_partitionSet.erase(m_list.back()->Key());
        m_list.pop_back();
    }
}

std::vector<CFileSet*> CPartitionBuilder::Chain(CFileSet* set) const {
    std::vector<CFileSet*> chain;
    for (CFileSet* s = set; s && chain.size() < kMaxChain; s = s->next) {
        if (std::find(chain.begin(), chain.end(), s) != chain.end())
            break;
        chain.push_back(s);
    }
    return chain;
}

bool CPartitionBuilder::InsideDevice(uint64_t h, uint64_t c, uint64_t cluster) const {
    if (cluster < 2)
        return false;
    const uint64_t offset = (cluster - 2) * c;
    return offset / c == cluster - 2 && h + offset >= h && h + offset < m_totalSectors;
}

// ---------------------------------------------------------------------------
// Evidence as the walk meets it

void CPartitionBuilder::RecordUpCaseTable(uint64_t sector) {
    if (m_upcase.size() < kMaxPartitions * 64)
        m_upcase.push_back(sector);
}

void CPartitionBuilder::RecordFAT(uint64_t sector) {
    if (m_fatStarts.size() < kMaxPartitions * 64)
        m_fatStarts.push_back(sector);
    for (const auto& p : m_list) {
        if (!p->FromBootSector())
            continue;
        const uint64_t first = p->GetStartSector() + p->fatOffset;
        if (sector == first) {
            p->evidence |= kExFatFirstFat;
            DropOtherReading(*p);
            return;
        }
        if (p->numberOfFats == 2 && sector == first + p->fatLength) {
            p->evidence |= kExFatSecondFat;
            DropOtherReading(*p);
            return;
        }
    }
}

void CPartitionBuilder::DropOtherReading(const CExFatPartitionEx& confirmed) {
    // A lone boot sector is read twice, as a volume's main sector and as the
    // backup 12 sectors after the start. When the FAT lies where the backup
    // reading puts it, the main reading, confirmed by nothing, goes: it
    // sorts first, and with clusters of 12 sectors or a divisor of 12 its
    // heap meets the real volume's runs on cluster boundaries, so it would
    // claim them and list the same files with every cluster 12 sectors off.
    // (A backup reading left beside a confirmed main reading sorts behind
    // it and loses the runs to it.)
    const uint64_t start = confirmed.GetStartSector();
    const uint64_t offset = confirmed.GetDataRegionStartSector() - start;
    auto drop = [&](uint64_t otherStart, uint32_t otherEvidence) {
        CExFatPartitionEx* other =
            FindPartition(otherStart + offset, confirmed.GetSectorsPerCluster());
        if (!other || other == &confirmed || other->evidence != otherEvidence ||
            other->GetStartSector() != otherStart)
            return;
        m_partitionSet.erase(other->Key());
        m_removed.insert(other->Key());
        std::erase_if(m_list, [other](const std::unique_ptr<CExFatPartitionEx>& p) {
            return p.get() == other;
        });
    };
    if ((confirmed.evidence & kExFatBackupBoot) != 0) {
        drop(start + exfat::boot::kBackupBootSector, kExFatMainBoot);
        SortList();
    }
}

void CPartitionBuilder::Build(uint64_t sector, const CExFatDBR& boot) {
    const uint64_t offset = boot.GetDataRegionStartSector();
    const uint32_t spc = boot.GetSectorsperCluster();
    // The backup of a boot sector seen 12 sectors before: it confirms that
    // volume, and the reading of that earlier sector as a backup goes.
    if (sector + offset >= exfat::boot::kBackupBootSector) {
        const uint64_t heap = sector + offset - exfat::boot::kBackupBootSector;
        CExFatPartitionEx* known = FindPartition(heap, spc);
        if (known && known->FromBootSector() &&
            known->GetStartSector() + exfat::boot::kBackupBootSector == sector) {
            known->evidence |= kExFatBackupBoot;
            if (heap >= exfat::boot::kBackupBootSector) {
                CExFatPartitionEx* reading =
                    FindPartition(heap - exfat::boot::kBackupBootSector, spc);
                if (reading && reading->evidence == kExFatBackupBoot) {
                    m_partitionSet.erase(reading->Key());
                    std::erase_if(m_list, [reading](const std::unique_ptr<CExFatPartitionEx>& p) {
                        return p.get() == reading;
                    });
                }
            }
            SortList();
            return;
        }
    }
    const uint64_t sectorSize = boot.GetBytePerSector();
    const uint64_t fatEntries = static_cast<uint64_t>(boot.GetSectorsPerFat()) * sectorSize / 4;
    const uint64_t volume = boot.GetTotalSectors();
    auto propose = [&](uint64_t start, uint32_t evidence, bool raise) {
        uint64_t clusters = boot.GetTotalCluster();
        if (raise) {
            // A FAT with room for more entries lets those clusters count too,
            // as far as the volume's own sectors reach.
            const uint64_t fitting = volume > offset ? (volume - offset) / spc : 0;
            const uint64_t raised = std::min(fatEntries > 2 ? fatEntries - 2 : 0, fitting);
            if (raised > clusters && raised < exfat::kLastValidCluster)
                clusters = raised;
        }
        const uint64_t heap = start + offset;
        CExFatPartitionEx* p = FindPartition(heap, spc);
        std::unique_ptr<CExFatPartitionEx> fresh;
        if (!p) {
            fresh.reset(NewPartition(heap, spc, 0));
            p = fresh.get();
        }
        // A boot sector says what a folder match could only guess.
        p->evidence |= evidence;
        p->SetStartSector(start);
        p->SetTotalSectors(volume);
        p->SetTotalClusters(static_cast<uint32_t>(clusters));
        p->SetRootDirCluster(boot.GetRootDirStartCluster());
        p->fatOffset = boot.GetFatStartSector();
        p->fatLength = boot.GetSectorsPerFat();
        p->numberOfFats = boot.GetNumberOfFat();
        p->secondFatActive = boot.GetNumberOfFat() == 2 && boot.GetActiveFatNumber() == 1;
        if (fresh)
            Insert(std::move(fresh));
    };
    propose(sector, kExFatMainBoot, true);
    if (sector >= exfat::boot::kBackupBootSector)
        propose(sector - exfat::boot::kBackupBootSector, kExFatBackupBoot, false);
    SortList();
}

void CPartitionBuilder::PushFileSet(std::unique_ptr<CFileSet> set, int64_t previous, int64_t next) {
    if (!set || !set->hasSector)
        return;
    if (m_sets.size() >= kMaxFileSets) {
        if (!m_loggedSetCap)
            CatchExeception::WriteLog(
                "exFAT deep search: more than %zu directory runs, later ones ignored\n",
                kMaxFileSets);
        m_loggedSetCap = true;
        return;
    }
    CFileSet* s = set.get();
    s->CalculateClusterSize(m_sectorSize);
    // Runs come in ascending order; anything else is put in its place.
    if (m_sets.empty() || m_sets.back()->firstSector < s->firstSector) {
        m_sets.push_back(std::move(set));
    } else {
        const auto at = std::lower_bound(
            m_sets.begin(), m_sets.end(), s->firstSector,
            [](const std::unique_ptr<CFileSet>& x, uint64_t v) { return x->firstSector < v; });
        if (at != m_sets.end() && (*at)->firstSector == s->firstSector)
            return;
        m_sets.insert(at, std::move(set));
    }
    if (m_pending.empty() || m_pending.back()->firstSector < s->firstSector) {
        m_pending.push_back(s);
    } else {
        m_pending.insert(
            std::lower_bound(m_pending.begin(), m_pending.end(), s->firstSector,
                             [](CFileSet* x, uint64_t v) { return x->firstSector < v; }),
            s);
    }
    m_horizon = s->firstSector + (s->HasClusters() ? s->highestCluster : 0);
    auto link = [](CFileSet* before, CFileSet* after) {
        if (!before || !after || before == after || before->next || after->previous)
            return;
        before->next = after;
        after->previous = before;
        before->NarrowWith(*after);
    };
    if (previous >= 0)
        link(FindFileSet(static_cast<uint64_t>(previous)), s);
    if (next >= 0)
        link(s, FindFileSet(static_cast<uint64_t>(next)));
}

// ---------------------------------------------------------------------------
// Matching runs

int CPartitionBuilder::CheckTree(CFileSet* a, uint64_t h, uint64_t c, std::vector<CFileSet*>* found,
                                 int minimum) const {
    if (!a || !a->hasSector || c == 0 || a->firstSector < h)
        return 0;
    const uint64_t own = (a->firstSector - h) / c + 2;
    std::unordered_set<uint64_t> visited{own};
    std::vector<CFileSet*> listed;
    std::vector<CFileSet*> level{a};
    uint64_t score = 0;
    for (uint64_t depth = 1; !level.empty(); ++depth) {
        std::vector<CFileSet*> deeper;
        for (CFileSet* explored : level) {
            uint64_t resolved = 0;
            for (CFileSet* part : Chain(explored)) {
                for (uint32_t f : part->folders) {
                    // A folder met twice: a loop, or two entries for one folder.
                    if (!visited.insert(f).second)
                        return 0;
                    if (!InsideDevice(h, c, f))
                        return 0;
                    CFileSet* t = FindFileSet(h + (uint64_t{f} - 2) * c);
                    if (!t)
                        continue;
                    if (t->IsMatched() || t->IsAbridged() || !t->Admits(c) ||
                        (t->HasClusters() && !InsideDevice(h, c, t->highestCluster)))
                        return 0;
                    if (listed.size() >= kMaxTreeSets)
                        return 0;
                    listed.push_back(t);
                    ++resolved;
                    if (t->HasFolders())
                        deeper.push_back(t);
                }
            }
            score += resolved * depth;
        }
        level.swap(deeper);
    }
    if (score < static_cast<uint64_t>(std::max(minimum, 1)))
        return 0;
    std::vector<CFileSet*> all{a};
    all.insert(all.end(), listed.begin(), listed.end());
    if (Collides(all, c))
        return 0;
    if (found)
        found->insert(found->end(), listed.begin(), listed.end());
    return static_cast<int>(std::min<uint64_t>(score, INT32_MAX));
}

bool CPartitionBuilder::Collides(const std::vector<CFileSet*>& sets, uint64_t c) const {
    const uint64_t clusterBytes = c * m_sectorSize;
    std::vector<std::pair<uint64_t, uint64_t>> spans;  // [first, end)
    std::unordered_set<CFileSet*> seen;
    for (CFileSet* set : sets) {
        for (CFileSet* part : Chain(set)) {
            if (!seen.insert(part).second)
                continue;
            for (const _tagFileBaseInfo& r : part->live) {
                if (r.firstCluster < 2 || r.firstCluster > exfat::kLastValidCluster)
                    continue;
                uint64_t count = 1;
                if (r.noFatChain != 0 && r.dataLength != 0)
                    count = r.dataLength / clusterBytes + (r.dataLength % clusterBytes != 0);
                spans.emplace_back(r.firstCluster, r.firstCluster + count);
            }
        }
    }
    std::sort(spans.begin(), spans.end());
    for (size_t i = 1; i < spans.size(); ++i) {
        if (spans[i].first < spans[i - 1].second)
            return true;
    }
    return false;
}

bool CPartitionBuilder::BuildFromTree(CFileSet* a, CFileSet* b, int minimum) {
    if (!a || !b || a == b || !a->HasFolders() || !b->hasSector)
        return false;
    std::vector<uint32_t> folders;
    for (CFileSet* part : Chain(a))
        folders.insert(folders.end(), part->folders.begin(), part->folders.end());
    std::sort(folders.begin(), folders.end());
    const uint64_t distance = a->firstSector > b->firstSector ? a->firstSector - b->firstSector
                                                              : b->firstSector - a->firstSector;
    int best = 5;
    Candidates candidates;
    std::vector<std::unique_ptr<CExFatPartitionEx>> fresh;
    ForEachClusterSize(*a, [&](uint64_t c) {
        if (!b->Admits(c) || c < a->sectorCount)
            return true;
        if (distance % c != 0)
            return false;
        size_t tried = 0;
        for (uint32_t f : folders) {
            if (b->HasClusters() && f > b->highestCluster)
                continue;
            if (++tried > kMaxFoldersTried)
                break;
            const uint64_t into = (uint64_t{f} - 2) * c;
            if (into > b->firstSector)
                break;
            const uint64_t h = b->firstSector - into;
            if (a->firstSector < h + 3 * c)
                continue;
            const Key key{h, static_cast<uint32_t>(c)};
            if (m_removed.count(key) != 0)
                continue;
            const uint64_t own = (a->firstSector - h) / c + 2;
            if (a->HasClusters() && a->highestCluster < own)
                continue;
            std::vector<CFileSet*> found;
            const int score = CheckTree(a, h, c, &found, minimum);
            if (score == 0 || score < best)
                continue;
            if (score > best) {
                // A better hypothesis: what this matching proposed before goes.
                candidates.clear();
                fresh.clear();
            }
            CExFatPartitionEx* p = FindPartition(h, static_cast<uint32_t>(c));
            if (!p) {
                for (const auto& q : fresh) {
                    if (q->Key() == key)
                        p = q.get();
                }
            }
            if (!p) {
                fresh.emplace_back(NewPartition(h, static_cast<uint32_t>(c), kExFatFolderTree));
                p = fresh.back().get();
            } else {
                p->evidence |= kExFatFolderTree;
            }
            p->MatchSet(a, score);
            for (CFileSet* s : found)
                p->MatchSet(s, score);
            if (std::find(candidates.begin(), candidates.end(), p) == candidates.end())
                candidates.push_back(p);
            best = score;
        }
        return true;
    });
    const bool proposed = !candidates.empty();
    UpdatePartitionList(candidates, fresh, a);
    return proposed;
}

bool CPartitionBuilder::BelongsToPartition(CFileSet* set) {
    int examined = 0;
    for (const auto& owned : m_list) {
        CExFatPartitionEx* p = owned.get();
        if (!p->Contains(*set))
            continue;
        if (++examined > 16)
            break;
        if (!set->Admits(p->GetSectorsPerCluster()) || !p->IsClusterStart(set->firstSector))
            continue;
        if (p->IsMatched(set))
            return true;
        if (!set->HasFolders())
            continue;
        const int minimum = p->evidence <= kExFatFolderTree ? 7 : 1;
        std::vector<CFileSet*> found;
        const int score = CheckTree(set, p->GetDataRegionStartSector(), p->GetSectorsPerCluster(),
                                    &found, minimum);
        if (score == 0)
            continue;
        p->MatchSet(set, score);
        for (CFileSet* s : found)
            p->MatchSet(s, score);
        SortList();
        return true;
    }
    return false;
}

void CPartitionBuilder::BuildPartionByRoot(uint64_t h, uint32_t c, CFileSet* root,
                                           uint32_t rootCluster, Candidates& candidates,
                                           std::vector<std::unique_ptr<CExFatPartitionEx>>& fresh,
                                           bool& found) {
    if (CExFatPartitionEx* known = FindPartition(h, c)) {
        if (known->GetRootDirCluster() == rootCluster) {
            known->evidence |= kExFatRootDir;
            candidates.assign(1, known);
            fresh.clear();
            found = true;
        }
        return;
    }
    auto* p = NewPartition(h, c, kExFatRootDir);
    const uint64_t room = m_totalSectors > h ? m_totalSectors - h : 0;
    const uint64_t clusters = root->totalClusters;
    if (clusters != 0) {
        p->SetTotalClusters(static_cast<uint32_t>(clusters));
        if (clusters * c < room)
            p->SetTotalSectors(clusters * c);
    }
    p->SetRootDirCluster(rootCluster);
    fresh.emplace_back(p);
    candidates.push_back(p);
}

bool CPartitionBuilder::BuildFromRoot(CFileSet* root) {
    if (!root->HasClusters() || root->lowestCluster > exfat::kLastValidCluster)
        return false;
    Candidates candidates;
    std::vector<std::unique_ptr<CExFatPartitionEx>> fresh;
    bool found = false;
    const uint32_t last = std::min<uint64_t>(
        root->lowestCluster, uint64_t{root->rootMinCluster} + kMaxRootClustersTried);
    for (uint32_t r = root->rootMinCluster; r < last && !found; ++r) {
        ForEachClusterSize(*root, [&](uint64_t c) {
            const uint64_t into = (uint64_t{r} - 2) * c;
            if (into > root->firstSector)
                return false;
            BuildPartionByRoot(root->firstSector - into, static_cast<uint32_t>(c), root, r,
                               candidates, fresh, found);
            return !found;
        });
    }
    const bool proposed = !candidates.empty();
    UpdatePartitionList(candidates, fresh, root);
    return proposed;
}

bool CPartitionBuilder::BuildFromUpcaseTable(CFileSet* root) {
    if (m_upcase.empty() || root->upcaseCluster < 2 || root->upcaseLength == 0 ||
        !root->HasClusters())
        return false;
    const uint64_t tableSectors = (root->upcaseLength + m_sectorSize - 1) / m_sectorSize;
    Candidates candidates;
    std::vector<std::unique_ptr<CExFatPartitionEx>> fresh;
    bool found = false;
    for (uint64_t u : m_upcase) {
        if (found)
            break;
        const uint64_t d = u > root->firstSector ? u - root->firstSector : root->firstSector - u;
        if (d < tableSectors)
            continue;
        const uint64_t largest = std::min(LargestPowerOfTwoDividing(d), root->maxClusterSize);
        ForEachClusterSize(*root, [&](uint64_t c) {
            if (c > largest)
                return false;
            if (d % c != 0)
                return true;
            const uint64_t into = (uint64_t{root->upcaseCluster} - 2) * c;
            if (into > u)
                return true;
            const uint64_t h = u - into;
            if (h > root->firstSector)
                return true;
            const uint64_t rootCluster = (root->firstSector - h) / c + 2;
            if (rootCluster >= root->lowestCluster)
                return true;
            BuildPartionByRoot(h, static_cast<uint32_t>(c), root,
                               static_cast<uint32_t>(rootCluster), candidates, fresh, found);
            return !found;
        });
    }
    const bool proposed = !candidates.empty();
    UpdatePartitionList(candidates, fresh, root);
    return proposed;
}

void CPartitionBuilder::BuildFromAllocBackWard(CFileSet* set) {
    if (set->IsAbridged() || !set->HasClusters() || set->lowestCluster < 3)
        return;
    std::vector<Key> tried;
    bool matched = false;
    ForEachClusterSize(*set, [&](uint64_t c) {
        if (c < set->sectorCount)
            return true;
        const uint64_t into = (uint64_t{set->lowestCluster} - 3) * c;
        if (into > set->firstSector)
            return false;
        const uint64_t h = set->firstSector - into;
        if (!InsideDevice(h, c, set->highestCluster))
            return false;
        if (CExFatPartitionEx* known = FindPartition(h, static_cast<uint32_t>(c))) {
            known->MatchSet(set, 1);
            known->evidence |= kExFatBackward;
            matched = true;
            return false;
        }
        tried.emplace_back(h, static_cast<uint32_t>(c));
        return true;
    });
    if (matched || tried.empty())
        return;
    Candidates candidates;
    std::vector<std::unique_ptr<CExFatPartitionEx>> fresh;
    for (const Key& k : tried) {
        fresh.emplace_back(NewPartition(k.first, k.second, kExFatBackward));
        fresh.back()->MatchSet(set, 1);
        candidates.push_back(fresh.back().get());
    }
    UpdatePartitionList(candidates, fresh, set);
}

void CPartitionBuilder::UpdatePartitionList(const Candidates& candidates,
                                            std::vector<std::unique_ptr<CExFatPartitionEx>>& fresh,
                                            CFileSet* set) {
    SpillPartition();
    for (CExFatPartitionEx* p : candidates) {
        if (set && !p->IsMatched(set)) {
            std::vector<CFileSet*> found;
            const int score =
                CheckTree(set, p->GetDataRegionStartSector(), p->GetSectorsPerCluster(), &found, 1);
            p->MatchSet(set, std::max(score, 1));
            for (CFileSet* s : found)
                p->MatchSet(s, score);
        }
        for (auto& owned : fresh) {
            if (owned.get() == p)
                Insert(std::move(owned));
        }
    }
    fresh.clear();
    SortList();
}

void CPartitionBuilder::BuildFromTree() {
    if (m_next >= m_pending.size())
        return;
    CFileSet* set = m_pending[m_next++];
    if (set->IsRoot()) {
        // Where the up-case table lies fixes the geometry far better than
        // the root's own place, which leaves every root cluster open.
        if (!BuildFromUpcaseTable(set))
            BuildFromRoot(set);
        return;
    }
    if (BelongsToPartition(set) || !set->HasFolders())
        return;
    const size_t from = m_next > 32 ? m_next - 32 : 0;
    const size_t to = std::min(m_pending.size(), m_next + 128);
    for (size_t j = from; j < to; ++j) {
        CFileSet* b = m_pending[j];
        if (b->IsRoot() || b == set || !b->HasFolders() || b->IsAbridged())
            continue;
        BuildFromTree(set, b, 7);
    }
}

// ---------------------------------------------------------------------------
// The end of the walk

void CPartitionBuilder::FinishBuid(std::vector<std::unique_ptr<CExFatPartitionEx>>& out) {
    while (m_next < m_pending.size())
        BuildFromTree();
    WinnowPartition();
    SimpleBuild();
    RemovePartionBeCoveredByOther(out);
}

void CPartitionBuilder::WinnowPartition() {
    m_partitionSet.clear();
    SortList();
    std::vector<std::unique_ptr<CExFatPartitionEx>> survivors;
    for (auto& owned : m_list) {
        CExFatPartitionEx& p = *owned;
        bool survives = m_pending.size() >= p.matches.size();
        for (const auto& [sector, match] : p.matches) {
            if (match.set->IsMatched()) {
                survives = false;
                break;
            }
        }
        if (!survives) {
            m_removed.insert(p.Key());
            continue;
        }
        Rematch(p);
        if (!p.dataSectors.empty() && !p.matches.empty()) {
            const uint64_t first = p.dataSectors.front();
            const uint64_t last = p.dataSectors.back();
            bool claimed = false;
            for (const auto& [sector, match] : p.matches) {
                if (sector >= first && sector <= last) {
                    match.set->flags |= kFileSetMatched;
                    claimed = true;
                }
            }
            if (claimed)
                std::erase_if(m_pending, [](CFileSet* s) { return s->IsMatched(); });
        }
        survivors.push_back(std::move(owned));
    }
    m_list.swap(survivors);
    // One volume per geometry: what the later passes propose for a
    // survivor's geometry joins the survivor.
    for (const auto& p : m_list)
        m_partitionSet.emplace(p->Key(), p.get());
}

void CPartitionBuilder::Rematch(CExFatPartitionEx& p) {
    p.matches.clear();
    p.dataSectors.clear();
    p.otherDataSectors.clear();
    const uint64_t h = p.GetDataRegionStartSector();
    const uint64_t c = p.GetSectorsPerCluster();
    if (c == 0)
        return;
    const uint64_t low = h + 2 * c;
    const auto begin = std::lower_bound(m_pending.begin(), m_pending.end(), low,
                                        [](CFileSet* s, uint64_t v) { return s->firstSector < v; });
    // The list of waiting runs is in walk order, which is ascending.
    for (auto it = begin; it != m_pending.end(); ++it) {
        CFileSet* s = *it;
        if (!p.Contains(*s)) {
            if (s->firstSector > h + p.GetTotalSectors())
                break;
            continue;
        }
        if (!s->Admits(c))
            continue;
        const bool aligned = p.IsClusterStart(s->firstSector);
        (aligned ? p.dataSectors : p.otherDataSectors).push_back(s->firstSector);
        const uint64_t own = p.ClusterOf(s->firstSector);
        if (aligned && !s->IsAbridged() && !p.IsMatched(s)) {
            std::vector<CFileSet*> found;
            const int score = CheckTree(s, h, c, &found, 1);
            if (score > 0) {
                p.MatchSet(s, score);
                for (CFileSet* t : found)
                    p.MatchSet(t, score);
            } else if (s->HasClusters() && s->lowestCluster == own + 1 && !Collides({s}, c)) {
                p.MatchSet(s, 1);
            }
        }
        if (aligned && s->IsRoot() &&
            (p.GetRootDirCluster() == CFileSet::kNoCluster || p.GetRootDirCluster() == own)) {
            p.SetRootDirCluster(static_cast<uint32_t>(own));
            p.MatchSet(s, 1);
        }
    }
}

void CPartitionBuilder::SimpleBuild() {
    // A run inside a volume whose extent a boot sector or a root directory
    // gave, on that volume's cluster boundary and of its cluster size, is a
    // directory of that volume whose place in its tree is lost (its parent
    // damaged or gone): it joins it. Taken for a volume of its own, with a
    // geometry guessed from its clusters, its files would be read at the
    // wrong places. A run off the cluster boundary is the rest of a
    // directory cluster whose first entries were damaged; it joins only a
    // volume whose own boot sector gave its geometry.
    for (CFileSet* s : m_pending) {
        for (const auto& p : m_list) {
            if (!p->Contains(*s) || !s->Admits(p->GetSectorsPerCluster()))
                continue;
            if (p->IsClusterStart(s->firstSector) ? p->evidence < kExFatRootDir
                                                  : !p->FromBootSector())
                continue;
            p->MatchSet(s, 1);
            s->flags |= kFileSetMatched;
            break;
        }
    }
    std::erase_if(m_pending, [](CFileSet* s) { return s->IsMatched(); });
    // Runs no volume claimed: volumes of their own, from their neighbours.
    const std::vector<CFileSet*> waiting = m_pending;
    for (size_t i = 0; i < waiting.size(); ++i) {
        CFileSet* s = waiting[i];
        if (!s->IsAbridged())
            BuildFromAllocBackWard(s);
        if (!s->HasFolders())
            continue;
        const size_t from = i > 8 ? i - 8 : 0;
        const size_t to = std::min(waiting.size(), i + 9);
        for (size_t j = from; j < to; ++j) {
            if (j != i && !waiting[j]->IsAbridged())
                BuildFromTree(s, waiting[j], 3);
        }
    }
}

void CPartitionBuilder::RemovePartionBeCoveredByOther(
    std::vector<std::unique_ptr<CExFatPartitionEx>>& out) {
    SortList();
    std::vector<std::unique_ptr<CExFatPartitionEx>> rest;
    rest.swap(m_list);
    m_partitionSet.clear();
    while (!rest.empty()) {
        std::unique_ptr<CExFatPartitionEx> first = std::move(rest.front());
        rest.erase(rest.begin());
        std::erase_if(rest, [&](const std::unique_ptr<CExFatPartitionEx>& other) {
            if (first->matches.size() < other->matches.size())
                return false;
            for (const auto& [sector, match] : other->matches) {
                const auto it = first->matches.find(sector);
                if (it == first->matches.end() || it->second.score < match.score)
                    return false;
            }
            return true;
        });
        // A volume no directory confirms has nothing to list: a boot sector
        // read at the wrong place, or stale bytes.
        if (first->matches.empty())
            continue;
        CalcPartitionParam(*first);
        out.push_back(std::move(first));
    }
}

void CPartitionBuilder::CalcPartitionParam(CExFatPartitionEx& p) const {
    p.SetSectorSize(m_sectorSize);
    uint64_t end = 0;
    if (p.FromBootSector())
        end = p.GetDataRegionStartSector() + p.GetTotalSectors();
    else if (!p.dataSectors.empty())
        end = p.dataSectors.back();
    for (uint64_t s : p.otherDataSectors) {
        if (s < end)
            p.dataSectors.push_back(s);
    }
    p.otherDataSectors.clear();
    std::sort(p.dataSectors.begin(), p.dataSectors.end());
}

int64_t CPartitionBuilder::GuessFatStart(const CExFatPartitionEx& p) const {
    const uint64_t heap = p.GetDataRegionStartSector();
    const uint64_t needed =
        (static_cast<uint64_t>(p.GetTotalClusters()) + 2) * 4 / m_sectorSize + 1;
    int64_t best = -1;
    for (uint64_t s : m_fatStarts) {
        if (s < heap && heap - s >= needed)
            best = std::max<int64_t>(best, static_cast<int64_t>(s));
    }
    return best;
}

// ---------------------------------------------------------------------------
// Nodes

void CPartitionBuilder::BuildFileTree(CExFatPartitionEx& p, const NodeSink& sink) const {
    const bool haveFat = p.GetFatTable().IsValid();
    const uint64_t spc = p.GetSectorsPerCluster();
    const uint32_t rootCluster = p.GetRootDirCluster();
    const bool rootKnown = p.IsHeapCluster(rootCluster);
    const uint64_t rootSector = rootKnown ? p.ConvertClusterNumToSector(rootCluster) : UINT64_MAX;

    // The runs that start a directory's chain of runs.
    std::vector<std::vector<CFileSet*>> chains;
    std::unordered_set<const CFileSet*> reached;
    for (const auto& [sector, match] : p.matches) {
        CFileSet* s = match.set;
        if (reached.count(s) != 0)
            continue;
        if (s->previous && p.IsMatched(s->previous))
            continue;
        std::vector<CFileSet*> chain = Chain(s);
        for (CFileSet* part : chain)
            reached.insert(part);
        chains.push_back(std::move(chain));
    }
    // A run whose head was never matched still lists its files.
    for (const auto& [sector, match] : p.matches) {
        if (reached.count(match.set) == 0) {
            std::vector<CFileSet*> chain = Chain(match.set);
            for (CFileSet* part : chain)
                reached.insert(part);
            chains.push_back(std::move(chain));
        }
    }

    // Where each folder's clusters lie, to hang the runs found there under
    // it (a folder of several clusters has a run in each). Live folders
    // first: a deleted folder's clusters may since belong to a live one.
    std::map<uint64_t, std::pair<uint64_t, long long>> folderSectors;  // first -> (end, id)
    auto claim = [&](uint64_t first, uint64_t end, long long id) {
        auto next = folderSectors.lower_bound(first);
        if (next != folderSectors.end() && next->first < end)
            return;
        if (next != folderSectors.begin() && std::prev(next)->second.first > first)
            return;
        folderSectors.emplace(first, std::make_pair(end, id));
    };
    auto claimRuns = [&](const std::vector<ExFatClusterRun>& runs, long long id) {
        for (const ExFatClusterRun& r : runs)
            claim(p.ConvertClusterNumToSector(r.first),
                  p.ConvertClusterNumToSector(r.first) + uint64_t{r.count} * spc, id);
    };
    if (rootKnown) {
        claimRuns(haveFat
                      ? p.GetClusterRuns(rootCluster, CExFatPartition::kWholeChain, false, false)
                      : std::vector<ExFatClusterRun>{{rootCluster, 1}},
                  -1);
    }
    for (bool deleted : {false, true}) {
        for (const auto& chain : chains) {
            for (CFileSet* part : chain) {
                for (const _tagFileBaseInfo& r : deleted ? part->deleted : part->live) {
                    if (!r.IsDirectory() || r.dataLength == 0 || r.dataLength > kMaxFolderBytes ||
                        !p.IsHeapCluster(r.firstCluster))
                        continue;
                    const long long id =
                        static_cast<long long>(p.ConvertClusterNumToSector(r.firstCluster));
                    claimRuns(p.GetClusterRuns(r.firstCluster, r.dataLength,
                                               r.noFatChain != 0 || !haveFat, deleted),
                              id);
                }
            }
        }
    }
    auto parentOf = [&](uint64_t sector) -> long long {
        if (sector == rootSector)
            return -1;
        auto it = folderSectors.upper_bound(sector);
        if (it != folderSectors.begin()) {
            --it;
            if (sector < it->second.first)
                return it->second.second;
        }
        return static_cast<long long>(sector);
    };

    for (const auto& chain : chains) {
        const long long parent = parentOf(chain.front()->firstSector);
        for (CFileSet* part : chain) {
            for (const auto* list : {&part->live, &part->deleted}) {
                for (_tagFileBaseInfo record : *list) {
                    // Without a FAT a chain cannot be followed: the clusters
                    // are taken as contiguous, which most files are. A live
                    // file whose entry says it is chained and that needs
                    // more than one cluster is then a guess (a fragmented
                    // one would bring another file's bytes after its first
                    // fragment): it is marked. Deleted files have no chain
                    // left to follow on any volume.
                    const bool guessed = !haveFat && record.noFatChain == 0 && record.inUse != 0 &&
                                         !record.IsDirectory() &&
                                         record.dataLength > spc * p.GetSectorSize();
                    if (!haveFat)
                        record.noFatChain = 1;
                    CExFatFileNode* node = p.BuildFile(record);
                    if (!node)
                        continue;
                    if (guessed)
                        node->MarkDamaged();
                    node->SetID(
                        static_cast<long long>(p.ConvertClusterNumToSector(record.firstCluster)));
                    node->SetParentID(parent);
                    sink(node);
                }
            }
        }
    }
}
