// The steps of the close prompt, reporting how it ended; promptCloseRunningGame turns
// that into its result and the notification.
#pragma once

#include "launcher/catalogue.h"
#include "process/prompt_text.h"

CloseOutcome askAndCloseRunningCopies(const GameEntry& entry);
