#pragma once
// The exit statuses: each says what state the slot was left in.

namespace ExitStatus {
inline constexpr int Loaded = 0;           // loaded, and the release confirmed
inline constexpr int SomeFailed = 1;       // several devices, at least one failed
inline constexpr int Usage = 2;
inline constexpr int FileRefused = 3;      // nothing of the file sent
inline constexpr int PortRefused = 4;      // nothing sent
inline constexpr int NoAnswer = 5;         // only polls sent
inline constexpr int NotAcknowledged = 6;  // slot name or length refused; no data sent
inline constexpr int Incomplete = 7;       // the slot holds an incomplete file
inline constexpr int NotReleased = 8;      // all data and "#File#" sent, the release not confirmed
inline constexpr int Interrupted = 130;    // SIGINT
inline constexpr int Terminated = 143;     // SIGTERM
}  // namespace ExitStatus
