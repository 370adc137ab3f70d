#include "NTFSFileRecord.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include "NTFSDataRun.h"
#include "UpdateSequence.h"
#include "Utility/TextConvert.h"

namespace rec = ntfs::layout::record;
namespace at = ntfs::layout::attr;
namespace fn = ntfs::layout::fn;
namespace si = ntfs::layout::si;
using ntfs::layout::kUpdateSequenceStride;

namespace {

uint16_t Le16(const uint8_t* p) {
    return vk::LoadLE<uint16_t>(p);
}

// Sectors of a record that its update sequence protects and that lie in the
// examined bytes.
size_t ProtectedSectors(const uint8_t* buffer, size_t examined) {
    const uint16_t count = Le16(buffer + rec::kUsaCount);
    if (count == 0)
        return 0;
    return std::min<size_t>(count - 1u, examined / kUpdateSequenceStride);
}

ntfs::UpdateSequence SequenceOf(const uint8_t* buffer, size_t examined) {
    return {Le16(buffer + rec::kUsaOffset), ProtectedSectors(buffer, examined)};
}

// Walks the attributes of a fixed-up record, calling visit(attribute view,
// offset) until it returns false. With `validate`, an attribute that fails
// its test ends the walk and the answer is false; without, such an
// attribute only ends the walk. Either way no read leaves the record.
template <typename Visit>
bool WalkAttributes(const uint8_t* buffer, size_t size, bool validate, Visit&& visit) {
    if (buffer == nullptr || size < rec::kHeaderWithNumber)
        return false;
    const size_t examined = CNTFSFileRecord::ExaminedSize(buffer, size);
    vk::ByteReader r(buffer, examined);
    size_t off = r.LE16(rec::kFirstAttribute);
    for (int n = 0; n < CNTFSFileRecord::kMaxAttributes && off + 8 <= examined; ++n) {
        const uint32_t type = r.LE32(off + at::kType);
        if (type == at::kEnd)
            return true;
        const uint32_t length = r.LE32(off + at::kLength);
        if (length == 0)
            return true;
        const uint8_t* attribute = buffer + off;
        const size_t room = examined - off;
        bool ok = CNTFSFileRecordAttribute::IsValid(attribute, room);
        if (ok && validate && type == at::kFileName)
            ok = CNTFSFileRecordFileNameAttribute::IsValid(attribute, room);
        if (!ok)
            return !validate;
        if (!visit(CNTFSFileRecordAttribute(attribute, length), off))
            return true;
        off += length;
    }
    return true;
}

struct MetaFileName {
    std::u16string_view name;
    int number;
};

constexpr MetaFileName kMetaFiles[] = {
    {u"$MFT", 0},     {u"$MFTMirr", 1}, {u"$LogFile", 2}, {u"$Volume", 3},  {u"$AttrDef", 4},
    {u".", 5},        {u"$Bitmap", 6},  {u"$Boot", 7},    {u"$BadClus", 8}, {u"$Secure", 9},
    {u"$UpCase", 10}, {u"$Extend", 11}, {u"$Quota", 32},  {u"$ObjId", 33},  {u"$Reparse", 34},
};

bool HiddenAndSystem(const CNTFSFileRecord& record) {
    CNTFSFileRecordStandardInformationAttribute info(
        record.FindAttibute(at::kStandardInformation, 0));
    if (info.Empty() || !info.IsValid())
        return false;
    const uint32_t want = si::kHidden | si::kSystem;
    return (info.GetDosFilePermission() & want) == want;
}

}  // namespace

// ---------------------------------------------------------------- header

