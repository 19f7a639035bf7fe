#include "faders/FaderView.h"

#include "faders/ControlName.h"
#include "faders/DbEditor.h"
#include "faders/Fader.h"
#include "faders/GainScale.h"
#include "faders/Twips.h"

#include <QCheckBox>
#include <QEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QPalette>
#include <QPushButton>
#include <QScopedValueRollback>

using Twips::px;

namespace {

// Geometry as it was drawn, in twips; the panel stands at the top left of the window's client
// area, so these are the window's own coordinates.
constexpr int kPanelWidth = 3135;
constexpr int kFrameWidth = 1335;
constexpr int kFrameHeight = 5655;
constexpr int kFrameTop = 60;
constexpr int kFrameLeft[FaderView::kFaders] = {120, 1680};
constexpr int kSliderWidth = 630;
constexpr int kSliderHeight = 3975;
constexpr int kLockTop = 5820;
constexpr int kLockHeight = 330;

constexpr int kArrowStep = 1; // 0.1 dB
constexpr int kPageStep = 5;  // 0.5 dB
constexpr int kTickSpacing = 50;

// Screen readers and speech control find each control by the words it shows; what it is for
// goes into its description. The fader shows no words of its own: its name is its gain
// caption, so that the gain in words is heard wherever the fader is (the value of a slider
// reaches AT-SPI as a bare number).
QString faderName(int i, const QString &gainCaption) {
    return QStringLiteral("Fader %1, ").arg(i + 1) + gainCaption;
}

} // namespace

FaderView::FaderView(QWidget *parent) : QWidget(parent) {
    setObjectName(QStringLiteral("faders"));
    setGeometry(0, 0, px(kPanelWidth), px(kLockTop + kLockHeight));
    for (int i = 0; i < kFaders; ++i)
        buildFaderGroup(i);

    chkLock = new QCheckBox(QStringLiteral("Lock Faders"), this);
    chkLock->setObjectName(QStringLiteral("chkLock"));
    chkLock->setAccessibleDescription(QStringLiteral("Both faders move as one"));
    chkLock->setGeometry(px(120), px(kLockTop), px(1500), px(kLockHeight));
    connect(chkLock, &QCheckBox::clicked, this, &FaderView::lockClicked);

    for (int i = 0; i < kFaders; ++i)
        setupFader(i);
}

