// The Wine write floor: every entry of the archive inflated into memory first (not
// timed), then the same tree written with CreateDirectoryW, CreateFileW, one WriteFile
// and CloseHandle per file: no inflate, no checks, no extra calls.
#include <cstdio>
#include <set>
#include <string>

#include "bench_win.h"
#include "common/text.h"
#include "zip/zip_reader.h"

namespace {

struct Item {
    std::wstring path;
    bool folder = false;
    std::vector<unsigned char> bytes;
};

void makeFolders(const std::wstring& path, std::set<std::wstring>& made) {
    for (std::size_t pos = path.find(L'\\', 3); pos != std::wstring::npos;
         pos = path.find(L'\\', pos + 1)) {
        const std::wstring folder = path.substr(0, pos);
        if (made.insert(folder).second) CreateDirectoryW(folder.c_str(), nullptr);
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: bench_write_floor ARCHIVE.zip ROOT\\\n");
        return 2;
    }
    std::vector<unsigned char> archive;
    if (!benchReadFile(argv[1], archive)) return 3;
    std::wstring root = argv[2];
    if (root.empty() || root.back() != L'\\') root += L'\\';

    ZipArchive zip;
    if (!zipOpenMemory(zip, archive.data(), archive.size())) return 4;
    std::vector<Item> items(zipEntryCount(zip));
    for (std::uint32_t i = 0; i < items.size(); ++i) {
        ZipEntryInfo info;
        if (!zipEntryStat(zip, i, info)) return 5;
        std::string name = info.name;
        for (char& c : name)
            if (c == '/') c = '\\';
        items[i].path = root + fromUtf8(name);
        items[i].folder = info.isDirectory;
        if (!info.isDirectory && !zipExtractToHeap(zip, i, items[i].bytes, 1ull << 32)) return 6;
    }
    std::vector<unsigned char>().swap(archive);

    std::set<std::wstring> made;
    const double t0 = benchNow();
    makeFolders(root, made);
    std::size_t files = 0;
    for (const Item& item : items) {
        makeFolders(item.path, made);
        if (item.folder) continue;
        HANDLE file = CreateFileW(item.path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return 7;
        DWORD written = 0;
        if (!item.bytes.empty() &&
            !WriteFile(file, item.bytes.data(), static_cast<DWORD>(item.bytes.size()), &written,
                       nullptr))
            return 8;
        CloseHandle(file);
        ++files;
    }
    const double seconds = benchNow() - t0;
    std::printf("{\"ok\": true, \"seconds\": %.6f, \"files\": %zu}\n", seconds, files);
    return 0;
}