bool CNTFSFileRecordHeader::IsValid(const uint8_t* buffer, size_t size) {
    if (buffer == nullptr || size < rec::kHeaderWithNumber)
        return false;
    vk::ByteReader r(buffer, size);
    if (!r.Matches(rec::kMagic, "FILE"))
        return false;
    const uint16_t count = r.LE16(rec::kUsaCount);
    const uint32_t allocated = r.LE32(rec::kBytesAllocated);
    const uint16_t usa = r.LE16(rec::kUsaOffset);
    if (count > rec::kMaxUsaCount || count == 0)
        return false;
    if (allocated > rec::kMaxRecordSize || allocated % 1024 != 0)
        return false;
    if (count - 1u > allocated / kUpdateSequenceStride && allocated != 0)
        return false;
    if (allocated == 0 && count > 1)
        return false;
    return usa >= rec::kMinUsaOffset && usa <= rec::kMaxUsaOffset;
}

bool CNTFSFileRecordHeader::InitFromBuffer(const uint8_t* buffer, size_t size) {
    if (!IsValid(buffer, size))
        return false;
    std::memcpy(m_header.data(), buffer, m_header.size());
    return true;
}

// ---------------------------------------------------------------- attributes

bool CNTFSFileRecordAttribute::IsValidResidentAttribute(const uint8_t* attribute, size_t room) {
    vk::ByteReader r(attribute, room);
    const uint64_t length = r.LE32(at::kLength);
    if (length < at::kResidentHeaderSize || length > room)
        return false;
    return uint64_t{r.LE16(at::kValueOffset)} + r.LE32(at::kValueLength) <= length;
}

bool CNTFSFileRecordAttribute::IsValidNonResidentAttribute(const uint8_t* attribute, size_t room) {
    vk::ByteReader r(attribute, room);
    const uint32_t length = r.LE32(at::kLength);
    if (length < at::kNonResidentHeaderSize || length > room)
        return false;
    const uint16_t runs = r.LE16(at::kRunsOffset);
    if (runs < at::kNonResidentHeaderSize || runs > length)
        return false;
    if (r.LE32(at::kType) == at::kData)
        return CNTFSDataRunList::IsValid(attribute + runs, length - runs);
    return true;
}

bool CNTFSFileRecordAttribute::IsValid(const uint8_t* attribute, size_t room) {
    if (attribute == nullptr || room < at::kHeaderSize)
        return false;
    vk::ByteReader r(attribute, room);
    const uint32_t length = r.LE32(at::kLength);
    if (length < at::kHeaderSize || length > room)
        return false;
    const uint8_t nameLength = r.U8(at::kNameLength);
    if (nameLength != 0 && uint64_t{r.LE16(at::kNameOffset)} + 2u * nameLength > length)
        return false;
    return r.U8(at::kNonResident) == 0 ? IsValidResidentAttribute(attribute, room)
                                       : IsValidNonResidentAttribute(attribute, room);
}

std::string CNTFSFileRecordAttribute::GetName() const {
    const size_t n = GetNameLength();
    if (n == 0 || !m_r.Has(GetNameOffset(), 2 * n))
        return {};
    return vk::Utf16ToUtf8(m_r.data() + GetNameOffset(), n);
}

bool CNTFSFileRecordAttribute::NameEquals(std::u16string_view name) const {
    const size_t n = GetNameLength();
    if (n != name.size() || !m_r.Has(GetNameOffset(), 2 * n))
        return false;
    for (size_t i = 0; i < n; ++i) {
        if (m_r.LE16(GetNameOffset() + 2 * i) != name[i])
            return false;
    }
    return true;
}

vk::ByteReader CNTFSFileRecordAttribute::Value() const {
    if (!IsResident() || GetLength() > m_r.size())
        return m_r.Sub(m_r.size(), 1);
    return vk::ByteReader(m_r.data(), GetLength())
        .Sub(GetOffsetToAttribute(), GetLengthOfAttribute());
}

const uint8_t* CNTFSFileRecordAttribute::GetDataRunsBuffer() const {
    const uint16_t runs = m_r.LE16(at::kRunsOffset);
    if (IsResident() || runs > GetLength() || GetLength() > m_r.size())
        return nullptr;
    return m_r.data() + runs;
}

