// The updater's command-line tail, as UTF-16 units (two input bytes each, little end
// first, up to the first zero unit, as the platform hands it over). Recognition must
// equal a plain reading of the form, and every command line the staging side builds
// from quote-free paths must be recognised with exactly its values.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "selfupdate/apply_update.h"

namespace {

struct Reading {
    bool recognised = false;
    std::wstring newFilePath;
    std::wstring targetPath;
    std::uint32_t processId = 0;
};

Reading referenceReading(const std::wstring& tail) {
    std::vector<std::wstring> tokens(1);
    bool quoted = false;
    for (wchar_t c : tail) {
        if (c == L'"') quoted = !quoted;
        else if (!quoted && (c == L' ' || c == L'\t')) tokens.emplace_back();
        else tokens.back().push_back(c);
    }
    std::vector<std::wstring> words;
    for (const std::wstring& t : tokens)
        if (!t.empty()) words.push_back(t);

    Reading r;
    if (words.size() != 4 || words[0] != L"__apply-update") return r;
    r.newFilePath = words[1];
    r.targetPath = words[2];
    const std::wstring& id = words[3];
    if (id.find_first_not_of(L"0123456789") != std::wstring::npos) return r;
    // Leading zeros are digits like any other; the value must fit 32 bits.
    std::uint64_t value = 0;
    for (wchar_t c : id) {
        value = value * 10 + static_cast<std::uint64_t>(c - L'0');
        if (value > 0xFFFFFFFFull) return r;
    }
    if (value == 0) return r;
    r.processId = static_cast<std::uint32_t>(value);
    r.recognised = true;
    return r;
}

Reading parse(const std::wstring& tail) {
    Reading r;
    r.newFilePath = L"stale";
    r.targetPath = L"stale";
    r.processId = 99;
    r.recognised = parseApplyUpdateArgs(tail.c_str(), r.newFilePath, r.targetPath, r.processId);
    return r;
}

std::wstring withoutQuotes(const std::wstring& s) {
    std::wstring out;
    for (wchar_t c : s)
        if (c != L'"') out.push_back(c);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::wstring tail;
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        const wchar_t unit = static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
        if (unit == 0) break;
        tail.push_back(unit);
    }

    const Reading got = parse(tail);
    const Reading want = referenceReading(tail);
    FUZZ_CHECK(got.recognised == want.recognised, "recognition");
    FUZZ_CHECK(got.newFilePath == want.newFilePath, "new file path");
    FUZZ_CHECK(got.targetPath == want.targetPath, "target path");
    FUZZ_CHECK(got.processId == want.processId, "process id (0 unless recognised)");

    // The round trip: two paths cut from the input, quotes taken out as the staging side
    // never writes them into a path, and a non-zero id.
    const std::wstring plain = withoutQuotes(tail);
    const std::size_t half = plain.size() / 2;
    const std::wstring newFile = plain.substr(0, half);
    const std::wstring target = plain.substr(half);
    std::uint32_t id = 1;
    for (std::size_t i = 0; i < size && i < 4; ++i) id = (id << 8) | data[i];
    if (id == 0) id = 1;
    const std::wstring updater = L"C:\\Temp\\Quolva_updater.exe";
    const std::wstring line = buildApplyUpdateCommandLine(updater, newFile, target, id);
    const std::wstring prefix = L"\"" + updater + L"\" ";
    FUZZ_CHECK(line.compare(0, prefix.size(), prefix) == 0, "program path first");
    const Reading back = parse(line.substr(prefix.size()));
    if (!newFile.empty() && !target.empty()) {
        FUZZ_CHECK(back.recognised, "built command line recognised");
        FUZZ_CHECK(back.newFilePath == newFile && back.targetPath == target, "paths kept");
        FUZZ_CHECK(back.processId == id, "id kept");
    } else {
        // An empty quoted path gives no token at all.
        FUZZ_CHECK(!back.recognised, "empty path gives three tokens");
    }
    return 0;
}
