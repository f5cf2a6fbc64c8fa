#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "patching/http_request.h"
#include "support/child.h"
#include "unit/patching/patching_support.h"

namespace {

const char* const kUserAgent =
    "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/120.0.0.0 Safari/537.36";

std::string text(const std::vector<unsigned char>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

// One header line's value from a raw request head; empty when absent.
std::vector<std::string> headerLines(const std::string& rawHeaders) {
    std::vector<std::string> lines;
    std::size_t begin = rawHeaders.find("\r\n");
    while (begin != std::string::npos) {
        begin += 2;
        const std::size_t end = rawHeaders.find("\r\n", begin);
        if (end == std::string::npos || end == begin) break;
        lines.push_back(rawHeaders.substr(begin, end - begin));
        begin = end;
    }
    return lines;
}

class HttpGet : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(environmentValue(L"QUOLVA_PATCHING_ORIGIN").empty())
            << "run through ctest: the origins fixture sets QUOLVA_PATCHING_ORIGIN";
    }
};

TEST_F(HttpGet, SendsTheBrowserRequestWithTheQueryInTheTarget) {
    const std::string path = runPath("/shape/checkpatch.txt");
    ASSERT_TRUE(setRoutes("{" + jsonString(path) + ": {\"body\": \"kova;3\\n\"}}"));

    std::vector<unsigned char> out;
    ASSERT_TRUE(httpGet(httpsUrl(path + "?a=1&b=two"), out, 4));
    EXPECT_EQ(text(out), "kova;3\n");

    const std::vector<LoggedRequest> requests = loggedRequests(path);
    ASSERT_EQ(requests.size(), 1u);
    const LoggedRequest& request = requests[0];
    EXPECT_EQ(request.method, "GET");
    EXPECT_EQ(request.target, path + "?a=1&b=two");
    EXPECT_TRUE(request.tls);
    EXPECT_EQ(request.rawHeaders.substr(0, request.rawHeaders.find("\r\n")),
              "GET " + path + "?a=1&b=two HTTP/1.1");

    // The four added lines arrive whole and in order; besides them only what the
    // HTTP stack itself must send.
    const std::vector<std::string> lines = headerLines(request.rawHeaders);
    std::vector<std::string> added;
    std::vector<std::string> others;
    for (const std::string& line : lines) {
        const std::string name = line.substr(0, line.find(':'));
        if (name == "Accept" || name == "Accept-Language" || name == "Referer" || name == "Connection")
            added.push_back(line);
        else
            others.push_back(line);
    }
    ASSERT_EQ(added.size(), 4u) << request.rawHeaders;
    EXPECT_EQ(added[0], "Accept: */*");
    EXPECT_EQ(added[1], "Accept-Language: en-US,en;q=0.9");
    EXPECT_EQ(added[2].rfind("Referer: https://", 0), 0u) << added[2];
    EXPECT_EQ(added[2].back(), '/') << added[2];
    EXPECT_EQ(added[3], "Connection: keep-alive");
    std::vector<std::string> expectedOthers = {
        std::string("User-Agent: ") + kUserAgent,
        "Host: localhost:" + std::to_string(originPorts().https)};
    std::sort(others.begin(), others.end());
    std::sort(expectedOthers.begin(), expectedOthers.end());
    EXPECT_EQ(others, expectedOthers) << request.rawHeaders;
    EXPECT_EQ(request.rawHeaders.substr(request.rawHeaders.size() - 4), "\r\n\r\n");
}

TEST_F(HttpGet, SecureFlagFollowsTheSchemeAndTheExplicitPortIsUsed) {
    const std::string path = runPath("/scheme/file.txt");
    ASSERT_TRUE(setRoutes("{" + jsonString(path) + ": {\"body\": \"same file\"}}"));

    std::vector<unsigned char> out;
    EXPECT_TRUE(httpGet(httpUrl(path), out, 1));
    EXPECT_EQ(text(out), "same file");
    out.clear();
    EXPECT_TRUE(httpGet(httpsUrl(path), out, 1));
    EXPECT_EQ(text(out), "same file");
    // Plain text to the TLS port is refused by the server: the scheme picks the flag,
    // not the port.
    EXPECT_FALSE(httpGet("http://localhost:" + std::to_string(originPorts().https) + path, out, 1));

    const std::vector<LoggedRequest> requests = loggedRequests(path);
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].port, originPorts().http);
    EXPECT_FALSE(requests[0].tls);
    EXPECT_EQ(requests[1].port, originPorts().https);
    EXPECT_TRUE(requests[1].tls);
}

