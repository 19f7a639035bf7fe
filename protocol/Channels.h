#pragma once

// How many channels (and outputs) the switcher has room for: the panel's tables, scenes and
// anything else that counts channels are indexed 0..1024.

inline constexpr int kTableSize = 1025;
inline constexpr int kMaxChannel = kTableSize - 1;
