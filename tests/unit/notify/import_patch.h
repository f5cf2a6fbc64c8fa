// Replaces one imported function of this test executable by its import-table slot,
// so a platform call can be observed or made to fail for one child process.
#pragma once

bool replaceImport(const char* functionName, void* replacement, void** original);
