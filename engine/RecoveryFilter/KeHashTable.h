// A fixed-size hash table keyed by short texts, compared without regard to
// ASCII case. Each slot keeps two further hashes of its key instead of the
// key itself, so a lookup compares three independent hashes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

template <typename T, size_t Slots>
class CKeHashTable {
    static_assert(Slots > 0 && (Slots & (Slots - 1)) == 0, "slot count must be a power of two");

public:
    CKeHashTable() : crypt_(5 * 256), slots_(Slots) { MakeCryptTable(); }

    // False when every slot is taken. A key inserted twice takes two slots.
    bool Insert(const char* key, T value) {
        if (!key)
            return false;
        const Probe p = ProbeOf(key);
        size_t i = p.start;
        do {
            Slot& s = slots_[i];
            if (!s.used) {
                s.value = value;
                s.used = 1;
                s.checkA = p.checkA;
                s.checkB = p.checkB;
                ++count_;
                return true;
            }
            i = (i + 1) & (Slots - 1);
        } while (i != p.start);
        return false;
    }

    // The value of the first slot holding the key, or null.
    const T* Find(const char* key) const {
        if (!key)
            return nullptr;
        const Probe p = ProbeOf(key);
        size_t i = p.start;
        do {
            const Slot& s = slots_[i];
            // Nothing is ever taken out of the table, so a key's probe run
            // never has a free slot before it: the first free slot ends
            // the search.
            if (!s.used)
                return nullptr;
            if (s.checkA == p.checkA && s.checkB == p.checkB)
                return &s.value;
            i = (i + 1) & (Slots - 1);
        } while (i != p.start);
        return nullptr;
    }

    size_t Count() const { return count_; }

    // Hash of a text for one of the rows 0 to 2; letters hash alike in
    // either case.
    uint32_t Hash(const char* key, unsigned row) const {
        uint32_t h = 0x7FED7FEDu;
        uint32_t s = 0xEEEEEEEEu;
        for (const auto* p = reinterpret_cast<const unsigned char*>(key); *p; ++p) {
            uint32_t c = *p;
            if (c >= 'a' && c <= 'z')
                c -= 'a' - 'A';
            h = (h + s) ^ crypt_[row * 256 + c];
            s = s * 97u + c + h;
        }
        return h;
    }

private:
    // Where a key's probe starts and the two hashes that identify it.
    struct Probe {
        size_t start;
        uint32_t checkA;
        uint32_t checkB;
    };
    Probe ProbeOf(const char* key) const {
        return {Hash(key, 0) & (Slots - 1), Hash(key, 1), Hash(key, 2)};
    }

    struct Slot {
        T value{};
        uint32_t used = 0;
        uint32_t checkA = 0;
        uint32_t checkB = 0;
    };

    void MakeCryptTable() {
        uint32_t seed = 0x00100001u;
        for (unsigned i = 0; i < 256; ++i) {
            for (unsigned k = 0; k < 5; ++k) {
                seed = (seed * 125u + 3u) % 0x2AAAABu;
                const uint32_t high = seed & 0xFFFFu;
                seed = (seed * 125u + 3u) % 0x2AAAABu;
                const uint32_t low = seed & 0xFFFFu;
                crypt_[k * 256 + i] = (high << 16) | low;
            }
        }
    }

    std::vector<uint32_t> crypt_;
    std::vector<Slot> slots_;
    size_t count_ = 0;
};
