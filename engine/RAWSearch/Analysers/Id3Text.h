// Text of MP3 tags as UTF-8: ID3v2 text frames in their four encodings and
// the fixed fields of an ID3v1 tag. Tags written as "ISO-8859-1" are often
// in a local code page instead, so their character set is guessed (with
// libchardet) from the title and the guess is used for the other texts of
// the same file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class Id3TextDecoder {
public:
    // How much of a text frame is read, and how UTF-8 text is treated: the
    // streaming analyser reads at most 255 bytes of any text and replaces a
    // malformed UTF-8 text's high bytes; the whole-file sizer keeps UTF-8
    // as it stands and reads up to 1024 bytes of UTF-8 and UTF-16 text.
    struct Limits {
        size_t latin = 255;
        size_t unicode = 255;
        bool checkUtf8 = true;
    };

    explicit Id3TextDecoder(Limits limits) : m_limits(limits) {}
    Id3TextDecoder() : Id3TextDecoder(Limits{}) {}

    // A text frame's body: its encoding byte, then the text. `guess` asks
    // for the character set to be guessed from this text (the title) for
    // later ISO-8859-1 texts.
    std::string FrameText(const uint8_t* body, size_t length, bool guess);
    // A fixed ID3v1 field, cut at its first zero and its trailing spaces, in
    // the character set guessed from `titleField` (guessed once per file).
    // Empty when no character set could be guessed.
    std::string V1Text(const uint8_t* field, size_t length, const uint8_t* titleField,
                       size_t titleLength);

    const std::string& Charset() const { return m_charset; }
    void SetCharset(const std::string& charset) { m_charset = charset; }

    // libchardet's guess for the text; empty when it has none.
    static std::string GuessCharset(const std::string& text);
    // `text` from `charset` to UTF-8 through iconv; false when that fails.
    static bool Convert(const std::string& text, const std::string& charset, std::string& out);

private:
    std::string Latin(const uint8_t* text, size_t length, bool guess);

    Limits m_limits;
    std::string m_charset;
    bool m_guessed = false;
};
