// The volume analysis controller over recognisers put into the factory table.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "EngineTypes.h"
#include "EnumTestSupport.h"
#include "VolumeAnalyzeController.h"

namespace {

// What each fake factory does: -1 return null, otherwise answer that type.
struct Plan {
    int answers[5];
};
Plan g_plan;
std::vector<std::string> g_calls;
int g_alive = 0;
unsigned long long g_start = 0;

class Counted : public enumtest::FakeFatAnalyze {
public:
    Counted(int type, std::string label) : FakeFatAnalyze(type, std::move(label)) { ++g_alive; }
    ~Counted() override { --g_alive; }
};

template <int Slot>
IVolumeAnalyze* Make(IStorageDevice*, unsigned long long start) {
    static const char* names[] = {"FAT", "exFAT", "NTFS", "HFS+", "APFS"};
    g_calls.push_back(names[Slot]);
    g_start = start;
    int type = g_plan.answers[Slot];
    if (type < 0)
        return nullptr;
    return new Counted(type, names[Slot]);
}

// The planned rows, listed in another order than they are asked in, each
// with a fake recogniser.
std::vector<SearcherRow> AllFakes() {
    std::vector<SearcherRow> rows = velmora::test::PlannedRows();
    for (SearcherRow& r : rows) {
        switch (r.type) {
            case SEARCHER_FAT:
                r.createVolumeAnalyze = &Make<0>;
                break;
            case SEARCHER_EXFAT:
                r.createVolumeAnalyze = &Make<1>;
                break;
            case SEARCHER_NTFS:
                r.createVolumeAnalyze = &Make<2>;
                break;
            case SEARCHER_HFSPLUS:
                r.createVolumeAnalyze = &Make<3>;
                break;
            case SEARCHER_APFS:
                r.createVolumeAnalyze = &Make<4>;
                break;
            default:
                break;
        }
    }
    return rows;
}

TEST(VolumeAnalyzeController, FirstRecogniserNotAnsweringUnknownWins) {
    struct Case {
        const char* what;
        Plan plan;
        const char* expected;  // label of the winner; null: none
    };
    const Case cases[] = {
        {"FAT answers 10, exFAT absent, NTFS knows it",
         {{FS_UNKNOWN, -1, FS_NTFS, FS_HFSPLUS, FS_APFS}},
         "NTFS"},
        {"two accept: the earlier one names it", {{FS_FAT32, FS_EXFAT, -1, -1, -1}}, "FAT"},
        {"HFS+ before APFS", {{FS_UNKNOWN, -1, -1, FS_HFSPLUS, FS_APFS}}, "HFS+"},
        {"only the last one knows it",
         {{FS_UNKNOWN, FS_UNKNOWN, FS_UNKNOWN, FS_UNKNOWN, FS_APFS}},
         "APFS"},
        {"every one answers 10",
         {{FS_UNKNOWN, FS_UNKNOWN, FS_UNKNOWN, FS_UNKNOWN, FS_UNKNOWN}},
         nullptr},
        {"no factory makes one", {{-1, -1, -1, -1, -1}}, nullptr},
    };
    velmora::test::ScopedSearcherRows rows(AllFakes());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        g_plan = c.plan;
        g_calls.clear();
        {
            std::unique_ptr<IVolumeAnalyzeController> controller(
                CreateVolumeAnalyzeController(nullptr, 2048));
            EXPECT_EQ(g_calls, (std::vector<std::string>{"FAT", "exFAT", "NTFS", "HFS+", "APFS"}));
            EXPECT_EQ(g_start, 2048u);
            IVolumeAnalyze* winner = controller->GetVolumeAnzlyzer();
            if (c.expected == nullptr) {
                EXPECT_EQ(winner, nullptr);
            } else {
                ASSERT_NE(winner, nullptr);
                char label[16] = {};
                winner->GetLabel(label, sizeof(label));
                EXPECT_STREQ(label, c.expected);
                // Asking again gives the same recogniser; the controller keeps it.
                EXPECT_EQ(controller->GetVolumeAnzlyzer(), winner);
            }
        }
        EXPECT_EQ(g_alive, 0) << "the controller deletes every recogniser";
    }
}

TEST(VolumeAnalyzeController, NoRowsNameNothing) {
    velmora::test::ScopedSearcherRows rows({});
    std::unique_ptr<IVolumeAnalyzeController> controller(CreateVolumeAnalyzeController(nullptr, 0));
    EXPECT_EQ(controller->GetVolumeAnzlyzer(), nullptr);
}

}  // namespace
