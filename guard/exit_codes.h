#pragma once
// The guard's exit codes; the host reads the outcome in short from them.

namespace mirrow::guard {

inline constexpr int kExitFrozenAndResumed = 0;      // also: self-test with four clean runs
inline constexpr int kExitUnexpectedFailure = 1;     // an exception escaped before the target was touched
inline constexpr int kExitBadArguments = 2;          // argument count, identity or lease
inline constexpr int kExitRefused = 3;               // classifier refusal or changed identity
inline constexpr int kExitCannotPin = 4;
inline constexpr int kExitSuspensionFailed = 5;
inline constexpr int kExitGuardRunning = 6;          // another guard holds a freeze of this target
inline constexpr int kExitNeedsRecovery = 7;         // the journal ends with a killed guard's freeze
inline constexpr int kExitFixtureNotStarted = 10;    // self-test only
inline constexpr int kExitSelfTestRunFailed = 11;    // self-test only

}  // namespace mirrow::guard
