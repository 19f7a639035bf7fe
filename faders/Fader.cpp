#include "faders/Fader.h"

#include "faders/DbEntry.h"
#include "faders/GainScale.h"

#include <QAccessibleWidget>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionSlider>

namespace {

double dbOf(qint16 gain) {
    return (gain - GainScale::kZeroDbGain) / GainText::kUnitsPerDb;
}

// The slider interface Qt would give, with the value in dB: screen readers speak it, and Qt's
// AT-SPI bridge passes on the number only, not the value's text. The gain in words ("Gain
// (-6db)") is in the accessible name, which the fader panel keeps up to date.
class FaderAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
  public:
    explicit FaderAccessible(Fader *fader) : QAccessibleWidget(fader, QAccessible::Slider) {
        addControllingSignal(QStringLiteral("valueChanged(int)"));
    }

    void *interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::ValueInterface)
            return static_cast<QAccessibleValueInterface *>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QString text(QAccessible::Text type) const override {
        if (type == QAccessible::Value)
            return GainText::DbText(fader()->gain());
        return QAccessibleWidget::text(type);
    }

    QVariant currentValue() const override { return dbOf(fader()->gain()); }
    QVariant minimumValue() const override {
        return dbOf(GainScale::GainOfPosition(fader()->maximum()));
    }
    QVariant maximumValue() const override {
        return dbOf(GainScale::GainOfPosition(fader()->minimum()));
    }
    QVariant minimumStepSize() const override {
        return fader()->singleStep() / GainText::kUnitsPerDb;
    }

    // Not QSlider::setValue, which would move the thumb without sending anything: the value
    // is handed on to be applied as a movement of the user's.
    void setCurrentValue(const QVariant &value) override {
        bool number = false;
        const double db = value.toDouble(&number);
        const auto gain = number ? DbEntry::GainOfDb(db) : std::nullopt;
        if (gain)
            emit fader()->gainRequested(*gain);
    }

  private:
    Fader *fader() const { return static_cast<Fader *>(widget()); }
};

QAccessibleInterface *faderInterface(const QString &className, QObject *object) {
    if (className == QLatin1String(Fader::staticMetaObject.className()))
        if (auto *fader = qobject_cast<Fader *>(object))
            return new FaderAccessible(fader);
    return nullptr;
}

} // namespace

Fader::Fader(QWidget *parent) : QSlider(Qt::Vertical, parent) {
    // Installing the same factory again is a no-op.
    QAccessible::installFactory(faderInterface);
}

qint16 Fader::gain() const {
    return GainScale::GainOfPosition(value());
}

void Fader::setCeiling(std::optional<qint16> ceiling) {
    if (m_ceiling == ceiling)
        return;
    m_ceiling = ceiling;
    update();
}

// The slider as the style draws it, and over it the ceiling: a short bar across the track, in
// the highlight colour, where the thumb stops.
void Fader::paintEvent(QPaintEvent *event) {
    QSlider::paintEvent(event);
    if (!m_ceiling)
        return;
    QStyleOptionSlider option;
    initStyleOption(&option);
    const QRect groove =
        style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, this);
    const QRect handle =
        style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
    const int span = groove.height() - handle.height();
    const int y =
        groove.top() + handle.height() / 2 +
        QStyle::sliderPositionFromValue(minimum(), maximum(), GainScale::PositionOfGain(*m_ceiling),
                                        span, option.upsideDown);
    QPainter painter(this);
    painter.setPen(QPen(palette().color(QPalette::Link), 2));
    painter.drawLine(2, y, width() - 3, y);
}
