// The faders: the gain scale and its captions, what each user step sends, the refresh after
// reports, UpdateGain, and typing a gain: what a text stands for, and the editor over the gain
// caption sending what the same movement of the fader would send.

#include "faders/DbEditor.h"
#include "faders/DbEntry.h"
#include "faders/GainScale.h"
#include "support/Controls.h"
#include "support/FaderRig.h"
#include "support/ProtocolFakes.h"

#include <QCheckBox>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <QtTest>
#include <cmath>
#include <limits>

namespace {

// One-entry input-gain command for channel 0 (the literal rows below check the checksum).
QByteArray input0(int g) {
    return ProtocolFakes::Frame("E3", ProtocolFakes::Hex("02 01 01 00 00 00") + char(g & 0x7F) +
                                          char(g >> 7));
}

// A fader step: the panel's settings, the fader moved, its new gain and the box checked
// ("stereo" on that fader, or "lock").
struct Step {
    int type, f, chan, outChan, gain;
    QByteArray box = {};
};

// Integer reference for the dB text of gains whose tenths are exact: sign, whole dB, and a
// tenth only when it is not zero.
QString referenceDbText(int g) {
    if (g <= 24)
        return QStringLiteral("Off");
    const int tenths = g - 1024;
    const int magnitude = std::abs(tenths);
    QString number = QString::number(magnitude / 10);
    if (magnitude % 10 != 0)
        number += QLatin1Char('.') + QString::number(magnitude % 10);
    const QString sign = tenths > 0 ? QStringLiteral("+") : tenths < 0 ? QStringLiteral("-") : "";
    return sign + number + QStringLiteral("db");
}

const QLocale kGerman(QLocale::German, QLocale::Germany);

// A typed gain: the panel's settings, the box checked on fader 0 ("stereo" or "lock") and the
// gain the switcher reported for fader 0's channel.
struct Typed {
    QString text;
    bool german;
    int type, chan, outChan;
    QByteArray box = {};
    int reported = 0;
};

} // namespace

using TestSupport::Find;

class FaderTest : public QObject {
    Q_OBJECT

    TestSupport::FaderRig rig;
    FaderView *form = nullptr;
    FaderController *controller = nullptr;
    Settings settings;
    QList<QByteArray> &sent = rig.sent;

    QSlider *fader(int i) { return Find<QSlider>(form, "sliGain", i); }
    QLabel *caption(int i) { return Find<QLabel>(form, "lblGain", i); }
    QCheckBox *stereo(int i) { return Find<QCheckBox>(form, "chkStereo", i); }
    QCheckBox *lock() { return Find<QCheckBox>(form, "chkLock"); }
    QPushButton *zeroDb(int i) { return Find<QPushButton>(form, "cmdZerodb", i); }
    QTimer *tmrGain() { return rig.tmrGain(); }
    DbEditor *editor(int i) { return Find<DbEditor>(form, "txtGainEntry", i); }
    void reportInput(int channel, int g) { rig.reportInput(channel, g); }
    void use(int type, std::array<qint16, 2> chan, int outChan) {
        settings.iType = qint16(type);
        settings.iChan = chan;
        settings.iOutChan = qint16(outChan);
        controller->setSettings(settings);
        controller->ShowStereoAndLock();
    }

  private slots:
    void init() {
        QLocale::setDefault(QLocale::c());
        settings = Settings{};
        QVERIFY(rig.start());
        form = rig.view.get();
        controller = rig.controller.get();
        controller->setSettings(settings);
        form->show();
        QTRY_VERIFY(form->isActiveWindow());
    }
    void cleanup() {
        rig.controller.reset();
        rig.view.reset();
        QLocale::setDefault(QLocale::c());
    }

