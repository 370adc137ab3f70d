#include <gtest/gtest.h>

#include "EngineFactories.h"

namespace {
IVolumeAnalyze* FakeAnalyze(IStorageDevice*, unsigned long long start) {
    return reinterpret_cast<IVolumeAnalyze*>(static_cast<uintptr_t>(start));
}
}  // namespace

TEST(EngineFactories, EmptyEntryActsAsFailedFactory) {
    EngineFactoryTable& t = EngineFactories();
    EXPECT_EQ(CallFactory(t.createNTFSQuickSearcher), nullptr);
    EXPECT_EQ(CallFactory(t.createAPFSVolumeAnalyze, nullptr, 0ULL), nullptr);
    t.createAPFSVolumeAnalyze = &FakeAnalyze;
    EXPECT_EQ(reinterpret_cast<uintptr_t>(CallFactory(t.createAPFSVolumeAnalyze, nullptr, 64ULL)),
              64u);
    t.createAPFSVolumeAnalyze = nullptr;
}
