#include "selfupdate/staging.h"

// Placeholder until the self-update lands: the launcher entry cannot be staged.
bool stageLauncherUpdate(const ZipArchive&, std::uint32_t, const std::wstring&) {
    return false;
}
