#include "launcher/launch.h"
#include "patching/update_check.h"

// Placeholder until the update check lands: straight to the launch.
void runUpdateFlow() {
    launchGame();
}