    // The worked examples through the fader handler, all commands of a step joined (bytes
    // grouped as header, gain entries, checksum and end). Channels and kinds that 7-bit bytes
    // cannot carry send nothing; the caption still follows.
    void commandBytes_data() {
        QTest::addColumn<Step>("step");
        QTest::addColumn<QByteArray>("bytes");
        const auto row = [](const char *name, const Step &step, const char *hex) {
            QTest::newRow(name) << step << ProtocolFakes::Hex(hex);
        };
        row("input 0 dB", {1, 0, 0, 0, 1024}, "E3020101000000 0008 0CFF");
        row("output +3 stereo", {3, 0, 4, 0, 1054, "stereo"}, "E3020302000400 1E08 1E08 57FF");
        row("dsp -10", {10, 0, 2, 0, 924}, "E3020A01000000 1C070200 32FF");
        row("output top", {3, 0, 1, 0, 1264}, "E3020301000100 7009 00FF");
        row("input stereo fader 1", {1, 1, 5, 0, 1100, "stereo"}, "E3020102000500 4C08 4C08 32FF");
        row("dsp stereo repeats", {10, 1, 2, 7, 924, "stereo"},
            "E3020A02000700 1C070200 1C070200 5FFF");
        row("lock sends both, the other's even if reported", {1, 0, 0, 0, 1025, "lock"},
            "E3020101000000 0108 0DFF E3020101000100 0108 0EFF");
        row("hidden lock still links dsp", {10, 1, 3, 1, 924, "lock"},
            "E3020A01000100 1C070300 34FF E3020A01000100 1C070000 31FF");
        row("hand-edited kind 7", {7, 0, 0, 0, 1100}, "E3020701000000 4C08 5EFF");
        row("channel beyond the tables", {1, 0, 2000, 0, 1100}, "E302010100500F 4C08 37FF");
        row("negative channel", {1, 0, -1, 0, 1100}, "");
        row("channel past 14 bits", {3, 0, 16384, 0, 1100}, "");
        row("dsp negative output", {10, 0, 0, -5, 1100}, "");
        row("kind past 7 bits", {138, 0, 0, 0, 1100}, "");
        row("negative kind", {-1, 0, 0, 0, 1100}, "");
    }
    void commandBytes() {
        QFETCH(Step, step);
        QFETCH(QByteArray, bytes);
        const int f = step.f;
        std::array<qint16, 2> chan = settings.iChan;
        chan[f] = qint16(step.chan);
        use(step.type, chan, step.outChan);
        for (QCheckBox *box : {lock(), stereo(0), stereo(1)}) // only DSP gains hide them
            QCOMPARE(box->isVisibleTo(form), step.type != 10);
        reportInput(chan[1 - f], step.gain); // the other fader's channel
        stereo(f)->setChecked(step.box == "stereo");
        const bool locked = step.box == "lock";
        lock()->setChecked(locked);
        fader(f)->setValue(-step.gain);
        controller->sliGain_Scroll(f, qint16(step.gain));
        QCOMPARE(sent.join(), bytes);
        const QString caption = GainScale::GainCaption(qint16(step.gain));
        for (int i = 0; i < 2; ++i) {
            if (i != f && !locked)
                continue;
            QCOMPARE(fader(i)->value(), -step.gain);
            QCOMPARE(this->caption(i)->text(), caption);
            QCOMPARE(fader(i)->accessibleName(), QStringLiteral("Fader %1, ").arg(i + 1) + caption);
        }
        QVERIFY(tmrGain()->isActive());
        QCOMPARE(tmrGain()->interval(), locked ? 200 : 100);
    }