size_t CNTFSFileRecordAttribute::GetDataRunsLength() const {
    return GetDataRunsBuffer() != nullptr ? GetLength() - m_r.LE16(at::kRunsOffset) : 0;
}

int64_t CNTFSFileRecordDataRunsAttribute::GetTotalClusters() const {
    const uint8_t* runs = GetDataRunsBuffer();
    return runs != nullptr ? CNTFSDataRunList::GetTotalClusters(runs, GetDataRunsLength()) : -1;
}

bool CNTFSFileRecordDataRunsAttribute::GetDataRunList(CNTFSDataRunList& out) const {
    const uint8_t* runs = GetDataRunsBuffer();
    return runs != nullptr && out.AddDataRunsfromBuffer(runs, GetDataRunsLength(), GetStartVCN());
}

namespace {
// A count of sectors per cluster raised to the next power of two; 0 above 128.
uint32_t RoundSectorsPerCluster(double q) {
    if (!(q > 0))
        return 0;
    for (uint32_t p = 1; p <= 128; p <<= 1) {
        if (q <= p)
            return p;
    }
    return 0;
}
}  // namespace

uint32_t CNTFSFileRecordDataRunsAttribute::GetSectorsPerCluster(uint32_t sectorSize) const {
    if (sectorSize == 0 || sectorSize % 512 != 0)
        sectorSize = 512;
    const int64_t size = GetInitializedDataSize();
    const int64_t clusters = GetTotalClusters();
    if (size <= 0 || clusters <= 0)
        return 0;
    return RoundSectorsPerCluster(static_cast<double>(size) / static_cast<double>(clusters) /
                                  sectorSize);
}

// ---------------------------------------------------------------- $STANDARD_INFORMATION

bool CNTFSFileRecordStandardInformationAttribute::IsValid(const uint8_t* attribute, size_t room) {
    if (!CNTFSFileRecordAttribute::IsValid(attribute, room))
        return false;
    CNTFSFileRecordAttribute a(attribute, room);
    return a.IsResident() && uint32_t{a.GetOffsetToAttribute()} + si::kMinSize <= a.GetLength();
}

uint64_t CNTFSFileRecordStandardInformationAttribute::GetCreationTime() const {
    return m_r.LE64(GetOffsetToAttribute() + si::kCreationTime);
}
uint64_t CNTFSFileRecordStandardInformationAttribute::GetModificationTime() const {
    return m_r.LE64(GetOffsetToAttribute() + si::kModificationTime);
}
uint64_t CNTFSFileRecordStandardInformationAttribute::GetLastAccessTime() const {
    return m_r.LE64(GetOffsetToAttribute() + si::kAccessTime);
}
uint32_t CNTFSFileRecordStandardInformationAttribute::GetDosFilePermission() const {
    return m_r.LE32(GetOffsetToAttribute() + si::kDosPermissions);
}

// ---------------------------------------------------------------- $FILE_NAME

namespace {
// How many UTF-16 units the name in a $FILE_NAME value holds; nothing when
// they do not all lie inside the value.
std::optional<size_t> NameUnits(const vk::ByteReader& value) {
    const size_t units = value.U8(fn::kNameLength);
    if (!value.Has(fn::kName, 2 * units))
        return std::nullopt;
    return units;
}
}  // namespace

bool CNTFSFileRecordFileNameAttribute::IsValid(const uint8_t* attribute, size_t room) {
    if (!CNTFSFileRecordAttribute::IsValid(attribute, room))
        return false;
    CNTFSFileRecordAttribute a(attribute, room);
    if (a.GetType() != at::kFileName || !a.IsResident())
        return false;
    vk::ByteReader value = a.Value();
    if (value.failed() || value.size() < fn::kName)
        return false;
    // The name must lie inside the value: its length byte alone could make
    // the conversion read past the attribute and the record.
    // Its characters are not looked at: a name Windows or Linux would refuse
    // ("/", or : * ? and the like outside the POSIX name space) is still the
    // name of an intact record. It is cleaned where it becomes a path.
    return NameUnits(value).has_value();
}

