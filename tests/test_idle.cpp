// An idle panel costs nothing: once start-up has settled, no timer runs and the event loop
// sleeps until something happens, also while half a message waits for the rest.

#include "app/frmMain.h"
#include "support/Controls.h"
#include "support/PanelPeer.h"

#include <QAbstractEventDispatcher>
#include <QEventLoop>
#include <QTimer>
#include <QtTest>
#include <sys/resource.h>

namespace {

constexpr int kIdleMs = 2000;
// A 1 ms timer left running would wake the loop about 2000 times in kIdleMs; a settled panel
// is woken by nothing but the timer that ends the measurement.
constexpr int kMaxWakeUps = 5;
// A 1 ms timer costs several tens of ms of CPU over kIdleMs; allow for scheduler noise on a
// busy machine, far below that.
constexpr qint64 kMaxCpuUs = 20000;

qint64 CpuUs() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return qint64(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000000 +
           usage.ru_utime.tv_usec + usage.ru_stime.tv_usec;
}

QByteArray Hex(const char *text) {
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

} // namespace

class IdleTest : public QObject {
    Q_OBJECT

  private slots:
    void settledPanelSleeps_data() {
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<int>("pending");
        QTest::newRow("nothing pending") << QByteArray() << 0;
        QTest::newRow("half a gain report") << Hex("E3 00 01") << 3;
    }

    void settledPanelSleeps() {
        QFETCH(QByteArray, sent);
        QFETCH(int, pending);
        TestSupport::PanelPeer link;
        QVERIFY2(link.start(), "the panel did not connect to the local switcher");
        if (!sent.isEmpty()) {
            link.peer->write(sent);
            QVERIFY(link.peer->waitForBytesWritten(1000));
        }
        // Start-up settles: the start-up refresh has run, the bytes have arrived, and the
        // decode timer stopped at the incomplete message instead of retrying it.
        auto *tmrGain = TestSupport::Find<QTimer>(link.window.get(), "tmrGain");
        auto *tmrDecode = TestSupport::Find<QTimer>(link.window.get(), "tmrDecode");
        QTRY_VERIFY(!tmrGain->isActive());
        QTRY_COMPARE(link.link().sBuffer().size(), qsizetype(pending));
        QTRY_VERIFY(!tmrDecode->isActive());

        int wakeUps = 0;
        int decodeTicks = 0;
        QAbstractEventDispatcher *dispatcher = QAbstractEventDispatcher::instance();
        const auto countWake =
            connect(dispatcher, &QAbstractEventDispatcher::awake, this, [&] { ++wakeUps; });
        const auto countTick = connect(tmrDecode, &QTimer::timeout, this, [&] { ++decodeTicks; });
        const qint64 cpuBefore = CpuUs();
        QEventLoop idle;
        QTimer::singleShot(kIdleMs, &idle, &QEventLoop::quit);
        idle.exec();
        const qint64 cpuUs = CpuUs() - cpuBefore;
        disconnect(countWake);
        disconnect(countTick);

        qInfo("idle %d ms: %d wake-ups, %lld us CPU", kIdleMs, wakeUps, cpuUs);
        QCOMPARE(decodeTicks, 0);
        QVERIFY2(wakeUps <= kMaxWakeUps, qPrintable(QString::number(wakeUps)));
        QVERIFY2(cpuUs < kMaxCpuUs, qPrintable(QString::number(cpuUs)));
        QVERIFY(!tmrGain->isActive());
        QVERIFY(!tmrDecode->isActive());
        QCOMPARE(link.link().sBuffer().size(), qsizetype(pending));
    }
};

QTEST_MAIN(IdleTest)
#include "test_idle.moc"