TEST_F(HttpGet, FollowsRedirectsAcrossSchemesAndHosts) {
    const std::string first = runPath("/redirect/first");
    const std::string second = runPath("/redirect/second");
    const std::string downgrade = runPath("/redirect/downgrade");
    const std::string plain = runPath("/redirect/plain.txt");
    const std::string toMissing = runPath("/redirect/to-missing");
    ASSERT_TRUE(setRoutes(
        "{" + jsonString(first) + ": {\"status\": 301, \"redirect\": " + jsonString(httpsUrl(second)) +
        "}, " + jsonString(second) + ": {\"status\": 302, \"redirect\": " +
        jsonString("http://127.0.0.1:" + std::to_string(originPorts().http) + plain) + "}, " +
        jsonString(downgrade) + ": {\"status\": 307, \"redirect\": " + jsonString(httpUrl(plain)) +
        "}, " + jsonString(plain) + ": {\"body\": \"after redirects\"}, " + jsonString(toMissing) +
        ": {\"status\": 302, \"redirect\": " + jsonString(httpsUrl(runPath("/redirect/none"))) +
        "}, " + jsonString(runPath("/redirect/none")) + ": {\"status\": 404}}"));

    std::vector<unsigned char> out;
    EXPECT_TRUE(httpGet(httpsUrl(first), out, 1));
    EXPECT_EQ(text(out), "after redirects");
    out.clear();
    EXPECT_TRUE(httpGet(httpsUrl(downgrade), out, 1));
    EXPECT_EQ(text(out), "after redirects");
    EXPECT_EQ(loggedRequests(second).size(), 1u);
    const std::vector<LoggedRequest> plainRequests = loggedRequests(plain);
    ASSERT_EQ(plainRequests.size(), 2u);
    EXPECT_FALSE(plainRequests[1].tls);

    // The final response decides.
    EXPECT_FALSE(httpGet(httpsUrl(toMissing), out, 1));
    EXPECT_EQ(loggedRequests(runPath("/redirect/none")).size(), 1u);
}

TEST_F(HttpGet, AsksFourTimesWithPausesWhenEveryAnswerIs404) {
    const std::string path = runPath("/missing/patch.zip");
    ASSERT_TRUE(setRoutes("{" + jsonString(path) + ": {\"status\": 404, \"body\": \"no\"}}"));

    std::vector<unsigned char> out;
    const std::uint64_t start = nowMs();
    EXPECT_FALSE(httpGet(httpsUrl(path), out, 4));
    const std::uint64_t elapsed = nowMs() - start;
    EXPECT_EQ(loggedRequests(path).size(), 4u);
    // Four pauses of 500 ms, the last one before the false result.
    EXPECT_GE(elapsed, 1950u);
    EXPECT_LT(elapsed, 8000u);
}

TEST_F(HttpGet, StatusesAndBodies) {
    const std::string partial = runPath("/status/partial");
    const std::string empty = runPath("/status/empty");
    const std::string server = runPath("/status/error-then-ok");
    ASSERT_TRUE(setRoutes(
        "{" + jsonString(partial) + ": {\"status\": 206, \"body\": \"part\"}, " + jsonString(empty) +
        ": {\"status\": 200, \"body\": \"\"}, " + jsonString(server) +
        ": {\"sequence\": [{\"status\": 500, \"body\": \"oops\"}, {\"body\": \"recovered\"}]}}"));

    std::vector<unsigned char> out = {'o', 'l', 'd'};
    EXPECT_TRUE(httpGet(httpsUrl(partial), out, 4));
    EXPECT_EQ(text(out), "part");

    const std::uint64_t start = nowMs();
    EXPECT_FALSE(httpGet(httpsUrl(empty), out, 2));
    EXPECT_GE(nowMs() - start, 950u);
    EXPECT_EQ(loggedRequests(empty).size(), 2u);

    out.assign({'o', 'l', 'd'});
    EXPECT_TRUE(httpGet(httpsUrl(server), out, 4));
    EXPECT_EQ(text(out), "recovered");
    EXPECT_EQ(loggedRequests(server).size(), 2u);
}

