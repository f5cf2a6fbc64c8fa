#include "unit/patching/patching_support.h"

#include <cstdlib>
#include <cstdio>

#include "support/child.h"

std::wstring freshScratchFolder(const std::wstring& label) {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring base = std::wstring(temp) + L"qv_patching\\";
    CreateDirectoryW(base.c_str(), nullptr);
    const std::wstring folder = base + label + L"\\";
    removeTree(folder);
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

bool isFolder(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool readWholeFile(const std::wstring& path, std::string& bytes) {
    bytes.clear();
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size = {};
    bool ok = GetFileSizeEx(file, &size) != 0;
    if (ok && size.QuadPart > 0) {
        bytes.resize(static_cast<std::size_t>(size.QuadPart));
        DWORD read = 0;
        ok = ReadFile(file, &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr) &&
             read == bytes.size();
    }
    CloseHandle(file);
    return ok;
}

bool writeWholeFile(const std::wstring& path, const std::string& bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok = bytes.empty() || (WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()),
                                                &written, nullptr) &&
                                      written == bytes.size());
    CloseHandle(file);
    return ok;
}

std::vector<std::wstring> folderListing(const std::wstring& folder) {
    std::vector<std::wstring> names;
    std::wstring pattern = folder;
    if (!pattern.empty() && pattern.back() != L'\\') pattern += L'\\';
    pattern += L'*';
    WIN32_FIND_DATAW data = {};
    HANDLE find = FindFirstFileW(pattern.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        const std::wstring name = data.cFileName;
        if (name != L"." && name != L"..") names.push_back(name);
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return names;
}

namespace {

std::wstring windowsPath(std::wstring path) {
    for (wchar_t& c : path)
        if (c == L'/') c = L'\\';
    return path;
}

std::string narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

std::wstring originFolder() {
    return windowsPath(environmentValue(L"QUOLVA_PATCHING_ORIGIN"));
}

// The value of "key" in one JSON line: a string (escapes decoded) or a bare token.
std::string jsonField(const std::string& line, const std::string& key) {
    const std::string marker = "\"" + key + "\": ";
    const std::size_t at = line.find(marker);
    if (at == std::string::npos) return std::string();
    std::size_t i = at + marker.size();
    if (i >= line.size()) return std::string();
    if (line[i] != '"') {
        const std::size_t end = line.find_first_of(",}", i);
        return line.substr(i, end - i);
    }
    std::string value;
    for (++i; i < line.size() && line[i] != '"'; ++i) {
        if (line[i] != '\\') {
            value += line[i];
            continue;
        }
        const char escaped = line[++i];
        switch (escaped) {
            case 'r': value += '\r'; break;
            case 'n': value += '\n'; break;
            case 't': value += '\t'; break;
            case 'u': {
                const unsigned long code = std::strtoul(line.substr(i + 1, 4).c_str(), nullptr, 16);
                value += code < 0x80 ? static_cast<char>(code) : '?';
                i += 4;
                break;
            }
            default: value += escaped;
        }
    }
    return value;
}

std::vector<std::string> logLines() {
    std::string text;
    readWholeFile(originFolder() + L"\\log.jsonl", text);
    std::vector<std::string> lines;
    std::size_t begin = 0;
    while (begin < text.size()) {
        std::size_t end = text.find('\n', begin);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(begin, end - begin));
        begin = end + 1;
    }
    return lines;
}

}  // namespace

std::vector<unsigned char> loadFixture(const std::wstring& name) {
    std::string bytes;
    readWholeFile(windowsPath(environmentValue(L"QUOLVA_PATCHING_FIXTURES")) + L"\\" + name, bytes);
    return std::vector<unsigned char>(bytes.begin(), bytes.end());
}

std::string fixtureContent(const std::string& entryName) {
    std::string content;
    for (int i = 0; i < 20; ++i) content += "patch file " + entryName + "\n";
    return content;
}

OriginPorts originPorts() {
    OriginPorts ports{28443, 28080, 28444};
    const std::string text = narrow(environmentValue(L"QUOLVA_PATCHING_PORTS"));
    if (!text.empty()) std::sscanf(text.c_str(), "%d,%d,%d", &ports.https, &ports.http, &ports.untrusted);
    return ports;
}

std::string httpsUrl(const std::string& path) {
    return "https://localhost:" + std::to_string(originPorts().https) + path;
}

std::string httpUrl(const std::string& path) {
    return "http://localhost:" + std::to_string(originPorts().http) + path;
}

std::string untrustedUrl(const std::string& path) {
    return "https://localhost:" + std::to_string(originPorts().untrusted) + path;
}

std::string runPath(const std::string& path) {
    return "/run" + std::to_string(GetCurrentProcessId()) + path;
}

bool setRoutes(const std::string& json) {
    // Written beside and moved into place, so the server never reads half a file.
    const std::wstring folder = originFolder();
    const std::wstring staged = folder + L"\\routes.json.new";
    if (!writeWholeFile(staged, json)) return false;
    return MoveFileExW(staged.c_str(), (folder + L"\\routes.json").c_str(),
                       MOVEFILE_REPLACE_EXISTING) != 0;
}

bool serveFile(const std::string& urlPath, const std::vector<unsigned char>& bytes) {
    std::wstring path = originFolder() + L"\\root";
    std::size_t begin = 1;
    while (true) {
        const std::size_t slash = urlPath.find('/', begin);
        if (slash == std::string::npos) break;
        path += L"\\" + std::wstring(urlPath.begin() + begin, urlPath.begin() + slash);
        CreateDirectoryW(path.c_str(), nullptr);
        begin = slash + 1;
    }
    path += L"\\" + std::wstring(urlPath.begin() + begin, urlPath.end());
    return writeWholeFile(path, std::string(bytes.begin(), bytes.end()));
}

std::vector<LoggedRequest> loggedRequests(const std::string& pathOrTarget) {
    std::vector<LoggedRequest> requests;
    for (const std::string& line : logLines()) {
        LoggedRequest request;
        request.target = jsonField(line, "target");
        request.path = jsonField(line, "path");
        if (request.target != pathOrTarget && request.path != pathOrTarget) continue;
        request.port = std::atoi(jsonField(line, "port").c_str());
        request.tls = jsonField(line, "tls") == "true";
        request.method = jsonField(line, "method");
        request.rawHeaders = jsonField(line, "raw_headers");
        requests.push_back(request);
    }
    return requests;
}

std::size_t loggedRequestCount() {
    std::size_t count = 0;
    for (const std::string& line : logLines())
        if (line.find("\"target\": ") != std::string::npos) ++count;
    return count;
}

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::uint64_t nowMs() {
    return GetTickCount64();
}
