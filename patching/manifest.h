// The publisher's patch manifest: lines of key;number, one patch number per game.
#pragma once

#include <cstdint>
#include <string>

struct ManifestMatch {
    bool found = false;        // a valid line carries the game's id
    std::int32_t number = 0;   // that line's patch number
};

// The first valid line whose key (trimmed, lower-cased) equals gameId decides.
ManifestMatch findManifestNumber(const std::string& body, const std::string& gameId);

// Any difference counts, a lower manifest number included.
bool isPatchDue(const ManifestMatch& match, std::int32_t localNumber);
