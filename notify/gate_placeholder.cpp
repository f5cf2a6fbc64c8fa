#include "notify/gate.h"

// Placeholder until the notification gate lands: nothing is shown.
bool showNotification(const std::wstring&, const std::wstring&, const std::wstring&,
                      const std::wstring&, const std::wstring&, const std::wstring&) {
    return false;
}
