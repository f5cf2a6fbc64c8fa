#include <gtest/gtest.h>

#include <string>

#include "launcher/catalogue.h"
#include "patching/http_request.h"
#include "patching/install.h"

namespace {

TEST(PatchUrl, BaseUrlWithPatchZipAppended) {
    EXPECT_EQ(patchUrlFor(*findGameEntry("kova")),
              std::string(QUOLVA_DOWNLOAD_ORIGIN) + "/gro/new/patch.zip");
    EXPECT_EQ(patchUrlFor(*findGameEntry("belu")),
              std::string(QUOLVA_STORAGE_ORIGIN) + "/belu/patch.zip");
    EXPECT_EQ(patchUrlFor(*findGameEntry("stoneharbor")),
              std::string(QUOLVA_STORAGE_ORIGIN) + "/stoneharbor/patch.zip");
    EXPECT_EQ(patchUrlFor(GameEntry{"x", "y", "https://h/p/"}), "https://h/p/patch.zip");
}

TEST(ManifestUrl, OnTheDownloadServer) {
    EXPECT_EQ(g_manifestBaseUrl + "checkpatch.txt",
              std::string(QUOLVA_DOWNLOAD_ORIGIN) + "/download/checkpatch.txt");
}

TEST(WriteProbe, BackslashOnlyWhenMissing) {
    EXPECT_EQ(writeProbePath(L"C:\\Quolva\\"), L"C:\\Quolva\\.writetest.tmp");
    EXPECT_EQ(writeProbePath(L"C:\\Quolva"), L"C:\\Quolva\\.writetest.tmp");
    EXPECT_EQ(writeProbePath(L""), L".writetest.tmp");
}

TEST(RequestTarget, PathThenQuery) {
    EXPECT_EQ(buildRequestTarget(L"/download/checkpatch.txt", L"?a=1&b=2"),
              L"/download/checkpatch.txt?a=1&b=2");
    EXPECT_EQ(buildRequestTarget(L"/gro/new/patch.zip", L""), L"/gro/new/patch.zip");
}

}  // namespace