int64_t CNTFSFileRecordFileNameAttribute::GetFileRecordNumberofParentDirectory() const {
    return static_cast<int64_t>(m_value.LE64(fn::kParentReference) & ntfs::layout::kReferenceMask);
}
uint64_t CNTFSFileRecordFileNameAttribute::GetCreationTime() const {
    return m_value.LE64(fn::kCreationTime);
}
uint64_t CNTFSFileRecordFileNameAttribute::GetModificationTime() const {
    return m_value.LE64(fn::kModificationTime);
}
uint64_t CNTFSFileRecordFileNameAttribute::GetLastAccessTime() const {
    return m_value.LE64(fn::kAccessTime);
}
int64_t CNTFSFileRecordFileNameAttribute::GetFileRealSize() const {
    return m_value.LES64(fn::kRealSize);
}
uint32_t CNTFSFileRecordFileNameAttribute::GetFileFlags() const {
    return m_value.LE32(fn::kFlags);
}
uint8_t CNTFSFileRecordFileNameAttribute::GetFileNameLength() const {
    return m_value.U8(fn::kNameLength);
}
uint8_t CNTFSFileRecordFileNameAttribute::GetFileNameNamespaceType() const {
    const uint8_t ns = m_value.U8(fn::kNamespace);
    return ns > 3 ? 4 : ns;
}

std::u16string CNTFSFileRecordFileNameAttribute::GetFileNameUnits() const {
    const std::optional<size_t> units = NameUnits(m_value);
    if (!units)
        return {};
    std::u16string out(*units, u'\0');
    for (size_t i = 0; i < *units; ++i)
        out[i] = static_cast<char16_t>(m_value.LE16(fn::kName + 2 * i));
    return out;
}

std::string CNTFSFileRecordFileNameAttribute::GetFileName() const {
    const std::optional<size_t> units = NameUnits(m_value);
    if (!units)
        return {};
    vk::Utf16Options options;
    options.stopAtNul = true;
    return vk::Utf16ToUtf8(m_value.data() + fn::kName, *units, options);
}

bool CNTFSFileRecordFileNameAttribute::IsFileNameEqual(std::u16string_view name) const {
    const std::optional<size_t> units = NameUnits(m_value);
    if (units != name.size())
        return false;
    for (size_t i = 0; i < name.size(); ++i) {
        if (m_value.LE16(fn::kName + 2 * i) != name[i])
            return false;
    }
    return true;
}

bool CNTFSFileRecordFileNameAttribute::IsFileNameEqual(const uint8_t* attribute, size_t room,
                                                       std::u16string_view name) {
    return IsValid(attribute, room) &&
           CNTFSFileRecordFileNameAttribute(attribute, room).IsFileNameEqual(name);
}

// ---------------------------------------------------------------- record

size_t CNTFSFileRecord::StatedRecordSize(const uint8_t* header, size_t length) {
    namespace rec = ntfs::layout::record;
    if (length < rec::kBytesAllocated + 4)
        return 1024;
    const uint32_t bytes = vk::LoadLE<uint32_t>(header + rec::kBytesAllocated);
    if (bytes >= rec::kMinRecordSize && bytes <= rec::kMaxRecordSize && (bytes & (bytes - 1)) == 0)
        return bytes;
    return 1024;
}

size_t CNTFSFileRecord::ExaminedSize(const uint8_t* buffer, size_t size) {
    if (buffer == nullptr || size < rec::kHeaderWithNumber)
        return 0;
    uint32_t allocated = vk::LoadLE<uint32_t>(buffer + rec::kBytesAllocated);
    if (allocated == 0 || allocated > rec::kMaxRecordSize)
        allocated = rec::kMinRecordSize;
    return std::min<size_t>(allocated, size);
}

