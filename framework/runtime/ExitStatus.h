#pragma once

namespace fw {

// Exit status when a failure reaches the unhandled-failure handler (EX_SOFTWARE).
constexpr int UnhandledFailureStatus = 70;
// Exit status when the toolkit cannot run at all, for instance without a display (EX_UNAVAILABLE).
constexpr int CannotStartStatus = 69;

}
