// The fixed texts of the application's trace checks that several of its files share.
#pragma once

inline constexpr char UNIT[] = "app";
inline constexpr char MSG_CONTROL[] = "Error accessing control";
inline constexpr char MSG_MEMORY[] = "Error allocating memory";