bool CNTFSFileRecord::IsValidUpdateSequence(const uint8_t* buffer, size_t size) {
    if (buffer == nullptr || size < rec::kMinRecordSize ||
        !CNTFSFileRecordHeader::IsValid(buffer, size))
        return false;
    return ntfs::SectorEndsMatch(buffer, SequenceOf(buffer, ExaminedSize(buffer, size)));
}

bool CNTFSFileRecord::UnfixupFileRecord(uint8_t* buffer, size_t size) {
    if (!IsValidUpdateSequence(buffer, size))
        return false;
    ntfs::UndoFixups(buffer, SequenceOf(buffer, ExaminedSize(buffer, size)));
    return true;
}

bool CNTFSFileRecord::FixupFileRecord(uint8_t* buffer, size_t size) {
    if (buffer == nullptr || size < rec::kMinRecordSize ||
        !CNTFSFileRecordHeader::IsValid(buffer, size))
        return false;
    ntfs::ApplyFixups(buffer, SequenceOf(buffer, ExaminedSize(buffer, size)));
    return true;
}

namespace {
// The first attribute must follow the update-sequence array: one that
// overlaps it would be read with the array's words in it.
bool FirstAttributeInPlace(const uint8_t* buffer, size_t size) {
    const size_t examined = CNTFSFileRecord::ExaminedSize(buffer, size);
    const uint16_t usa = Le16(buffer + rec::kUsaOffset);
    const uint16_t count = Le16(buffer + rec::kUsaCount);
    const uint16_t first = Le16(buffer + rec::kFirstAttribute);
    return first >= uint32_t{usa} + 2u * count && first < examined;
}
}  // namespace

bool CNTFSFileRecord::CheckAttibutes(const uint8_t* buffer, size_t size) {
    if (buffer == nullptr || size < rec::kHeaderWithNumber || !FirstAttributeInPlace(buffer, size))
        return false;
    return WalkAttributes(buffer, size, true,
                          [](const CNTFSFileRecordAttribute&, size_t) { return true; });
}

bool CNTFSFileRecord::IsValid(const uint8_t* buffer, size_t size) {
    CNTFSFileRecord record;
    return record.Init(buffer, size);
}

bool CNTFSFileRecord::Init(const uint8_t* buffer, size_t size) {
    return Load(buffer, size, true);
}

bool CNTFSFileRecord::InitFromImage(const uint8_t* buffer, size_t size) {
    return Load(buffer, size, false);
}

bool CNTFSFileRecord::Load(const uint8_t* buffer, size_t size, bool fromDisk) {
    m_valid = false;
    m_size = 0;
    m_tornSectors = 0;
    if (buffer == nullptr || size < rec::kMinRecordSize ||
        !CNTFSFileRecordHeader::IsValid(buffer, size))
        return false;
    m_size = ExaminedSize(buffer, size);
    std::memcpy(m_buf.data(), buffer, m_size);
    // A sector whose end does not carry the sequence number was not written
    // with the rest of the record: a write torn by a power cut leaves it as
    // an older version held it. Its saved word cannot be put back; the
    // record is still the file's when its attributes are sound, and the
    // sector is remembered so that what it holds is not passed off as sure.
    if (fromDisk)
        m_tornSectors = UnfixupMatchingSectors(m_buf.data(), m_size);
    if (!IndexAttributes()) {
        m_size = 0;
        m_tornSectors = 0;
        return false;
    }
    m_valid = true;
    return true;
}

uint32_t CNTFSFileRecord::UnfixupMatchingSectors(uint8_t* buffer, size_t size) {
    return ntfs::UndoMatchingFixups(buffer, SequenceOf(buffer, size));
}

