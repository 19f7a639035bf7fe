// A fader movement's command is on the wire by the time the handler returns: the switcher's
// end of the link can read it without the panel's event loop running again.

#include "app/frmMain.h"
#include "faders/FaderPanel.h"
#include "support/Controls.h"
#include "support/PanelPeer.h"

#include <QSlider>
#include <QtTest>

class LatencyTest : public QObject {
    Q_OBJECT

  private slots:
    void commandLeavesBeforeHandlerReturns() {
        TestSupport::PanelPeer link;
        QVERIFY2(link.start(), "the panel did not connect to the local switcher");
        QTRY_VERIFY(!TestSupport::Find<QTimer>(link.window.get(), "tmrGain")->isActive());
        link.peer->readAll();

        // Input gain, channel 1, moved to +7.6 dB (1100) while 0 dB is reported.
        link.link().tables().udtInGain[0].iSource = 1024;
        TestSupport::Find<QSlider>(link.window.get(), "sliGain", 0)->setValue(-1100);
        link.window->findChild<FaderPanel *>()->sliGain_Scroll(0);

        // waitForReadyRead polls only the peer's socket; the panel's events stay unprocessed,
        // so whatever arrives was written inside the handler.
        QVERIFY(link.peer->waitForReadyRead(500));
        QByteArray received = link.peer->readAll();
        while (received.size() < 11 && link.peer->waitForReadyRead(100))
            received += link.peer->readAll();
        QCOMPARE(received.toHex(' '), QByteArray("e3 02 01 01 00 00 00 4c 08 58 ff"));
    }
};

QTEST_MAIN(LatencyTest)
#include "test_latency.moc"
