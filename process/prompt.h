// Before a patch: find running copies of the game and ask the user to close them.
#pragma once

#include "launcher/catalogue.h"

// 0: no copy runs (none found, or all closed); 2: stop (refused, or closing failed).
int promptCloseRunningGame(const GameEntry& entry);
