#include "process/prompt.h"

// Placeholder until running game control lands: nothing is ever found running.
int promptCloseRunningGame(const GameEntry&) {
    return 0;
}
