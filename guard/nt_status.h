#pragma once
// NT statuses as the guard passes them around: signed 32-bit, negative means
// failure. Only the two that the guard makes up itself are named here.
#include <cstdint>

namespace mirrow::guard {

using NtStatus = std::int32_t;

// STATUS_NOT_IMPLEMENTED: the native suspend and resume entry points are missing.
inline constexpr NtStatus kStatusEntryPointsMissing = static_cast<NtStatus>(0xC0000002u);
// STATUS_PROCESS_IS_TERMINATING: the owner was gone before the freeze began.
inline constexpr NtStatus kStatusOwnerGone = static_cast<NtStatus>(0xC000010Au);

inline bool nt_success(NtStatus status) { return status >= 0; }

}  // namespace mirrow::guard
