// The nodes of the two carved-file trees and the properties behind them.
#pragma once

#include <cstdint>
#include <string>

#include "FileNode.h"
#include "RawFileTypes.h"

class CRawFileInfo;

class CRAWFileProperties : public IFileProperties {
public:
    static constexpr unsigned kMaskFlag = 463;  // 0x1CF

    static CRAWFileProperties* Create() { return new CRAWFileProperties(); }
    static void Destory(CRAWFileProperties* p) { delete p; }

    int GetFileNameLength() override { return static_cast<int>(m_name.size()); }
    void SetFileName(const char*) override {}
    const char* GetFileName() override { return m_name.c_str(); }
    long long GetFileSize() override { return m_size; }
    uint32_t GetAttribute() override { return m_attribute; }
    long long GetRawFileCreateTime() override { return 0; }
    // The node works the times out from the time text.
    long long GetCreationTime() override { return 0; }
    long long GetModificationTime() override { return 0; }
    long long GetLastAccessTime() override { return 0; }
    unsigned short GetState() override { return m_state; }
    void SetState(unsigned short state) override { m_state = static_cast<uint8_t>(state); }
    // The run list belongs to the node that shows these properties.
    IDataRunList* GetDataRunList() override { return m_runs; }
    IFileProperties* Clone() override { return this; }
    int GetCheckState() const { return m_check; }
    void SetCheckState(int state) { m_check = static_cast<uint8_t>(state); }
    unsigned GetMaskFlag() const { return kMaskFlag; }
    int GetMatchState() const { return m_match; }
    void SetMatchState(int state) { m_match = static_cast<uint8_t>(state); }

    // A null name is a caller's error.
    void SetRawFileName(const char* name);
    void SetRawFileTime(const std::string& text) { m_time = text; }
    const std::string& GetRawFileTime() const { return m_time; }
    void SetFileSize(long long size) { m_size = size; }
    void SetAttribute(uint16_t attribute) { m_attribute = attribute; }
    void SetDataRunList(IDataRunList* runs) { m_runs = runs; }

private:
    CRAWFileProperties() = default;
    ~CRAWFileProperties() override = default;

    std::string m_name;
    long long m_size = 0;
    uint16_t m_attribute = 0;
    uint8_t m_check = 0;
    uint8_t m_match = 0;
    uint8_t m_state = 0;
    std::string m_time;
    IDataRunList* m_runs = nullptr;
};

class CRAWFileNode : public CFileNode {
public:
    CRAWFileNode() = default;
    ~CRAWFileNode() override;

    // Fills the node from a candidate: one run from its start sector over
    // its size in device sectors, its name (a folder takes the candidate's
    // name; a file the name BuildFileName makes), its time text. 0 for a
    // null candidate.
    int Initilaize(CRawFileInfo* info, unsigned attribute, long long parentId, long long nodeId,
                   unsigned sectorSize = 512);
    // "%s%03d.%s" (name, the type's running number, the type's name) when
    // the name is non-empty, valid UTF-8; else "FILE%03d.%s". The running
    // number then grows by one.
    static std::string BuildFileName(RAW_FILE_TYPE type, const std::string& name);

    const char* GetFileName() override { return m_displayName.c_str(); }
    long long GetFileSize() override { return m_properties ? m_properties->GetFileSize() : 0; }
    uint32_t GetAttribute() override { return m_properties ? m_properties->GetAttribute() : 0; }
    long long GetCreationTime() override { return NodeTime(); }
    long long GetModificationTime() override { return NodeTime(); }
    long long GetLastAccessTime() override { return NodeTime(); }
    int IsDirectory() override {
        return m_properties ? ((m_properties->GetAttribute() & 0x10) != 0) : 1;
    }
    int IsDeleted() override { return 0; }
    IFileNode* Clone() override { return this; }
    void MarkDeleted() override {}
    void FilterFileNameByDot() override {}
    IFileProperties* GetFileProperties() const override { return m_properties; }

    // The time text read as "year month day hour minute second" (separated
    // by spaces, "-" or ":") in local time, on the 1601 tick scale; 0 when
    // it does not read so.
    static long long TimeFromText(const std::string& text);

private:
    long long NodeTime();

    CRAWFileProperties* m_properties = nullptr;
    std::string m_displayName;
    long long m_time = -1;  // worked out on first use
};

// The running number of carved-file names, one per type id, shared by both
// trees; cleared at every search preparation.
void ResetRawFileNameCounters();
