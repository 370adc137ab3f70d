// Builds EXIF blocks ("Exif" 00 00 and a TIFF structure) for tests: an IFD0
// with its entries, an optional EXIF sub-directory and an optional IFD1.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rawtest {

struct ExifEntry {
    uint16_t tag;
    uint16_t format;
    uint32_t count;
    std::vector<uint8_t> data;  // the value's bytes in the block's order
};

inline ExifEntry Ascii(uint16_t tag, const std::string& text) {
    std::vector<uint8_t> d(text.begin(), text.end());
    d.push_back(0);
    return {tag, 2, static_cast<uint32_t>(d.size()), d};
}

class ExifBlock {
public:
    explicit ExifBlock(bool littleEndian) : le_(littleEndian) {}

    ExifEntry Short(uint16_t tag, uint16_t v) const {
        return {tag, 3, 1, {B16(v, 0), B16(v, 1), 0, 0}};
    }
    ExifEntry Long(uint16_t tag, uint32_t v) const {
        return {tag, 4, 1, {B32(v, 0), B32(v, 1), B32(v, 2), B32(v, 3)}};
    }
    ExifEntry Rational(uint16_t tag, uint32_t num, uint32_t den) const {
        return {tag,
                5,
                1,
                {B32(num, 0), B32(num, 1), B32(num, 2), B32(num, 3), B32(den, 0), B32(den, 1),
                 B32(den, 2), B32(den, 3)}};
    }

    // Lays out the directories: IFD0 at 8, then its values, then the EXIF
    // directory (linked from IFD0 by tag 0x8769) and its values, then IFD1.
    // The TIFF offsets of the directories are kept for tests that patch them.
    std::vector<uint8_t> Build(std::vector<ExifEntry> ifd0, const std::vector<ExifEntry>& exif,
                               const std::vector<ExifEntry>& ifd1 = {}) {
        if (!exif.empty())
            ifd0.push_back(Long(0x8769, 0));  // patched below
        tiff_.assign({le_ ? uint8_t('I') : uint8_t('M'), le_ ? uint8_t('I') : uint8_t('M')});
        Append16(42);
        Append32(8);
        ifd0Offset_ = Directory(ifd0);
        if (!exif.empty()) {
            exifOffset_ = Directory(exif);
            // The link entry is IFD0's last.
            Patch32(ifd0Offset_ + 2 + 12 * (ifd0.size() - 1) + 8, exifOffset_);
        }
        if (!ifd1.empty()) {
            ifd1Offset_ = Directory(ifd1);
            Patch32(ifd0Offset_ + 2 + 12 * ifd0.size(), ifd1Offset_);
        }
        std::vector<uint8_t> block = {'E', 'x', 'i', 'f', 0, 0};
        block.insert(block.end(), tiff_.begin(), tiff_.end());
        return block;
    }
    uint32_t Ifd0() const { return ifd0Offset_; }
    uint32_t ExifIfd() const { return exifOffset_; }
    // Writes a 32-bit value at a TIFF offset of a built block.
    void Patch(std::vector<uint8_t>& block, uint32_t tiffOffset, uint32_t v) const {
        for (int i = 0; i < 4; ++i)
            block[6 + tiffOffset + i] = B32(v, i);
    }
    void Patch16(std::vector<uint8_t>& block, uint32_t tiffOffset, uint16_t v) const {
        for (int i = 0; i < 2; ++i)
            block[6 + tiffOffset + i] = B16(v, i);
    }

private:
    uint8_t B16(uint16_t v, int i) const {
        return static_cast<uint8_t>(v >> (8 * (le_ ? i : 1 - i)));
    }
    uint8_t B32(uint32_t v, int i) const {
        return static_cast<uint8_t>(v >> (8 * (le_ ? i : 3 - i)));
    }
    void Append16(uint16_t v) {
        tiff_.push_back(B16(v, 0));
        tiff_.push_back(B16(v, 1));
    }
    void Append32(uint32_t v) {
        for (int i = 0; i < 4; ++i)
            tiff_.push_back(B32(v, i));
    }
    void Patch32(size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            tiff_[at + i] = B32(v, i);
    }
    uint32_t Directory(const std::vector<ExifEntry>& entries) {
        const uint32_t at = static_cast<uint32_t>(tiff_.size());
        Append16(static_cast<uint16_t>(entries.size()));
        std::vector<uint8_t> values;
        const uint32_t valuesAt = at + 2 + 12 * static_cast<uint32_t>(entries.size()) + 4;
        for (const ExifEntry& e : entries) {
            Append16(e.tag);
            Append16(e.format);
            Append32(e.count);
            if (e.data.size() <= 4) {
                for (size_t i = 0; i < 4; ++i)
                    tiff_.push_back(i < e.data.size() ? e.data[i] : 0);
            } else {
                Append32(valuesAt + static_cast<uint32_t>(values.size()));
                values.insert(values.end(), e.data.begin(), e.data.end());
                if (values.size() % 2)
                    values.push_back(0);
            }
        }
        Append32(0);
        tiff_.insert(tiff_.end(), values.begin(), values.end());
        return at;
    }

    bool le_;
    std::vector<uint8_t> tiff_;
    uint32_t ifd0Offset_ = 0;
    uint32_t exifOffset_ = 0;
    uint32_t ifd1Offset_ = 0;
};

}  // namespace rawtest