TEST_F(HttpGet, ABodyBrokenPartWayIsRetriedAndOnlyTheGoodBodyKept) {
    const std::string path = runPath("/broken/patch.zip");
    std::string good;
    for (int i = 0; good.size() < 300000; ++i) good += "line " + std::to_string(i) + "\n";
    const std::vector<unsigned char> goodBytes(good.begin(), good.end());
    ASSERT_TRUE(serveFile(path, goodBytes));
    ASSERT_TRUE(setRoutes("{" + jsonString(path) + ": {\"sequence\": [{\"file\": " +
                          jsonString(path) + ", \"cut_after\": 100000}, {\"file\": " +
                          jsonString(path) + "}]}}"));

    std::vector<unsigned char> out;
    EXPECT_TRUE(httpGet(httpsUrl(path), out, 4));
    EXPECT_EQ(loggedRequests(path).size(), 2u);
    EXPECT_TRUE(out == goodBytes) << "got " << out.size() << " bytes";
}

TEST_F(HttpGet, ReadsABodyLargerThanTheReadBufferWhole) {
    const std::string path = runPath("/large/patch.zip");
    std::vector<unsigned char> large(3 * 1024 * 1024 + 17);
    std::uint32_t x = 7;
    for (unsigned char& b : large) {
        x = x * 1103515245u + 12345u;
        b = static_cast<unsigned char>(x >> 24);
    }
    ASSERT_TRUE(serveFile(path, large));
    ASSERT_TRUE(setRoutes("{}"));

    std::vector<unsigned char> out;
    EXPECT_TRUE(httpGet(httpsUrl(path), out, 4));
    EXPECT_TRUE(out == large) << "got " << out.size() << " bytes";
}

TEST_F(HttpGet, UnusableUrlsAndAttemptCountsFailWithoutNetworkOrPause) {
    const std::string path = runPath("/never/checkpatch.txt");
    ASSERT_TRUE(setRoutes("{" + jsonString(path) + ": {\"body\": \"x\"}}"));
    const std::size_t before = loggedRequestCount();
    const std::string port = std::to_string(originPorts().https);

    struct Case {
        std::string url;
        int attempts;
    };
    const std::vector<Case> cases = {
        {"ftp://localhost:" + port + path, 4},
        {"file:///C:/windows/win.ini", 4},
        {"localhost:" + port + path, 4},
        {"//localhost:" + port + path, 4},
        {"", 4},
        {"https://localhost:" + port, 4},
        {httpsUrl(path), 0},
        {httpsUrl(path), -1},
    };
    for (const Case& c : cases) {
        std::vector<unsigned char> out;
        const std::uint64_t start = nowMs();
        EXPECT_FALSE(httpGet(c.url, out, c.attempts)) << c.url << " " << c.attempts;
        EXPECT_LT(nowMs() - start, 300u) << c.url << " " << c.attempts;
    }
    EXPECT_EQ(loggedRequestCount(), before);
}

TEST_F(HttpGet, ACertificateFromAnUntrustedAuthorityFails) {
    const std::string path = runPath("/untrusted/checkpatch.txt");
    ASSERT_TRUE(setRoutes("{" + jsonString(path) + ": {\"body\": \"kova;9\"}}"));

    std::vector<unsigned char> out;
    const std::uint64_t start = nowMs();
    EXPECT_FALSE(httpGet(untrustedUrl(path), out, 2));
    // A TLS failure is a failed send: it pauses like any other.
    EXPECT_GE(nowMs() - start, 950u);
    EXPECT_TRUE(loggedRequests(path).empty());
}

}  // namespace
