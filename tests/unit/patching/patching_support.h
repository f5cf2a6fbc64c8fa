// Shared pieces of the patching unit tests: scratch folders, file contents, the
// archive fixtures and the loopback origins started around the test binary.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/test_files.h"

// A fresh, empty folder below the temporary folder, ending with a backslash.
std::wstring freshScratchFolder(const std::wstring& label);

bool isFolder(const std::wstring& path);
bool readWholeFile(const std::wstring& path, std::string& bytes);
bool writeWholeFile(const std::wstring& path, const std::string& bytes);
// Names (not paths) of everything directly in folder.
std::vector<std::wstring> folderListing(const std::wstring& folder);

// The bytes of tests/fixtures/patching/<name>; empty when missing.
std::vector<unsigned char> loadFixture(const std::wstring& name);
// What make_archives.py puts into the entry of that name.
std::string fixtureContent(const std::string& entryName);

// The loopback origins of origins.py.
struct OriginPorts {
    int https = 0;
    int http = 0;
    int untrusted = 0;
};
OriginPorts originPorts();
std::string httpsUrl(const std::string& path);
std::string httpUrl(const std::string& path);
std::string untrustedUrl(const std::string& path);
// A path prefix unique to this test process, so scripted sequences start afresh.
std::string runPath(const std::string& path);
// Replaces the routes file (JSON: path -> behaviour).
bool setRoutes(const std::string& json);
// Puts a file below the origins' served folder, at the given URL path.
bool serveFile(const std::string& urlPath, const std::vector<unsigned char>& bytes);

struct LoggedRequest {
    int port = 0;
    bool tls = false;
    std::string method;
    std::string target;
    std::string path;
    std::string rawHeaders;
};
// Requests whose path or full target equals the argument, in arrival order.
std::vector<LoggedRequest> loggedRequests(const std::string& pathOrTarget);
// Every request logged so far (all paths).
std::size_t loggedRequestCount();

std::string jsonString(const std::string& text);

// Milliseconds since an arbitrary start.
std::uint64_t nowMs();
