// Carved-file nodes, their names and times, and how the file managers file
// them in the tree by extension and the label tree.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "DataRun.h"
#include "IRecoveryFilter.h"
#include "RawFileInfo.h"
#include "RawFileManager.h"
#include "RawFileNode.h"
#include "RawTestSupport.h"
#include "Utility/SystemTime.h"

namespace {

using rawtest::RecordingBuilder;

CRawFileInfo Candidate(RAW_FILE_TYPE type, long long start, long long size,
                       const std::string& name = "", RAW_FILE_TAG tag = RAW_TAG_NONE,
                       const std::string& value = "") {
    CRawFileInfo info;
    info.m_type = type;
    info.m_startSector = start;
    info.m_size = size;
    if (!name.empty())
        info.SetRawFileName(name);
    if (tag != RAW_TAG_NONE || !value.empty())
        info.SetRawFileTagAndValue(tag, value);
    return info;
}

class RawTrees : public ::testing::Test {
protected:
    void SetUp() override {
        ResetRawFileNameCounters();
        CRAWFileManager::ResetFolderIds();
        const char* tz = std::getenv("TZ");
        savedTz_ = tz ? tz : "";
        hadTz_ = tz != nullptr;
        setenv("TZ", "UTC", 1);
        tzset();
    }
    void TearDown() override {
        if (hadTz_)
            setenv("TZ", savedTz_.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    std::string savedTz_;
    bool hadTz_ = false;
};

TEST_F(RawTrees, FilesOfOneExtensionShareAFolderAndARunningNumber) {
    RecordingBuilder builder;
    CRAWFileManager pictures(1, FILE_TYPE_PICS, &builder);
    for (int i = 0; i < 3; ++i) {
        CRawFileInfo c = Candidate(RAW_JPG, 100 + i * 10, 4000);
        EXPECT_EQ(pictures.AddRawFileInfo(&c), 1);
    }
    CRawFileInfo named = Candidate(RAW_JPG, 200, 4000, "Holiday");
    pictures.AddRawFileInfo(&named);
    CRawFileInfo badUtf8 = Candidate(RAW_JPG, 300, 4000, "Caf\xc3");
    pictures.AddRawFileInfo(&badUtf8);
    CRawFileInfo bmp = Candidate(RAW_BMP, 400, 4000);
    pictures.AddRawFileInfo(&bmp);

    const char* names[] = {"FILE000.JPG", "FILE001.JPG", "FILE002.JPG", "Holiday003.JPG",
                           "FILE004.JPG"};
    for (int i = 0; i < 5; ++i) {
        const auto* a = builder.Find(names[i]);
        ASSERT_NE(a, nullptr) << names[i];
        EXPECT_EQ(a->type, SEARCHER_RAW);
        EXPECT_EQ(a->node->GetParentNodeID(), 10);
        EXPECT_EQ(a->node->GetCurrentNodeID(), 10000 + i);
        EXPECT_EQ(a->node->GetAttribute(), 0x20u);
        EXPECT_EQ(a->node->IsDeleted(), 0);
    }
    const auto* jpg = builder.Find("jpg");
    ASSERT_NE(jpg, nullptr);
    EXPECT_TRUE(jpg->node->IsDirectory());
    EXPECT_EQ(jpg->node->GetCurrentNodeID(), 10);
    EXPECT_EQ(jpg->node->GetParentNodeID(), 1);
    const auto* bmpFolder = builder.Find("bmp");
    ASSERT_NE(bmpFolder, nullptr);
    EXPECT_EQ(bmpFolder->node->GetCurrentNodeID(), 11);
    EXPECT_EQ(builder.Find("FILE000.BMP")->node->GetParentNodeID(), 11);
    EXPECT_EQ(builder.added.size(), 8u) << "six files and two folders, each folder once";

    // The running number starts over with a new search.
    ResetRawFileNameCounters();
    CRawFileInfo first = Candidate(RAW_JPG, 500, 10, "Holiday");
    RecordingBuilder again;
    CRAWFileManager(1, FILE_TYPE_PICS, &again).AddRawFileInfo(&first);
    EXPECT_NE(again.Find("Holiday000.JPG"), nullptr);
}

TEST_F(RawTrees, RunsCountDeviceSectors) {
    for (const auto& [sectorSize, size, length] : {std::tuple{512u, 5000LL, 10LL},
                                                   {4096u, 5000LL, 2LL},
                                                   {4096u, 4096LL, 1LL},
                                                   {512u, 1LL, 1LL}}) {
        CRawFileInfo c = Candidate(RAW_BMP, 77, size);
        CRAWFileNode node;
        ASSERT_EQ(node.Initilaize(&c, 0x20, 1, 2, sectorSize), 1);
        const DataRun* run = node.GetDataRunList()->GetFirst();
        ASSERT_NE(run, nullptr);
        EXPECT_EQ(run->start, 77);
        EXPECT_EQ(run->length, length) << size << " bytes on " << sectorSize;
        EXPECT_EQ(node.GetFileSize(), size);
    }
    CRAWFileNode none;
    EXPECT_EQ(none.Initilaize(nullptr, 0x20, 1, 2), 0);
    EXPECT_EQ(none.IsDirectory(), 1) << "a node without properties";
}

TEST_F(RawTrees, LabelledFilesGoUnderKindAndValue) {
    RecordingBuilder builder;
    CRAWFileManager pictures(1, FILE_TYPE_PICS, &builder);
    CRAWFileManager documents(1, FILE_TYPE_DOCUMENT, &builder);
    const long long ids = CLABELRAWTreeBuilder::PeekNextNodeId();
    CRawFileInfo a = Candidate(RAW_JPG, 10, 100, "a", RAW_TAG_CAMERA, "X");
    CRawFileInfo b = Candidate(RAW_JPG, 20, 100, "b", RAW_TAG_CAMERA, "X");
    CRawFileInfo c = Candidate(RAW_JPG, 30, 100, "c", RAW_TAG_CAMERA, "Y");
    EXPECT_EQ(pictures.AddRawFileInfo(&a), 1);
    EXPECT_EQ(pictures.AddRawFileInfo(&b), 1);
    EXPECT_EQ(pictures.AddRawFileInfo(&c), 1);
    const auto* camera = builder.Find("Camera");
    ASSERT_NE(camera, nullptr);
    EXPECT_EQ(camera->node->GetCurrentNodeID(), -15);
    EXPECT_EQ(camera->node->GetParentNodeID(), 1000);
    EXPECT_EQ(camera->type, SEARCHER_RAW_LABEL);
    const auto* x = builder.Find("X");
    ASSERT_NE(x, nullptr);
    EXPECT_EQ(x->node->GetCurrentNodeID(), ids);
    EXPECT_EQ(builder.Find("a000.JPG")->node->GetParentNodeID(), ids);
    EXPECT_EQ(builder.Find("a000.JPG")->node->GetCurrentNodeID(), ids + 1);
    EXPECT_EQ(builder.Find("b001.JPG")->node->GetParentNodeID(), ids)
        << "the value folder is reused";
    EXPECT_EQ(builder.FolderPath(builder.Find("c002.JPG")->node), "Camera/Y");
    EXPECT_EQ(builder.Find("jpg"), nullptr) << "labelled files are not filed by extension";

    CRawFileInfo doc = Candidate(RAW_DOC, 40, 100, "Report", RAW_TAG_OFFICE, "Minutes");
    EXPECT_EQ(documents.AddRawFileInfo(&doc), 1);
    EXPECT_EQ(builder.FolderPath(builder.Find("Report000.DOC")->node), "Office/Word/Minutes");
    EXPECT_EQ(builder.Find("Word")->node->GetCurrentNodeID(), -12);
    // An office label on a kind the label tree has no folder for, a label
    // without a value and a value without a label kind: filed by extension
    // rather than lost.
    CRawFileInfo ole = Candidate(RAW_OLE, 50, 100, "", RAW_TAG_OFFICE, "Plan");
    CRawFileInfo noValue = Candidate(RAW_PDF, 60, 100, "", RAW_TAG_PDF, "");
    CRawFileInfo noKind = Candidate(RAW_RTF, 70, 100, "", static_cast<RAW_FILE_TAG>(9), "Odd");
    EXPECT_EQ(documents.AddRawFileInfo(&ole), 1);
    EXPECT_EQ(documents.AddRawFileInfo(&noValue), 1);
    EXPECT_EQ(documents.AddRawFileInfo(&noKind), 1);
    auto folderOf = [&](const char* name) {
        const auto* a = builder.Find(name);
        return a != nullptr ? builder.FolderPath(a->node) : std::string("(not placed)");
    };
    EXPECT_EQ(folderOf("FILE000.OLE"), "ole");
    EXPECT_EQ(folderOf("FILE000.PDF"), "pdf");
    EXPECT_EQ(folderOf("FILE000.RTF"), "rtf");

    EXPECT_EQ(CLABELRAWTreeBuilder::GetKeyName(RAW_TAG_ARTIST, RAW_MP3, "Band"), "Band_MP3");
    EXPECT_EQ(CLABELRAWTreeBuilder::GetKeyName(RAW_TAG_OFFICE, RAW_PPTX, "T"), "T_PowerPoint");
    EXPECT_EQ(CLABELRAWTreeBuilder::GetKeyName(RAW_TAG_OFFICE, RAW_XLS, "T"), "T_Excel");
    EXPECT_EQ(CLABELRAWTreeBuilder::GetKeyName(RAW_TAG_MOVIE, RAW_MOV, "T"), "T_MOV");
    EXPECT_EQ(CLABELRAWTreeBuilder::GetKeyName(RAW_TAG_PDF, RAW_PDF, "T"), "T_PDF");
    EXPECT_EQ(CLABELRAWTreeBuilder::GetKeyName(RAW_TAG_AI, RAW_AI, "T"), "T");
}

// A file the builder refuses (the user's categories leave it out) must not
// leave a folder behind that later files point at but the tree never got.
TEST_F(RawTrees, RefusedFilesTakeTheirNewFoldersWithThem) {
    RecordingBuilder builder;
    builder.refuse = [](IFileNode* n) { return std::string(n->GetFileName()) == "FILE000.JPG"; };
    CRAWFileManager pictures(1, FILE_TYPE_PICS, &builder);
    CRawFileInfo first = Candidate(RAW_JPG, 10, 100);
    CRawFileInfo second = Candidate(RAW_JPG, 20, 100);
    EXPECT_EQ(pictures.AddRawFileInfo(&first), 0);
    EXPECT_EQ(pictures.AddRawFileInfo(&second), 1);
    const auto* kept = builder.Find("FILE001.JPG");
    ASSERT_NE(kept, nullptr);
    const auto* folder = builder.FindId(kept->node->GetParentNodeID(), true);
    ASSERT_NE(folder, nullptr) << "the file's folder reached the builder";
    EXPECT_STREQ(folder->node->GetFileName(), "jpg");

    RecordingBuilder labels;
    labels.refuse = [](IFileNode* n) { return !n->IsDirectory(); };
    CRAWFileManager refusing(1, FILE_TYPE_PICS, &labels);
    CRawFileInfo photo = Candidate(RAW_JPG, 30, 100, "p", RAW_TAG_CAMERA, "Z");
    EXPECT_EQ(refusing.AddRawFileInfo(&photo), 0);
    EXPECT_TRUE(labels.added.empty()) << "no empty Camera/Z folders for a refused file";
}

TEST_F(RawTrees, TimesComeFromTheDateFoundInTheFile) {
    const long long june =
        static_cast<long long>(UnixTimeToFileTime(1433154030));  // 2015-06-01 10:20:30 UTC
    const struct {
        const char* name;
        const char* time;
        long long expected;
    } cases[] = {
        {"", "2015-06-01 10:20:30", june},
        {"", "2015:06:01 10:20:30", june},
        {"", "  2015 06 01 10 20 30", june},
        {"2015-06-01 10-20-30", "", june},
        {"Holiday", "", 0},
        {"MAKER_Model X1_100-2100", "2015:06:01 10:20:30", june},
        {"", "2015:06:01", 0},
        {"", "x", 0},
        {"", "2015:13:01 10:20:30", 0},
        {"", "2040:03:01 00:00:00", static_cast<long long>(UnixTimeToFileTime(2214172800))},
        {"", "2101:03:01 12:00:00", static_cast<long long>(UnixTimeToFileTime(4139121600))},
    };
    for (const auto& c : cases) {
        CRawFileInfo info = Candidate(RAW_JPG, 1, 10, c.name);
        info.SetRawFileTime(c.time);
        CRAWFileNode node;
        ASSERT_EQ(node.Initilaize(&info, 0x20, 1, 2), 1);
        EXPECT_EQ(node.GetCreationTime(), c.expected) << c.name << " / " << c.time;
        EXPECT_EQ(node.GetModificationTime(), c.expected);
        EXPECT_EQ(node.GetLastAccessTime(), c.expected);
    }
}

}  // namespace
