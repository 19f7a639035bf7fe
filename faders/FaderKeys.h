#pragma once

// Keyboard behaviour of a fader that the slider widget does not give by itself: Home and End
// move the thumb on key press without counting as a user step, Enter asks for the gain to be
// typed, and every key release is reported with the key and shift codes the fader handlers
// work in.

#include <QObject>
#include <functional>

class QSlider;

namespace FaderKeys {

// Key codes and shift bits of the key-released notification.
inline constexpr int kVkPageUp = 33;
inline constexpr int kVkPageDown = 34;
inline constexpr int kVkEnd = 35;
inline constexpr int kVkHome = 36;
inline constexpr int kVkLeft = 37;
inline constexpr int kVkUp = 38;
inline constexpr int kVkRight = 39;
inline constexpr int kVkDown = 40;
inline constexpr int kShiftMask = 1;
inline constexpr int kCtrlMask = 2;
inline constexpr int kAltMask = 4;

// The key code for a Qt key: the navigation keys above, letters and digits as their upper
// case character code, 0 for every other key.
int VirtualKeyCode(int qtKey);
int ShiftState(Qt::KeyboardModifiers modifiers);

using KeyUpHandler = std::function<void(int keyCode, int shift)>;
using EnterHandler = std::function<void()>;

// Installs the behaviour on slider; the filter is owned by the slider.
void Install(QSlider *slider, KeyUpHandler onKeyUp, EnterHandler onEnter = {});

} // namespace FaderKeys