    // Each key step sends one command: arrows and page keys on press, Home and End on the real
    // release (a held key repeats as release/press pairs, and those releases send nothing).
    // Page Up's command, as the switcher receives it, is test_e2e's.
    void keys_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("gain");
        QTest::newRow("up is louder") << int(Qt::Key_Up) << 1024 << 1025;
        QTest::newRow("down is quieter") << int(Qt::Key_Down) << 1024 << 1023;
        QTest::newRow("page down") << int(Qt::Key_PageDown) << 1024 << 1019;
        QTest::newRow("up at the top sends nothing") << int(Qt::Key_Up) << 1264 << 1264;
        QTest::newRow("home goes to the top") << int(Qt::Key_Home) << 1024 << 1264;
        QTest::newRow("end goes to the bottom") << int(Qt::Key_End) << 1024 << 24;
    }
    void keys() {
        QFETCH(int, key);
        QFETCH(int, from);
        QFETCH(int, gain);
        QCOMPARE(fader(0)->tickInterval(), 50);
        reportInput(0, 1024);
        fader(0)->setValue(-from);
        const QList<QByteArray> none, expected = gain == from ? none : QList{input0(gain)};
        const bool onRelease = key == Qt::Key_Home || key == Qt::Key_End;
        QTest::keyPress(fader(0), Qt::Key(key));
        QCOMPARE(fader(0)->value(), -gain);
        QKeyEvent repeat(QEvent::KeyRelease, key, Qt::NoModifier, QString(), true);
        QApplication::sendEvent(fader(0), &repeat);
        QCOMPARE(sent, onRelease ? none : expected);
        QTest::keyRelease(fader(0), Qt::Key(key));
        QCOMPARE(sent, expected);
    }

    // One command per user step of the mouse, and down is quieter. The fader starts in the
    // middle of its scale, where the thumb sits at the widget's centre.
    void mouseSteps_data() {
        QTest::addColumn<int>("how"); // 0 wheel up, 1 click on the track below, 2 drag down
        QTest::addColumn<int>("commands");
        QTest::newRow("wheel up") << 0 << 1;
        QTest::newRow("track click") << 1 << 1;
        QTest::newRow("drag, three moves") << 2 << 3;
    }
    void mouseSteps() {
        QFETCH(int, how);
        QFETCH(int, commands);
        QSlider *s = fader(0);
        reportInput(0, 644);
        s->setValue(-644);
        QPoint pos = s->rect().center();
        if (how == 0) {
            QWheelEvent wheel(pos, s->mapToGlobal(pos), QPoint(), QPoint(0, 120), Qt::NoButton,
                              Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(s, &wheel);
        } else if (how == 1) {
            QTest::mouseClick(s, Qt::LeftButton, {}, QPoint(pos.x(), s->height() - 3));
        } else {
            QTest::mousePress(s, Qt::LeftButton, {}, pos);
            QVERIFY(sent.isEmpty()); // grabbing the thumb is not a step
            for (int step = 0; step < 3; ++step)
                QTest::mouseMove(s, pos += QPoint(0, 10));
            QTest::mouseRelease(s, Qt::LeftButton, {}, pos);
        }
        QCOMPARE(sent.size(), commands);
        QCOMPARE(s->value() < -644, how == 0);
        QVERIFY(s->value() != -644);
        QCOMPARE(sent.last(), input0(-s->value()));
    }

    // A ceiling of -6 dB (964) on fader 0 holds every hand step before a command is built, and
    // the thumb stays where the command puts it. A fader the switcher has above its ceiling is
    // never pulled down by a step that asks for more.
    void ceilingHoldsHandSteps_data() {
        QTest::addColumn<int>("reported");
        QTest::addColumn<int>("key"); // a key pressed on fader 0, or 0 for a typed +24 dB
        QTest::addColumn<QList<int>>("sent");
        QTest::newRow("up onto the ceiling") << 963 << int(Qt::Key_Up) << QList<int>{964};
        QTest::newRow("page up past it") << 962 << int(Qt::Key_PageUp) << QList<int>{964};
        QTest::newRow("home") << 700 << int(Qt::Key_Home) << QList<int>{964};
        QTest::newRow("typed +24 dB") << 700 << 0 << QList<int>{964};
        QTest::newRow("at the ceiling, up") << 964 << int(Qt::Key_Up) << QList<int>{};
        QTest::newRow("reported above it, up") << 1100 << int(Qt::Key_Up) << QList<int>{};
        // A step down from above the ceiling may only land on it.
        QTest::newRow("reported above it, down") << 1100 << int(Qt::Key_Down) << QList<int>{964};
    }
    void ceilingHoldsHandSteps() {
        QFETCH(int, reported);
        QFETCH(int, key);
        QFETCH(QList<int>, sent);
        controller->setCeiling(0, qint16(964));
        reportInput(0, reported);
        fader(0)->setValue(-reported);
        if (key != 0)
            QTest::keyClick(fader(0), Qt::Key(key));
        else
            controller->moveAsUser(0, 1264);
        QList<QByteArray> expected;
        for (int g : sent)
            expected << input0(g);
        QCOMPARE(this->sent, expected);
        QCOMPARE(fader(0)->value(), -(sent.isEmpty() ? reported : sent.last()));
    }

    void zeroDbButton() {
        reportInput(0, 1024);
        fader(0)->setValue(-1100);
        QTest::mouseClick(zeroDb(0), Qt::LeftButton);
        // Already reported: nothing sent, the refresh timer not started.
        QCOMPARE(fader(0)->value(), -1024);
        QVERIFY(sent.isEmpty());
        QVERIFY(!tmrGain()->isActive());
        QTRY_VERIFY(fader(0)->hasFocus());

        zeroDb(0)->setFocus();
        reportInput(0, 1100);
        zeroDb(0)->click();
        QCOMPARE(sent, QList<QByteArray>{input0(1024)});
        QCOMPARE(caption(0)->text(), QStringLiteral("Gain (0db)"));
        QVERIFY(fader(0)->hasFocus());
    }

    void stereoAndLockExcludeEachOther() {
        lock()->setChecked(true);
        stereo(1)->click();
        QVERIFY(!lock()->isChecked());
        QVERIFY(!lock()->isEnabled());
        stereo(0)->click();
        stereo(1)->click();
        QVERIFY(!lock()->isEnabled()); // Stereo 0 still on
        stereo(0)->click();
        QVERIFY(lock()->isEnabled());
        QVERIFY(!lock()->isChecked());
    }

    void refreshTimer() {
        reportInput(0, 1024);
        fader(0)->setValue(-1024);
        QTest::keyClick(fader(0), Qt::Key_Down);
        QTest::qWait(60);
        QTest::keyClick(fader(0), Qt::Key_Down); // restarts the count
        QVERIFY(tmrGain()->remainingTime() > 60);
        // The switcher never confirmed: the fader falls back to the reported gain.
        QTRY_VERIFY_WITH_TIMEOUT(!tmrGain()->isActive(), 2000);
        QCOMPARE(tmrGain()->interval(), 10);
        QCOMPARE(fader(0)->value(), -1024);
    }

    // Reported gains of 0 (never reported, unknown type, channels outside the tables) read Off
    // with the fader at the bottom; gains past the scale put it at the nearest end. Nothing is
    // echoed to the switcher.
    void updateGainShowsReports_data() {
        QTest::addColumn<QList<int>>("panel"); // type, the faders' channels, output channel
        QTest::addColumn<QList<int>>("gains"); // shown on the two faders
        QTest::newRow("input") << QList{1, 2, 1, 4} << QList{1054, 2024};
        QTest::newRow("output, fader 1 never reported") << QList{3, 2, 1, 4} << QList{500, 0};
        QTest::newRow("dsp, last match wins") << QList{10, 2, 1, 4} << QList{1000, 800};
        QTest::newRow("hand-edited type") << QList{7, 2, 1, 4} << QList{0, 0};
        QTest::newRow("negative channel") << QList{1, -3, 1, 4} << QList{0, 2024};
        QTest::newRow("channel past the tables") << QList{3, 1025, 2, 4} << QList{0, 500};
        QTest::newRow("dsp output past the tables") << QList{10, 2, 1, 1025} << QList{0, 0};
    }
    void updateGainShowsReports() {
        QFETCH(QList<int>, panel);
        QFETCH(QList<int>, gains);
        use(panel[0], {qint16(panel[1]), qint16(panel[2])}, panel[3]);
        reportInput(2, 1054);
        reportInput(1, 2024);
        rig.link.tables().udtOutGain[2].iSource = 500;
        auto &map = rig.link.tables().udtXpt[4];
        map.bCount = 255; // more than the 64 slots kept
        const int entries[][3] = {{0, 3, 900}, {10, 2, 800}, {63, 3, 1000}}; // slot, source, gain
        for (const auto &[k, source, gain] : entries) {
            map.iSources[k] = qint16(source);
            map.iGains[k] = qint16(gain);
        }
        fader(0)->setValue(-1024);
        // Even a handler run while UpdateGain moves a fader sends nothing.
        bool sawUpdating = false;
        connect(fader(0), &QSlider::valueChanged, form, [this, &sawUpdating] {
            sawUpdating = controller->updating();
            controller->sliGain_Scroll(0, 1100);
        });
        controller->UpdateGain();
        QVERIFY(sawUpdating);
        QVERIFY(!controller->updating());
        QVERIFY(sent.isEmpty());
        for (int i = 0; i < 2; ++i) {
            const QString caption = GainScale::GainCaption(qint16(gains[i]));
            QCOMPARE(this->caption(i)->text(), caption);
            QCOMPARE(fader(i)->accessibleName(), QStringLiteral("Fader %1, ").arg(i + 1) + caption);
            QCOMPARE(fader(i)->value(), -std::clamp(gains[i], 24, 1264));
        }
    }

    // After a stored report the faders follow at once while tmrGain idles; while it counts
    // (a fader is moving) it is restarted instead, with the same interval. Crosspoint maps
    // count only on a DSP panel whose output is among those stored.
    void refreshAfterReports_data() {
        QTest::addColumn<int>("type");
        QTest::addColumn<QList<int>>("map"); // first and last output stored; none: a report
        QTest::addColumn<bool>("counting");
        QTest::addColumn<QString>("effect"); // "now", "restart" or "none"
        QTest::newRow("report, idle") << 1 << QList<int>{} << false << "now";
        QTest::newRow("report, counting") << 1 << QList<int>{} << true << "restart";
        QTest::newRow("map of the output, idle") << 10 << QList{60, 64} << false << "now";
        QTest::newRow("map of the output, counting") << 10 << QList{64, 64} << true << "restart";
        QTest::newRow("map of other outputs") << 10 << QList{65, 70} << false << "none";
        QTest::newRow("map, input gains") << 1 << QList{64, 64} << false << "none";
    }
    void refreshAfterReports() {
        QFETCH(int, type);
        QFETCH(QList<int>, map);
        QFETCH(bool, counting);
        QFETCH(QString, effect);
        use(type, {0, 1}, 64);
        reportInput(0, 1054);
        auto &map64 = rig.link.tables().udtXpt[64];
        map64.bCount = 1;
        map64.iSources[0] = 1;
        map64.iGains[0] = 1054;
        fader(0)->setValue(-1024);
        if (counting) {
            tmrGain()->start(1000);
            QTest::qWait(300);
        }
        if (map.isEmpty())
            controller->gainsStored({});
        else
            controller->crosspointMapsStored(map[0], map[1]);
        QCOMPARE(fader(0)->value(), effect == "now" ? -1054 : -1024);
        QCOMPARE(tmrGain()->isActive(), counting);
        if (counting)
            QCOMPARE(tmrGain()->remainingTime() > 800, effect == "restart");
    }

    // The caption around the dB text; every gain's dB text is checked against the rule below.
    void gainCaption_data() {
        QTest::addColumn<int>("gain");
        QTest::addColumn<QString>("caption");
        QTest::newRow("+2.5") << 1049 << "Gain (+2.5db)";
        QTest::newRow("never reported") << 0 << "Gain (Off)";
        QTest::newRow("negative") << -32768 << "Gain (Off)";
        QTest::newRow("beyond the fader") << 2024 << "Gain (+100db)";
        QTest::newRow("largest field") << 16383 << "Gain (+1535.9db)";
        QTest::newRow("largest 16-bit") << 32767 << "Gain (+3174.3db)";
    }
    void gainCaption() {
        QFETCH(int, gain);
        QFETCH(QString, caption);
        QCOMPARE(GainScale::GainCaption(static_cast<qint16>(gain)), caption);
    }

    // Every 16-bit gain against the integer reference: this also rules out "+0db", "-0db",
    // exponents and stray digits from single-precision rounding.
    void everyGainFollowsTheRule() {
        for (int g = -32768; g <= 32767; ++g) {
            const QString text = GainText::DbText(static_cast<qint16>(g));
            if (text != referenceDbText(g))
                QFAIL(qPrintable(QStringLiteral("g=%1 gave %2").arg(g).arg(text)));
        }
    }

    void localeDecimalSeparatorWithoutGrouping() {
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        QCOMPARE(GainText::DbText(1025), QStringLiteral("+0,1db"));
        QCOMPARE(GainText::DbText(25), QStringLiteral("-99,9db"));
        QCOMPARE(GainText::DbText(16383), QStringLiteral("+1535,9db"));
        QCOMPARE(GainText::DbText(1264), QStringLiteral("+24db"));
    }

    void positionsAndChannels() {
        QCOMPARE(GainScale::GainOfPosition(-1264), qint16(1264));
        QCOMPARE(GainScale::GainOfPosition(-24), qint16(24));
        QCOMPARE(GainScale::GainOfPosition(-100000), qint16(32767));
        QCOMPARE(GainScale::ChanCaption(0), QStringLiteral("Ch. 1"));
        QCOMPARE(GainScale::ChanCaption(1023), QStringLiteral("Ch. 1024"));
        QCOMPARE(GainScale::ChanCaption(32767), QStringLiteral("Ch. 32768"));
    }

    // Texts and the gain value they stand for (0: no gain). Ties go to the quieter step.
    void gainOfText_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("german");
        QTest::addColumn<int>("gain");
        const auto row = [](const char *text, bool german, int gain) {
            QTest::addRow("%s%s", text, german ? " (de)" : "")
                << QString::fromUtf8(text) << german << gain;
        };
        row("-6", false, 964);
        row("  +2.5 dB ", false, 1049);
        row("-6,5", true, 959);
        row("-6.5", true, 959);
        row("\u22126", false, 964);
        row(".5", false, 1029);
        row("5.", false, 1074);
        row("-0", false, 1024);
        row("-0.15", false, 1022);
        row("0.15", false, 1025);
        row("-0.150001", false, 1022);
        row("0.1500001", false, 1026);
        row("-99.95", false, 24);
        row("-99.94", false, 25);
        row("24.05", false, 1264);
        row("-150", false, 24);
        row("99999999999999999999.9", false, 1264);
        row("OFF", false, 24);
        row("1,5", false, 0); // a group separator in C
        row("1.000,5", true, 0);
        row("", false, 0);
        row("-", false, 0);
        row(".", false, 0);
        row("db", false, 0);
        row("- 6", false, 0);
        row("1e3", false, 0);
        row("nan", false, 0);
    }
    void gainOfText() {
        QFETCH(QString, text);
        QFETCH(bool, german);
        QFETCH(int, gain);
        QCOMPARE(DbEntry::GainOfText(text, german ? kGerman : QLocale::c()).value_or(0), gain);
    }

    void gainOfDb() {
        QCOMPARE(DbEntry::GainOfDb(-0.05), std::optional<qint16>(1023));
        QCOMPARE(DbEntry::GainOfDb(-6.5), std::optional<qint16>(959));
        QCOMPARE(DbEntry::GainOfDb(1e300), std::optional<qint16>(1264));
        QVERIFY(!DbEntry::GainOfDb(std::nan("")));
        QVERIFY(!DbEntry::GainOfDb(-std::numeric_limits<double>::infinity()));
    }

    // Typed into fader 0's editor (opened by a double-click on its caption) and taken with
    // Enter: the commands that moving the fader there sends, the fader and caption moved, the
    // focus back on the fader. The worked examples come first.
    void typedGain_data() {
        QTest::addColumn<Typed>("typed");
        QTest::addColumn<int>("gain");
        QTest::addColumn<QByteArray>("bytes");
        const auto row = [](const char *name, const Typed &typed, int gain, const char *hex) {
            QTest::newRow(name) << typed << gain << ProtocolFakes::Hex(hex);
        };
        row("output +3,0 stereo", {"+3,0", true, 3, 4, 0, "stereo"}, 1054,
            "E3020302000400 1E08 1E08 57FF");
        row("lock moves both", {"-6,5", true, 1, 0, 0, "lock"}, 959,
            "E3020101000000 3F07 4AFF E3020101000100 3F07 4BFF");
        row("already reported", {"0", false, 1, 0, 0, {}, 1024}, 1024, "");
    }
    void typedGain() {
        QFETCH(Typed, typed);
        QFETCH(int, gain);
        QFETCH(QByteArray, bytes);
        if (typed.german)
            QLocale::setDefault(kGerman);
        use(typed.type, {qint16(typed.chan), settings.iChan[1]}, typed.outChan);
        reportInput(typed.chan, typed.reported);
        stereo(0)->setChecked(typed.box == "stereo");
        lock()->setChecked(typed.box == "lock");
        fader(0)->setValue(-700);
        fader(1)->setValue(-700);

        QTest::mouseDClick(caption(0), Qt::LeftButton);
        QVERIFY(editor(0)->isVisible());
        QTRY_VERIFY(editor(0)->hasFocus());
        QCOMPARE(editor(0)->selectedText(), "-32" + QLocale().decimalPoint() + '4');
        QTest::keyClicks(editor(0), typed.text);
        QTest::keyClick(editor(0), Qt::Key_Return);

        QCOMPARE(sent.join(), bytes);
        QVERIFY(!editor(0)->isVisible());
        QVERIFY(fader(0)->hasFocus());
        QCOMPARE(fader(0)->value(), -gain);
        if (!bytes.isEmpty()) {
            QCOMPARE(caption(0)->text(), GainScale::GainCaption(qint16(gain)));
            QCOMPARE(tmrGain()->interval(), typed.box == "lock" ? 200 : 100);
        }
        QCOMPARE(fader(1)->value() == -gain, typed.box == "lock");
    }

    // Enter on the fader opens the editor too. Escape and leaving cancel; text that is no gain
    // (or a held Enter) keeps it open with a hint. Nothing is sent until a gain is taken.
    void cancelAndReject() {
        reportInput(0, 1024);
        fader(0)->setValue(-1024);
        fader(0)->setFocus();
        QTRY_VERIFY(fader(0)->hasFocus());
        const auto openAndType = [this](const char *text) {
            QTest::keyClick(fader(0), Qt::Key_Return);
            QVERIFY(editor(0)->isOpen() && editor(0)->hasFocus());
            QCOMPARE(editor(0)->text(), QStringLiteral("0"));
            QTest::keyClicks(editor(0), text);
        };

        openAndType("-6");
        QTest::keyClick(editor(0), Qt::Key_Escape);
        QVERIFY(!editor(0)->isVisible());
        QVERIFY(fader(0)->hasFocus());

        openAndType("-6");
        zeroDb(1)->setFocus(Qt::TabFocusReason);
        QVERIFY(!editor(0)->isVisible());
        QVERIFY(zeroDb(1)->hasFocus());
        QCOMPARE(fader(0)->value(), -1024);
        QCOMPARE(caption(0)->text(), QStringLiteral("Gain (0db)"));

        fader(0)->setFocus();
        openAndType("-6 dbb");
        QTest::keyClick(editor(0), Qt::Key_Return);
        QVERIFY(editor(0)->isVisible() && editor(0)->showsHint());
        QCOMPARE(editor(0)->selectedText(), QStringLiteral("-6 dbb"));
        QVERIFY(editor(0)->toolTip().endsWith(DbEditor::Hint()));
        QCOMPARE(editor(0)->accessibleDescription(), editor(0)->toolTip());
        QTest::keyClicks(editor(0), "-6"); // a new attempt clears the hint
        QVERIFY(!editor(0)->showsHint());
        QKeyEvent held(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QString(), true);
        QApplication::sendEvent(editor(0), &held);
        QVERIFY(editor(0)->isOpen());
        QVERIFY(sent.isEmpty());
        QTest::keyClick(editor(0), Qt::Key_Enter);
        QCOMPARE(sent, QList<QByteArray>{ProtocolFakes::Hex("E3020101000000 4407 4FFF")});
    }
};

QTEST_MAIN(FaderTest)
#include "test_faders.moc"
