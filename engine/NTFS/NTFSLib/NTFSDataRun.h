// NTFS mapping pairs (where a non-resident attribute's clusters lie), the
// two run lists NTFS nodes hand to recovery, and the packed form in which a
// node keeps its runs while it sits in the result tree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "ByteReader.h"
#include "DataRun.h"

// One decoded run: `lcn` -1 for a sparse run (no clusters on disk).
struct CDataRun {
    int64_t lcn = -1;
    int64_t vcn = 0;
    int64_t length = 0;
};

// Mapping pairs decoded into runs of one attribute (or of several extents of
// one attribute joined by their first VCN).
class CNTFSDataRunList {
public:
    // Widest length and offset fields accepted: NTFS writes up to 8 bytes,
    // needed for volumes of more than 2^31 clusters.
    static constexpr unsigned kMaxFieldBytes = 8;
    // Most runs one list takes: a bound on the work a damaged run list (or a
    // long list of extents) can cause.
    static constexpr size_t kMaxRuns = size_t{1} << 20;

    // Whether `bytes` hold well-formed mapping pairs ended by a 0 header
    // inside `length`: every run's fields lie inside the bytes, no field is
    // wider than 8 bytes, no run has length 0 and no run starts before
    // cluster 0.
    static bool IsValid(const uint8_t* bytes, size_t length);
    // Appends one run per pair, stopping at a 0 header, at a malformed pair
    // or at `length`. `firstVcn` is added to each run's VCN.
    static void FormDataRunList(const uint8_t* bytes, size_t length, std::vector<CDataRun>& out,
                                int64_t firstVcn = 0);
    // Sum of the length fields, without decoding offsets; -1 when malformed.
    static int64_t GetTotalClusters(const uint8_t* bytes, size_t length);

    // Clears, then decodes; false (empty list) for invalid pairs.
    bool InitFromBuffer(const uint8_t* bytes, size_t length);
    // Decodes valid pairs of an extent starting at `firstVcn` and appends
    // them; false for invalid pairs.
    bool AddDataRunsfromBuffer(const uint8_t* bytes, size_t length, int64_t firstVcn);
    void AddDataRun(const CDataRun& run) { m_runs.push_back(run); }

    // The cluster holding `vcn`; -1 when no run (or a sparse one) holds it.
    int64_t GetLCN(int64_t vcn) const;
    // The VCN of cluster `lcn`; -1 when no run holds it.
    int64_t GetVCN(int64_t lcn) const;
    bool IsLCNContained(int64_t lcn) const { return GetVCN(lcn) >= 0; }
    int64_t GetTotalClusters() const;
    void GetDataRunList(std::vector<CDataRun>& out) const {
        out.insert(out.end(), m_runs.begin(), m_runs.end());
    }
    bool IsEqual(const CNTFSDataRunList& other) const;
    // Stable, by VCN: extents collected from extension records arrive in
    // any order.
    void Sort();
    bool IsEmpty() const { return m_runs.empty(); }
    void ClearDataRunList() { m_runs.clear(); }
    size_t GetCount() const { return m_runs.size(); }
    std::vector<CDataRun>::const_iterator GetBegin() const { return m_runs.begin(); }
    std::vector<CDataRun>::const_iterator GetEnd() const { return m_runs.end(); }
    const std::vector<CDataRun>& Runs() const { return m_runs; }

    // Written into the current frame of a result file (any object with
    // WriteCurFrame/ReadCurFrame, such as IRSData): the run count, then LCN,
    // length and VCN of each run, 8 bytes each, little-endian. Restore
    // appends what it reads and refuses counts the frame cannot hold.
    template <typename Frame>
    bool Save(Frame& frame) const;
    template <typename Frame>
    bool Restore(Frame& frame);

private:
    std::vector<CDataRun> m_runs;
};

// The run list of a file whose data sits inside its file record: one run
// {sector of the record, 1} and the offset of the data from that sector.
class CResidentNTFSDataRunList final : public IDataRunList {
public:
    void InitList(long long start, long long length, long long offset);
    const DataRun* GetFirst() override;
    const DataRun* GetNext() override;
    int IsDone() override { return m_cursor >= (m_has ? 1u : 0u) ? 1 : 0; }
    int IsResident() override { return 1; }
    IDataRunList* Clone() override;
    // A resident list holds one run; a later one replaces it.
    void AddDataRun(const DataRun* run) override;
    long long GetOffset() override { return m_offset; }
    int GetDataRunListType() override { return DATARUN_LIST_NTFS_RESIDENT; }
    void Release() override { delete this; }

private:
    DataRun m_run;
    bool m_has = false;
    unsigned m_cursor = 0;
    long long m_offset = 0;
};

// The runs of a non-resident attribute: {LCN, length in clusters}, LCN -1
// for sparse runs, in VCN order and never merged. Every node holds one, so
// the first two runs live in the object itself.
class CNoneResidentNTFSDataRunList final : public IDataRunList {
public:
    // Decodes mapping pairs; always true (an empty list for length <= 0).
    bool InitFromBuffer(const uint8_t* bytes, long long length);
    const DataRun* GetFirst() override;
    const DataRun* GetNext() override;
    int IsDone() override { return m_cursor >= m_count ? 1 : 0; }
    int IsResident() override { return 0; }
    IDataRunList* Clone() override;
    void AddDataRun(const DataRun* run) override;
    long long GetOffset() override { return 0; }
    int GetDataRunListType() override { return DATARUN_LIST_NTFS_NONRESIDENT; }
    void Release() override { delete this; }

