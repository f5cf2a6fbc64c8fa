// A minimal zip writer for the tests: stored or deflated entries, with the sizes and
// CRC-32 a real archiver would write (or a wrong CRC on request).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct StoredEntry {
    std::string name;
    std::vector<unsigned char> data;
    bool corruptCrc = false;
};

std::vector<unsigned char> zipWithStoredEntries(const std::vector<StoredEntry>& entries);

std::vector<unsigned char> zipWithStoredEntry(const std::string& name,
                                              const std::vector<unsigned char>& data,
                                              bool corruptCrc = false);

// An entry of `size` zero bytes, deflated: a 100 MiB entry costs about 100 KiB.
std::vector<unsigned char> zipWithDeflatedZeros(const std::string& name, std::uint32_t size);
