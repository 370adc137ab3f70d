#include "NTFSDataRun.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "CheckedMath.h"

namespace {

// One mapping pair read from `bytes` at `pos`: its header widths and values.
struct Pair {
    unsigned lengthBytes = 0;
    unsigned offsetBytes = 0;
    uint64_t length = 0;
    int64_t offset = 0;  // sign-extended; 0 for a sparse run
    size_t size = 0;     // header + fields
};

enum class PairRead { Ok, End, Bad };

PairRead ReadPair(const uint8_t* bytes, size_t length, size_t pos, Pair* out) {
    if (pos >= length)
        return PairRead::Bad;
    const uint8_t header = bytes[pos];
    if (header == 0)
        return PairRead::End;
    Pair p;
    p.lengthBytes = header & 0x0F;
    p.offsetBytes = header >> 4;
    if (p.lengthBytes == 0 || p.lengthBytes > CNTFSDataRunList::kMaxFieldBytes ||
        p.offsetBytes > CNTFSDataRunList::kMaxFieldBytes)
        return PairRead::Bad;
    p.size = 1 + p.lengthBytes + p.offsetBytes;
    // The fields must lie inside the attribute's bytes: a run list cut short
    // by damage would otherwise take its last run from what follows.
    if (!vk::RangeInside(length, pos, p.size))
        return PairRead::Bad;
    vk::ByteReader r(bytes, length);
    p.length = r.LEN(pos + 1, p.lengthBytes);
    if (p.offsetBytes > 0) {
        uint64_t raw = r.LEN(pos + 1 + p.lengthBytes, p.offsetBytes);
        const unsigned bits = 8 * p.offsetBytes;
        if (bits < 64 && (raw & (uint64_t{1} << (bits - 1))))
            raw |= ~uint64_t{0} << bits;
        p.offset = static_cast<int64_t>(raw);
    }
    *out = p;
    return PairRead::Ok;
}

// Walks the pairs, calling `visit(lcn or -1, length)` for each; false when
// they are malformed (no end inside `length`, a zero length, a cluster
// before 0 or past 2^63, more than kMaxRuns runs).
template <typename Visit>
bool WalkPairs(const uint8_t* bytes, size_t length, Visit&& visit) {
    if (bytes == nullptr)
        return false;
    size_t pos = 0;
    int64_t lcn = 0;
    int64_t clusters = 0;
    size_t runs = 0;
    for (;;) {
        Pair p;
        switch (ReadPair(bytes, length, pos, &p)) {
            case PairRead::End:
                return true;
            case PairRead::Bad:
                return false;
            case PairRead::Ok:
                break;
        }
        if (p.length == 0 || p.length > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
            return false;
        // The runs' VCNs must stay countable: a sum of lengths past 2^63
        // is damage.
        if (++runs > CNTFSDataRunList::kMaxRuns ||
            !vk::CheckedAdd(clusters, static_cast<int64_t>(p.length), &clusters))
            return false;
        int64_t runLcn = -1;
        if (p.offsetBytes > 0) {
            if (!vk::CheckedAdd(lcn, p.offset, &lcn) || lcn < 0)
                return false;
            int64_t end = 0;
            if (!vk::CheckedAdd(lcn, static_cast<int64_t>(p.length), &end))
                return false;
            runLcn = lcn;
        }
        visit(runLcn, static_cast<int64_t>(p.length));
        pos += p.size;
    }
}

}  // namespace

bool CNTFSDataRunList::IsValid(const uint8_t* bytes, size_t length) {
    return WalkPairs(bytes, length, [](int64_t, int64_t) {});
}

void CNTFSDataRunList::FormDataRunList(const uint8_t* bytes, size_t length,
                                       std::vector<CDataRun>& out, int64_t firstVcn) {
    int64_t vcn = firstVcn;
    // Runs decoded before a malformed pair are kept: they were well formed.
    WalkPairs(bytes, length, [&](int64_t lcn, int64_t len) {
        out.push_back({lcn, vcn, len});
        if (!vk::CheckedAdd(vcn, len, &vcn))
            vcn = std::numeric_limits<int64_t>::max();
    });
}

int64_t CNTFSDataRunList::GetTotalClusters(const uint8_t* bytes, size_t length) {
    int64_t total = 0;
    bool overflow = false;
    const bool ok = WalkPairs(bytes, length, [&](int64_t, int64_t len) {
        if (!vk::CheckedAdd(total, len, &total))
            overflow = true;
    });
    return ok && !overflow ? total : -1;
}

bool CNTFSDataRunList::InitFromBuffer(const uint8_t* bytes, size_t length) {
    m_runs.clear();
    if (!IsValid(bytes, length))
        return false;
    FormDataRunList(bytes, length, m_runs);
    return true;
}

bool CNTFSDataRunList::AddDataRunsfromBuffer(const uint8_t* bytes, size_t length,
                                             int64_t firstVcn) {
    int64_t end = 0;
    if (!IsValid(bytes, length) || firstVcn < 0 ||
        !vk::CheckedAdd(firstVcn, GetTotalClusters(bytes, length), &end))
        return false;
    std::vector<CDataRun> runs;
    FormDataRunList(bytes, length, runs, firstVcn);
    if (m_runs.size() + runs.size() > kMaxRuns)
        return false;
    m_runs.insert(m_runs.end(), runs.begin(), runs.end());
    return true;
}

int64_t CNTFSDataRunList::GetLCN(int64_t vcn) const {
    for (const CDataRun& r : m_runs) {
        int64_t lcn = 0;
        if (vcn >= r.vcn && vcn - r.vcn < r.length)
            return r.lcn < 0 || !vk::CheckedAdd(r.lcn, vcn - r.vcn, &lcn) ? -1 : lcn;
    }
    return -1;
}

int64_t CNTFSDataRunList::GetVCN(int64_t lcn) const {
    if (lcn < 0)
        return -1;
    for (const CDataRun& r : m_runs) {
        int64_t vcn = 0;
        if (r.lcn >= 0 && lcn >= r.lcn && lcn - r.lcn < r.length)
            return vk::CheckedAdd(r.vcn, lcn - r.lcn, &vcn) ? vcn : -1;
    }
    return -1;
}

int64_t CNTFSDataRunList::GetTotalClusters() const {
    int64_t total = 0;
    for (const CDataRun& r : m_runs) {
        if (!vk::CheckedAdd(total, r.length, &total))
            return std::numeric_limits<int64_t>::max();
    }
    return total;
}

bool CNTFSDataRunList::IsEqual(const CNTFSDataRunList& other) const {
    return m_runs.size() == other.m_runs.size() &&
           std::equal(m_runs.begin(), m_runs.end(), other.m_runs.begin(),
                      [](const CDataRun& a, const CDataRun& b) {
                          return a.vcn == b.vcn && a.lcn == b.lcn && a.length == b.length;
                      });
}

void CNTFSDataRunList::Sort() {
    std::stable_sort(m_runs.begin(), m_runs.end(),
                     [](const CDataRun& a, const CDataRun& b) { return a.vcn < b.vcn; });
}

// ---------------------------------------------------------------- resident list

void CResidentNTFSDataRunList::InitList(long long start, long long length, long long offset) {
    m_run = DataRun(start, length);
    m_has = true;
    m_offset = offset;
    m_cursor = 0;
}

const DataRun* CResidentNTFSDataRunList::GetFirst() {
    m_cursor = 0;
    return m_has ? &m_run : nullptr;
}

const DataRun* CResidentNTFSDataRunList::GetNext() {
    if (m_cursor < 1)
        ++m_cursor;
    return nullptr;
}

IDataRunList* CResidentNTFSDataRunList::Clone() {
    auto* copy = new CResidentNTFSDataRunList();
    if (m_has)
        copy->InitList(m_run.start, m_run.length, m_offset);
    return copy;
}

void CResidentNTFSDataRunList::AddDataRun(const DataRun* run) {
    if (run != nullptr) {
        m_run = *run;
        m_has = true;
    }
}

// ---------------------------------------------------------------- non-resident list

bool CNoneResidentNTFSDataRunList::InitFromBuffer(const uint8_t* bytes, long long length) {
    if (length <= 0 || bytes == nullptr)
        return true;
    std::vector<CDataRun> runs;
    CNTFSDataRunList::FormDataRunList(bytes, static_cast<size_t>(length), runs);
    for (const CDataRun& r : runs) {
        const DataRun run(r.lcn, r.length);
        AddDataRun(&run);
    }
    return true;
}

const DataRun* CNoneResidentNTFSDataRunList::GetFirst() {
    m_cursor = 0;
    return m_count == 0 ? nullptr : &At(0);
}

const DataRun* CNoneResidentNTFSDataRunList::GetNext() {
    if (m_cursor < m_count)
        ++m_cursor;
    return m_cursor < m_count ? &At(m_cursor) : nullptr;
}

IDataRunList* CNoneResidentNTFSDataRunList::Clone() {
    auto* copy = new CNoneResidentNTFSDataRunList();
    for (size_t i = 0; i < m_count; ++i)
        copy->AddDataRun(&At(i));
    return copy;
}

void CNoneResidentNTFSDataRunList::AddDataRun(const DataRun* run) {
    if (run == nullptr)
        return;
    if (m_count < kInline)
        m_inline[m_count] = *run;
    else
        m_more.push_back(*run);
    ++m_count;
}

std::vector<DataRun> CNoneResidentNTFSDataRunList::Runs() const {
    std::vector<DataRun> out;
    out.reserve(m_count);
    for (size_t i = 0; i < m_count; ++i)
        out.push_back(At(i));
    return out;
}

long long CNoneResidentNTFSDataRunList::GetTotalClusters() const {
    long long total = 0;
    for (size_t i = 0; i < m_count; ++i) {
        const DataRun& r = At(i);
        if (r.length > 0 && !vk::CheckedAdd(total, r.length, &total))
            return std::numeric_limits<long long>::max();
    }
    return total;
}

// ---------------------------------------------------------------- packed list

unsigned CCompressedDataRunList::GetNeedBytes(int64_t v) {
    for (unsigned n = 1; n < 8; ++n) {
        const int64_t bound = int64_t{1} << (8 * n - 1);
        if (v >= 0 ? v < bound : v >= -bound)
            return n;
    }
    return 8;
}

CCompressedDataRunList& CCompressedDataRunList::operator=(const CCompressedDataRunList& other) {
    if (this != &other) {
        m_dataOffset = other.m_dataOffset;
        Assign(other.Bytes(), other.m_size);
    }
    return *this;
}

void CCompressedDataRunList::Assign(const uint8_t* bytes, size_t size) {
    m_size = static_cast<uint32_t>(size);
    if (size <= kInline) {
        m_heap.reset();
        if (size > 0)
            std::memcpy(m_inline, bytes, size);
        return;
    }
    m_heap = std::make_unique<uint8_t[]>(size);
    std::memcpy(m_heap.get(), bytes, size);
}

template <typename RunAt>
std::optional<CCompressedDataRunList> CCompressedDataRunList::Pack(size_t count, RunAt runAt) {
    // Each run takes at most 17 bytes; the list is packed on the stack when
    // it is short, as almost every file's is.
    uint8_t local[17 * 4 + 1];
    std::vector<uint8_t> big;
    uint8_t* packed = local;
    if (count > 4) {
        big.resize(17 * count + 1);
        packed = big.data();
    }
    size_t n = 0;
    int64_t previous = 0;
    for (size_t i = 0; i < count; ++i) {
        const DataRun& r = runAt(i);
        if (r.length <= 0)
            continue;
        const unsigned lengthBytes = GetNeedBytes(r.length);
        unsigned offsetBytes = 0;
        int64_t delta = 0;
        if (r.start >= 0) {
            delta = r.start - previous;
            offsetBytes = GetNeedBytes(delta);
            previous = r.start;
        }
        packed[n++] = static_cast<uint8_t>(offsetBytes * 16 + lengthBytes);
        for (unsigned b = 0; b < lengthBytes; ++b)
            packed[n++] = static_cast<uint8_t>(static_cast<uint64_t>(r.length) >> (8 * b));
        for (unsigned b = 0; b < offsetBytes; ++b)
            packed[n++] = static_cast<uint8_t>(static_cast<uint64_t>(delta) >> (8 * b));
    }
    if (n == 0)
        return std::nullopt;
    packed[n++] = 0;
    CCompressedDataRunList out;
    out.Assign(packed, n);
    return out;
}

std::optional<CCompressedDataRunList> CCompressedDataRunList::Compress(const DataRun* runs,
                                                                       size_t count) {
    return Pack(count, [runs](size_t i) -> const DataRun& { return runs[i]; });
}

std::optional<CCompressedDataRunList> CCompressedDataRunList::Compress(IDataRunList* list) {
    if (list == nullptr)
        return std::nullopt;
    uint16_t dataOffset = 0;
    if (list->GetDataRunListType() == DATARUN_LIST_NTFS_RESIDENT) {
        const long long offset = list->GetOffset();
        if (offset <= 0 || offset > 0xFFFF)
            return std::nullopt;
        dataOffset = static_cast<uint16_t>(offset);
    }
    // Resident data is one run: packed without a temporary list.
    std::optional<CCompressedDataRunList> out;
    if (dataOffset != 0) {
        const DataRun* first = list->GetFirst();
        if (first == nullptr)
            return std::nullopt;
        const DataRun run = *first;
        out = Compress(&run, 1);
    } else if (list->GetDataRunListType() == DATARUN_LIST_NTFS_NONRESIDENT) {
        // Every NTFS node's list: packed straight from its runs.
        const auto* runs = static_cast<const CNoneResidentNTFSDataRunList*>(list);
        out = Pack(runs->Count(), [runs](size_t i) -> const DataRun& { return runs->At(i); });
    } else {
        std::vector<DataRun> runs;
        for (const DataRun* r = list->GetFirst(); r != nullptr; r = list->GetNext())
            runs.push_back(*r);
        out = Compress(runs.data(), runs.size());
    }
    if (out)
        out->m_dataOffset = dataOffset;
    return out;
}

bool CCompressedDataRunList::Unpack(const uint8_t* bytes, size_t size, std::vector<DataRun>& out) {
    return WalkPairs(bytes, size,
                     [&](int64_t lcn, int64_t length) { out.emplace_back(lcn, length); });
}

std::optional<CCompressedDataRunList> CCompressedDataRunList::FromBytes(const uint8_t* bytes,
                                                                        size_t size,
                                                                        uint16_t dataOffset) {
    std::vector<DataRun> runs;
    if (bytes == nullptr || size == 0 || size > UINT32_MAX || !Unpack(bytes, size, runs) ||
        runs.empty())
        return std::nullopt;
    CCompressedDataRunList out;
    out.Assign(bytes, size);
    out.m_dataOffset = dataOffset;
    return out;
}

IDataRunList* CCompressedDataRunList::Decompress() const {
    if (m_dataOffset != 0) {
        bool have = false;
        DataRun first(0, 0);
        if (!WalkPairs(Bytes(), m_size,
                       [&](int64_t lcn, int64_t length) {
                           if (!have)
                               first = DataRun(lcn, length);
                           have = true;
                       }) ||
            !have)
            return nullptr;
        auto* list = new CResidentNTFSDataRunList();
        list->InitList(first.start, first.length, m_dataOffset);
        return list;
    }
    auto* list = new CNoneResidentNTFSDataRunList();
    if (!WalkPairs(Bytes(), m_size, [&](int64_t lcn, int64_t length) {
            const DataRun run(lcn, length);
            list->AddDataRun(&run);
        })) {
        delete list;
        return nullptr;
    }
    return list;
}

bool CCompressedDataRunList::ClustersInside(uint64_t totalClusters) const {
    if (m_dataOffset != 0)
        return true;
    bool inside = true;
    const bool ok = WalkPairs(Bytes(), m_size, [&](int64_t lcn, int64_t length) {
        if (inside && lcn >= 0)
            inside = vk::SpanInside(static_cast<uint64_t>(lcn), static_cast<uint64_t>(length),
                                    totalClusters);
    });
    // Runs that do not decode make no list, so nothing is read through them.
    return !ok || inside;
}
