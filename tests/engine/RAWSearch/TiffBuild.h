// Builds TIFF files for tests: a header, directories of entries whose
// values do not fit the entry placed right after the directory, blobs of
// picture data, links patched afterwards.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rawtest {

class TiffFile {
public:
    struct Entry {
        uint16_t tag;
        uint16_t type;
        uint32_t count;
        std::vector<uint8_t> data;  // in the file's byte order; > 4 bytes goes after the directory
    };

    explicit TiffFile(bool littleEndian, const char* magic = nullptr) : le_(littleEndian) {
        bytes.assign({le_ ? uint8_t('I') : uint8_t('M'), le_ ? uint8_t('I') : uint8_t('M')});
        Add16(42);
        Add32(0);
        if (magic != nullptr)
            for (int i = 0; i < 4; ++i)
                bytes[i] = static_cast<uint8_t>(magic[i]);
    }

    Entry Short(uint16_t tag, uint16_t v) const {
        return {tag, 3, 1, {B16(v, 0), B16(v, 1), 0, 0}};
    }
    Entry Long(uint16_t tag, uint32_t v) const {
        return {tag, 4, 1, {B32(v, 0), B32(v, 1), B32(v, 2), B32(v, 3)}};
    }
    Entry Longs(uint16_t tag, const std::vector<uint32_t>& v) const {
        Entry e{tag, 4, static_cast<uint32_t>(v.size()), {}};
        for (uint32_t x : v)
            for (int i = 0; i < 4; ++i)
                e.data.push_back(B32(x, i));
        return e;
    }
    Entry Ascii(uint16_t tag, const std::string& text) const {
        Entry e{tag, 2, static_cast<uint32_t>(text.size() + 1), {}};
        e.data.assign(text.begin(), text.end());
        e.data.push_back(0);
        return e;
    }
    Entry Undefined(uint16_t tag, uint32_t count, uint32_t offset) const {
        // A value that lies elsewhere: the entry holds its offset.
        return {tag, 7, count, {B32(offset, 0), B32(offset, 1), B32(offset, 2), B32(offset, 3)}};
    }

    // Picture data (or anything) at the next even offset.
    uint32_t Blob(const std::vector<uint8_t>& data) {
        Align();
        const uint32_t at = static_cast<uint32_t>(bytes.size());
        bytes.insert(bytes.end(), data.begin(), data.end());
        return at;
    }
    uint32_t Blob(size_t length, uint8_t seed) {
        std::vector<uint8_t> d(length);
        uint32_t x = seed * 2654435761u + 1;
        for (auto& b : d) {
            x = x * 1103515245u + 12345u;
            b = static_cast<uint8_t>((x >> 16) | 1);  // never zero
        }
        return Blob(d);
    }
    // A directory at the next even offset; `count` overrides the entry count
    // written (a lying directory).
    uint32_t Directory(const std::vector<Entry>& entries, uint32_t link = 0, int count = -1) {
        Align();
        const uint32_t at = static_cast<uint32_t>(bytes.size());
        Add16(static_cast<uint16_t>(count >= 0 ? count : static_cast<int>(entries.size())));
        std::vector<uint8_t> values;
        const uint32_t valuesAt = at + 2 + 12 * static_cast<uint32_t>(entries.size()) + 4;
        for (const Entry& e : entries) {
            Add16(e.tag);
            Add16(e.type);
            Add32(e.count);
            if (e.data.size() <= 4) {
                for (size_t i = 0; i < 4; ++i)
                    bytes.push_back(i < e.data.size() ? e.data[i] : 0);
            } else {
                if (values.size() % 2)
                    values.push_back(0);  // values start on even offsets
                Add32(valuesAt + static_cast<uint32_t>(values.size()));
                values.insert(values.end(), e.data.begin(), e.data.end());
            }
        }
        Add32(link);
        bytes.insert(bytes.end(), values.begin(), values.end());
        return at;
    }
    void First(uint32_t offset) { Put32(4, offset); }
    // Sets the link after the directory at `dir` (by the count it holds).
    void Link(uint32_t dir, uint32_t to) {
        const uint16_t count = static_cast<uint16_t>(le_ ? bytes[dir] | bytes[dir + 1] << 8
                                                         : bytes[dir] << 8 | bytes[dir + 1]);
        Put32(dir + 2 + 12 * static_cast<size_t>(count), to);
    }
    void Put32(size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            bytes[at + i] = B32(v, i);
    }

    std::vector<uint8_t> bytes;

private:
    uint8_t B16(uint16_t v, int i) const {
        return static_cast<uint8_t>(v >> (8 * (le_ ? i : 1 - i)));
    }
    uint8_t B32(uint32_t v, int i) const {
        return static_cast<uint8_t>(v >> (8 * (le_ ? i : 3 - i)));
    }
    void Add16(uint16_t v) {
        bytes.push_back(B16(v, 0));
        bytes.push_back(B16(v, 1));
    }
    void Add32(uint32_t v) {
        for (int i = 0; i < 4; ++i)
            bytes.push_back(B32(v, i));
    }
    void Align() {
        if (bytes.size() % 2)
            bytes.push_back(0);
    }

    bool le_;
};

}  // namespace rawtest
