// The launcher's download on its own: httpGet of URL into a vector with 4 attempts,
// timed, with the process's memory before and after.
#include <cstdio>
#include <string>

#include "bench_win.h"
#include "common/text.h"
#include "patching/http_request.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: bench_http URL\n");
        return 2;
    }
    const std::string url = toUtf8(argv[1]);
    const BenchMemory start = benchMemory();
    std::vector<unsigned char> body;
    const double t0 = benchNow();
    const bool ok = httpGet(url, body, 4);
    const double seconds = benchNow() - t0;
    const BenchMemory end = benchMemory();
    std::printf("{\"ok\": %s, \"seconds\": %.6f, \"bytes\": %zu, \"capacity\": %zu, ",
                ok ? "true" : "false", seconds, body.size(), body.capacity());
    benchPrintMemory("start", start);
    std::printf(", ");
    benchPrintMemory("end", end);
    std::printf("}\n");
    return ok ? 0 : 1;
}
