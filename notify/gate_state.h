// Process-wide state of the notification gate, statically initialised and never reset.
#pragma once

#include <cstdint>
#include <mutex>

// Held from the first check of a request to the end of its delivery.
extern std::mutex g_notificationMutex;
// Set once a request has passed both limits in this process.
extern bool g_toastShownOnce;
// GetTickCount64() at the start of the last request that passed both limits.
extern std::uint64_t g_lastToastTick;