    size_t Count() const { return m_count; }
    const DataRun& At(size_t i) const { return i < kInline ? m_inline[i] : m_more[i - kInline]; }
    std::vector<DataRun> Runs() const;
    long long GetTotalClusters() const;

private:
    static constexpr size_t kInline = 2;
    DataRun m_inline[kInline];
    std::vector<DataRun> m_more;
    size_t m_count = 0;
    size_t m_cursor = 0;
};

// A run list packed into mapping pairs of absolute starts: a deep scan may
// hold millions of NTFS nodes, and this keeps each one's extents in a few
// bytes (inside the object for the usual one or two runs). A non-zero data
// offset marks resident data.
class CCompressedDataRunList {
public:
    CCompressedDataRunList() = default;
    CCompressedDataRunList(const CCompressedDataRunList& other) { *this = other; }
    CCompressedDataRunList& operator=(const CCompressedDataRunList& other);
    CCompressedDataRunList(CCompressedDataRunList&&) = default;
    CCompressedDataRunList& operator=(CCompressedDataRunList&&) = default;

    // The packed form of `list`; none for a null or empty list, or a
    // resident list whose offset is 0 or does not fit 16 bits.
    static std::optional<CCompressedDataRunList> Compress(IDataRunList* list);
    static std::optional<CCompressedDataRunList> Compress(const DataRun* runs, size_t count);
    // Fewest bytes that hold `v` as a signed little-endian number.
    static unsigned GetNeedBytes(int64_t v);

    // A new list the caller releases: resident when the data offset is set.
    IDataRunList* Decompress() const;
    // True when every non-sparse run of non-resident runs lies inside the
    // first `totalClusters` clusters; decodes without making a list.
    bool ClustersInside(uint64_t totalClusters) const;
    size_t GetCompressedDataRunSize() const { return m_size; }
    uint16_t GetDataOffset() const { return m_dataOffset; }
    const uint8_t* Bytes() const { return m_size <= kInline ? m_inline : m_heap.get(); }

    // The byte count (4 bytes), the bytes, the 16-bit data offset.
    template <typename Frame>
    bool Save(Frame& frame) const;
    template <typename Frame>
    static std::optional<CCompressedDataRunList> Restore(Frame& frame);

    // Packs already-made bytes (for Restore and tests); none when they are
    // not well-formed packed pairs.
    static std::optional<CCompressedDataRunList> FromBytes(const uint8_t* bytes, size_t size,
                                                           uint16_t dataOffset);

private:
    static constexpr size_t kInline = 22;
    // Packs `count` runs, the i-th given by runAt(i).
    template <typename RunAt>
    static std::optional<CCompressedDataRunList> Pack(size_t count, RunAt runAt);
    // Decodes the packed pairs; false when malformed.
    static bool Unpack(const uint8_t* bytes, size_t size, std::vector<DataRun>& out);
    void Assign(const uint8_t* bytes, size_t size);

    uint32_t m_size = 0;
    uint16_t m_dataOffset = 0;
    uint8_t m_inline[kInline] = {};
    std::unique_ptr<uint8_t[]> m_heap;
};

// ---------------------------------------------------------------- templates

template <typename Frame>
bool CNTFSDataRunList::Save(Frame& frame) const {
    uint8_t word[8];
    vk::StoreLE<uint64_t>(word, m_runs.size());
    if (!frame.WriteCurFrame(word, 8))
        return false;
    for (const CDataRun& r : m_runs) {
        uint8_t run[24];
        vk::StoreLE<int64_t>(run, r.lcn);
        vk::StoreLE<int64_t>(run + 8, r.length);
        vk::StoreLE<int64_t>(run + 16, r.vcn);
        if (!frame.WriteCurFrame(run, sizeof(run)))
            return false;
    }
    return true;
}

template <typename Frame>
bool CNTFSDataRunList::Restore(Frame& frame) {
    uint8_t word[8];
    if (!frame.ReadCurFrame(word, 8))
        return false;
    const uint64_t count = vk::LoadLE<uint64_t>(word);
    if (count > kMaxRuns)
        return false;
    for (uint64_t i = 0; i < count; ++i) {
        uint8_t run[24];
        if (!frame.ReadCurFrame(run, sizeof(run)))
            return false;
        m_runs.push_back({vk::LoadLE<int64_t>(run), vk::LoadLE<int64_t>(run + 16),
                          vk::LoadLE<int64_t>(run + 8)});
    }
    return true;
}

template <typename Frame>
bool CCompressedDataRunList::Save(Frame& frame) const {
    uint8_t head[4];
    vk::StoreLE<uint32_t>(head, m_size);
    uint8_t tail[2];
    vk::StoreLE<uint16_t>(tail, m_dataOffset);
    return frame.WriteCurFrame(head, 4) && frame.WriteCurFrame(Bytes(), m_size) &&
           frame.WriteCurFrame(tail, 2);
}

template <typename Frame>
std::optional<CCompressedDataRunList> CCompressedDataRunList::Restore(Frame& frame) {
    // A node's packed runs never come near this; a larger count is damage.
    constexpr uint32_t kMaxPacked = 1u << 24;
    uint8_t head[4];
    if (!frame.ReadCurFrame(head, 4))
        return std::nullopt;
    const uint32_t size = vk::LoadLE<uint32_t>(head);
    if (size == 0 || size > kMaxPacked)
        return std::nullopt;
    std::vector<uint8_t> bytes(size);
    uint8_t tail[2];
    if (!frame.ReadCurFrame(bytes.data(), size) || !frame.ReadCurFrame(tail, 2))
        return std::nullopt;
    return FromBytes(bytes.data(), size, vk::LoadLE<uint16_t>(tail));
}
