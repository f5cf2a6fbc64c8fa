// The benchmark's native side.
//   extract ARCHIVE DIR     the project's zip reader, extracting into DIR the way the
//                           launcher does (folders made, each entry inflated through the
//                           reader's sink in 4 MiB batches, the file calls on a thread of
//                           their own through the launcher's write-behind queue, size and
//                           CRC checked)
//   inflate ARCHIVE         the inflate floor: every entry inflated in memory with zlib
//                           and its CRC computed; nothing written; prints its time
//   writefloor ARCHIVE DIR  the write floor: every entry inflated first (not timed), then
//                           the tree written from memory with one write per file
//   touch MIB               touches and frees MIB mebibytes, so the next case does not pay
//                           for memory the host took back
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "patching/write_behind.h"
#include "zip/zip_reader.h"

namespace {

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool readWhole(const char* path, std::vector<unsigned char>& out) {
    const int fd = open(path, O_RDONLY);
    if (fd < 0) return false;
    struct stat st {};
    fstat(fd, &st);
    out.resize(static_cast<std::size_t>(st.st_size));
    std::size_t done = 0;
    while (done < out.size()) {
        const ssize_t got = read(fd, out.data() + done, out.size() - done);
        if (got <= 0) break;
        done += static_cast<std::size_t>(got);
    }
    close(fd);
    return done == out.size();
}

// Paths travel through the queue as wide strings, one unit per byte, so the bytes come
// back unchanged.
std::wstring widePath(const std::string& path) { return std::wstring(path.begin(), path.end()); }
std::string narrowPath(const std::wstring& path) {
    std::string out;
    for (wchar_t c : path) out.push_back(static_cast<char>(c));
    return out;
}

void makeParents(const std::string& path, std::set<std::string>& made) {
    for (std::size_t pos = path.find('/', 1); pos != std::string::npos;
         pos = path.find('/', pos + 1)) {
        const std::string folder = path.substr(0, pos);
        if (made.insert(folder).second) mkdir(folder.c_str(), 0755);
    }
}

void queueParents(const std::string& path, std::set<std::string>& made, WriteBehind& files) {
    for (std::size_t pos = path.find('/', 1); pos != std::string::npos;
         pos = path.find('/', pos + 1)) {
        const std::string folder = path.substr(0, pos);
        if (!made.insert(folder).second) continue;
        FileStep step;
        step.kind = FileStep::Kind::MakeFolder;
        step.path = widePath(folder);
        files.queue(std::move(step));
    }
}

bool safeName(const std::string& name) {
    if (name.empty() || name[0] == '/') return false;
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = name.find('/', start);
        if (end == std::string::npos) end = name.size();
        if (name.compare(start, end - start, "..") == 0) return false;
        start = end + 1;
    }
    return true;
}

bool writeAll(int fd, const unsigned char* bytes, std::size_t n) {
    while (n > 0) {
        const ssize_t put = write(fd, bytes, n);
        if (put <= 0) return false;
        bytes += put;
        n -= static_cast<std::size_t>(put);
    }
    return true;
}

// The file side, as the launcher's: one file open at a time, the last piece written
// only when the entry passed its checks, a failed file removed.
struct PosixWriter {
    int fd = -1;
    std::string path;
    bool failed = false;
    int failedEntries = 0;

    void run(FileStep& step) {
        switch (step.kind) {
        case FileStep::Kind::MakeFolder:
            mkdir(narrowPath(step.path).c_str(), 0755);
            break;
        case FileStep::Kind::BeginFile:
            path = narrowPath(step.path);
            failed = false;
            fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            break;
        case FileStep::Kind::Write:
            if (fd >= 0 && !writeAll(fd, step.bytes.data(), step.bytes.size())) failed = true;
            break;
        case FileStep::Kind::EndFile: {
            if (fd < 0) {
                ++failedEntries;
                break;
            }
            const bool complete =
                step.inflated && !failed && writeAll(fd, step.bytes.data(), step.bytes.size());
            close(fd);
            fd = -1;
            if (!complete) {
                unlink(path.c_str());
                ++failedEntries;
            }
            break;
        }
        }
    }
};

constexpr std::size_t kBatch = 4u << 20;

