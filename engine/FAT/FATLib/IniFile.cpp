#include "IniFile.h"
#include "Utility/CatchExeception.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr size_t kLineBuffer = 1024;

// One line, or one piece of a line longer than the buffer, without its line
// end (LF or CR LF). False at the end of the file.
bool ReadLine(FILE* f, std::string& line) {
    char buf[kLineBuffer];
    if (!std::fgets(buf, sizeof(buf), f))
        return false;
    size_t n = std::strlen(buf);
    if (n > 0 && buf[n - 1] == '\n') {
        --n;
        if (n > 0 && buf[n - 1] == '\r')
            --n;
    }
    line.assign(buf, n);
    return true;
}

}  // namespace

int CIniFile::Init(const char* path) {
    if (path)
        m_path = path;
    return LoadFile();
}

int CIniFile::Init(const std::string& path) {
    m_path = path;
    return LoadFile();
}

int CIniFile::Init() {
    return LoadFile();
}

int CIniFile::LoadFile() {
    FILE* f = std::fopen(m_path.c_str(), "r");
    if (!f)
        return -1;
    std::string line;
    std::string section;
    bool haveSection = false;
    int result = 0;
    while (ReadLine(f, line)) {
        if (line.empty())
            continue;
        const size_t open = line.find('[');
        if (open != std::string::npos) {
            const size_t close = line.find(']', open + 1);
            if (close == std::string::npos) {
                result = -1;
                break;
            }
            section = line.substr(open + 1, close - open - 1);
            haveSection = true;
            m_content[section];
            continue;
        }
        const size_t eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        if (!haveSection) {
            result = -1;
            break;
        }
        m_content[section][line.substr(0, eq)] = line.substr(eq + 1);
    }
    const int closed = std::fclose(f);
    return result != 0 ? result : closed;
}

int CIniFile::ReadItem(const std::string& section, const std::string& key, std::string& value) {
    auto it = m_content.find(section);
    if (it == m_content.end())
        return -1;
    value = it->second[key];
    return value.empty() ? -1 : 0;
}

int CIniFile::WriteItem(const std::string& section, const std::string& key,
                        const std::string& value) {
    Section& s = m_content[section];
    auto it = s.find(key);
    if (it == s.end())
        return -1;
    it->second = value;
    return WriteFile();
}

int CIniFile::WriteFile() {
    FILE* f = std::fopen(m_path.c_str(), "w");
    if (!f)
        return -1;
    bool ok = true;
    for (const auto& [name, keys] : m_content) {
        ok = ok && std::fprintf(f, "[%s]\n", name.c_str()) >= 0;
        for (const auto& [key, value] : keys)
            ok = ok && std::fprintf(f, "%s=%s\n", key.c_str(), value.c_str()) >= 0;
        ok = ok && std::fputs("\n", f) >= 0;
    }
    const int closed = std::fclose(f);
    return ok ? closed : -1;
}

void CIniFile::Dump() const {
    for (const auto& [name, keys] : m_content) {
        CatchExeception::Trace("[%s]\n", name.c_str());
        for (const auto& [key, value] : keys)
            CatchExeception::Trace("%s=%s\n", key.c_str(), value.c_str());
        CatchExeception::Trace("\n");
    }
}
