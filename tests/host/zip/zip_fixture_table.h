// What the good fixtures hold, as make_fixtures.py writes them, in archive order.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace ziptest {

struct ExpectedEntry {
    std::string name;
    bool isDirectory;
    std::uint16_t method;
    std::string seed;  // content(seed, size) is the original; empty for folders
    std::size_t size;
};

struct ArchiveCase {
    const char* file;
    std::vector<ExpectedEntry> entries;
};

inline std::ostream& operator<<(std::ostream& os, const ArchiveCase& c) { return os << c.file; }

// Every entry of every fixture carries 2024-05-17 12:30:00.
constexpr std::uint16_t kFixtureDosDate = ((2024 - 1980) << 9) | (5 << 5) | 17;
constexpr std::uint16_t kFixtureDosTime = (12 << 11) | (30 << 5);

// The archive that the damaged copies are made from.
inline const std::vector<ExpectedEntry> kBaseThree = {
    {"first.txt", false, 8, "first", 1000},
    {"middle.txt", false, 0, "middle", 1000},
    {"last.txt", false, 8, "last", 1000},
};

inline const std::vector<ArchiveCase> kGoodArchives = {
    {"infozip_tree.zip",
     {{"bin/", true, 0, "", 0},
      {"bin/data.bin", false, 0, "data", 2000},
      {"deep/", true, 0, "", 0},
      {"deep/a/", true, 0, "", 0},
      {"deep/a/b/", true, 0, "", 0},
      {"deep/a/b/c/", true, 0, "", 0},
      {"deep/a/b/c/leaf.txt", false, 8, "leaf", 1200},
      {"docs/", true, 0, "", 0},
      {"docs/readme.txt", false, 8, "readme", 5000},
      {"donn\xC3\xA9"
       "es/",
       true, 0, "", 0},
      {"donn\xC3\xA9"
       "es/\xC3\xA9t\xC3\xA9.txt",
       false, 8, "utf8", 900}}},
    {"infozip_piped.zip",
     {{"docs/readme.txt", false, 8, "readme", 5000}, {"bin/data.bin", false, 8, "data", 2000}}},
    {"infozip_stdin.zip", {{"-", false, 8, "stdin", 3000}}},
    // The first entry's uncompressed size lives only in its ZIP64 extra field.
    {"infozip_zip64.zip",
     {{"docs/readme.txt", false, 8, "readme", 5000}, {"bin/data.bin", false, 0, "data", 2000}}},
    {"python_mixed.zip",
     {{"stored.txt", false, 0, "stored", 1500},
      {"deflated.txt", false, 8, "deflated", 4000},
      {"folder/", true, 0, "", 0},
      {"folder/nested/inner.txt", false, 8, "inner", 700},
      {"\xC3\x9Cn\xC3\xAF"
       "c\xC3\xB6"
       "d\xC3\xA9/\xD1\x84\xD0\xB0\xD0\xB9\xD0\xBB.txt",
       false, 8, "cyr", 640},
      {"win\\style\\path.txt", false, 8, "backslash", 300},
      {"empty.txt", false, 0, "empty", 0},
      {"big.txt", false, 8, "big", 700000}}},
    {"python_comment.zip", {{"a.txt", false, 8, "a", 800}, {"b.txt", false, 0, "b", 200}}},
    {"python_stream.zip",
     {{"streamed/one.txt", false, 8, "one", 3000}, {"streamed/two.txt", false, 0, "two", 500}}},
    {"python_force_zip64.zip",
     {{"z64/deflated.txt", false, 8, "z64a", 2500}, {"z64/stored.txt", false, 0, "z64b", 400}}},
    {"zip64_records.zip",
     {{"big64/stored.bin", false, 0, "s64", 1000}, {"big64/deflated.txt", false, 8, "d64", 3000}}},
    {"base_three.zip", kBaseThree},
};

inline const ArchiveCase& goodArchive(const std::string& file) {
    for (const ArchiveCase& c : kGoodArchives)
        if (file == c.file) return c;
    static const ArchiveCase none{"", {}};
    return none;
}

}  // namespace ziptest
