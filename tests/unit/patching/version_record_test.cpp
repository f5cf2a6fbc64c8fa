#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <string>

#include "patching/version_record.h"
#include "unit/patching/patching_support.h"

namespace {

// Each test gets a profile folder whose parents do not exist yet.
class VersionRecords : public testing::Test {
protected:
    void SetUp() override {
        scratch_ = freshScratchFolder(L"records");
        profile_ = scratch_ + L"users\\player";
        environment_ = std::make_unique<ScopedEnvironment>(L"USERPROFILE", profile_.c_str());
        folder_ = profile_ + L"\\Quolva\\";
    }
    void TearDown() override {
        environment_.reset();
        removeTree(scratch_);
    }

    std::wstring recordOf(const char* id) const {
        return folder_ + std::wstring(id, id + std::char_traits<char>::length(id)) + L".txt";
    }
    void putRecord(const char* id, const std::string& bytes) {
        CreateDirectoryW((scratch_ + L"users").c_str(), nullptr);
        CreateDirectoryW(profile_.c_str(), nullptr);
        CreateDirectoryW(folder_.c_str(), nullptr);
        ASSERT_TRUE(writeWholeFile(recordOf(id), bytes));
    }
    std::string recordBytes(const char* id) const {
        std::string bytes;
        EXPECT_TRUE(readWholeFile(recordOf(id), bytes));
        return bytes;
    }

    std::wstring scratch_;
    std::wstring profile_;
    std::wstring folder_;
    std::unique_ptr<ScopedEnvironment> environment_;
};

TEST_F(VersionRecords, WritingCreatesTheFolderAndItsParents) {
    ASSERT_FALSE(pathExists(profile_));
    EXPECT_TRUE(writeLocalVersion("kova", 12));
    EXPECT_TRUE(isFolder(folder_));
    EXPECT_EQ(recordBytes("kova"), "12");
    EXPECT_EQ(readLocalVersion("kova"), 12);
}

TEST_F(VersionRecords, WritesExactlyTheDecimalText) {
    const struct {
        std::int32_t number;
        const char* bytes;
    } cases[] = {{12, "12"}, {-7, "-7"}, {0, "0"}, {INT32_MIN, "-2147483648"}, {INT32_MAX, "2147483647"}};
    for (const auto& c : cases) {
        EXPECT_TRUE(writeLocalVersion("belu", c.number)) << c.number;
        EXPECT_EQ(recordBytes("belu"), c.bytes) << c.number;
        EXPECT_EQ(readLocalVersion("belu"), c.number) << c.number;
    }
}

TEST_F(VersionRecords, AShorterWriteReplacesLongerContent) {
    putRecord("stoneharbor", "1234567890\r\nmore");
    EXPECT_TRUE(writeLocalVersion("stoneharbor", 5));
    EXPECT_EQ(recordBytes("stoneharbor"), "5");
}

TEST_F(VersionRecords, RecordsOfTheGamesStaySeparate) {
    EXPECT_TRUE(writeLocalVersion("kova", 3));
    EXPECT_TRUE(writeLocalVersion("belu", 4));
    EXPECT_EQ(readLocalVersion("kova"), 3);
    EXPECT_EQ(readLocalVersion("belu"), 4);
    EXPECT_EQ(readLocalVersion("stoneharbor"), 0);
}

TEST_F(VersionRecords, ReadsTheTableOfContents) {
    EXPECT_EQ(readLocalVersion("kova"), 0) << "no record";
    const struct {
        const char* label;
        std::string bytes;
        std::int32_t number;
    } cases[] = {
        {"CR LF", "12\r\n", 12},
        {"leading blanks", "   42abc", 42},
        {"negative", "-7", -7},
        {"0 bytes", "", 0},
        {"256 bytes", "77" + std::string(254, ' '), 77},
        {"257 bytes", "77" + std::string(255, ' '), 0},
        {"letters", "abc", 0},
        {"out of range", "99999999999", 0},
        {"NUL first", std::string("\0" "8", 2), 0},
    };
    for (const auto& c : cases) {
        putRecord("kova", c.bytes);
        EXPECT_EQ(readLocalVersion("kova"), c.number) << c.label;
    }
}

TEST_F(VersionRecords, ARecordHeldOpenWithoutSharingStaysAsItWas) {
    putRecord("kova", "41");
    HANDLE holder = CreateFileW(recordOf("kova").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(writeLocalVersion("kova", 42));
    EXPECT_EQ(readLocalVersion("kova"), 0) << "a record that cannot be opened reads as 0";
    CloseHandle(holder);
    EXPECT_EQ(recordBytes("kova"), "41");
    EXPECT_EQ(readLocalVersion("kova"), 41);
}

TEST_F(VersionRecords, AFolderThatCannotBeCreatedFailsTheWrite) {
    // A file where the profile folder should be: nothing below it can be created.
    ASSERT_TRUE(writeWholeFile(scratch_ + L"users", "not a folder"));
    EXPECT_FALSE(writeLocalVersion("kova", 1));
    EXPECT_EQ(readLocalVersion("kova"), 0);
}

}  // namespace