void FaderView::buildFaderGroup(int i) {
    const int fader = i + 1; // as the user counts
    auto *frame = new QFrame(this);
    frame->setObjectName(ControlName("frmSlider", i));
    frame->setAccessibleName(QStringLiteral("Fader %1").arg(fader));
    frame->setFrameShape(QFrame::Box);
    frame->setFrameShadow(QFrame::Sunken);
    frame->setGeometry(px(kFrameLeft[i]), px(kFrameTop), px(kFrameWidth), px(kFrameHeight));
    frmSlider[i] = frame;

    // Labels are named by their text, which screen readers then read as it changes.
    const int inner = px(kFrameWidth);
    lblChan[i] = new QLabel(QStringLiteral("Ch. 1"), frame);
    lblChan[i]->setObjectName(ControlName("lblChan", i));
    lblChan[i]->setAccessibleDescription(QStringLiteral("Fader %1 channel").arg(fader));
    lblChan[i]->setAlignment(Qt::AlignCenter);
    lblChan[i]->setGeometry(2, px(90), inner - 4, px(255));

    lblGain[i] = new QLabel(QStringLiteral("Gain (0db)"), frame);
    lblGain[i]->setObjectName(ControlName("lblGain", i));
    lblGain[i]->setAccessibleDescription(
        QStringLiteral("Fader %1 gain; double-click to type a gain").arg(fader));
    lblGain[i]->setAlignment(Qt::AlignCenter);
    // "Gain (-99.9db)" has to fit the narrow frame.
    Twips::UseDrawnFontSize(lblGain[i]);
    lblGain[i]->setGeometry(2, px(390), inner - 4, px(255));
    lblGain[i]->installEventFilter(this);

    sliGain[i] = new Fader(frame);
    sliGain[i]->setObjectName(ControlName("sliGain", i));
    sliGain[i]->setAccessibleName(faderName(i, lblGain[i]->text()));
    sliGain[i]->setGeometry((inner - px(kSliderWidth)) / 2, px(720), px(kSliderWidth),
                            px(kSliderHeight));
    lblGain[i]->setBuddy(sliGain[i]);
    connect(sliGain[i], &Fader::gainRequested, this,
            [this, i](qint16 gain) { emit gainEntered(i, gain); });

    // Over the gain caption, down to the top of the fader: a line edit needs the height.
    txtGainEntry[i] = new DbEditor(sliGain[i], frame);
    txtGainEntry[i]->setObjectName(ControlName("txtGainEntry", i));
    txtGainEntry[i]->setAccessibleName(QStringLiteral("Fader %1 gain in dB").arg(fader));
    Twips::UseDrawnFontSize(txtGainEntry[i]);
    txtGainEntry[i]->setGeometry(2, px(390), inner - 4, px(720) - px(390) - 2);
    connect(txtGainEntry[i], &DbEditor::accepted, this,
            [this, i](qint16 gain) { emit gainEntered(i, gain); });

    cmdZerodb[i] = new QPushButton(QStringLiteral("0db"), frame);
    cmdZerodb[i]->setObjectName(ControlName("cmdZerodb", i));
    cmdZerodb[i]->setAccessibleDescription(QStringLiteral("Fader %1 to 0 dB").arg(fader));
    cmdZerodb[i]->setGeometry(px(180), px(4800), px(975), px(360));
    connect(cmdZerodb[i], &QPushButton::clicked, this, [this, i] { emit zeroClicked(i); });

    chkStereo[i] = new QCheckBox(QStringLiteral("Stereo"), frame);
    chkStereo[i]->setObjectName(ControlName("chkStereo", i));
    chkStereo[i]->setAccessibleDescription(
        QStringLiteral("Fader %1 sets its channel and the next one as a pair").arg(fader));
    chkStereo[i]->setGeometry(px(180), px(5220), px(1095), px(330));
    connect(chkStereo[i], &QCheckBox::clicked, this, [this, i] { emit stereoClicked(i); });
}

// Range, steps and notifications of fader i.
void FaderView::setupFader(int i) {
    Fader *slider = sliGain[i];
    slider->setRange(GainScale::kTopPosition, GainScale::kBottomPosition);
    slider->setSingleStep(kArrowStep);
    slider->setPageStep(kPageStep);
    slider->setTickInterval(kTickSpacing);
    slider->setTickPosition(QSlider::TicksBothSides);
    // Lowest value at the top, and louder is up for the arrow and page keys and the wheel.
    slider->setInvertedAppearance(true);
    slider->setInvertedControls(true);
    slider->setValue(GainScale::kBottomPosition);
    showFaderDescription(i);
    // Styles fill the groove from the lowest value to the thumb, which on a fader whose top
    // is loudest reads upside down (a full bar at Off). Draw the groove plain.
    QPalette palette = slider->palette();
    palette.setColor(QPalette::Highlight, palette.color(QPalette::Mid));
    slider->setPalette(palette);

    // actionTriggered fires for user steps only, before the value follows the new slider
    // position. A step that does not move the thumb (a press on the thumb, an arrow key at
    // an end) is not a movement.
    connect(slider, &QAbstractSlider::actionTriggered, this, [this, slider, i](int action) {
        if (m_holding || action == QAbstractSlider::SliderNoAction ||
            slider->sliderPosition() == slider->value())
            return;
        emit stepped(i, GainScale::GainOfPosition(slider->sliderPosition()));
    });
    slider->installEventFilter(this);
}

void FaderView::showChannel(int i, qint16 channel) {
    lblChan[static_cast<std::size_t>(i)]->setText(GainScale::ChanCaption(channel));
    showFaderDescription(i);
}