CLostRanges CNTFSFileRecord::TornBytes(size_t offset, size_t length) const {
    CLostRanges lost;
    for (size_t i = 0; m_tornSectors >> i != 0; ++i) {
        if (!(m_tornSectors & (1u << i)))
            continue;
        const size_t from = std::max(offset, i * kUpdateSequenceStride);
        const size_t to = std::min(offset + length, (i + 1) * kUpdateSequenceStride);
        if (from < to)
            lost.Add(static_cast<long long>(from - offset), static_cast<long long>(to - from));
    }
    return lost;
}

bool CNTFSFileRecord::IndexAttributes() {
    m_attributeCount = 0;
    if (!FirstAttributeInPlace(m_buf.data(), m_size))
        return false;
    return WalkAttributes(
        m_buf.data(), m_size, true, [this](const CNTFSFileRecordAttribute& a, size_t off) {
            if (m_attributeCount >= kMaxIndexed)
                return false;
            m_attributes[m_attributeCount++] = {a.GetType(), static_cast<uint16_t>(off),
                                                static_cast<uint16_t>(a.GetLength())};
            return true;
        });
}

CNTFSFileRecordAttribute CNTFSFileRecord::FindAttibute(uint32_t type, int n, size_t* offset) const {
    if (!m_valid)
        return FindAttibute(m_buf.data(), m_size, type, n, offset);
    for (uint16_t i = 0; i < m_attributeCount; ++i) {
        const AttributeEntry& e = m_attributes[i];
        if (e.type != type || n-- > 0)
            continue;
        if (offset != nullptr)
            *offset = e.offset;
        return CNTFSFileRecordAttribute(m_buf.data() + e.offset, e.length);
    }
    return CNTFSFileRecordAttribute();
}

int CNTFSFileRecord::GetAttibuteCountofSpecifiedType(uint32_t type) const {
    if (!m_valid)
        return GetAttibuteCountofSpecifiedType(m_buf.data(), m_size, type);
    int count = 0;
    for (uint16_t i = 0; i < m_attributeCount; ++i)
        count += m_attributes[i].type == type ? 1 : 0;
    return count;
}

CNTFSFileRecordAttribute CNTFSFileRecord::FindAttibute(const uint8_t* buffer, size_t size,
                                                       uint32_t type, int n, size_t* offset) {
    CNTFSFileRecordAttribute found;
    int seen = 0;
    WalkAttributes(buffer, size, false, [&](const CNTFSFileRecordAttribute& a, size_t off) {
        if (a.GetType() != type)
            return true;
        if (seen++ < n)
            return true;
        found = a;
        if (offset != nullptr)
            *offset = off;
        return false;
    });
    return found;
}

int CNTFSFileRecord::GetAttibuteCountofSpecifiedType(const uint8_t* buffer, size_t size,
                                                     uint32_t type) {
    int count = 0;
    WalkAttributes(buffer, size, false, [&](const CNTFSFileRecordAttribute& a, size_t) {
        count += a.GetType() == type ? 1 : 0;
        return true;
    });
    return count;
}

uint16_t CNTFSFileRecord::GetFlags() const {
    return m_size ? Le16(m_buf.data() + rec::kFlags) : 0;
}
uint64_t CNTFSFileRecord::GetLogFileSequenceNumber() const {
    return m_size ? vk::LoadLE<uint64_t>(m_buf.data() + rec::kLogSequence) : 0;
}
uint16_t CNTFSFileRecord::GetSequenceNumber() const {
    return m_size ? Le16(m_buf.data() + rec::kSequenceNumber) : 0;
}
uint16_t CNTFSFileRecord::GetFirstAttibuteOffset() const {
    return m_size ? Le16(m_buf.data() + rec::kFirstAttribute) : 0;
}
uint32_t CNTFSFileRecord::GetLength() const {
    return m_size ? vk::LoadLE<uint32_t>(m_buf.data() + rec::kBytesInUse) : 0;
}
uint32_t CNTFSFileRecord::GetAllocatedSize() const {
    return m_size ? vk::LoadLE<uint32_t>(m_buf.data() + rec::kBytesAllocated) : 0;
}
uint64_t CNTFSFileRecord::GetBaseFileRecordNumber() const {
    return m_size ? vk::LoadLE<uint64_t>(m_buf.data() + rec::kBaseReference) &
                        ntfs::layout::kReferenceMask
                  : 0;
}
bool CNTFSFileRecord::HasXPNumberOfthisMFTRecord() const {
    return m_size && Le16(m_buf.data() + rec::kUsaOffset) >= rec::kHeaderWithNumber &&
           Le16(m_buf.data() + rec::kRecordNumberPad) == 0;
}
uint32_t CNTFSFileRecord::GetXPNumberOfthisMFTRecord() const {
    return HasXPNumberOfthisMFTRecord() ? vk::LoadLE<uint32_t>(m_buf.data() + rec::kRecordNumber)
                                        : 0;
}

