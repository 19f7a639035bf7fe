// What screen readers and speech control get through Qt's accessibility interfaces: every
// control named by the words it shows, captions, fader values and counters readable, an
// event whenever a fader's gain changes, and the focus order.

#include "app/LinkIndicator.h"
#include "app/frmAbout.h"
#include "app/frmMain.h"
#include "app/frmSetup.h"
#include "app/frmSurfaces.h"
#include "support/Controls.h"
#include "support/FaderRig.h"
#include "support/PanelPeer.h"
#include "support/ProtocolFakes.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QRegularExpression>
#include <QSlider>
#include <QTabWidget>
#include <QTimer>
#include <QtTest>
#include <private/qguiapplication_p.h>
#include <qpa/qplatformaccessibility.h>
#include <qpa/qplatformintegration.h>

using TestSupport::Find;

namespace {

struct Heard {
    QAccessible::Event type;
    QObject *object;
    QString name; // at the time of the event
};
QList<Heard> heard;

void record(QAccessibleEvent *event) {
    QAccessibleInterface *iface = event->accessibleInterface();
    heard << Heard{event->type(), event->object(), iface ? iface->text(QAccessible::Name) : ""};
}

bool wasHeard(QAccessible::Event type, QObject *object, const QString &name = {}) {
    return std::any_of(heard.begin(), heard.end(), [&](const Heard &h) {
        return h.type == type && h.object == object && (name.isEmpty() || h.name == name);
    });
}

QAccessibleInterface *iface(QObject *object) {
    QAccessibleInterface *found = QAccessible::queryAccessibleInterface(object);
    if (!found)
        qFatal("no accessible interface for %s", qPrintable(object->objectName()));
    return found;
}

QString name(QObject *object) {
    return iface(object)->text(QAccessible::Name);
}

// The words a control shows on screen.
QString visibleText(const QWidget *w) {
    QString text;
    if (auto *button = qobject_cast<const QAbstractButton *>(w))
        text = button->text();
    else if (auto *label = qobject_cast<const QLabel *>(w))
        text = label->text();
    else if (auto *group = qobject_cast<const QGroupBox *>(w))
        text = group->title();
    return text.remove(QLatin1Char('&')).trimmed();
}

} // namespace

class AccessibilityTest : public QObject {
    Q_OBJECT

    TestSupport::FaderRig rig;
    FaderView *panel = nullptr;
    QList<QByteArray> &sent = rig.sent;

    QSlider *fader(int i) { return Find<QSlider>(panel, "sliGain", i); }
    void report(int channel, int gain) {
        rig.reportInput(channel, gain);
        rig.controller->gainsStored({});
    }

  private slots:
    void initTestCase() {
        // Offscreen, nothing switches accessibility on; without that no event is delivered.
        QGuiApplicationPrivate::platformIntegration()->accessibility()->setActive(true);
        QAccessible::installUpdateHandler(record);
        QVERIFY(QAccessible::isActive());
    }

    void init() {
        QLocale::setDefault(QLocale::c());
        QVERIFY(rig.start());
        panel = rig.view.get();
        heard.clear();
    }
    void cleanup() {
        rig.controller.reset();
        rig.view.reset();
    }

    // Label in Name: each control's accessible name holds the words it shows; a text field
    // holds its label's, a fader its gain caption, a menu its title. Whatever takes the focus
    // has a name.
    void namesContainVisibleText() {
        frmMain window;
        window.show();
        frmSetup setup(window.settings(), &window);
        setup.show();
        frmAbout about(QStringLiteral("Slider.ini"), &window);
        about.show();
        // The Control Surfaces window, one page at a time (a tab shows only its own controls).
        Find<QAction>(&window, "mnuSurfaces")->trigger();
        auto *surfaces = window.findChild<frmSurfaces *>();
        auto *pages = Find<QTabWidget>(surfaces, "surfacePages");
        QList<QWidget *> tops{&window, &setup, &about};
        for (int page = 0; page < pages->count(); ++page)
            tops << surfaces;
        int page = 0;
        for (QWidget *top : tops) {
            if (top == surfaces)
                pages->setCurrentIndex(page++);
            for (QWidget *w : top->findChildren<QWidget *>()) {
                if (!w->isVisibleTo(top) || w->objectName().startsWith("qt_"))
                    continue;
                QString shown = visibleText(w);
                if (qobject_cast<QSlider *>(w))
                    shown =
                        Find<QLabel>(w->parent(), "lblGain", w->objectName().back().digitValue())
                            ->text();
                // A field's label's words; the colon after them is not spoken.
                for (QLabel *label : top->findChildren<QLabel *>())
                    if (label->buddy() == w && qobject_cast<QLineEdit *>(w))
                        shown = visibleText(label).remove(QRegularExpression(":$"));
                const QString accessible = name(w);
                QVERIFY2(accessible.contains(shown),
                         qPrintable(w->objectName() + ": " + accessible + " / " + shown));
                if (w->focusPolicy() != Qt::NoFocus)
                    QVERIFY2(!accessible.isEmpty(), qPrintable(w->objectName()));
            }
        }
        QAccessibleInterface *bar = iface(window.menuBar());
        QCOMPARE(bar->childCount(), window.menuBar()->actions().size());
        for (int k = 0; k < bar->childCount(); ++k)
            QCOMPARE(bar->child(k)->text(QAccessible::Name),
                     window.menuBar()->actions()[k]->text().remove('&'));
    }

