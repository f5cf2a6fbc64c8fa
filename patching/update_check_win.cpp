#include <windows.h>

#include <string>
#include <vector>

#include "launcher/catalogue.h"
#include "launcher/launch.h"
#include "patching/http_request.h"
#include "patching/install.h"
#include "patching/manifest.h"
#include "patching/update_check.h"
#include "patching/version_record.h"
#include "process/prompt.h"

void runUpdateFlow() {
    const GameEntry* entry = findGameEntry(g_gameId);
    if (!entry) {
        launchGame();
        return;
    }

    // Without the manifest the installed version is launched as it stands.
    std::vector<unsigned char> body;
    if (httpGet(g_manifestBaseUrl + "checkpatch.txt", body, 4)) {
        const ManifestMatch match =
            findManifestNumber(std::string(body.begin(), body.end()), g_gameId);
        if (match.found && isPatchDue(match, readLocalVersion(g_gameId))) {
            if (promptCloseRunningGame(*entry) == 2) ExitProcess(0);
            installPatch(*entry, match.number);
        }
    }

    launchGame();
}
