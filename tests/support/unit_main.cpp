// Entry point of the unit test binaries that run under Wine. The same binary also
// serves as the child process of tests that end a process or show a message box.
#include <gtest/gtest.h>

#include "support/child.h"

int wmain(int argc, wchar_t** argv) {
    int exitCode = 0;
    if (runChildModeIfRequested(argc, argv, exitCode)) return exitCode;
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
