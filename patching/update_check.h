// The launcher's main sequence after start-up: manifest, comparison, patch, launch.
#pragma once

#include <cstdint>
#include <string>

void runUpdateFlow();
