// A small settings file of "[section]" lines and "key=value" lines.
#pragma once

#include <map>
#include <string>

class CIniFile {
public:
    CIniFile() = default;
    explicit CIniFile(const char* path) : m_path(path ? path : "") {}
    explicit CIniFile(const std::string& path) : m_path(path) {}

    // Set the path when one is given, then load. 0 success, -1 failure.
    int Init(const char* path);
    int Init(const std::string& path);
    int Init();

    // 0 success, -1 failure; a failed load keeps what came before the bad line.
    int LoadFile();
    // -1 when the section was not loaded or the value is empty.
    int ReadItem(const std::string& section, const std::string& key, std::string& value);
    // Replaces an existing key's value and rewrites the file; -1 when the key
    // is not there (the file is then left alone).
    int WriteItem(const std::string& section, const std::string& key, const std::string& value);
    int WriteFile();
    void Dump() const;

    const std::string& GetPath() const { return m_path; }

private:
    using Section = std::map<std::string, std::string>;
    std::string m_path;
    std::map<std::string, Section> m_content;
};
