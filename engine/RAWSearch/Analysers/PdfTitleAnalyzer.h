// Reads a PDF's document information (author, creator, producer, title and
// the two dates) out of a piece of its text, for naming the carved file and
// filing it under its author.
#pragma once

#include <string>

#include "FileProperty.h"

namespace BruteForce {

class PdfTitleAnalyzer {
public:
    // Values longer than this are cut.
    static constexpr size_t kMaxValueBytes = 25;
    // How far past a key its value is looked for.
    static constexpr int kValueSpan = 512;

    // `text` is one piece of the file (`length` bytes); `moreFollows` says
    // that as many bytes again follow it in memory. Non-zero when the
    // creator, the author or a date was found; the record is left as it was
    // when the text holds no information dictionary.
    int ObtainPerSecPDFInformation(const unsigned char* text, int length, bool moreFollows,
                                   FileProperty& property);

    // Whether the text looks like text: four bytes spread over it are
    // sampled, and one that PDF text is made of is enough.
    static bool RemoveNolessVec(const char* text, int length);
    // The first occurrence of `word` in the first `length` bytes; `offset`
    // is set to where it starts.
    static const char* myStrstr(const char* text, int length, const char* word, int wordLength,
                                int& offset);
    // The value of the key at `at`: the string in parentheses before the
    // next "/", UTF-16BE converted; empty when there is none.
    static std::string ObtainPerInfo(const char* at, int length);
    // "D:YYYYMMDDHHmmSS..." as "YYYY-MM-DD HH-mm-SS"; empty for anything else.
    static std::string TimeChange(const std::string& value);
    // At least two characters, each a letter, a digit, "_", a space, "(",
    // "-" or ".".
    static bool JudeLegalInfo(const std::string& value);
    // Titles with digits in them are most often generated ("Microsoft Word -
    // Doc1"): such a title is not used.
    static std::string RemoveIllegalTitle(const std::string& title);

private:
    int SeparateInformation(const char* text, int length, FileProperty& property);

    int m_length = 0;
};

}  // namespace BruteForce
