#include "app/Variables.h"
#include "app/frmMain.h"
#include "faders/GainScale.h"
#include "protocol/Seams.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <QtTest>
#include <memory>

namespace {

// A framed E3 message with its checksum worked out here, independently of the code.
QByteArray e3(std::initializer_list<int> body) {
    QByteArray m(1, char(0xE3));
    int sum = 0;
    for (int b : body) {
        m.append(char(b));
        sum += b;
    }
    return m + char(sum & 0x7F) + char(0xFF);
}

// One-entry input-gain command for channel 0.
QByteArray input0(int g) {
    return e3({0x02, 0x01, 0x01, 0x00, 0x00, 0x00, g & 0x7F, g >> 7});
}

} // namespace

class FaderTest : public QObject {
    Q_OBJECT

    std::unique_ptr<frmMain> form;
    QList<QByteArray> sent;

    QSlider *fader(int i) { return form->sliGain[i]; }
    void reportInput(int channel, int g) { Variables::udtInGain[channel].iSource = qint16(g); }

  private slots:
    void init() {
        Variables::ResetAll();
        TCPComm::seams() = TCPComm::Seams{};
        form = std::make_unique<frmMain>();
        form->tmrGain->stop(); // the start-up refresh would race the tests
        TCPComm::seams().send = [this](const QByteArray &m) { sent << m; };
        sent.clear();
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    }
    void cleanup() {
        form.reset();
        TCPComm::seams() = TCPComm::Seams{};
    }

    void sliderSettings() {
        for (QSlider *s : form->sliGain) {
            QCOMPARE(s->tickInterval(), 50);
            QVERIFY(!s->accessibleName().isEmpty());
        }
    }

    // The worked examples through the fader handler, all commands of a step joined. Channels
    // and kinds that 7-bit bytes cannot carry send nothing; the caption still follows.
    void commandBytes_data() {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("f"); // the fader moved
        QTest::addColumn<int>("chan");
        QTest::addColumn<int>("outChan");
        QTest::addColumn<int>("gain");
        QTest::addColumn<QString>("box"); // checked: "stereo" (of the fader) or "lock"
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("input 0 dB")
            << 1 << 0 << 0 << 0 << 1024 << "" << QByteArray::fromHex("E302010100000000080CFF");
        QTest::newRow("output +3 stereo") << 3 << 0 << 4 << 0 << 1054 << "stereo"
                                          << QByteArray::fromHex("E3020302000400 1E081E0857FF");
        QTest::newRow("dsp -10") << 10 << 0 << 2 << 0 << 924 << ""
                                 << QByteArray::fromHex("E3020A010000001C07020032FF");
        QTest::newRow("output top")
            << 3 << 0 << 1 << 0 << 1264 << "" << QByteArray::fromHex("E302030100010070 0900FF");
        QTest::newRow("input stereo fader 1") << 1 << 1 << 5 << 0 << 1100 << "stereo"
                                              << QByteArray::fromHex("E3020102000500 4C084C0832FF");
        QTest::newRow("dsp stereo repeats")
            << 10 << 1 << 2 << 7 << 924 << "stereo"
            << e3({2, 10, 2, 0, 7, 0, 0x1C, 7, 2, 0, 0x1C, 7, 2, 0});
        QTest::newRow("lock sends both, the other's even if reported")
            << 1 << 0 << 0 << 0 << 1025 << "lock"
            << input0(1025) + e3({0x02, 0x01, 0x01, 0x00, 0x01, 0x00, 0x01, 0x08});
        QTest::newRow("hidden lock still links dsp")
            << 10 << 1 << 3 << 1 << 924 << "lock"
            << e3({2, 10, 1, 0, 1, 0, 0x1C, 7, 3, 0}) + e3({2, 10, 1, 0, 1, 0, 0x1C, 7, 0, 0});
        QTest::newRow("hand-edited kind 7")
            << 7 << 0 << 0 << 0 << 1100 << "" << e3({2, 7, 1, 0, 0, 0, 0x4C, 8});
        QTest::newRow("channel beyond the tables")
            << 1 << 0 << 2000 << 0 << 1100 << "" << e3({2, 1, 1, 0, 0x50, 0x0F, 0x4C, 8});
        QTest::newRow("negative channel") << 1 << 0 << -1 << 0 << 1100 << "" << QByteArray();
        QTest::newRow("channel past 14 bits") << 3 << 0 << 16384 << 0 << 1100 << "" << QByteArray();
        QTest::newRow("dsp negative output") << 10 << 0 << 0 << -5 << 1100 << "" << QByteArray();
        QTest::newRow("kind past 7 bits") << 138 << 0 << 0 << 0 << 1100 << "" << QByteArray();
        QTest::newRow("negative kind") << -1 << 0 << 0 << 0 << 1100 << "" << QByteArray();
    }
    void commandBytes() {
        QFETCH(int, type);
        QFETCH(int, f);
        QFETCH(int, chan);
        QFETCH(int, outChan);
        QFETCH(int, gain);
        QFETCH(QString, box);
        QFETCH(QByteArray, bytes);
        Variables::iType = qint16(type);
        Variables::iChan[f] = qint16(chan);
        Variables::iOutChan = qint16(outChan);
        reportInput(Variables::iChan[1 - f], gain); // the other fader's channel
        form->chkStereo[f]->setChecked(box == "stereo");
        form->chkLock->setChecked(box == "lock");
        form->ShowStereoAndLock();
        fader(f)->setValue(-gain);
        form->sliGain_Scroll(f);
        QCOMPARE(sent.join(), bytes);
        const bool lock = box == "lock";
        const QString caption = GainScale::GainCaption(qint16(gain));
        for (int i = 0; i < 2; ++i) {
            if (i != f && !lock)
                continue;
            QCOMPARE(fader(i)->value(), -gain);
            QCOMPARE(form->lblGain[i]->text(), caption);
            QCOMPARE(fader(i)->accessibleDescription(), caption);
        }
        QVERIFY(form->tmrGain->isActive());
        QCOMPARE(form->tmrGain->interval(), lock ? 200 : 100);
    }

