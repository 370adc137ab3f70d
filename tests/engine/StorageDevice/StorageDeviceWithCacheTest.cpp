#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "DeviceTestHelpers.h"
#include "StorageDeviceWithCache.h"
#include "StorageDevices.h"

using devtest::AllZero;
using devtest::PatternMismatch;
using devtest::PatternTestDevice;

namespace {

constexpr int kSsz = 512;

std::vector<uint8_t> Sectors(long long n) {
    return std::vector<uint8_t>(static_cast<size_t>(n) * kSsz, 0xAA);
}

TEST(DeviceCacheTest, BeforeBeginCacheEveryReadGoesToTheInnerDevice) {
    PatternTestDevice inner(100);
    CStorageDeviceWithCache cache(&inner);
    EXPECT_EQ(cache.GetType(), kDeviceCache);
    EXPECT_EQ(cache.GetBlockSize(), 1000u);
    EXPECT_EQ(cache.GetTotalSectors(), 100);
    long long first = 0, count = 0;
    EXPECT_EQ(cache.PeekCurrentBlock(&first, &count), nullptr);  // no block yet
    auto buf = Sectors(4);
    ASSERT_EQ(cache.ReadSector(buf.data(), 7, 4), 1);
    EXPECT_EQ(PatternMismatch(buf.data(), 7 * kSsz, buf.size()), -1);
    EXPECT_EQ(inner.Reads(), 1);
    // A block taken without read-ahead is read directly, not waited for.
    ASSERT_EQ(cache.SetBlockSize(10), 1);
    ASSERT_EQ(cache.SetCurCacheBlock(2), 1);
    ASSERT_EQ(cache.ReadSector(buf.data(), 21, 4), 1);
    EXPECT_EQ(PatternMismatch(buf.data(), 21 * kSsz, buf.size()), -1);
}

TEST(DeviceCacheTest, LastShortBlockHoldsOnlyItsOwnSectors) {
    PatternTestDevice inner(25);
    CStorageDeviceWithCache cache(&inner);
    ASSERT_EQ(cache.SetBlockSize(10), 1);
    ASSERT_EQ(cache.BeginCache(), 1);
    EXPECT_FALSE(cache.IsNeedCatchBuffer());
    for (long long k = 0; k < 3; ++k) {
        SCOPED_TRACE(k);
        ASSERT_EQ(cache.SetCurCacheBlock(k), 1);
        const long long n = k == 2 ? 5 : 10;
        auto buf = Sectors(n);
        int before = inner.Reads();
        ASSERT_EQ(cache.ReadSector(buf.data(), k * 10, n), 1);
        EXPECT_EQ(inner.Reads(), before);  // from memory
        EXPECT_EQ(PatternMismatch(buf.data(), k * 10 * kSsz, buf.size()), -1);
        // The same bytes without a copy.
        long long first = -1, count = -1;
        const uint8_t* held = cache.PeekCurrentBlock(&first, &count);
        ASSERT_NE(held, nullptr);
        EXPECT_EQ(first, k * 10);
        EXPECT_EQ(count, n);
        EXPECT_EQ(PatternMismatch(held, k * 10 * kSsz, static_cast<size_t>(n) * kSsz), -1);
    }
    // Sectors 25..29 lie past the device: not served from the block buffer
    // (which held block 1's bytes there before), but asked of the device.
    auto buf = Sectors(3);
    int before = inner.Reads();
    EXPECT_EQ(cache.ReadSector(buf.data(), 25, 3), 0);
    EXPECT_EQ(inner.Reads(), before + 1);
    EXPECT_TRUE(AllZero(buf.data(), buf.size()));
    EXPECT_EQ(cache.SetCurCacheBlock(3), 0);
    EXPECT_FALSE(cache.IsBlockInValidRange(3));
    EXPECT_TRUE(cache.IsBlockInValidRange(2));
    EXPECT_EQ(cache.EndCache(), 1);
}

TEST(DeviceCacheTest, ReadAcrossTheBlockEndsTakesTheRestFromTheDevice) {
    PatternTestDevice inner(100);
    CStorageDeviceWithCache cache(&inner);
    cache.SetBlockSize(10);
    cache.BeginCache();
    ASSERT_EQ(cache.SetCurCacheBlock(0), 1);
    ASSERT_EQ(cache.SetCurCacheBlock(1), 1);
    struct Case {
        long long first, count;
        int innerReads;
    } cases[] = {{15, 10, 1}, {5, 10, 1}, {5, 30, 2}, {12, 3, 0}, {40, 2, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        auto buf = Sectors(c.count);
        int before = inner.Reads();
        ASSERT_EQ(cache.ReadSector(buf.data(), c.first, c.count), 1);
        EXPECT_EQ(inner.Reads() - before, c.innerReads);
        EXPECT_EQ(PatternMismatch(buf.data(), c.first * kSsz, buf.size()), -1);
    }
    auto buf = Sectors(1);
    EXPECT_EQ(cache.ReadSector(nullptr, 0, 1), 0);
    EXPECT_EQ(cache.ReadSector(buf.data(), -1, 1), 0);
    EXPECT_EQ(cache.ReadSector(buf.data(), 0, -1), 0);
    cache.EndCache();
}

TEST(DeviceCacheTest, EndCacheRightAfterBeginCacheFreesEverything) {
    PatternTestDevice inner(1000);
    inner.SetDelayUs(200);
    CStorageDeviceWithCache cache(&inner);
    cache.SetBlockSize(10);
    cache.BeginCache();
    EXPECT_EQ(inner.Reads(), 10);  // read before the thread starts
    EXPECT_EQ(cache.EndCache(), 1);
    EXPECT_TRUE(cache.IsNeedCatchBuffer());
    // The destructor also copes with a cache that is still running.
    CStorageDeviceWithCache running(&inner);
    running.SetBlockSize(10);
    running.BeginCache();
    running.SetCurCacheBlock(0);
}

TEST(DeviceCacheTest, SmallAndEmptyDevices) {
    for (long long sectors : {0LL, 1LL, 7LL, 30LL, 31LL}) {
        SCOPED_TRACE(sectors);
        PatternTestDevice inner(sectors);
        CStorageDeviceWithCache cache(&inner);
        cache.SetBlockSize(10);
        cache.BeginCache();
        long long blocks = (sectors + 9) / 10;
        for (long long k = 0; k < blocks; ++k) {
            ASSERT_EQ(cache.SetCurCacheBlock(k), 1);
            long long n = std::min<long long>(10, sectors - k * 10);
            auto buf = Sectors(n);
            ASSERT_EQ(cache.ReadSector(buf.data(), k * 10, n), 1);
            EXPECT_EQ(PatternMismatch(buf.data(), k * 10 * kSsz, buf.size()), -1);
        }
        EXPECT_EQ(cache.SetCurCacheBlock(blocks), 0);
        EXPECT_EQ(inner.Reads(), blocks);  // each block read once; the test reads came from memory
        cache.EndCache();
    }
    CStorageDeviceWithCache none(nullptr);
    EXPECT_EQ(none.Open(nullptr), 0);
    EXPECT_EQ(none.GetSectorSize(), 512);
    EXPECT_EQ(none.BeginCache(), 1);
    EXPECT_EQ(none.SetCurCacheBlock(0), 0);
    auto buf = Sectors(1);
    EXPECT_EQ(none.ReadSector(buf.data(), 0, 1), 0);
}

TEST(DeviceCacheTest, BlockThatFailedToReadIsNotServedAsZeros) {
    PatternTestDevice inner(50);
    inner.FailSector(23);
    CStorageDeviceWithCache cache(&inner);
    cache.SetBlockSize(10);
    cache.BeginCache();
    for (long long k = 0; k <= 2; ++k)
        ASSERT_EQ(cache.SetCurCacheBlock(k), 1);
    auto buf = Sectors(2);
    EXPECT_EQ(cache.ReadSector(buf.data(), 20, 2), 1);  // good sectors of the block still read
    EXPECT_EQ(PatternMismatch(buf.data(), 20 * kSsz, buf.size()), -1);
    EXPECT_EQ(cache.ReadSector(buf.data(), 22, 2), 0);  // the bad one reports its failure
    cache.EndCache();
}

TEST(DeviceCacheTest, SkippedAndRepeatedBlocksAreNeverServedUnderTheWrongNumber) {
    PatternTestDevice inner(200);
    CStorageDeviceWithCache cache(&inner);
    cache.SetBlockSize(10);
    cache.BeginCache();
    for (long long k : {0LL, 1LL, 5LL, 6LL, 3LL, 3LL, 19LL, 2LL}) {
        SCOPED_TRACE(k);
        ASSERT_EQ(cache.SetCurCacheBlock(k), 1);
        auto buf = Sectors(10);
        ASSERT_EQ(cache.ReadSector(buf.data(), k * 10, 10), 1);
        EXPECT_EQ(PatternMismatch(buf.data(), k * 10 * kSsz, buf.size()), -1);
    }
    cache.EndCache();
}

TEST(DeviceCacheTest, ManyBlocksWithUnevenDelaysStayInOrder) {
    PatternTestDevice inner(5003);
    CStorageDeviceWithCache cache(&inner);
    cache.SetBlockSize(10);
    cache.BeginCache();
    std::mt19937 rng(7);
    for (long long k = 0; k < 501; ++k) {
        inner.SetDelayUs(static_cast<int>(rng() % 300));
        ASSERT_EQ(cache.SetCurCacheBlock(k), 1);
        long long n = std::min<long long>(10, 5003 - k * 10);
        auto buf = Sectors(n);
        ASSERT_EQ(cache.ReadSector(buf.data(), k * 10, n), 1);
        ASSERT_EQ(PatternMismatch(buf.data(), k * 10 * kSsz, buf.size()), -1) << k;
    }
    cache.EndCache();
}

TEST(DeviceCacheTest, FileDeviceWhoseSizeIsNotAMultipleOfTheBlock) {
    velmora::test::TempDir dir;
    std::string path = dir / "odd.img";
    const long long sectors = 3 * 2048 + 77;  // three 1 MiB blocks and a short one
    devtest::WritePatternFile(path, sectors * kSsz);
    std::unique_ptr<IStorageDevice> disk(CreateDiskDevice(path.c_str()));
    ASSERT_EQ(disk->Open(nullptr), 1);
    CStorageDeviceWithCache cache(disk.get());
    cache.SetBlockSize(2048);
    cache.BeginCache();
    std::vector<uint8_t> buf(2048 * kSsz);
    for (long long k = 0; k < 4; ++k) {
        ASSERT_EQ(cache.SetCurCacheBlock(k), 1);
        long long n = std::min<long long>(2048, sectors - k * 2048);
        ASSERT_EQ(cache.ReadSector(buf.data(), k * 2048, n), 1);
        EXPECT_EQ(PatternMismatch(buf.data(), k * 2048 * kSsz, static_cast<size_t>(n * kSsz)), -1);
    }
    EXPECT_EQ(cache.SetCurCacheBlock(4), 0);
    std::fill(buf.begin(), buf.end(), 0xAA);
    EXPECT_EQ(cache.ReadSector(buf.data(), sectors - 1, 2), 0);  // runs past the end
    EXPECT_EQ(PatternMismatch(buf.data(), (sectors - 1) * kSsz, kSsz), -1);
    EXPECT_TRUE(AllZero(buf.data() + kSsz, kSsz));
    cache.EndCache();
}

// A lent block keeps its bytes while it is held, however far the cache has
// moved on and however many buffers it has read into since; a block read
// again directly is lent as well.
TEST(DeviceCacheTest, LentBlocksStayWhileHeld) {
    PatternTestDevice inner(195);
    CStorageDeviceWithCache cache(&inner);
    ASSERT_EQ(cache.SetBlockSize(10), 1);
    ASSERT_EQ(cache.BeginCache(), 1);
    std::vector<std::shared_ptr<const CachedBlock>> lent;
    for (long long k = 0; k < 20; ++k) {
        ASSERT_EQ(cache.SetCurCacheBlock(k), 1);
        lent.push_back(cache.LendCurrentBlock());
        ASSERT_NE(lent.back(), nullptr);
    }
    ASSERT_EQ(cache.SetCurCacheBlock(4), 1);
    lent.push_back(cache.LendCurrentBlock());
    for (size_t i = 0; i < lent.size(); ++i) {
        SCOPED_TRACE(i);
        const long long k = i < 20 ? static_cast<long long>(i) : 4;
        EXPECT_EQ(lent[i]->first, k * 10);
        EXPECT_EQ(lent[i]->count, k == 19 ? 5 : 10);
        EXPECT_TRUE(lent[i]->ok);
        EXPECT_EQ(PatternMismatch(lent[i]->data, k * 10 * kSsz,
                                  static_cast<size_t>(lent[i]->count) * kSsz),
                  -1);
    }
    cache.EndCache();
}

// Another thread looks at each lent block while the cache reads on (the
// ThreadSanitizer build runs this too).
TEST(DeviceCacheTest, LentBlocksAreReadOnAnotherThreadWhileTheCacheMovesOn) {
    PatternTestDevice inner(2000);
    CStorageDeviceWithCache cache(&inner);
    ASSERT_EQ(cache.SetBlockSize(16), 1);
    ASSERT_EQ(cache.BeginCache(), 1);
    std::mutex lock;
    std::condition_variable ready;
    std::deque<std::shared_ptr<const CachedBlock>> handed;
    bool last = false;
    int bad = 0;
    int seen = 0;
    std::thread looker([&] {
        for (;;) {
            std::shared_ptr<const CachedBlock> block;
            {
                std::unique_lock<std::mutex> guard(lock);
                ready.wait(guard, [&] { return !handed.empty() || last; });
                if (handed.empty())
                    return;
                block = std::move(handed.front());
                handed.pop_front();
            }
            if (!block->ok || PatternMismatch(block->data, block->first * kSsz,
                                              static_cast<size_t>(block->count) * kSsz) != -1)
                ++bad;
            ++seen;
        }
    });
    const long long blocks = (2000 + 15) / 16;
    for (long long k = 0; k < blocks; ++k) {
        ASSERT_EQ(cache.SetCurCacheBlock(k), 1);
        {
            std::lock_guard<std::mutex> guard(lock);
            handed.push_back(cache.LendCurrentBlock());
        }
        ready.notify_one();
    }
    {
        std::lock_guard<std::mutex> guard(lock);
        last = true;
    }
    ready.notify_one();
    looker.join();
    EXPECT_EQ(seen, blocks);
    EXPECT_EQ(bad, 0);
    cache.EndCache();
}

// The walk's buffers are made before it starts: a steady walk that keeps a
// few lent blocks, as the signature search does, allocates none under the
// read-ahead thread's reads; a device of a few blocks gets no more buffers
// than it has blocks.
TEST(DeviceCacheTest, BlockBuffersAreMadeBeforeTheWalk) {
    PatternTestDevice inner(2000);
    CStorageDeviceWithCache cache(&inner);
    ASSERT_EQ(cache.SetBlockSize(16), 1);
    ASSERT_EQ(cache.BeginCache(), 1);
    const size_t made = cache.BlockBuffersMade();
    std::deque<std::shared_ptr<const CachedBlock>> held;
    const long long blocks = (2000 + 15) / 16;
    for (long long k = 0; k < blocks; ++k) {
        ASSERT_EQ(cache.SetCurCacheBlock(k), 1);
        held.push_back(cache.LendCurrentBlock());
        if (held.size() > 6)
            held.pop_front();
        ASSERT_NE(held.back(), nullptr);
        EXPECT_EQ(PatternMismatch(held.back()->data, k * 16 * kSsz,
                                  static_cast<size_t>(held.back()->count) * kSsz),
                  -1);
    }
    EXPECT_EQ(cache.BlockBuffersMade(), made);
    held.clear();
    cache.EndCache();

    PatternTestDevice small(40);
    CStorageDeviceWithCache few(&small);
    ASSERT_EQ(few.SetBlockSize(16), 1);
    ASSERT_EQ(few.BeginCache(), 1);
    // The buffer SetBlockSize tries, and one per block.
    EXPECT_EQ(few.BlockBuffersMade(), 1u + 3u);
    few.EndCache();
}

}  // namespace