// The archive is mapped rather than read: the reader works on bytes in memory, and
// copying 200 MB into freshly taken memory first would be timed as the reader's cost
// (the tools stream the file from the page cache).
int extract(const char* archivePath, const std::string& dir) {
    const int archiveFd = open(archivePath, O_RDONLY);
    if (archiveFd < 0) return 3;
    struct stat st {};
    fstat(archiveFd, &st);
    const std::size_t size = static_cast<std::size_t>(st.st_size);
    void* mapped = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, archiveFd, 0);
    close(archiveFd);
    if (mapped == MAP_FAILED) return 3;
    ZipArchive zip;
    if (!zipOpenMemory(zip, mapped, size)) return 4;
    std::set<std::string> made;
    int failed = 0;
    PosixWriter writer;
    {
        WriteBehind files(4096, kBatch, [&](FileStep& step) { writer.run(step); });
        const std::string root = dir + "/";
        queueParents(root, made, files);
        for (std::uint32_t i = 0; i < zipEntryCount(zip); ++i) {
            ZipEntryInfo info;
            if (!zipEntryStat(zip, i, info) || !safeName(info.name)) {
                ++failed;
                continue;
            }
            const std::string target = root + info.name;
            queueParents(target, made, files);
            if (info.isDirectory) continue;
            FileStep begin;
            begin.kind = FileStep::Kind::BeginFile;
            begin.path = widePath(target);
            files.queue(std::move(begin));
            std::vector<unsigned char> batch;
            batch.reserve(kBatch);
            const bool ok = zipExtractToSink(zip, i, [&](const unsigned char* bytes, std::size_t n) {
                if (batch.size() + n > kBatch) {
                    FileStep step;
                    step.bytes = std::move(batch);
                    files.queue(std::move(step));
                    batch = std::vector<unsigned char>();
                    batch.reserve(kBatch);
                }
                batch.insert(batch.end(), bytes, bytes + n);
                return true;
            });
            FileStep end;
            end.kind = FileStep::Kind::EndFile;
            end.inflated = ok;
            if (ok && batch.size() < kBatch / 4)
                end.bytes.assign(batch.begin(), batch.end());
            else if (ok)
                end.bytes = std::move(batch);
            files.queue(std::move(end));
        }
        files.finish();
    }
    failed += writer.failedEntries;
    return failed == 0 ? 0 : 1;
}

// Walks the central directory with the reader, then inflates with zlib directly into one
// reused buffer.
int inflateFloor(const char* archivePath) {
    std::vector<unsigned char> archive;
    if (!readWhole(archivePath, archive)) return 3;
    const double t0 = now();
    ZipArchive zip;
    if (!zipOpenMemory(zip, archive.data(), archive.size())) return 4;
    std::vector<unsigned char> out(1 << 20);
    int bad = 0;
    for (const ZipEntryInfo& e : zip.entries) {
        if (e.isDirectory) continue;
        const unsigned char* local = archive.data() + e.localHeaderOffset;
        const unsigned char* data = local + 30 + (local[26] | local[27] << 8) + (local[28] | local[29] << 8);
        if (out.size() < e.uncompressedSize) out.resize(e.uncompressedSize);
        uLong crc = crc32(0, Z_NULL, 0);
        if (e.method == 0) {
            crc = crc32(crc, data, static_cast<uInt>(e.compressedSize));
        } else {
            z_stream z{};
            inflateInit2(&z, -MAX_WBITS);
            z.next_in = const_cast<Bytef*>(data);
            z.avail_in = static_cast<uInt>(e.compressedSize);
            z.next_out = out.data();
            z.avail_out = static_cast<uInt>(out.size());
            if (inflate(&z, Z_FINISH) != Z_STREAM_END) ++bad;
            inflateEnd(&z);
            crc = crc32(crc, out.data(), static_cast<uInt>(e.uncompressedSize));
        }
        if (crc != e.crc32) ++bad;
    }
    std::printf("{\"ok\": %s, \"seconds\": %.6f}\n", bad ? "false" : "true", now() - t0);
    return bad ? 1 : 0;
}

int writeFloor(const char* archivePath, const std::string& dir) {
    std::vector<unsigned char> archive;
    if (!readWhole(archivePath, archive)) return 3;
    ZipArchive zip;
    if (!zipOpenMemory(zip, archive.data(), archive.size())) return 4;
    std::vector<std::vector<unsigned char>> bodies(zip.entries.size());
    for (std::uint32_t i = 0; i < bodies.size(); ++i)
        if (!zip.entries[i].isDirectory && !zipExtractToHeap(zip, i, bodies[i], 1ull << 32)) return 5;
    std::set<std::string> made;
    const double t0 = now();
    const std::string root = dir + "/";
    makeParents(root, made);
    for (std::uint32_t i = 0; i < bodies.size(); ++i) {
        const std::string target = root + zip.entries[i].name;
        makeParents(target, made);
        if (zip.entries[i].isDirectory) continue;
        const int fd = open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0) return 6;
        if (!bodies[i].empty() && write(fd, bodies[i].data(), bodies[i].size()) < 0) return 7;
        close(fd);
    }
    std::printf("{\"ok\": true, \"seconds\": %.6f}\n", now() - t0);
    return 0;
}

int touch(long mebibytes) {
    const std::size_t size = static_cast<std::size_t>(mebibytes) << 20;
    char* p = static_cast<char*>(std::malloc(size));
    if (!p) return 3;
    std::memset(p, 1, size);
    volatile char keep = p[size / 2];
    (void)keep;
    std::free(p);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "extract" && argc == 4) return extract(argv[2], argv[3]);
    if (mode == "inflate" && argc == 3) return inflateFloor(argv[2]);
    if (mode == "writefloor" && argc == 4) return writeFloor(argv[2], argv[3]);
    if (mode == "touch" && argc == 3) return touch(std::atol(argv[2]));
    std::fprintf(stderr, "usage: bench_native extract|inflate|writefloor|touch ...\n");
    return 2;
}
