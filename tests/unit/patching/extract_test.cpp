#include <gtest/gtest.h>

#include <shlobj.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "common/text.h"
#include "launcher/catalogue.h"
#include "patching/extract.h"
#include "support/zip_writer.h"
#include "unit/patching/patching_support.h"

namespace {

// Relative paths (UTF-8, backslashes) of every file and folder below root.
void collectTree(const std::wstring& root, const std::wstring& relative,
                 std::map<std::string, std::string>& files, std::vector<std::string>& folders) {
    for (const std::wstring& name : folderListing(root + relative)) {
        const std::wstring path = relative + name;
        if (isFolder(root + path)) {
            folders.push_back(toUtf8(path));
            collectTree(root, path + L"\\", files, folders);
        } else {
            std::string bytes;
            readWholeFile(root + path, bytes);
            files[toUtf8(path)] = bytes;
        }
    }
}

class Extraction : public testing::Test {
protected:
    void SetUp() override {
        scratch_ = freshScratchFolder(L"extract");
        // Two levels above the root catch names that climb out of it.
        root_ = scratch_ + L"outer\\inner\\root\\";
        savedLauncherPath_ = g_launcherPath;
        g_launcherPath.clear();
    }
    void TearDown() override {
        g_launcherPath = savedLauncherPath_;
        removeTree(scratch_);
    }

    bool extract(const wchar_t* fixture) {
        const std::vector<unsigned char> archive = loadFixture(fixture);
        EXPECT_FALSE(archive.empty()) << "missing fixture";
        return extractPatchArchive(archive, root_);
    }
    std::map<std::string, std::string> files() const {
        std::map<std::string, std::string> found;
        std::vector<std::string> ignored;
        collectTree(root_, L"", found, ignored);
        return found;
    }
    std::vector<std::string> folders() const {
        std::map<std::string, std::string> ignored;
        std::vector<std::string> found;
        collectTree(root_, L"", ignored, found);
        std::sort(found.begin(), found.end());
        return found;
    }
    void putFile(const std::wstring& relative, const std::string& bytes) {
        SHCreateDirectoryExW(nullptr, parentFolder(root_ + relative).c_str(), nullptr);
        ASSERT_TRUE(writeWholeFile(root_ + relative, bytes));
    }
    static std::wstring parentFolder(const std::wstring& path) {
        return path.substr(0, path.rfind(L'\\'));
    }

