// The launcher's extraction on its own: an archive read into memory (not timed), then
// extractPatchArchive into ROOT, timed, with the process's memory before and after.
#include <cstdio>
#include <string>

#include "bench_win.h"
#include "patching/extract.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: bench_extract ARCHIVE.zip ROOT\\\n");
        return 2;
    }
    const BenchMemory start = benchMemory();
    std::vector<unsigned char> archive;
    if (!benchReadFile(argv[1], archive)) return 3;
    std::wstring root = argv[2];
    if (root.empty() || root.back() != L'\\') root += L'\\';
    const BenchMemory loaded = benchMemory();
    const double t0 = benchNow();
    const bool ok = extractPatchArchive(archive, root);
    const double seconds = benchNow() - t0;
    const BenchMemory end = benchMemory();
    std::printf("{\"ok\": %s, \"seconds\": %.6f, \"archive\": %zu, ", ok ? "true" : "false", seconds,
                archive.size());
    benchPrintMemory("start", start);
    std::printf(", ");
    benchPrintMemory("loaded", loaded);
    std::printf(", ");
    benchPrintMemory("end", end);
    std::printf("}\n");
    return ok ? 0 : 1;
}
