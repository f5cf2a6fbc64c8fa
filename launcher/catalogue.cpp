#include "launcher/catalogue.h"

#include "launcher/display_names.h"

// Definition order is initialisation order: the manifest URL, the catalogue, the
// install root, then the display name.
const std::string g_manifestBaseUrl = std::string(QUOLVA_DOWNLOAD_ORIGIN) + "/download/";

const std::vector<GameEntry> GameCatalogue = {
    {"kova", "com.brindlestudio.emberhollows.DesktopLauncher",
     std::string(QUOLVA_DOWNLOAD_ORIGIN) + "/gro/new/"},
    {"belu", "com.orvexa.zephyn.DesktopLauncher", std::string(QUOLVA_STORAGE_ORIGIN) + "/belu/"},
    {"stoneharbor", "com.orvexa.harborshadow.DesktopLauncher",
     std::string(QUOLVA_STORAGE_ORIGIN) + "/stoneharbor/"},
};

const std::wstring g_installRoot = L"C:\\Quolva\\";
std::wstring g_appDisplayName = kDefaultDisplayName;
std::string g_gameId = "kova";
std::wstring g_launcherPath;
std::wstring g_launcherDir;

const GameEntry* findGameEntry(const std::string& id) {
    for (const GameEntry& entry : GameCatalogue) {
        if (entry.id == id) return &entry;
    }
    return nullptr;
}