    std::wstring scratch_;
    std::wstring root_;
    std::wstring savedLauncherPath_;
};

std::map<std::string, std::string> contentsOf(const std::vector<std::string>& names) {
    std::map<std::string, std::string> expected;
    for (const std::string& name : names) {
        std::string relative = name;
        for (char& c : relative)
            if (c == '/') c = '\\';
        expected[relative] = fixtureContent(name);
    }
    return expected;
}

struct GoodArchive {
    const wchar_t* fixture;
    std::vector<std::string> fileEntries;  // as named in the archive
    std::vector<std::string> folders;      // every folder below the root afterwards
};

class GoodArchives : public Extraction, public testing::WithParamInterface<GoodArchive> {};

TEST_P(GoodArchives, WritesEveryEntryBelowTheRoot) {
    const GoodArchive& c = GetParam();
    ASSERT_FALSE(pathExists(root_)) << "the root is created on the way";
    EXPECT_TRUE(extract(c.fixture));
    EXPECT_EQ(files(), contentsOf(c.fileEntries));
    EXPECT_EQ(folders(), c.folders);
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, GoodArchives,
    testing::Values(
        GoodArchive{L"infozip_tree.zip",
                    {"pmzlib/a/b.jar", "pmzlib/readme.txt", "top.txt"},
                    {"pmzlib", "pmzlib\\a"}},
        GoodArchive{L"infozip_piped.zip", {"piped/one.txt", "piped/two.txt"}, {"piped"}},
        GoodArchive{L"python_mixed.zip",
                    {"pmzlib/a/b.jar", "win\\style\\c.txt", "d\xE1\xBB\xAF li\xE1\xBB\x87u/t\xE1\xBB\x87p.txt"},
                    {"d\xE1\xBB\xAF li\xE1\xBB\x87u", "pmzlib", "pmzlib\\a", "stored", "win",
                     "win\\style", "winfolder"}},
        GoodArchive{L"python_stored.zip", {"stored/s.txt"}, {"stored"}},
        GoodArchive{L"zip64.zip", {"big/one.bin", "big/two.bin"}, {"big"}},
        GoodArchive{L"dirs_only.zip", {}, {"only", "only\\deeper"}}));

TEST_F(Extraction, NonAsciiNamesKeepTheirCharacters) {
    EXPECT_TRUE(extract(L"python_mixed.zip"));
    EXPECT_TRUE(pathExists(root_ + L"d\u1EEF li\u1EC7u\\t\u1EC7p.txt"));
}

TEST_F(Extraction, StampsTheEntryModificationTime) {
    EXPECT_TRUE(extract(L"infozip_tree.zip"));
    HANDLE file = CreateFileW((root_ + L"top.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    FILETIME written = {};
    GetFileTime(file, nullptr, nullptr, &written);
    CloseHandle(file);
    FILETIME local = {};
    WORD dosDate = 0;
    WORD dosTime = 0;
    ASSERT_TRUE(FileTimeToLocalFileTime(&written, &local));
    ASSERT_TRUE(FileTimeToDosDateTime(&local, &dosDate, &dosTime));
    // 2024-05-17 10:30:44 as the archive records it.
    EXPECT_EQ(dosDate, ((2024 - 1980) << 9) | (5 << 5) | 17);
    EXPECT_EQ(dosTime, (10 << 11) | (30 << 5) | (44 / 2));
}

TEST_F(Extraction, TheLaterOfTwoEntriesForOneTargetWins) {
    EXPECT_TRUE(extract(L"same_target_twice.zip"));
    const std::map<std::string, std::string> expected = {{"dup.txt", "second\n"},
                                                         {"sub\\x.txt", "backslash\n"}};
    EXPECT_EQ(files(), expected);
}

// Bytes that differ from one position to the next, so a piece written twice, dropped or
// out of order shows.
std::string patterned(std::size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    std::uint32_t state = seed * 2654435761u + 1;
    for (char& c : bytes) {
        state = state * 1103515245u + 12345u;
        c = static_cast<char>(state >> 24);
    }
    return bytes;
}

std::vector<unsigned char> asBytes(const std::string& s) { return {s.begin(), s.end()}; }

// Names and sizes only: a failure must not print megabytes.
std::string describe(const std::map<std::string, std::string>& files) {
    std::string text;
    for (const auto& [name, bytes] : files) text += name + " (" + std::to_string(bytes.size()) + " bytes) ";
    return text;
}

// Entries of several write batches, between small ones, with the large one's CRC wrong
// on request: a file is handed to the writing side in pieces, and the last piece decides.
class LargeEntries : public Extraction {
protected:
    std::vector<unsigned char> archive(bool corruptLarge) const {
        return zipWithStoredEntries({{"small1.txt", asBytes(small1_)},
                                     {"big/large.bin", asBytes(large_), corruptLarge},
                                     {"small2.txt", asBytes(small2_)},
                                     {"big/exact.bin", asBytes(exact_)}});
    }
    const std::string small1_ = "first small file\n";
    const std::string large_ = patterned((9u << 20) + 123, 1);
    const std::string small2_ = "second small file\n";
    const std::string exact_ = patterned(4u << 20, 2);
};

TEST_F(LargeEntries, AreWrittenWholeAndInOrder) {
    ASSERT_TRUE(extractPatchArchive(archive(false), root_));
    const std::map<std::string, std::string> expected = {
        {"small1.txt", small1_}, {"big\\large.bin", large_}, {"small2.txt", small2_},
        {"big\\exact.bin", exact_}};
    const std::map<std::string, std::string> found = files();
    EXPECT_TRUE(found == expected) << describe(found);
}

TEST_F(LargeEntries, ADamagedOneLeavesNoFileOrTheOldOne) {
    EXPECT_FALSE(extractPatchArchive(archive(true), root_));
    std::map<std::string, std::string> expected = {
        {"small1.txt", small1_}, {"small2.txt", small2_}, {"big\\exact.bin", exact_}};
    std::map<std::string, std::string> found = files();
    EXPECT_TRUE(found == expected) << describe(found);

    putFile(L"big\\large.bin", "the installed, good large.bin");
    EXPECT_FALSE(extractPatchArchive(archive(true), root_));
    expected["big\\large.bin"] = "the installed, good large.bin";
    found = files();
    EXPECT_TRUE(found == expected) << describe(found);
}

TEST_F(Extraction, GoodEntriesReplaceExistingFilesWithoutLeftovers) {
    putFile(L"a.txt", "old a");
    putFile(L"b.txt", "old b, longer than the new content would ever be ........................"
                      "...................................................................."
                      "....................................................................."
                      "....................................................................."
                      "...........................................................................");
    EXPECT_TRUE(extract(L"three_good.zip"));
    EXPECT_EQ(files(), contentsOf({"a.txt", "b.txt", "c.txt"}));
}

struct BadArchive {
    const wchar_t* fixture;
    std::vector<std::string> writtenEntries;
};

class BadArchives : public Extraction, public testing::WithParamInterface<BadArchive> {};

TEST_P(BadArchives, FailAndLeaveNothingHalfWritten) {
    const BadArchive& c = GetParam();
    EXPECT_FALSE(extract(c.fixture));
    EXPECT_EQ(files(), contentsOf(c.writtenEntries));
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, BadArchives,
    testing::Values(BadArchive{L"truncated.zip", {}}, BadArchive{L"no_end_record.zip", {}},
                    BadArchive{L"no_entries.zip", {}},
                    // One bad entry among good ones: the others are all written.
                    BadArchive{L"crc_mismatch.zip", {"a.txt", "c.txt"}},
                    BadArchive{L"unsupported_method.zip", {"a.txt", "c.txt"}},
                    BadArchive{L"encrypted_flag.zip", {"a.txt", "c.txt"}}));

TEST_F(Extraction, EmptyBytesFail) {
    EXPECT_FALSE(extractPatchArchive({}, root_));
    EXPECT_FALSE(pathExists(root_));
}

class DamagedEntryOverGoodFile : public Extraction, public testing::WithParamInterface<const wchar_t*> {};

TEST_P(DamagedEntryOverGoodFile, LeavesTheEarlierFileIntact) {
    ASSERT_TRUE(extract(L"three_good.zip"));
    putFile(L"b.txt", "the installed, good b.txt");
    EXPECT_FALSE(extract(GetParam()));
    std::map<std::string, std::string> expected = contentsOf({"a.txt", "c.txt"});
    expected["b.txt"] = "the installed, good b.txt";
    EXPECT_EQ(files(), expected);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, DamagedEntryOverGoodFile,
                         testing::Values(L"crc_mismatch.zip", L"unsupported_method.zip",
                                         L"encrypted_flag.zip"));

TEST_F(Extraction, NamesLeadingOutsideTheRootAreRefused) {
    EXPECT_FALSE(extract(L"zip_slip.zip"));
    EXPECT_EQ(files(), contentsOf({"ok.txt"}));
    // Nothing landed beside or above the root, at the drive's root, or in a stream.
    std::vector<std::wstring> outside = {scratch_ + L"outer\\inner", scratch_ + L"outer"};
    for (const std::wstring& folder : outside) {
        for (const std::wstring& name : folderListing(folder))
            EXPECT_TRUE(isFolder(folder + L"\\" + name)) << toUtf8(folder + L"\\" + name);
    }
    for (int i = 1; i <= 7; ++i) {
        const std::wstring name = L"escaped" + std::to_wstring(i) + L".txt";
        EXPECT_FALSE(pathExists(L"C:\\" + name)) << toUtf8(name);
    }
    EXPECT_FALSE(pathExists(root_ + L"ok2.txt"));
}

TEST_F(Extraction, TheLauncherEntryIsNeverWrittenOverTheRunningFile) {
    for (const wchar_t* fixture : {L"launcher_entry.zip", L"launcher_entry_upper.zip"}) {
        putFile(L"game.exe", "the running launcher");
        g_launcherPath = root_ + L"game.exe";
        extract(fixture);
        std::string launcher;
        EXPECT_TRUE(readWholeFile(root_ + L"game.exe", launcher));
        EXPECT_EQ(launcher, "the running launcher") << toUtf8(fixture);
        EXPECT_EQ(files().count("other.txt"), 1u) << toUtf8(fixture);
        EXPECT_EQ(files().size(), 2u) << toUtf8(fixture);
        removeTree(root_);
    }
}

TEST_F(Extraction, ALauncherRunningElsewhereLeavesTheEntryAnOrdinaryFile) {
    g_launcherPath = scratch_ + L"elsewhere\\game.exe";
    EXPECT_TRUE(extract(L"launcher_entry.zip"));
    EXPECT_EQ(files(), contentsOf({"game.exe", "other.txt"}));
}

}  // namespace
