#include "app/Variables.h"
#include "app/frmMain.h"
#include "faders/GainScale.h"
#include "faders/SetGainCommand.h"
#include "protocol/Seams.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QStyleOptionSlider>
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
        sum = (sum + b) & 0x7F;
    }
    m.append(char(sum));
    m.append(char(0xFF));
    return m;
}

// One-entry input-gain command for channel 0.
QByteArray input0(int g) {
    return e3({0x02, 0x01, 0x01, 0x00, 0x00, 0x00, g & 0x7F, g >> 7});
}

QRect handleRect(QSlider *s) {
    QStyleOptionSlider opt;
    opt.initFrom(s);
    opt.orientation = s->orientation();
    opt.minimum = s->minimum();
    opt.maximum = s->maximum();
    opt.sliderPosition = s->sliderPosition();
    opt.sliderValue = s->value();
    opt.singleStep = s->singleStep();
    opt.pageStep = s->pageStep();
    opt.tickPosition = s->tickPosition();
    opt.tickInterval = s->tickInterval();
    opt.upsideDown = !s->invertedAppearance();
    opt.subControls = QStyle::SC_All;
    return s->style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, s);
}

void mouse(QWidget *w, QEvent::Type type, QPoint pos, Qt::MouseButtons buttons) {
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, pos, w->mapToGlobal(pos), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &event);
}

} // namespace

class FaderTest : public QObject {
    Q_OBJECT

    std::unique_ptr<frmMain> form;
    QList<QByteArray> sent;

