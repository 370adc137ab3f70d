#include "ExFatFileNode.h"

#include <new>
#include <utility>

#include "DataRun.h"

IFileNode* CExFatFileNode::Clone() {
    auto* copy = new (std::nothrow) CExFatFileNode();
    if (!copy)
        return nullptr;
    copy->m_name = m_name;
    copy->m_hasName = m_hasName;
    copy->m_size = m_size;
    copy->m_validLength = m_validLength;
    copy->m_attribute = m_attribute & (0xFFFFu | kExFatAttributeDeleted);
    copy->m_creation = m_creation;
    copy->m_modification = m_modification;
    copy->m_access = m_access;
    copy->SetNodeId(GetCurrentNodeID());
    copy->CFileNode::SetParentNodeID(GetParentNodeID());
    copy->SetStateWord(GetStateWord());
    if (IDataRunList* runs = GetDataRunList()) {
        IDataRunList* runsCopy = runs->Clone();
        if (!runsCopy) {
            delete copy;
            return nullptr;
        }
        copy->SetDataRunList(runsCopy);
    }
    return copy;
}

void CExFatFileNode::FilterFileNameByDot() {
    if (!m_hasName)
        return;
    std::string filtered = CFileNode::FilterFileNameByDot(m_name.c_str());
    m_name = std::move(filtered);
}

void CExFatFileNode::SetFileName(const char* name) {
    if (!name)
        return;
    m_name = name;
    m_hasName = true;
}
