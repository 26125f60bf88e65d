// The test binary doubles as another copy of the program: started with
// HelperModeVar set, its main() plays that copy instead of running the tests.
#pragma once

namespace volmar::testing {

inline constexpr const char* HelperModeVar = "VOLMAR_APP_SUPPORT_HELPER";
inline constexpr const char* HelperFolderVar = "VOLMAR_APP_SUPPORT_FOLDER";
inline constexpr const char* HelperNameVar = "VOLMAR_APP_SUPPORT_NAME";

// Modes.
// Takes the lock and exits at once, leaving the lock and socket files behind.
inline constexpr const char* HelperCrash = "crash";
// Starts as a later copy would and exits with IsFirst()'s answer.
inline constexpr const char* HelperSecond = "second";
// Takes the lock, writes "ready", and runs until asked to raise; then writes
// "raised" and exits with HelperFirst.
inline constexpr const char* HelperHold = "hold";

// Exit codes, apart from the 0 and 1 of a test run or a crash.
inline constexpr int HelperFirst = 3;
inline constexpr int HelperNotFirst = 4;

} // namespace volmar::testing