    QSlider *fader(int i) { return form->sliGain[i]; }
    void reportInput(int channel, int g) { Variables::udtInGain[channel].iSource = qint16(g); }
    // Fader 0 at 0 dB, which the switcher has also reported.
    void atZeroDb() {
        reportInput(0, 1024);
        fader(0)->setValue(-1024);
    }

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
        for (int i = 0; i < 2; ++i) {
            QCOMPARE(fader(i)->minimum(), -1264);
            QCOMPARE(fader(i)->maximum(), -24);
            QCOMPARE(fader(i)->singleStep(), 1);
            QCOMPARE(fader(i)->pageStep(), 5);
            QCOMPARE(fader(i)->tickInterval(), 50);
            QVERIFY(!fader(i)->accessibleName().isEmpty());
        }
        // Loudest at the top.
        fader(0)->setValue(-1264);
        QVERIFY(handleRect(fader(0)).center().y() < fader(0)->height() / 4);
        fader(0)->setValue(-24);
        QVERIFY(handleRect(fader(0)).center().y() > fader(0)->height() * 3 / 4);
    }

    // The worked examples, driven through the fader handler.
    void commandBytes_data() {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("faderIndex");
        QTest::addColumn<int>("chan");
        QTest::addColumn<int>("outChan");
        QTest::addColumn<int>("gain");
        QTest::addColumn<bool>("stereo");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("input 0 dB")
            << 1 << 0 << 0 << 0 << 1024 << false << QByteArray::fromHex("E302010100000000080CFF");
        QTest::newRow("output +3 stereo") << 3 << 0 << 4 << 0 << 1054 << true
                                          << QByteArray::fromHex("E3020302000400 1E081E0857FF");
        QTest::newRow("dsp -10") << 10 << 0 << 2 << 0 << 924 << false
                                 << QByteArray::fromHex("E3020A010000001C07020032FF");
        QTest::newRow("output top")
            << 3 << 0 << 1 << 0 << 1264 << false << QByteArray::fromHex("E302030100010070 0900FF");
        QTest::newRow("input stereo fader 1") << 1 << 1 << 5 << 0 << 1100 << true
                                              << QByteArray::fromHex("E3020102000500 4C084C0832FF");
        QTest::newRow("dsp stereo repeats")
            << 10 << 1 << 2 << 7 << 924 << true
            << e3({2, 10, 2, 0, 7, 0, 0x1C, 7, 2, 0, 0x1C, 7, 2, 0});
        QTest::newRow("hand-edited kind 7")
            << 7 << 0 << 0 << 0 << 1100 << false << e3({2, 7, 1, 0, 0, 0, 0x4C, 8});
        QTest::newRow("channel beyond the tables")
            << 1 << 0 << 2000 << 0 << 1100 << false << e3({2, 1, 1, 0, 0x50, 0x0F, 0x4C, 8});
    }
    void commandBytes() {
        QFETCH(int, type);
        QFETCH(int, faderIndex);
        QFETCH(int, chan);
        QFETCH(int, outChan);
        QFETCH(int, gain);
        QFETCH(bool, stereo);
        QFETCH(QByteArray, bytes);
        Variables::iType = qint16(type);
        Variables::iChan[faderIndex] = qint16(chan);
        Variables::iOutChan = qint16(outChan);
        form->chkStereo[faderIndex]->setChecked(stereo);
        fader(faderIndex)->setValue(-gain);
        form->sliGain_Scroll(faderIndex);
        QCOMPARE(sent, QList<QByteArray>{bytes});
        QCOMPARE(form->lblGain[faderIndex]->text(), GainScale::GainCaption(qint16(gain)));
    }

    // Channels and kinds that 7-bit bytes cannot carry send nothing, and nothing breaks.
    void unsendableCommands_data() {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("chan");
        QTest::addColumn<int>("outChan");
        QTest::newRow("negative channel") << 1 << -1 << 0;
        QTest::newRow("channel past 14 bits") << 3 << 16384 << 0;
        QTest::newRow("dsp negative output") << 10 << 0 << -5;
        QTest::newRow("dsp source past 14 bits") << 10 << 20000 << 0;
        QTest::newRow("kind past 7 bits") << 138 << 0 << 0;
        QTest::newRow("negative kind") << -1 << 0 << 0;
    }
    void unsendableCommands() {
        QFETCH(int, type);
        QFETCH(int, chan);
        QFETCH(int, outChan);
        Variables::iType = qint16(type);
        Variables::iChan[0] = qint16(chan);
        Variables::iOutChan = qint16(outChan);
        fader(0)->setValue(-1100);
        form->sliGain_Scroll(0);
        QVERIFY(sent.isEmpty());
        QCOMPARE(form->lblGain[0]->text(), QStringLiteral("Gain (+7.6db)"));
        form->UpdateGain();
        QCOMPARE(form->lblGain[0]->text(), QStringLiteral("Gain (Off)"));
    }

    void noCommandCarriesAByteWithBit7() {
        for (int kind : {-1, 0, 1, 3, 10, 127, 128, 255}) {
            for (int channel : {-1, 0, 127, 128, 16383, 16384}) {
                for (int gain : {-1, 0, 24, 1264, 16383, 16384}) {
                    const auto command = SetGainCommand::Build(kind, channel, channel, gain, 2);
                    if (!command)
                        continue;
                    for (qsizetype k = 1; k < command->size() - 1; ++k)
                        QVERIFY(quint8(command->at(k)) < 0x80);
                }
            }
        }
    }

    void homeAndEndSendOnRelease() {
        atZeroDb();
        QTest::keyPress(fader(0), Qt::Key_Home);
        QCOMPARE(fader(0)->value(), -1264);
        QVERIFY(sent.isEmpty());
        QTest::keyRelease(fader(0), Qt::Key_Home);
        QCOMPARE(sent, QList<QByteArray>{QByteArray::fromHex("E302010100000070097DFF")});
        QCOMPARE(form->lblGain[0]->text(), QStringLiteral("Gain (+24db)"));
        QCOMPARE(fader(0)->accessibleDescription(), QStringLiteral("Gain (+24db)"));
        QVERIFY(form->tmrGain->isActive());
        QCOMPARE(form->tmrGain->interval(), 100);

        sent.clear();
        QTest::keyPress(fader(0), Qt::Key_End);
        QCOMPARE(fader(0)->value(), -24);
        QVERIFY(sent.isEmpty());
        // A held key repeats as release/press pairs: those releases send nothing.
        QKeyEvent repeat(QEvent::KeyRelease, Qt::Key_End, Qt::NoModifier, QString(), true);
        QApplication::sendEvent(fader(0), &repeat);
        QVERIFY(sent.isEmpty());
        QTest::keyRelease(fader(0), Qt::Key_End);
        QCOMPARE(sent, QList<QByteArray>{input0(24)});
        QCOMPARE(form->lblGain[0]->text(), QStringLiteral("Gain (Off)"));
    }

    void arrowAndPageKeys_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("gain");
        QTest::newRow("up is louder") << int(Qt::Key_Up) << 1025;
        QTest::newRow("down is quieter") << int(Qt::Key_Down) << 1023;
        QTest::newRow("page up") << int(Qt::Key_PageUp) << 1029;
        QTest::newRow("page down") << int(Qt::Key_PageDown) << 1019;
        QTest::newRow("right") << int(Qt::Key_Right) << 1025;
        QTest::newRow("left") << int(Qt::Key_Left) << 1023;
    }
    void arrowAndPageKeys() {
        QFETCH(int, key);
        QFETCH(int, gain);
        atZeroDb();
        QTest::keyPress(fader(0), Qt::Key(key));
        QCOMPARE(fader(0)->value(), -gain);
        QCOMPARE(sent, QList<QByteArray>{input0(gain)});
        QTest::keyRelease(fader(0), Qt::Key(key));
        QCOMPARE(sent.size(), 1);
    }

    void keyAtTheEndSendsNothing() {
        reportInput(0, 1024);
        fader(0)->setValue(-1264);
        QTest::keyClick(fader(0), Qt::Key_Up);
        QCOMPARE(fader(0)->value(), -1264);
        QVERIFY(sent.isEmpty());
    }

    void wheelUpIsLouder() {
        atZeroDb();
        const QPoint pos = fader(0)->rect().center();
        QWheelEvent wheel(pos, fader(0)->mapToGlobal(pos), QPoint(), QPoint(0, 120), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(fader(0), &wheel);
        QCOMPARE(sent.size(), 1);
        QVERIFY(fader(0)->value() < -1024);
        QCOMPARE(sent.first(), input0(-fader(0)->value()));
    }

    void dragSendsEachStep() {
        atZeroDb();
        QSlider *s = fader(0);
        QPoint pos = handleRect(s).center();
        mouse(s, QEvent::MouseButtonPress, pos, Qt::LeftButton);
        QVERIFY(sent.isEmpty()); // grabbing the thumb is not a step
        for (int step = 0; step < 3; ++step) {
            pos.ry() += 10;
            mouse(s, QEvent::MouseMove, pos, Qt::LeftButton);
        }
        mouse(s, QEvent::MouseButtonRelease, pos, Qt::NoButton);
        QCOMPARE(sent.size(), 3);
        QVERIFY(s->value() > -1024); // dragged down: quieter
        QCOMPARE(sent.last(), input0(-s->value()));
        QCOMPARE(form->lblGain[0]->text(),
                 QStringLiteral("Gain (%1db)").arg((-s->value() - 1024) / 10.0));
    }

    void trackClickSendsOnce() {
        atZeroDb();
        QSlider *s = fader(0);
        const QPoint below(s->width() / 2, s->height() - 3);
        QTest::mouseClick(s, Qt::LeftButton, Qt::NoModifier, below);
        QCOMPARE(sent.size(), 1);
        QVERIFY(s->value() > -1024);
        QCOMPARE(sent.first(), input0(-s->value()));
    }

    void zeroDbButton() {
        atZeroDb();
        fader(0)->setValue(-1100);
        QTRY_VERIFY(form->isActiveWindow());
        form->tmrGain->start(50);
        QTest::mouseClick(form->cmdZerodb[0], Qt::LeftButton);
        // Already reported: nothing sent, the refresh timer left as it was.
        QCOMPARE(fader(0)->value(), -1024);
        QVERIFY(sent.isEmpty());
        QCOMPARE(form->tmrGain->interval(), 50);
        QTRY_VERIFY(fader(0)->hasFocus());

        form->cmdZerodb[0]->setFocus();
        reportInput(0, 1100);
        form->cmdZerodb[0]->click();
        QCOMPARE(sent, QList<QByteArray>{input0(1024)});
        QCOMPARE(form->lblGain[0]->text(), QStringLiteral("Gain (0db)"));
        QCOMPARE(form->tmrGain->interval(), 100);
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
        QVERIFY(sent.isEmpty());
    }

    void lockMovesAndSendsBoth() {
        atZeroDb();
        reportInput(1, 1025); // fader 1's command is sent even when it matches
        form->chkLock->setChecked(true);
        QTest::keyClick(fader(0), Qt::Key_Up);
        const QList<QByteArray> expected{input0(1025),
                                         e3({0x02, 0x01, 0x01, 0x00, 0x01, 0x00, 0x01, 0x08})};
        QCOMPARE(sent, expected);
        QCOMPARE(fader(1)->value(), -1025);
        QCOMPARE(form->lblGain[1]->text(), QStringLiteral("Gain (+0.1db)"));
        QCOMPARE(fader(1)->accessibleDescription(), QStringLiteral("Gain (+0.1db)"));
        QVERIFY(form->tmrGain->isActive());
        QCOMPARE(form->tmrGain->interval(), 200);
    }

    void hiddenLockStillLinksDsp() {
        form->chkLock->setChecked(true);
        Variables::iType = Variables::kTypeDsp;
        Variables::iChan = {2, 3};
        Variables::iOutChan = 1;
        form->ShowStereoAndLock();
        QVERIFY(form->chkLock->isHidden());
        fader(1)->setValue(-924);
        form->sliGain_Scroll(1);
        const QList<QByteArray> expected{e3({2, 10, 1, 0, 1, 0, 0x1C, 7, 3, 0}),
                                         e3({2, 10, 1, 0, 1, 0, 0x1C, 7, 2, 0})};
        QCOMPARE(sent, expected);
        QCOMPARE(fader(0)->value(), -924);
    }

    void refreshTimer() {
        atZeroDb();
        QTest::keyClick(fader(0), Qt::Key_Down);
        QCOMPARE(form->tmrGain->interval(), 100);
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

    void updateGainBeforeAnyReport() {
        fader(0)->setValue(-1024);
        form->UpdateGain();
        for (int i = 0; i < 2; ++i) {
            QCOMPARE(form->lblGain[i]->text(), QStringLiteral("Gain (Off)"));
            QCOMPARE(fader(i)->accessibleDescription(), QStringLiteral("Gain (Off)"));
            QCOMPARE(fader(i)->value(), -24);
        }
        QVERIFY(!Variables::bUpdating);
        QVERIFY(sent.isEmpty());
    }

    void updateGainShowsReports_data() {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("expected0");
        QTest::addColumn<int>("expected1");
        QTest::newRow("input") << 1 << 1054 << 2024;
        QTest::newRow("output") << 3 << 500 << 0;
        QTest::newRow("dsp, last match wins") << 10 << 1000 << 800;
        QTest::newRow("hand-edited type") << 7 << 0 << 0;
    }
    void updateGainShowsReports() {
        QFETCH(int, type);
        QFETCH(int, expected0);
        QFETCH(int, expected1);
        Variables::iType = qint16(type);
        Variables::iChan = {2, 1};
        Variables::iOutChan = 4;
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
        form->UpdateGain();
        const int expected[2] = {expected0, expected1};
        for (int i = 0; i < 2; ++i) {
            QCOMPARE(form->lblGain[i]->text(), GainScale::GainCaption(qint16(expected[i])));
            QCOMPARE(fader(i)->value(), -std::clamp(expected[i], 24, 1264));
        }
        QVERIFY(sent.isEmpty());
    }

    void outOfTableChannelsReadAsOff() {
        Variables::iType = Variables::kTypeDsp;
        Variables::iChan = {0, -3};
        Variables::iOutChan = 1025;
        Variables::udtXpt[0].bCount = 1;
        Variables::udtXpt[0].iSources[0] = 1;
        Variables::udtXpt[0].iGains[0] = 1100;
        form->UpdateGain();
        QCOMPARE(form->lblGain[0]->text(), QStringLiteral("Gain (Off)"));
        Variables::iOutChan = 0;
        form->UpdateGain();
        QCOMPARE(form->lblGain[0]->text(), QStringLiteral("Gain (+7.6db)"));
        QCOMPARE(form->lblGain[1]->text(), QStringLiteral("Gain (Off)"));
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
