// The fixed catalogue of games and the launcher's process-wide state.
#pragma once

#include <string>
#include <vector>

struct GameEntry {
    std::string id;         // g_gameId value, manifest key, version record name
    std::string mainClass;  // Java main class; also how running copies are recognised
    std::string baseUrl;    // HTTPS folder of the game's patch.zip, ends with '/'
};

extern const std::string g_manifestBaseUrl;
extern const std::vector<GameEntry> GameCatalogue;
extern const std::wstring g_installRoot;
extern std::wstring g_appDisplayName;
extern std::string g_gameId;
extern std::wstring g_launcherPath;
extern std::wstring g_launcherDir;

// Exact comparison (same bytes, no case folding); null when no row has that id.
const GameEntry* findGameEntry(const std::string& id);

// Folder of the per-user version records, ending with a backslash. Not created here.
std::wstring versionRecordFolder();
