#pragma once

// Names of the notifications that the platform backend posts when the system reports an event,
// grouped by the centre they are posted on. Components observe these names; the backend (or the
// simulated desktop) is the only poster. None carries an object unless stated.

namespace tovalo {

namespace SystemNotification {

// Default centre.

// The application became the active (frontmost) application.
inline constexpr const char* applicationDidBecomeActive = "applicationDidBecomeActive";
// The user changed the system locale or language.
inline constexpr const char* currentLocaleDidChange = "currentLocaleDidChange";

// Workspace centre.

// The user switched to another session (fast user switching) and back.
inline constexpr const char* sessionDidResignActive = "sessionDidResignActive";
inline constexpr const char* sessionDidBecomeActive = "sessionDidBecomeActive";
// The machine is about to sleep, and woke up.
inline constexpr const char* willSleep = "willSleep";
inline constexpr const char* didWake = "didWake";
// The active virtual desktop changed.
inline constexpr const char* activeSpaceDidChange = "activeSpaceDidChange";
// Another application quit; user information carries its process identifier under
// `processIdentifierKey` (integer).
inline constexpr const char* didTerminateApplication = "didTerminateApplication";
inline constexpr const char* processIdentifierKey = "processIdentifier";

// Distributed centre.

// The desktop switched between its light and dark appearance.
inline constexpr const char* interfaceThemeChanged = "AppleInterfaceThemeChangedNotification";
// The screen was locked and unlocked.
inline constexpr const char* screenIsLocked = "com.apple.screenIsLocked";
inline constexpr const char* screenIsUnlocked = "com.apple.screenIsUnlocked";
// The window overview (all windows spread out) was shown and dismissed.
inline constexpr const char* windowOverviewShown = "com.apple.expose.awake";
inline constexpr const char* windowOverviewDismissed = "com.apple.expose.dismiss";

}  // namespace SystemNotification

}  // namespace tovalo
