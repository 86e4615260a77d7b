// Window messages in the Win32 numeric convention, as hosts forward them to the debug overlay
// (ThreadedInterlacer::ProcessGuiInput), with the packing of their wParam and lParam.
#pragma once

#include <cstdint>

namespace tavo::sdk::win32 {

// Messages the overlay turns into input; any other number passes through unhandled.
inline constexpr unsigned kWmSize = 0x0005;       // lParam: MakeSizeLParam(width, height)
inline constexpr unsigned kWmKillFocus = 0x0008;  // releases every key held
inline constexpr unsigned kWmKeyDown = 0x0100;    // wParam: virtual-key code (below)
inline constexpr unsigned kWmKeyUp = 0x0101;
inline constexpr unsigned kWmChar = 0x0102;  // wParam: one UTF-16 code unit
inline constexpr unsigned kWmSysKeyDown = 0x0104;
inline constexpr unsigned kWmSysKeyUp = 0x0105;
// Mouse messages: lParam MakePointLParam(x, y), in pixels from the window's top-left corner.
inline constexpr unsigned kWmMouseMove = 0x0200;
inline constexpr unsigned kWmLButtonDown = 0x0201;
inline constexpr unsigned kWmLButtonUp = 0x0202;
inline constexpr unsigned kWmLButtonDblClk = 0x0203;
inline constexpr unsigned kWmRButtonDown = 0x0204;
inline constexpr unsigned kWmRButtonUp = 0x0205;
inline constexpr unsigned kWmRButtonDblClk = 0x0206;
inline constexpr unsigned kWmMButtonDown = 0x0207;
inline constexpr unsigned kWmMButtonUp = 0x0208;
inline constexpr unsigned kWmMButtonDblClk = 0x0209;
// wParam: MakeWheelWParam(delta); kWheelDelta per notch, positive away from the user (up) or,
// for the horizontal wheel, to the right.
inline constexpr unsigned kWmMouseWheel = 0x020A;
inline constexpr unsigned kWmMouseHWheel = 0x020E;
inline constexpr unsigned kWmMouseLeave = 0x02A3;

inline constexpr int kWheelDelta = 120;

// Virtual-key codes (wParam of the key messages). Letters and digits are their upper-case
// ASCII codes ('A' ... 'Z', '0' ... '9').
inline constexpr unsigned kVkBack = 0x08;
inline constexpr unsigned kVkTab = 0x09;
inline constexpr unsigned kVkReturn = 0x0D;
inline constexpr unsigned kVkShift = 0x10;
inline constexpr unsigned kVkControl = 0x11;
inline constexpr unsigned kVkMenu = 0x12;  // Alt
inline constexpr unsigned kVkEscape = 0x1B;
inline constexpr unsigned kVkSpace = 0x20;
inline constexpr unsigned kVkPrior = 0x21;  // Page Up
inline constexpr unsigned kVkNext = 0x22;   // Page Down
inline constexpr unsigned kVkEnd = 0x23;
inline constexpr unsigned kVkHome = 0x24;
inline constexpr unsigned kVkLeft = 0x25;
inline constexpr unsigned kVkUp = 0x26;
inline constexpr unsigned kVkRight = 0x27;
inline constexpr unsigned kVkDown = 0x28;
inline constexpr unsigned kVkInsert = 0x2D;
inline constexpr unsigned kVkDelete = 0x2E;
inline constexpr unsigned kVkLWin = 0x5B;
inline constexpr unsigned kVkRWin = 0x5C;
inline constexpr unsigned kVkF1 = 0x70;

// x in the low 16 bits and y in the next 16, each a signed 16-bit value, as Win32 packs
// positions (coordinates left of or above the window are negative).
constexpr long long MakePointLParam(int x, int y) {
    return static_cast<long long>((static_cast<uint32_t>(static_cast<uint16_t>(y)) << 16) |
                                  static_cast<uint16_t>(x));
}
constexpr int PointX(long long lParam) {
    return static_cast<int16_t>(static_cast<uint16_t>(lParam & 0xFFFF));
}
constexpr int PointY(long long lParam) {
    return static_cast<int16_t>(static_cast<uint16_t>((lParam >> 16) & 0xFFFF));
}

// Width in the low 16 bits, height in the next 16, both unsigned.
constexpr long long MakeSizeLParam(int width, int height) {
    return static_cast<long long>((static_cast<uint32_t>(static_cast<uint16_t>(height)) << 16) |
                                  static_cast<uint16_t>(width));
}
constexpr int SizeWidth(long long lParam) {
    return static_cast<uint16_t>(lParam & 0xFFFF);
}
constexpr int SizeHeight(long long lParam) {
    return static_cast<uint16_t>((lParam >> 16) & 0xFFFF);
}

// The signed wheel delta in the high word of the low 32 bits; the low word (the held mouse
// buttons and modifier keys in Win32) is not read by the overlay.
constexpr unsigned long long MakeWheelWParam(int delta) {
    return static_cast<unsigned long long>(static_cast<uint32_t>(static_cast<uint16_t>(delta))
                                           << 16);
}
constexpr int WheelDelta(unsigned long long wParam) {
    return static_cast<int16_t>(static_cast<uint16_t>((wParam >> 16) & 0xFFFF));
}

}  // namespace tavo::sdk::win32
