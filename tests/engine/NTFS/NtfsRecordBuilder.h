// Builds NTFS structures byte by byte for the tests: FILE records with the
// attributes a case needs, index blocks and mapping pairs, with the update
// sequence applied as NTFS writes it. Only what the tests use.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace ntfstest {

using Bytes = std::vector<uint8_t>;

inline void Put16(Bytes& b, size_t at, uint16_t v) {
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}
inline void Put32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void Put64(Bytes& b, size_t at, uint64_t v) {
    for (int i = 0; i < 8; ++i)
        b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
inline uint16_t Get16(const Bytes& b, size_t at) {
    return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}
inline uint32_t Get32(const Bytes& b, size_t at) {
    return uint32_t{b[at]} | uint32_t{b[at + 1]} << 8 | uint32_t{b[at + 2]} << 16 |
           uint32_t{b[at + 3]} << 24;
}

inline Bytes Utf16(const std::u16string& s) {
    Bytes out;
    for (char16_t c : s) {
        out.push_back(static_cast<uint8_t>(c));
        out.push_back(static_cast<uint8_t>(c >> 8));
    }
    return out;
}

// Writes the update sequence: each protected sector's last two bytes go to
// the array and the sequence number takes their place.
inline void ApplyFixups(Bytes& b, uint16_t usa, uint16_t count, uint16_t usn) {
    Put16(b, usa, usn);
    for (uint16_t i = 1; i < count; ++i) {
        const size_t end = i * 512u - 2;
        if (end + 2 > b.size())
            break;
        b[usa + 2 * i] = b[end];
        b[usa + 2 * i + 1] = b[end + 1];
        Put16(b, end, usn);
    }
}

// One attribute of a record.
class Attr {
public:
    // A resident attribute: header, optional name, value at an 8-aligned offset.
    static Attr Resident(uint32_t type, const Bytes& value, const std::u16string& name = u"") {
        Attr a;
        const size_t nameOffset = 0x18;
        const size_t valueOffset = (nameOffset + 2 * name.size() + 7) / 8 * 8;
        a.bytes.assign((valueOffset + value.size() + 7) / 8 * 8, 0);
        Put32(a.bytes, 0, type);
        Put32(a.bytes, 4, static_cast<uint32_t>(a.bytes.size()));
        a.bytes[9] = static_cast<uint8_t>(name.size());
        Put16(a.bytes, 0x0A, static_cast<uint16_t>(nameOffset));
        Put32(a.bytes, 0x10, static_cast<uint32_t>(value.size()));
        Put16(a.bytes, 0x14, static_cast<uint16_t>(valueOffset));
        const Bytes n = Utf16(name);
        if (!n.empty())
            std::memcpy(a.bytes.data() + nameOffset, n.data(), n.size());
        if (!value.empty())
            std::memcpy(a.bytes.data() + valueOffset, value.data(), value.size());
        return a;
    }
    // A non-resident attribute with the given mapping pairs (terminator
    // included by the caller).
    static Attr NonResident(uint32_t type, const Bytes& pairs, int64_t firstVcn, int64_t lastVcn,
                            int64_t realSize, int64_t allocated, const std::u16string& name = u"",
                            uint16_t flags = 0) {
        Attr a;
        const size_t nameOffset = 0x40;
        const size_t runsOffset = (nameOffset + 2 * name.size() + 7) / 8 * 8;
        a.bytes.assign((runsOffset + pairs.size() + 7) / 8 * 8, 0);
        Put32(a.bytes, 0, type);
        Put32(a.bytes, 4, static_cast<uint32_t>(a.bytes.size()));
        a.bytes[8] = 1;
        a.bytes[9] = static_cast<uint8_t>(name.size());
        Put16(a.bytes, 0x0A, static_cast<uint16_t>(nameOffset));
        Put16(a.bytes, 0x0C, flags);
        Put64(a.bytes, 0x10, static_cast<uint64_t>(firstVcn));
        Put64(a.bytes, 0x18, static_cast<uint64_t>(lastVcn));
        Put16(a.bytes, 0x20, static_cast<uint16_t>(runsOffset));
        if (flags & 1)
            Put16(a.bytes, 0x22, 4);
        Put64(a.bytes, 0x28, static_cast<uint64_t>(allocated));
        Put64(a.bytes, 0x30, static_cast<uint64_t>(realSize));
        Put64(a.bytes, 0x38, static_cast<uint64_t>(realSize));
        const Bytes n = Utf16(name);
        if (!n.empty())
            std::memcpy(a.bytes.data() + nameOffset, n.data(), n.size());
        if (!pairs.empty())
            std::memcpy(a.bytes.data() + runsOffset, pairs.data(), pairs.size());
        return a;
    }
    static Attr StandardInformation(uint32_t dos, uint64_t created = 1, uint64_t modified = 2,
                                    uint64_t accessed = 3) {
        Bytes v(48, 0);
        Put64(v, 0x00, created);
        Put64(v, 0x08, modified);
        Put64(v, 0x10, modified);
        Put64(v, 0x18, accessed);
        Put32(v, 0x20, dos);
        return Resident(0x10, v);
    }
    static Bytes FileNameValue(uint64_t parent, const std::u16string& name, uint8_t nameSpace = 1,
                               bool directory = false, int64_t realSize = 0, uint64_t time = 100) {
        Bytes v(0x42 + 2 * name.size(), 0);
        Put64(v, 0x00, parent | (uint64_t{1} << 48));
        for (size_t t : {0x08, 0x10, 0x18, 0x20})
            Put64(v, t, time);
        Put64(v, 0x30, static_cast<uint64_t>(realSize));
        Put32(v, 0x38, directory ? 0x10000000u : 0x20u);
        v[0x40] = static_cast<uint8_t>(name.size());
        v[0x41] = nameSpace;
        const Bytes n = Utf16(name);
        if (!n.empty())
            std::memcpy(v.data() + 0x42, n.data(), n.size());
        return v;
    }
    static Attr FileName(uint64_t parent, const std::u16string& name, uint8_t nameSpace = 1,
                         bool directory = false, int64_t realSize = 0) {
        return Resident(0x30, FileNameValue(parent, name, nameSpace, directory, realSize));
    }

    Bytes bytes;
};

// A FILE record.
class Record {
public:
    explicit Record(uint32_t number = 64, uint32_t size = 1024) : number_(number), size_(size) {}
    Record& Add(const Attr& a) {
        attrs_.push_back(a);
        return *this;
    }
    Record& InUse(bool v) {
        flags_ = static_cast<uint16_t>(v ? (flags_ | 1) : (flags_ & ~1));
        return *this;
    }
    Record& Folder(bool v) {
        flags_ = static_cast<uint16_t>(v ? (flags_ | 2) : (flags_ & ~2));
        return *this;
    }
    Record& Base(uint64_t base) {
        base_ = base;
        return *this;
    }
    // Builds the record; `fixups` applies the update sequence as on disk.
    Bytes Build(bool fixups = true, uint16_t usn = 7) const {
        Bytes b(size_, 0);
        std::memcpy(b.data(), "FILE", 4);
        const uint16_t usa = 0x30;
        const uint16_t count = static_cast<uint16_t>(size_ / 512 + 1);
        Put16(b, 4, usa);
        Put16(b, 6, count);
        Put16(b, 0x10, 1);
        Put16(b, 0x12, 1);
        const size_t first = (usa + 2u * count + 7) / 8 * 8;
        Put16(b, 0x14, static_cast<uint16_t>(first));
        Put16(b, 0x16, flags_);
        Put32(b, 0x1C, size_);
        Put64(b, 0x20, base_ == 0 ? 0 : (base_ | (uint64_t{1} << 48)));
        Put32(b, 0x2C, number_);
        size_t off = first;
        for (const Attr& a : attrs_) {
            if (off + a.bytes.size() + 8 > size_)
                break;
            std::memcpy(b.data() + off, a.bytes.data(), a.bytes.size());
            off += a.bytes.size();
        }
        Put32(b, off, 0xFFFFFFFF);
        Put32(b, 0x18, static_cast<uint32_t>(off + 8));
        if (fixups)
            ApplyFixups(b, usa, count, usn);
        return b;
    }
    // The offset the n-th attribute gets in the built record.
    size_t AttributeOffset(size_t n) const {
        size_t off = (0x30 + 2u * (size_ / 512 + 1) + 7) / 8 * 8;
        for (size_t i = 0; i < n && i < attrs_.size(); ++i)
            off += attrs_[i].bytes.size();
        return off;
    }

private:
    uint32_t number_;
    uint32_t size_;
    uint16_t flags_ = 1;
    uint64_t base_ = 0;
    std::vector<Attr> attrs_;
};

// Mapping pairs of runs {lcn or -1, length}, absolute LCNs, terminated.
inline Bytes Pairs(const std::vector<std::pair<int64_t, int64_t>>& runs) {
    Bytes out;
    int64_t previous = 0;
    auto width = [](int64_t v) {
        for (unsigned n = 1; n < 8; ++n) {
            const int64_t bound = int64_t{1} << (8 * n - 1);
            if (v >= -bound && v < bound)
                return n;
        }
        return 8u;
    };
    for (auto [lcn, length] : runs) {
        const unsigned l = width(length);
        const unsigned o = lcn < 0 ? 0 : width(lcn - previous);
        out.push_back(static_cast<uint8_t>(o << 4 | l));
        for (unsigned i = 0; i < l; ++i)
            out.push_back(static_cast<uint8_t>(static_cast<uint64_t>(length) >> (8 * i)));
        for (unsigned i = 0; i < o; ++i)
            out.push_back(static_cast<uint8_t>(static_cast<uint64_t>(lcn - previous) >> (8 * i)));
        if (lcn >= 0)
            previous = lcn;
    }
    out.push_back(0);
    return out;
}

// A log record of the NTFS client aimed at the MFT block (vcn, 512-byte
// block offset), with its redo and undo data.
inline Bytes LogRecord(uint64_t lsn, uint64_t vcn, uint16_t blockOffset, uint16_t recordOffset,
                       uint16_t attributeOffset, const Bytes& redo, const Bytes& undo) {
    Bytes op(40, 0);
    Put16(op, 4, 0x28);                                       // redo offset
    Put16(op, 6, static_cast<uint16_t>(redo.size()));         // redo length
    Put16(op, 8, static_cast<uint16_t>(0x28 + redo.size()));  // undo offset
    Put16(op, 10, static_cast<uint16_t>(undo.size()));        // undo length
    Put16(op, 14, 1);                                         // one LCN follows
    Put16(op, 16, recordOffset);
    Put16(op, 18, attributeOffset);
    Put16(op, 20, blockOffset);
    Put64(op, 24, vcn);
    Bytes client = op;
    client.insert(client.end(), redo.begin(), redo.end());
    client.insert(client.end(), undo.begin(), undo.end());
    client.resize((client.size() + 7) / 8 * 8, 0);
    Bytes r(48, 0);
    Put64(r, 0, lsn);
    Put32(r, 24, static_cast<uint32_t>(client.size()));
    r.insert(r.end(), client.begin(), client.end());
    return r;
}

// A 4 KiB log record page holding the records, with its update sequence.
inline Bytes RecordPage(const std::vector<Bytes>& records, uint64_t lastLsn) {
    Bytes p(4096, 0);
    std::memcpy(p.data(), "RCRD", 4);
    Put16(p, 4, 0x28);
    Put16(p, 6, 9);
    Put64(p, 8, lastLsn);
    Put64(p, 32, lastLsn);
    size_t off = 64;
    for (const Bytes& r : records) {
        std::memcpy(p.data() + off, r.data(), r.size());
        off += (r.size() + 7) / 8 * 8;
    }
    Put16(p, 24, static_cast<uint16_t>(off));
    ApplyFixups(p, 0x28, 9, 2);
    return p;
}

}  // namespace ntfstest
