#include "FATFileNode.h"

#include <atomic>
#include <cstdio>
#include <new>

#include "FATDirEntry.h"
#include "Utility/CatchExeception.h"

namespace {
std::atomic<bool> g_traceNodes{true};
}

CFATFileProperties::~CFATFileProperties() = default;

CFATFileProperties* CFATFileProperties::Create() {
    return new (std::nothrow) CFATFileProperties();
}

CFATFileProperties& CFATFileProperties::operator=(CFATFileProperties& other) {
    if (this == &other)
        return *this;
    SetFileName(other.GetFileName());
    SetState(other.GetState());
    SetAttribute(static_cast<uint16_t>(other.GetAttribute()));
    SetFirstClusterNum(other.GetFirstClusterNum());
    SetParentFirstClusterNum(other.GetParentFirstClusterNum());
    SetCreationTime(other.m_data.creation);
    SetModificationTime(other.m_data.modification);
    SetLastAccessTime(other.m_data.lastAccess);
    SetFileSize(other.GetFileSize());
    return *this;
}

void CFATFileProperties::SetFileName(const char* name) {
    if (!name) {
        m_data.name.clear();
        m_data.hasName = false;
        return;
    }
    m_data.name = name;
    m_data.hasName = true;
    m_data.nameLength = static_cast<uint16_t>(m_data.name.size());
}

void CFATFileProperties::SetCreationTime(uint16_t date, uint16_t time) {
    DosDateTimeToFileTime(date, time, &m_data.creation);
}
void CFATFileProperties::SetModificationTime(uint16_t date, uint16_t time) {
    DosDateTimeToFileTime(date, time, &m_data.modification);
}
void CFATFileProperties::SetLastAccessTime(uint16_t date) {
    DosDateTimeToFileTime(date, 0, &m_data.lastAccess);
}

void CFATFileProperties::SetDataRunList(IDataRunList* list) {
    if (list != m_dataRuns.get())
        m_dataRuns.reset(list);
}

IDataRunList* CFATFileProperties::TakeDataRunList() {
    return m_dataRuns.release();
}

IFileProperties* CFATFileProperties::Clone() {
    return CloneFAT();
}

CFATFileProperties* CFATFileProperties::CloneFAT() {
    CFATFileProperties* copy = Create();
    if (!copy)
        return nullptr;
    copy->m_data = m_data;
    return copy;
}

CFATFileProperties* CFATFilePropertiesBuilder::BuildFATFilePropertyFromDirEntry(
    const char* name, const uint8_t* entry) {
    if (!name || !entry)
        return nullptr;
    CFATFileProperties* p = CFATFileProperties::Create();
    if (!p)
        return nullptr;
    const CTempFATDirEntry e(entry);
    p->SetFileName(name);
    p->SetFileSize(e.GetSize());
    p->SetAttribute(e.Attribute());
    p->SetCreationTime(e.CreationDate(), e.CreationTime());
    p->SetModificationTime(e.ModificationDate(), e.ModificationTime());
    p->SetLastAccessTime(e.LastAccessDate());
    if (e.IsErased())
        p->SetState(kFATStateDeleted);
    return p;
}

CFATFileProperties* CFATFilePropertiesBuilder::BuildFATFilePropertyFromDirEntryBuffer(
    const uint8_t* entries, size_t length) {
    if (!entries)
        return nullptr;
    // The byte count is kept apart from the run, which drops a name that
    // grows too long but lets the short entry through: here the whole build
    // is refused instead. The count only bounds the run; the name itself is
    // joined from the pieces' units before it is converted.
    size_t gathered = 0;
    CFATLongNameRun run;
    for (size_t off = 0; off + kFATDirEntrySize <= length; off += kFATDirEntrySize) {
        const CTempFATDirEntry e(entries + off);
        if (e.IsLongFileNameEntry()) {
            gathered += e.GetLongFileName().size();
            if (gathered >= CFATLongNameRun::kMaxNameBytes)
                return nullptr;
            if (!run.Add(e))
                run.Reset();
            continue;
        }
        std::string name;
        if (!run.Finish(e, name))
            name = e.GetShortName(false);
        return BuildFATFilePropertyFromDirEntry(name.c_str(), entries + off);
    }
    return nullptr;
}

CFATFileNode::~CFATFileNode() {
    delete m_properties;
}

void CFATFileNode::SetTraceEnabled(bool on) {
    g_traceNodes = on;
}

void CFATFileNode::SetFileProperties(CFATFileProperties* properties) {
    if (properties == m_properties)
        return;
    delete m_properties;
    m_properties = properties;
    if (!m_properties)
        return;
    SetNodeId(m_properties->GetFirstClusterNum());
    CFileNode::SetParentNodeID(m_properties->GetParentFirstClusterNum());
    CFileNode::SetMetaDataSector(m_properties->GetMetaDataSector());
    if (g_traceNodes && CatchExeception::TracesEnabled()) {
        const char* name = m_properties->GetFileName();
        CatchExeception::Trace("=====%s====== Current:%llx Parent:%llx\n", name ? name : "",
                               static_cast<unsigned long long>(GetCurrentNodeID()),
                               static_cast<unsigned long long>(GetParentNodeID()));
    }
}

void CFATFileNode::CopyFilePropertiesFrom(CFileNode& other) {
    auto* fat = dynamic_cast<CFATFileNode*>(&other);
    if (!fat || !fat->m_properties || fat == this)
        return;
    if (!m_properties) {
        m_properties = CFATFileProperties::Create();
        if (!m_properties)
            return;
    }
    *m_properties = *fat->m_properties;
}

IFileNode* CFATFileNode::Clone() {
    auto* node = new (std::nothrow) CFATFileNode();
    if (!node)
        return nullptr;
    CFATFileProperties* props = m_properties ? m_properties->CloneFAT() : nullptr;
    if (m_properties && !props) {
        delete node;
        return nullptr;
    }
    // The base fields (ids, state word) first, then the properties, which
    // set the ids again from the same values.
    static_cast<CFileNode&>(*node) = static_cast<const CFileNode&>(*this);
    node->m_properties = props;
    return node;
}

void CFATFileNode::MarkDeleted() {
    if (m_properties)
        m_properties->SetState(m_properties->GetState() | kFATStateDeleted);
}

void CFATFileNode::FilterFileNameByDot() {
    if (!m_properties || !m_properties->GetFileName())
        return;
    const std::string filtered = CFileNode::FilterFileNameByDot(m_properties->GetFileName());
    m_properties->SetFileName(filtered.c_str());
}

void CFATFileNode::SetFileName(const char* name) {
    if (m_properties)
        m_properties->SetFileName(name);
}