    // Each key step sends one command: arrows and page keys on press, Home and End on the real
    // release (a held key repeats as release/press pairs, and those releases send nothing).
    void keys_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("gain");
        QTest::newRow("up is louder") << int(Qt::Key_Up) << 1024 << 1025;
        QTest::newRow("down is quieter") << int(Qt::Key_Down) << 1024 << 1023;
        QTest::newRow("page up") << int(Qt::Key_PageUp) << 1024 << 1029;
        QTest::newRow("page down") << int(Qt::Key_PageDown) << 1024 << 1019;
        QTest::newRow("right") << int(Qt::Key_Right) << 1024 << 1025;
        QTest::newRow("left") << int(Qt::Key_Left) << 1024 << 1023;
        QTest::newRow("up at the top sends nothing") << int(Qt::Key_Up) << 1264 << 1264;
        QTest::newRow("home goes to the top") << int(Qt::Key_Home) << 1024 << 1264;
        QTest::newRow("end goes to the bottom") << int(Qt::Key_End) << 1024 << 24;
    }
    void keys() {
        QFETCH(int, key);
        QFETCH(int, from);
        QFETCH(int, gain);
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

    void zeroDbButton() {
        reportInput(0, 1024);
        fader(0)->setValue(-1100);
        QTRY_VERIFY(form->isActiveWindow());
        QTest::mouseClick(form->cmdZerodb[0], Qt::LeftButton);
        // Already reported: nothing sent, the refresh timer not started.
        QCOMPARE(fader(0)->value(), -1024);
        QVERIFY(sent.isEmpty());
        QVERIFY(!form->tmrGain->isActive());
        QTRY_VERIFY(fader(0)->hasFocus());

        form->cmdZerodb[0]->setFocus();
        reportInput(0, 1100);
        form->cmdZerodb[0]->click();
        QCOMPARE(sent, QList<QByteArray>{input0(1024)});
        QCOMPARE(form->lblGain[0]->text(), QStringLiteral("Gain (0db)"));
        QVERIFY(fader(0)->hasFocus());
    }

    void stereoAndLockExcludeEachOther() {
        form->chkLock->setChecked(true);
        form->chkStereo[1]->click();
        QVERIFY(!form->chkLock->isChecked());
        QVERIFY(!form->chkLock->isEnabled());
        form->chkStereo[0]->click();
        form->chkStereo[1]->click();
        QVERIFY(!form->chkLock->isEnabled()); // Stereo 0 still on
        form->chkStereo[0]->click();
        QVERIFY(form->chkLock->isEnabled());
        QVERIFY(!form->chkLock->isChecked());
    }

    void refreshTimer() {
        reportInput(0, 1024);
        fader(0)->setValue(-1024);
        QTest::keyClick(fader(0), Qt::Key_Down);
        QTest::qWait(60);
        QTest::keyClick(fader(0), Qt::Key_Down); // restarts the count
        QVERIFY(form->tmrGain->remainingTime() > 60);
        // The switcher never confirmed: the fader falls back to the reported gain.
        QTRY_VERIFY_WITH_TIMEOUT(!form->tmrGain->isActive(), 2000);
        QCOMPARE(form->tmrGain->interval(), 10);
        QCOMPARE(fader(0)->value(), -1024);
        QCOMPARE(form->lblGain[0]->text(), QStringLiteral("Gain (0db)"));
        QCOMPARE(sent.size(), 2);
    }

    // Reported gains of 0 (never reported, unknown type, channels outside the tables) read Off
    // with the fader at the bottom; gains past the scale put it at the nearest end.
    void updateGainShowsReports_data() {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("chan0");
        QTest::addColumn<int>("chan1");
        QTest::addColumn<int>("outChan");
        QTest::addColumn<int>("gain0");
        QTest::addColumn<int>("gain1");
        QTest::newRow("input") << 1 << 2 << 1 << 4 << 1054 << 2024;
        QTest::newRow("output, fader 1 never reported") << 3 << 2 << 1 << 4 << 500 << 0;
        QTest::newRow("dsp, last match wins") << 10 << 2 << 1 << 4 << 1000 << 800;
        QTest::newRow("hand-edited type") << 7 << 2 << 1 << 4 << 0 << 0;
        QTest::newRow("negative channel") << 1 << -3 << 1 << 4 << 0 << 2024;
        QTest::newRow("channel past the tables") << 3 << 1025 << 2 << 4 << 0 << 500;
        QTest::newRow("dsp output past the tables") << 10 << 2 << 1 << 1025 << 0 << 0;
    }
    void updateGainShowsReports() {
        QFETCH(int, type);
        QFETCH(int, chan0);
        QFETCH(int, chan1);
        QFETCH(int, outChan);
        QFETCH(int, gain0);
        QFETCH(int, gain1);
        Variables::iType = qint16(type);
        Variables::iChan = {qint16(chan0), qint16(chan1)};
        Variables::iOutChan = qint16(outChan);
        reportInput(2, 1054);
        reportInput(1, 2024);
        Variables::udtOutGain[2].iSource = 500;
        auto &map = Variables::udtXpt[4];
        map.bCount = 255; // more than the 64 slots kept
        map.iSources[0] = 3;
        map.iGains[0] = 900;
        map.iSources[10] = 2;
        map.iGains[10] = 800;
        map.iSources[63] = 3;
        map.iGains[63] = 1000;
        fader(0)->setValue(-1024);
        form->UpdateGain();
        const int expected[2] = {gain0, gain1};
        for (int i = 0; i < 2; ++i) {
            const QString caption = GainScale::GainCaption(qint16(expected[i]));
            QCOMPARE(form->lblGain[i]->text(), caption);
            QCOMPARE(fader(i)->accessibleDescription(), caption);
            QCOMPARE(fader(i)->value(), -std::clamp(expected[i], 24, 1264));
        }
    }

    // Even a handler run while UpdateGain moves a fader sends nothing.
    void noEcho() {
        reportInput(0, 1100);
        bool sawUpdating = false;
        connect(fader(0), &QSlider::valueChanged, form.get(), [this, &sawUpdating] {
            sawUpdating = Variables::bUpdating;
            form->sliGain_Scroll(0);
        });
        form->UpdateGain();
        QVERIFY(sawUpdating);
        QVERIFY(!Variables::bUpdating);
        QVERIFY(sent.isEmpty());
        QCOMPARE(fader(0)->value(), -1100);
    }
};

QTEST_MAIN(FaderTest)
#include "test_faders.moc"
