#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "launcher/catalogue.h"
#include "patching/install.h"
#include "patching/version_record.h"
#include "support/child.h"
#include "unit/patching/patching_support.h"

namespace {

TEST(IsFolderWritable, CreatesAMissingFolderWithItsParentsAndLeavesNoProbe) {
    const std::wstring scratch = freshScratchFolder(L"probe");
    const std::wstring folder = scratch + L"a\\b\\c";
    EXPECT_TRUE(isFolderWritable(folder));
    EXPECT_TRUE(isFolder(folder));
    EXPECT_TRUE(folderListing(folder).empty());
    EXPECT_TRUE(isFolderWritable(folder + L"\\"));
    EXPECT_TRUE(folderListing(folder).empty());
    removeTree(scratch);
}

TEST(IsFolderWritable, AnEarlierProbeFileIsOverwrittenAndRemoved) {
    const std::wstring scratch = freshScratchFolder(L"probe");
    ASSERT_TRUE(writeWholeFile(scratch + L".writetest.tmp", "left over"));
    EXPECT_TRUE(isFolderWritable(scratch));
    EXPECT_FALSE(pathExists(scratch + L".writetest.tmp"));
    removeTree(scratch);
}

TEST(IsFolderWritable, AFileWhereTheFolderShouldBeIsNotWritable) {
    const std::wstring scratch = freshScratchFolder(L"probe");
    ASSERT_TRUE(writeWholeFile(scratch + L"Quolva", "a file, not a folder"));
    EXPECT_FALSE(isFolderWritable(scratch + L"Quolva\\"));
    EXPECT_FALSE(isFolderWritable(scratch + L"Quolva\\below"));
    std::string bytes;
    EXPECT_TRUE(readWholeFile(scratch + L"Quolva", bytes));
    EXPECT_EQ(bytes, "a file, not a folder");
    removeTree(scratch);
}

// installPatch always works on the fixed install root, so these tests move a root that
// stands in the test prefix aside and put it back afterwards.
class InstallPatch : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(environmentValue(L"QUOLVA_PATCHING_ORIGIN").empty())
            << "run through ctest: the origins fixture sets QUOLVA_PATCHING_ORIGIN";
        root_ = g_installRoot.substr(0, g_installRoot.size() - 1);
        aside_ = root_ + L".patching-test-aside";
        removeTree(aside_);
        if (pathExists(root_)) ASSERT_TRUE(MoveFileW(root_.c_str(), aside_.c_str()));
        scratch_ = freshScratchFolder(L"install");
        environment_ = std::make_unique<ScopedEnvironment>(L"USERPROFILE", scratch_.c_str());
        // A folder per test, so the request log tells the tests apart.
        const std::string folder =
            runPath("/") + testing::UnitTest::GetInstance()->current_test_info()->name() + "/";
        entry_ = GameEntry{"patchunit", "com.example.Unit", httpsUrl(folder)};
        patchPath_ = folder + "patch.zip";
    }
    void TearDown() override {
        environment_.reset();
        removeTree(scratch_);
        removeTree(root_);
        if (pathExists(aside_)) MoveFileW(aside_.c_str(), root_.c_str());
    }

    std::string record() const {
        std::string bytes;
        readWholeFile(scratch_ + L"Quolva\\patchunit.txt", bytes);
        return bytes;
    }

    std::wstring root_;
    std::wstring aside_;
    std::wstring scratch_;
    std::unique_ptr<ScopedEnvironment> environment_;
    GameEntry entry_;
    std::string patchPath_;
};

TEST_F(InstallPatch, UnpacksTheGamesArchiveAndRecordsTheNumber) {
    ASSERT_TRUE(serveFile(patchPath_, loadFixture(L"infozip_tree.zip")));
    ASSERT_TRUE(setRoutes("{}"));
    ASSERT_TRUE(writeLocalVersion("patchunit", 2));

    EXPECT_TRUE(installPatch(entry_, 3));
    const std::vector<LoggedRequest> requests = loggedRequests(patchPath_);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "GET");
    std::string bytes;
    EXPECT_TRUE(readWholeFile(g_installRoot + L"pmzlib\\a\\b.jar", bytes));
    EXPECT_EQ(bytes, fixtureContent("pmzlib/a/b.jar"));
    EXPECT_TRUE(readWholeFile(g_installRoot + L"top.txt", bytes));
    EXPECT_EQ(bytes, fixtureContent("top.txt"));
    EXPECT_FALSE(pathExists(g_installRoot + L".writetest.tmp"));
    EXPECT_EQ(record(), "3");
}

TEST_F(InstallPatch, AnInstallRootThatCannotBeWrittenMakesNoRequest) {
    ASSERT_TRUE(writeWholeFile(root_, "a file where the install root should be"));
    ASSERT_TRUE(serveFile(patchPath_, loadFixture(L"infozip_tree.zip")));
    ASSERT_TRUE(setRoutes("{}"));
    ASSERT_TRUE(writeLocalVersion("patchunit", 2));

    EXPECT_FALSE(installPatch(entry_, 3));
    EXPECT_TRUE(loggedRequests(patchPath_).empty());
    EXPECT_EQ(record(), "2");
}

TEST_F(InstallPatch, ADownloadFailureLeavesTheRecord) {
    ASSERT_TRUE(setRoutes("{" + jsonString(patchPath_) + ": {\"status\": 404}}"));
    ASSERT_TRUE(writeLocalVersion("patchunit", 2));

    EXPECT_FALSE(installPatch(entry_, 3));
    EXPECT_EQ(loggedRequests(patchPath_).size(), 4u);
    EXPECT_EQ(record(), "2");
}

TEST_F(InstallPatch, ABodyThatIsNotAnArchiveOrFailsExtractionLeavesTheRecord) {
    ASSERT_TRUE(writeLocalVersion("patchunit", 2));
    ASSERT_TRUE(setRoutes("{" + jsonString(patchPath_) +
                          ": {\"body\": \"<html>maintenance</html>\"}}"));
    EXPECT_FALSE(installPatch(entry_, 3));
    EXPECT_EQ(loggedRequests(patchPath_).size(), 1u);
    EXPECT_EQ(record(), "2");

    ASSERT_TRUE(serveFile(patchPath_, loadFixture(L"crc_mismatch.zip")));
    ASSERT_TRUE(setRoutes("{}"));
    EXPECT_FALSE(installPatch(entry_, 3));
    EXPECT_EQ(record(), "2");
}

TEST_F(InstallPatch, WithoutARecordTheNumberIsWrittenFresh) {
    ASSERT_TRUE(serveFile(patchPath_, loadFixture(L"three_good.zip")));
    ASSERT_TRUE(setRoutes("{}"));
    EXPECT_TRUE(installPatch(entry_, -3));
    EXPECT_EQ(record(), "-3");
    EXPECT_EQ(readLocalVersion("patchunit"), -3);
}

}  // namespace
