#include <gtest/gtest.h>

#include "RecoveryFilter.h"
#include "support/TestNode.h"

namespace {

// Before the interface hands over its lists, the filter reads the
// program's own list from the work folder.
TEST(DefaultFilter, ReadsTheWorkFolderList) {
    ASSERT_FALSE(CFileTypeManager::HasLists());
    IRecoveryFilter* filter = CreateFilter();
    ASSERT_NE(filter, nullptr);
    EXPECT_EQ(CreateFilter(), filter) << "one filter per process";
    EXPECT_TRUE(CFileTypeManager::HasLists());
    TestNode jpg(1, 0, "IMG_0001.JPG"), mp4(2, 0, "clip.mp4"), exe(3, 0, "setup.exe");
    EXPECT_EQ(filter->GetNodeFileType(&jpg), CATEGORY_PICTURE);
    EXPECT_EQ(filter->GetNodeFileType(&mp4), CATEGORY_MOVIE);
    EXPECT_EQ(filter->GetNodeFileType(&exe), CATEGORY_OTHER);
    filter->SetFilterTypes(CATEGORY_PICTURE);
    EXPECT_EQ(filter->IsFileNodeValid(&jpg), 1);
    EXPECT_EQ(filter->IsFileNodeValid(&mp4), 0);
    filter->Release();  // does nothing: the filter stays
    filter->SetFilterTypes(CATEGORY_ALL);
    EXPECT_EQ(filter->IsFileNodeValid(&mp4), 1);
}

// Searchers that name files by type sort them by the same table.
TEST(DefaultFilter, ExtensionCategories) {
    EXPECT_EQ(GetExtensionFileTypeID("jpg"), FILE_TYPE_PICS);
    EXPECT_EQ(GetExtensionFileTypeID("JPG"), FILE_TYPE_PICS);
    EXPECT_EQ(GetExtensionFileTypeID("mp3"), FILE_TYPE_MUSIC);
    EXPECT_EQ(GetExtensionFileTypeID("doc"), FILE_TYPE_DOCUMENT);
    EXPECT_EQ(GetExtensionFileTypeID("ole"), FILE_TYPE_OTHER);
    EXPECT_EQ(GetExtensionFileTypeID(nullptr), FILE_TYPE_OTHER);
}

}  // namespace