// ---------------------------------------------------------------- metafiles

int CMetaFileRecordTypeAnalyzer::GetMetaFileRecordIndex(const CNTFSFileRecord& record) {
    if (!record.IsValid() || record.IsExtendFileRecord())
        return -1;
    CNTFSFileRecordFileNameAttribute name(record.FindAttibute(at::kFileName, 0));
    if (name.Empty())
        return -1;
    // Every metafile name starts with "$" or is ".".
    vk::ByteReader value = name.Value();
    const uint16_t first = value.LE16(fn::kName);
    if (first != u'$' && first != u'.')
        return -1;
    for (const MetaFileName& m : kMetaFiles) {
        if (name.IsFileNameEqual(m.name))
            return m.number;
    }
    return -1;
}

bool CMetaFileRecordTypeAnalyzer::IsValidMetaFileRecord(const CNTFSFileRecord& record) {
    return GetMetaFileRecordIndex(record) != -1 && HiddenAndSystem(record);
}

bool CMetaFileRecordTypeAnalyzer::IsValidMetaFileRecord(const CNTFSFileRecord& record,
                                                        std::u16string_view name) {
    if (!record.IsValid() || !HiddenAndSystem(record))
        return false;
    CNTFSFileRecordFileNameAttribute first(record.FindAttibute(at::kFileName, 0));
    return !first.Empty() && first.IsFileNameEqual(name);
}

bool CIsMetaFileRecord::IsMetaFileRecord(const uint8_t* buffer, size_t size) {
    if (buffer == nullptr || size < rec::kMinRecordSize)
        return false;
    CNTFSFileRecord record(buffer, size);
    return CMetaFileRecordTypeAnalyzer::IsValidMetaFileRecord(record);
}

bool CFolderFileRecordAnalyzer::IsValidFolderFileRecordHavingIndexAllocation(
    const CNTFSFileRecord& record) {
    if (!record.IsValid() || !record.IsFolder())
        return false;
    CNTFSFileRecordAttribute index = record.FindAttibute(at::kIndexAllocation, 0);
    return !index.Empty() && !index.IsResident();
}

int CVolumeFileAnalyzer::GetLabel(const uint8_t* recordBytes, size_t recordSize, char* label,
                                  size_t labelSize) {
    if (recordBytes == nullptr || label == nullptr || labelSize == 0 ||
        recordSize < rec::kMinRecordSize)
        return -1;
    CNTFSFileRecord record(recordBytes, recordSize);
    if (!CMetaFileRecordTypeAnalyzer::IsValidVolumeFileRecord(record))
        return -1;
    CNTFSFileRecordAttribute name = record.FindAttibute(at::kVolumeName, 0);
    if (name.Empty())
        return -1;
    vk::ByteReader text = name.Value();
    if (text.failed())
        return -1;
    vk::Utf16Options options;
    options.stopAtNul = true;
    options.maxBytes = labelSize - 1;
    const std::string utf8 = vk::Utf16ToUtf8(text.data(), text.size() / 2, options);
    std::memcpy(label, utf8.data(), utf8.size());
    label[utf8.size()] = '\0';
    return static_cast<int>(utf8.size());
}