// The channel the fader is bound to, and how to type a gain.
void FaderView::showFaderDescription(int i) {
    const auto k = static_cast<std::size_t>(i);
    sliGain[k]->setAccessibleDescription(lblChan[k]->text() +
                                         QStringLiteral("; press Enter to type a gain"));
}

void FaderView::showStereoAndLock(bool visible) {
    chkLock->setVisible(visible);
    for (auto *box : chkStereo)
        box->setVisible(visible);
}

bool FaderView::stereo(int i) const {
    return chkStereo[static_cast<std::size_t>(i)]->isChecked();
}

void FaderView::setStereo(int i, bool on) {
    chkStereo[static_cast<std::size_t>(i)]->setChecked(on);
}

bool FaderView::locked() const {
    return chkLock->isChecked();
}

void FaderView::setLock(bool checked, bool enabled) {
    chkLock->setChecked(checked);
    chkLock->setEnabled(enabled);
}

void FaderView::focusFader(int i) {
    sliGain[static_cast<std::size_t>(i)]->setFocus(Qt::OtherFocusReason);
}

void FaderView::openGainEntry(int i) {
    const auto k = static_cast<std::size_t>(i);
    txtGainEntry[k]->open(sliGain[k]->gain());
}

void FaderView::showGain(int i, qint16 gain) {
    showThumb(i, gain);
    showCaption(i, gain);
}

void FaderView::showThumb(int i, qint16 gain) {
    sliGain[static_cast<std::size_t>(i)]->setValue(GainScale::PositionOfGain(gain));
}

// Moving the position from inside a user step starts a step of its own; that one is the hold,
// not the user's, and must not be reported again.
void FaderView::holdThumb(int i, qint16 gain) {
    const QScopedValueRollback holding(m_holding, true);
    sliGain[static_cast<std::size_t>(i)]->setSliderPosition(GainScale::PositionOfGain(gain));
}

void FaderView::showCeiling(int i, std::optional<qint16> ceiling) {
    sliGain[static_cast<std::size_t>(i)]->setCeiling(ceiling);
}

qint16 FaderView::thumbGain(int i) const {
    return sliGain[static_cast<std::size_t>(i)]->gain();
}

// Sets the gain caption of group i and the fader's name with it. An unchanged name is not set
// again: a refresh that changes nothing must not make screen readers speak.
void FaderView::showCaption(int i, qint16 gain) {
    const auto k = static_cast<std::size_t>(i);
    const QString caption = GainScale::GainCaption(gain);
    lblGain[k]->setText(caption);
    const QString name = faderName(i, caption);
    if (sliGain[k]->accessibleName() != name)
        sliGain[k]->setAccessibleName(name);
}

bool FaderView::eventFilter(QObject *watched, QEvent *event) {
    for (int i = 0; i < kFaders; ++i) {
        const auto k = static_cast<std::size_t>(i);
        if (watched == sliGain[k])
            return faderKey(i, event);
        if (watched == lblGain[k] && event->type() == QEvent::MouseButtonDblClick) {
            openGainEntry(i);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

// The fader's scale runs from its top (loudest, the lowest value) to its bottom, so its arrow,
// page and wheel controls are inverted; QAbstractSlider would invert Home and End along with
// them and, worse, count them as a user step on key press. Here Home always goes to the top and
// End to the bottom, silently: the step is taken when the key is released. Enter, for which the
// slider has no use, opens the gain editor (a held one only once).
bool FaderView::faderKey(int i, QEvent *event) {
    Fader *slider = sliGain[static_cast<std::size_t>(i)];
    if (event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        switch (key->key()) {
        case Qt::Key_Home:
            slider->setValue(slider->minimum());
            return true;
        case Qt::Key_End:
            slider->setValue(slider->maximum());
            return true;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (!key->isAutoRepeat())
                openGainEntry(i);
            return true;
        default:
            return false;
        }
    }
    if (event->type() == QEvent::KeyRelease) {
        const auto *key = static_cast<QKeyEvent *>(event);
        // A held key repeats as release/press pairs; only the real release counts.
        if (!key->isAutoRepeat())
            emit keyReleased(i, key->key());
    }
    return false;
}
