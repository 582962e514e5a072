// Basic window-system types shared by the logic and the platform layer.
// Window handles are small process-wide numbers (0 = none) so a message posted to a
// window that has gone away is simply dropped instead of touching freed memory.
#pragma once
#include <cstdint>

namespace kestrix::platform {

using WindowHandle = uint32_t;
using WParam = uintptr_t;
using LParam = intptr_t;
using LResult = intptr_t;

constexpr WindowHandle kNoWindow = 0;

// Standard window messages (numbers as on the handheld so traces read the same).
constexpr uint32_t WM_DESTROY = 0x0002;
constexpr uint32_t WM_PAINT = 0x000F;
constexpr uint32_t WM_CLOSE = 0x0010;
constexpr uint32_t WM_COMMAND = 0x0111;
constexpr uint32_t WM_TIMER = 0x0113;
constexpr uint32_t WM_LBUTTONUP = 0x0202;
constexpr uint32_t WM_USER = 0x0400;

inline uint16_t LoWord(uintptr_t v) { return static_cast<uint16_t>(v & 0xFFFF); }
inline uint16_t HiWord(uintptr_t v) { return static_cast<uint16_t>((v >> 16) & 0xFFFF); }

}  // namespace kestrix::platform
