#include "RawFileInfo.h"

std::string ApiStrFilterBadFileName(const std::string& name) {
    std::string out = name;
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    for (char& c : out) {
        switch (c) {
            case '\x01':
            case '\\':
            case '/':
            case ':':
            case '?':
            case '"':
            case '<':
            case '>':
            case '|':
            case '*':
            case '\r':
            case '\n':
                c = '_';
                break;
            default:
                break;
        }
    }
    return out;
}

int ApiIsInvalidCharInFileName(const std::string& text) {
    for (unsigned char c : text) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == ' ' || c == ',' || c == '-' || c == '.' ||
                        c == '@' || c == '_';
        if (!ok)
            return 1;
    }
    return 0;
}

void CRawFileInfo::SetRawFileName(const std::string& name) {
    m_name = ApiStrFilterBadFileName(name);
}

std::string CRawFileInfo::GetRawFileName() {
    m_name = ApiStrFilterBadFileName(m_name);
    return m_name;
}

void CRawFileInfo::SetRawFileTagAndValue(RAW_FILE_TAG tag, const std::string& value) {
    m_tag = tag;
    m_tagValue = ApiStrFilterBadFileName(value);
}

void CRawFileInfo::GetRawFileTagAndValue(RAW_FILE_TAG& tag, std::string& value) const {
    tag = m_tag;
    value = ApiStrFilterBadFileName(m_tagValue);
}
