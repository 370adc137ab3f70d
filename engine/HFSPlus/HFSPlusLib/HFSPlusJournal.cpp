#include "HFSPlusJournal.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "ByteReader.h"
#include "CheckedMath.h"
#include "HFSPlusBTree.h"
#include "HFSPlusKeys.h"
#include "HFSPlusLayout.h"
#include "HFSPlusVolume.h"

namespace hfsplus {

namespace L = layout;

namespace {
// The journal is read through a window of this size: the scan steps
// through it a sector at a time.
constexpr uint64_t kWindowBytes = 1u << 20;
}  // namespace

CHFSPlusJournal::CHFSPlusJournal(CHFSPlusVolume* volume) : volume_(volume) {
    lastError_ = Open();
    open_ = ResultSucceeded(lastError_);
}

VKRESULT CHFSPlusJournal::Open() {
    if (!volume_ || !volume_->Header())
        return HFS_ERROR(kHFSNullArgument);
    const HFSPlusVolumeHeader& vh = *volume_->Header();
    if (!vh.IsJournaled())
        return VK_ERROR(kModuleHFSPlus, kHFSReadFailure);  // not journaled: nothing to report
    uint8_t sector[512];
    const uint64_t jibAt = uint64_t{vh.journalInfoBlock} * vh.blockSize;
    if (volume_->Read(jibAt, sector, sizeof sector) != sizeof sector)
        return HFS_ERROR(kHFSShortRead);
    flipJournalInfoBlock(sector, sizeof sector, &info_);
    if (!(info_.flags & L::kJournalInFS) || (info_.flags & L::kJournalOnOtherDevice))
        return HFS_ERROR(kHFSReadFailure);
    uint64_t end = 0;
    if (info_.size < 2 * 512 || info_.size > kMaxJournalSize ||
        !vk::CheckedAdd(info_.offset, info_.size, &end) || end > volume_->ByteSize())
        return HFS_ERROR(kHFSReadFailure);
    if (volume_->Read(info_.offset, sector, sizeof sector) != sizeof sector)
        return HFS_ERROR(kHFSReadFailure);
    flipJournalHeader(sector, sizeof sector, &header_);
    if (header_.magic != L::kJournalMagic || header_.endian != L::kJournalEndian ||
        header_.size != info_.size)
        return HFS_ERROR(kHFSReadFailure);
    // jhdr_size is where the circular buffer starts (and the unit of block
    // numbers): 0 would make the scan step nowhere for ever.
    const uint32_t jhdr = header_.jhdrSize;
    if (jhdr < 512 || jhdr > 65536 || (jhdr & (jhdr - 1)) != 0 || jhdr >= header_.size / 2)
        return HFS_ERROR(kHFSReadFailure);
    const uint64_t ring = header_.size - jhdr;
    if (header_.blhdrSize < 2 * L::kBLEntrySize || header_.blhdrSize % L::kBLEntrySize != 0 ||
        header_.blhdrSize > kMaxBlockListBytes || header_.blhdrSize > ring)
        return HFS_ERROR(kHFSReadFailure);
    if (header_.end < jhdr || header_.end >= header_.size)
        return HFS_ERROR(kHFSReadFailure);
    return VK_OK;
}

uint64_t CHFSPlusJournal::Wrap(uint64_t position) const {
    const uint64_t jhdr = header_.jhdrSize;
    const uint64_t ring = header_.size - jhdr;
    if (position < jhdr)
        return jhdr + position % ring;
    return jhdr + (position - jhdr) % ring;
}

uint64_t CHFSPlusJournal::Read(uint64_t position, uint8_t* buffer, uint64_t length) {
    if (!open_ || !buffer)
        return 0;
    uint64_t pos = Wrap(position);
    uint64_t done = 0;
    while (done < length) {
        const uint64_t take = std::min(length - done, header_.size - pos);
        const uint64_t got = volume_->Read(info_.offset + pos, buffer + done, take);
        done += got;
        if (got != take) {
            lastError_ = HFS_ERROR(kHFSReadFailure);
            return done;
        }
        pos += take;
        if (pos == header_.size)
            pos = header_.jhdrSize;
    }
    return done;
}

VKRESULT CHFSPlusJournal::GetDeleteRecord(const std::function<bool()>& continued,
                                          const std::function<void()>& counted) {
    steps_ = 0;
    if (!open_)
        return VK_OK;
    const uint64_t jhdr = header_.jhdrSize;
    const uint64_t ring = header_.size - jhdr;
    const uint32_t blhdr = header_.blhdrSize;
    if (ErrorLinesOn())
        std::printf("Journal Start Offset:0x%llx\n", static_cast<unsigned long long>(header_.end));

    // The buffer is read in windows; a block list or block that crosses a
    // window's end is read on its own.
    std::vector<uint8_t> window;
    uint64_t windowStart = 0;
    auto readAt = [&](uint64_t pos, uint8_t* out, uint64_t length) -> bool {
        if (pos >= windowStart && pos + length <= windowStart + window.size()) {
            std::copy_n(window.data() + (pos - windowStart), length, out);
            return true;
        }
        if (pos + length <= header_.size) {
            const uint64_t take =
                std::max<uint64_t>(length, std::min(kWindowBytes, header_.size - pos));
            window.resize(take);
            if (Read(pos, window.data(), take) != take) {
                window.clear();
                return false;
            }
            windowStart = pos;
            std::copy_n(window.data(), length, out);
            return true;
        }
        return Read(pos, out, length) == length;
    };

    std::vector<uint8_t> list(blhdr);
    std::vector<uint8_t> block;
    uint64_t pos = header_.end;
    uint64_t walked = 0;
    // One circle round the buffer: every step moves on by at least jhdr_size.
    while (walked < ring) {
        ++steps_;
        if (continued && !continued())
            return lastError_;
        uint8_t head[L::kBLEntries];
        if (!readAt(pos, head, sizeof head))
            return lastError_ = HFS_ERROR(kHFSReadFailure);
        vk::ByteReader h(head, sizeof head);
        const uint32_t maxBlocks = h.LE16(L::kBLMaxBlocks);
        const uint32_t numBlocks = h.LE16(L::kBLNumBlocks);
        bool accepted = maxBlocks + 1 == blhdr / L::kBLEntrySize && numBlocks <= maxBlocks;
        uint64_t total = blhdr;
        if (accepted) {
            if (!readAt(pos, list.data(), blhdr))
                return lastError_ = HFS_ERROR(kHFSReadFailure);
            // Every block must be a sane size and the whole transaction fit
            // the buffer; a list that claims more is not one.
            vk::ByteReader r(list.data(), list.size());
            for (uint32_t i = 1; i < numBlocks && accepted; ++i) {
                const uint32_t bsize =
                    r.LE32(L::kBLEntries + i * L::kBLEntrySize + L::kBLEntryBsize);
                if (bsize == 0 || bsize > kMaxJournalBlockBytes)
                    accepted = false;
                total += bsize;
            }
            if (total > ring)
                accepted = false;
        }
        if (!accepted) {
            pos = Wrap(pos + jhdr);
            walked += jhdr;
            continue;
        }
        vk::ByteReader r(list.data(), list.size());
        uint64_t at = Wrap(pos + blhdr);
        for (uint32_t i = 1; i < numBlocks; ++i) {
            if (continued && !continued())
                return lastError_;
            const size_t entry = L::kBLEntries + i * L::kBLEntrySize;
            const uint64_t bnum = r.LE64(entry + L::kBLEntryBnum);
            const uint32_t bsize = r.LE32(entry + L::kBLEntryBsize);
            block.resize(bsize);
            if (!readAt(at, block.data(), bsize))
                return lastError_ = HFS_ERROR(kHFSReadFailure);
            at = Wrap(at + bsize);
            uint64_t volumeOffset = 0;
            if (!vk::CheckedMul<uint64_t>(bnum, jhdr, &volumeOffset))
                continue;
            if (!CHFSPlusBTNode::IsValidNode(block.data(), bsize) ||
                static_cast<int8_t>(block[L::kNodeKind]) != L::kNodeLeaf)
                continue;
            const uint32_t file = volume_->GetNodeBelongToFile(volumeOffset);
            if (file == L::kCatalogFileID || file == L::kExtentsFileID ||
                file == L::kAttributesFileID)
                ProcessLeaf(file, block.data(), bsize, counted);
        }
        pos = at;
        walked += total;
    }
    return lastError_;
}

void CHFSPlusJournal::ProcessLeaf(uint32_t fileID, const uint8_t* bytes, size_t size,
                                  const std::function<void()>& counted) {
    CHFSPlusBTNode node(bytes, size);
    for (uint16_t i = 0; i < node.GetRecordCount(); ++i) {
        uint16_t recordSize = 0;
        const uint8_t* record = node.GetRecord(i, &recordSize);
        BTKey key;
        VKRESULT keyRead = 0;
        switch (fileID) {
            case L::kCatalogFileID:
                keyRead = filpCatalogKey(record, recordSize, &key);
                break;
            case L::kExtentsFileID:
                keyRead = filpExtentKey(record, recordSize, &key);
                break;
            default:
                keyRead = filpAttributeKey(record, recordSize, &key);
                break;
        }
        if (!record || ResultFailed(keyRead) || size_t{key.keyLength} + 2 > recordSize)
            continue;
        const uint8_t* data = record + key.keyLength + 2;
        const size_t dataSize = recordSize - key.keyLength - 2;
        HFSPlusSearchResult found;
        std::vector<uint8_t> live;
        if (fileID == L::kExtentsFileID) {
            HFSPlusExtentRecord extents;
            if (ResultFailed(flipExtentRecord(data, dataSize, &extents)))
                continue;
            if (ResultSucceeded(volume_->Search(fileID, key, found, nullptr)) && found.found)
                continue;
            volume_->DeletedExtents()[key] = extents;
        } else if (fileID == L::kAttributesFileID) {
            HFSPlusAttrRecord attr;
            if (ResultFailed(flipAttrRecord(data, dataSize, &attr)))
                continue;
            if (ResultSucceeded(volume_->Search(fileID, key, found, nullptr)) && found.found)
                continue;
            volume_->DeletedAttributes()[key] = std::move(attr);
        } else {
            HFSPlusCatalogRecord cat;
            if (ResultFailed(flipCatalogRecord(data, dataSize, &cat)) ||
                (cat.recordType != L::kRecFile && cat.recordType != L::kRecFolder))
                continue;
            // Live under the same key and ID: the item still exists.
            HFSPlusCatalogRecord liveRecord;
            if (ResultSucceeded(volume_->Search(fileID, key, found, &live)) && found.found &&
                ResultSucceeded(flipCatalogRecord(live.data(), live.size(), &liveRecord)) &&
                liveRecord.id == cat.id)
                continue;
            auto& map = volume_->DeletedCatalog();
            auto range = map.equal_range(key);
            bool replaced = false;
            for (auto it = range.first; it != range.second; ++it) {
                if (it->second.id == cat.id) {
                    it->second = cat;  // the copy met later is the newer one
                    replaced = true;
                    break;
                }
            }
            if (!replaced) {
                map.emplace(key, cat);
                if (counted)
                    counted();
            }
        }
    }
}

}  // namespace hfsplus
