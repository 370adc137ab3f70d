// A volume of 300,000 files whose two volume headers are gone, made at test
// time: the deep search keeps every catalog record it finds on the surface,
// however many, and lists them all. Labelled "slow" (about 10 s, most of it
// making the image).
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "ByteReader.h"
#include "support/TestSupport.h"

namespace {

TEST(HFSPlusDeepBig, EveryRecordOfAVolumeWithoutHeadersIsListed) {
#ifndef VELMORA_SCAN_DRIVER
    GTEST_SKIP() << "the scan driver is not built in this configuration";
#else
    constexpr int kFiles = 300000;
    constexpr int kFolders = kFiles / 1000 + 1;  // folders of 1,000 and /many
    constexpr long long kStart = 40 * 512;
    velmora::test::TempDir dir;
    const std::string image = dir / "many.img";
    if (!velmora::test::RunProgram(
            {"python3", velmora::test::SourceDir() + "/tests/fixtures/hfsplus/mkhfsplus_many.py",
             image, "--files", std::to_string(kFiles), "--offset-sectors", "40", "--no-contents"}))
        GTEST_SKIP() << "the HFS+ generator cannot run here (python3)";
    {
        std::fstream disk(image, std::ios::in | std::ios::out | std::ios::binary);
        std::vector<uint8_t> header(512);
        disk.seekg(kStart + 1024);
        disk.read(reinterpret_cast<char*>(header.data()), 512);
        ASSERT_EQ(vk::LoadBE<uint16_t>(header.data()), 0x482B);
        const long long bytes = static_cast<long long>(vk::LoadBE<uint32_t>(header.data() + 40)) *
                                vk::LoadBE<uint32_t>(header.data() + 44);
        const std::vector<char> zeros(512, 0);
        for (long long at : {kStart + 1024, kStart + bytes - 1024}) {
            disk.seekp(at);
            disk.write(zeros.data(), 512);
        }
        ASSERT_TRUE(disk.good());
    }
    std::string log;
    ASSERT_TRUE(velmora::test::RunProgram(
        {VELMORA_SCAN_DRIVER, "--deep", "--only", "31", "--rounds", "1", image}, &log))
        << log;
    EXPECT_NE(log.find("nodes of searcher 31: " + std::to_string(kFiles + kFolders) + "\n"),
              std::string::npos)
        << log.substr(log.size() > 4000 ? log.size() - 4000 : 0);
#endif
}

}  // namespace