    // What the AT-SPI test of the running panel (tests/atspi) does not read: a fader's value
    // as text, its step, a fader at Off, a counter's description and the link state offline.
    // That test reads the captions, the faders' names, values and range, and the counters.
    void valuesCanBeRead() {
        rig.reportInput(0, 964);
        rig.controller->UpdateGain();
        QAccessibleInterface *f0 = iface(fader(0));
        QCOMPARE(f0->text(QAccessible::Name), QStringLiteral("Fader 1, Gain (-6db)"));
        QCOMPARE(f0->text(QAccessible::Value), QStringLiteral("-6db"));
        QCOMPARE(f0->valueInterface()->currentValue().toDouble(), -6.0);
        QCOMPARE(f0->valueInterface()->minimumStepSize().toDouble(), 0.1);
        QCOMPARE(iface(fader(1))->text(QAccessible::Value), QStringLiteral("Off"));
        QCOMPARE(iface(fader(1))->valueInterface()->currentValue().toDouble(), -100.0);

        frmMain window;
        QVERIFY(!iface(Find<QLineEdit>(&window, "txtCount", 8))
                     ->text(QAccessible::Description)
                     .isEmpty());
        QCOMPARE(iface(window.menuBar())->child(4)->text(QAccessible::Name),
                 LinkIndicator::Title(LinkState::Offline));
    }

    // A new gain raises a value change and a name change on the fader, whether the user moved
    // it or the switcher reported it; a refresh that changes nothing stays quiet.
    void changesRaiseEvents() {
        panel->show();
        report(0, 1024);
        heard.clear();
        QTest::keyClick(fader(0), Qt::Key_Down);
        QVERIFY(wasHeard(QAccessible::ValueChanged, fader(0)));
        QVERIFY(wasHeard(QAccessible::NameChanged, fader(0), "Fader 1, Gain (-0.1db)"));

        rig.tmrGain()->stop();
        heard.clear();
        report(0, 1054);
        QVERIFY(wasHeard(QAccessible::ValueChanged, fader(0)));
        QVERIFY(wasHeard(QAccessible::NameChanged, fader(0), "Fader 1, Gain (+3db)"));
        QVERIFY(wasHeard(QAccessible::NameChanged, Find<QLabel>(panel, "lblGain", 0)));
        QVERIFY(!wasHeard(QAccessible::NameChanged, fader(1)));
        QVERIFY(!wasHeard(QAccessible::ValueChanged, fader(1)));
        heard.clear();
        report(0, 1054);
        QVERIFY(!wasHeard(QAccessible::NameChanged, fader(0)));
    }

    void linkStateChangeIsAnnounced() {
        TestSupport::PanelPeer peer;
        QVERIFY(peer.open());
        QAction *state = Find<QAction>(peer.window.get(), "mnuLinkState");
        iface(peer.window->menuBar())->child(4); // as a screen reader has seen the menu bar
        heard.clear();
        QVERIFY(peer.connectPanel());
        QVERIFY(wasHeard(QAccessible::NameChanged, state, LinkIndicator::Title(LinkState::Live)));
    }

    // A value set through the accessibility interface is a movement of the user's.
    void valueSetByAssistiveTechnology() {
        QAccessibleValueInterface *value = iface(fader(0))->valueInterface();
        value->setCurrentValue(QStringLiteral("loud"));
        value->setCurrentValue(-6.5);
        QCOMPARE(sent, QList<QByteArray>{ProtocolFakes::Hex("E3020101000000 3F07 4AFF")});
        QCOMPARE(fader(0)->value(), -959);
        QCOMPARE(name(fader(0)), QStringLiteral("Fader 1, Gain (-6.5db)"));
    }

    // Tab runs down the left fader's group, then the right one's, then the row below and the
    // counters in reading order; the gain editors, hidden, are not in the way.
    void focusOrder() {
        frmMain window;
        window.show();
        QStringList order;
        QWidget *start = Find<QSlider>(&window, "sliGain", 0);
        QWidget *w = start;
        do {
            if ((w->focusPolicy() & Qt::TabFocus) && w->isVisibleTo(&window))
                order << w->objectName();
            w = w->nextInFocusChain();
        } while (w != start);
        QStringList expected{"sliGain_0",   "cmdZerodb_0", "chkStereo_0", "sliGain_1",
                             "cmdZerodb_1", "chkStereo_1", "chkLock",     "cmdClear"};
        for (int k = 0; k < frmMain::kCounters; ++k)
            expected << ControlName("txtCount", k);
        QCOMPARE(order, expected);
    }
};

QTEST_MAIN(AccessibilityTest)
#include "test_accessibility.moc"
