// Typing a fader's gain: what a text stands for, and the editor over the gain caption sending
// what the same movement of the fader would send.

#include "faders/DbEditor.h"
#include "faders/DbEntry.h"
#include "faders/FaderPanel.h"
#include "faders/GainScale.h"
#include "support/Controls.h"
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
#include <memory>

using TestSupport::Find;

namespace {

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

class DbEntryTest : public QObject {
    Q_OBJECT

    std::unique_ptr<SwitcherTables> tables;
    std::unique_ptr<FaderPanel> form;
    QList<QByteArray> sent;

    QSlider *fader(int i) { return Find<QSlider>(form.get(), "sliGain", i); }
    QLabel *caption(int i) { return Find<QLabel>(form.get(), "lblGain", i); }
    DbEditor *editor(int i) { return Find<DbEditor>(form.get(), "txtGainEntry", i); }

  private slots:
    void init() {
        QLocale::setDefault(QLocale::c());
        tables = std::make_unique<SwitcherTables>();
        form = std::make_unique<FaderPanel>(*tables);
        Find<QTimer>(form.get(), "tmrGain")->stop(); // the start-up refresh would race
        connect(form.get(), &FaderPanel::sendRequested, this,
                [this](const QByteArray &m) { sent << m; });
        sent.clear();
        form->show();
        QTRY_VERIFY(form->isActiveWindow());
    }
    void cleanup() {
        form.reset();
        QLocale::setDefault(QLocale::c());
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
        row("six", false, 0);
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
        row("input 0", {"0", false, 1, 0, 0}, 1024, "E3020101000000 0008 0CFF");
        row("output +3,0 stereo", {"+3,0", true, 3, 4, 0, "stereo"}, 1054,
            "E3020302000400 1E08 1E08 57FF");
        row("dsp -10 dB", {"-10 dB", false, 10, 2, 0}, 924, "E3020A01000000 1C070200 32FF");
        row("+30 goes to the top", {"+30", false, 3, 1, 0}, 1264, "E3020301000100 7009 00FF");
        row("tie above 0 dB is quieter", {"0.05", false, 1, 0, 0}, 1024,
            "E3020101000000 0008 0CFF");
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
        Settings settings;
        settings.iType = qint16(typed.type);
        settings.iChan[0] = qint16(typed.chan);
        settings.iOutChan = qint16(typed.outChan);
        form->setSettings(settings);
        tables->udtInGain[typed.chan].iSource = qint16(typed.reported);
        Find<QCheckBox>(form.get(), "chkStereo", 0)->setChecked(typed.box == "stereo");
        Find<QCheckBox>(form.get(), "chkLock")->setChecked(typed.box == "lock");
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
            QCOMPARE(Find<QTimer>(form.get(), "tmrGain")->interval(),
                     typed.box == "lock" ? 200 : 100);
        }
        QCOMPARE(fader(1)->value() == -gain, typed.box == "lock");
    }

    // Enter on the fader opens the editor too. Escape and leaving cancel; text that is no gain
    // (or a held Enter) keeps it open with a hint. Nothing is sent until a gain is taken.
    void cancelAndReject() {
        tables->udtInGain[0].iSource = 1024;
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
        auto *zeroDb = Find<QPushButton>(form.get(), "cmdZerodb", 1);
        zeroDb->setFocus(Qt::TabFocusReason);
        QVERIFY(!editor(0)->isVisible());
        QVERIFY(zeroDb->hasFocus());
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

QTEST_MAIN(DbEntryTest)
#include "test_dbentry.moc"
