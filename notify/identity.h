// The application identity every toast is shown under: its AppUserModelID, the
// registry key with its display name and icon, and the Start-menu shortcut.
#pragma once

#include <string>

// "Kova Ascendant" -> "VORNELLAB.KOVA" and so on for the catalogue's display names
// (exact comparison); otherwise appName, or "VORNEL LAB" when that is empty.
std::wstring chooseAppUserModelId(const std::wstring& appName, const std::wstring& gameName);

// True when gameName is one of the catalogue games' display names (exact comparison).
bool isCatalogueDisplayName(const std::wstring& gameName);

// The extension test of the identity icon: the text from the last '.' of the whole
// path, compared without regard to ASCII case with ".ico", ".exe" and ".dll".
bool hasIdentityIconExtension(const std::wstring& path);

enum class ImagePathKind {
    Empty,           // nothing to resolve
    Absolute,        // drive path (X:...) or UNC path (\\...): used as it stands
    BesideLauncher,  // anything else, a single leading backslash included
};
ImagePathKind classifyImagePath(const std::wstring& path);

// The text of a module path up to and including its last '\' or '/'; empty when it
// has neither.
std::wstring folderWithSeparator(const std::wstring& modulePath);

// File name of the identity's shortcut: gameName, or the AppUserModelID when the
// game name is empty, followed by ".lnk".
std::wstring identityShortcutName(const std::wstring& appId, const std::wstring& gameName);

#ifdef _WIN32
// The folder of the running executable, with its trailing separator.
std::wstring launcherDirectory();

// An absolute form of a notification image path: relative ones are taken beside the
// launcher executable.
std::wstring resolveBesideLauncher(const std::wstring& path);

// candidateIcon when it names an existing .ico/.exe/.dll, else the launcher's path.
std::wstring chooseIdentityIcon(const std::wstring& candidateIcon);

// Writes the invisible 1x1 icon from the executable's resources into
// %TEMP%\QuolvaToast\blank.ico; its path, or empty when it could not be written.
std::wstring writeBlankToastIcon();

// Deletes "Thông báo.lnk" and "VORNEL LAB.lnk" in programsFolder when they point at
// launcherPath (any letter case); only for a catalogue game.
void removeGenericShortcuts(const std::wstring& programsFolder, const std::wstring& launcherPath,
                            const std::wstring& gameName);

// Registers the identity (blank icon, registry key, shortcut) and sets it as the
// process's explicit AppUserModelID. Needs COM initialised on the calling thread.
void registerAppIdentity(const std::wstring& appId, const std::wstring& displayName,
                         const std::wstring& gameName, const std::wstring& identityIcon);
#endif
