#include "faders/FaderKeys.h"

#include <QEvent>
#include <QKeyEvent>
#include <QSlider>

namespace FaderKeys {

namespace {

// The fader's scale runs from its top (loudest, the lowest value) to its bottom, so its
// arrow, page and wheel controls are inverted; QAbstractSlider would invert Home and End
// along with them and, worse, count them as a user step on key press. Here Home always goes
// to the top and End to the bottom, silently: the step is taken when the key is released.
class KeyFilter : public QObject {
  public:
    KeyFilter(QSlider *slider, KeyUpHandler onKeyUp, EnterHandler onEnter)
        : QObject(slider), m_slider(slider), m_onKeyUp(std::move(onKeyUp)),
          m_onEnter(std::move(onEnter)) {}

  protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (watched != m_slider)
            return false;
        if (event->type() == QEvent::KeyPress) {
            const auto *key = static_cast<QKeyEvent *>(event);
            if (key->key() == Qt::Key_Home) {
                m_slider->setValue(m_slider->minimum());
                return true;
            }
            if (key->key() == Qt::Key_End) {
                m_slider->setValue(m_slider->maximum());
                return true;
            }
            // The slider has no use for Enter; a held one opens the editor once.
            if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && m_onEnter) {
                if (!key->isAutoRepeat())
                    m_onEnter();
                return true;
            }
        } else if (event->type() == QEvent::KeyRelease) {
            const auto *key = static_cast<QKeyEvent *>(event);
            // A held key repeats as release/press pairs; only the real release counts.
            if (!key->isAutoRepeat() && m_onKeyUp)
                m_onKeyUp(VirtualKeyCode(key->key()), ShiftState(key->modifiers()));
        }
        return false;
    }

  private:
    QSlider *m_slider;
    KeyUpHandler m_onKeyUp;
    EnterHandler m_onEnter;
};

} // namespace

int VirtualKeyCode(int qtKey) {
    switch (qtKey) {
    case Qt::Key_PageUp:
        return kVkPageUp;
    case Qt::Key_PageDown:
        return kVkPageDown;
    case Qt::Key_End:
        return kVkEnd;
    case Qt::Key_Home:
        return kVkHome;
    case Qt::Key_Left:
        return kVkLeft;
    case Qt::Key_Up:
        return kVkUp;
    case Qt::Key_Right:
        return kVkRight;
    case Qt::Key_Down:
        return kVkDown;
    default:
        break;
    }
    if ((qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) || (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z))
        return qtKey; // Qt uses the same codes for these
    return 0;
}

int ShiftState(Qt::KeyboardModifiers modifiers) {
    int shift = 0;
    if (modifiers & Qt::ShiftModifier)
        shift |= kShiftMask;
    if (modifiers & Qt::ControlModifier)
        shift |= kCtrlMask;
    if (modifiers & Qt::AltModifier)
        shift |= kAltMask;
    return shift;
}

void Install(QSlider *slider, KeyUpHandler onKeyUp, EnterHandler onEnter) {
    slider->installEventFilter(new KeyFilter(slider, std::move(onKeyUp), std::move(onEnter)));
}

} // namespace FaderKeys
