// A pulled cable, for real. Loopback never loses a packet, so the panel and the simulator are
// put in two network namespaces of their own, joined by a veth pair (192.0.2.0/24, an address
// block that is never routed), and the path between them is cut with a blackhole route on
// each side: no interface goes down and nobody says goodbye, as when a cable is pulled between
// two network switches. The panel's real link must find the link dead in time, idle or with a
// command waiting for its acknowledgement, and must be back with the switcher's current state
// soon after the path returns.
//
// The host's own namespace gets no address and no route, so parallel runs (whose names carry
// the process id) never meet, and nothing leaves the pair. Without the privilege to make
// namespaces (or without iproute2) the whole test is skipped, and says why.

#include "protocol/GainRequest.h"
#include "protocol/WireFormat.h"
#include "support/EventLoop.h"
#include "support/ProtocolFakes.h"
#include "support/SimProcess.h"
#include "transport/SwitcherLink.h"

#include <QAbstractSocket>
#include <QElapsedTimer>
#include <QProcess>
#include <QTcpSocket>
#include <QtTest>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/sockios.h>
#include <memory>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

using TestSupport::spinUntil;

namespace {

constexpr char kPanelAddress[] = "192.0.2.1";
constexpr char kSwitcherAddress[] = "192.0.2.2";

// How soon the panel must find the link dead, and be back with its tables refilled.
constexpr int kFoundDeadMs = 12000;
constexpr int kBackMs = 6000;
// Waits run this much past their bound, so that a miss is measured rather than cut off.
constexpr int kMeasureSlackMs = 3000;

// Input 2, whose gain the simulator starts at -6 dB.
constexpr int kChannel = 1;
constexpr int kStartGain = 964;

// The one place the test reads what the panel took in from the switcher: the gain of an
// input channel as last reported.
qint16 ReportedInputGain(const SwitcherLink &link, int channel) {
    return link.reportedGain(WireFormat::kKindInput, channel, 0);
}

// The bytes of the panel's socket that the switcher has not acknowledged (sent or not).
int UnacknowledgedBytes(const SwitcherLink &link) {
    const auto *socket = link.findChild<const QAbstractSocket *>();
    int queued = -1;
    if (socket == nullptr || ::ioctl(int(socket->socketDescriptor()), SIOCOUTQ, &queued) != 0)
        return -1;
    return queued;
}

QByteArray SetInputGain(int channel, int gain) {
    return GainRequestCodec::Encode({WireFormat::kKindInput, channel, 0, gain, 1}).value();
}

// As the simulator's trace prints a message's bytes.
QString TraceHex(const QByteArray &message) {
    return QString::fromLatin1(message.toHex(' ').toUpper());
}

// Runs `ip args`; empty when it succeeded, else what went wrong.
QString Ip(const QStringList &args) {
    QProcess ip;
    ip.start(QStringLiteral("ip"), args);
    const QString what = QStringLiteral("ip ") + args.join(' ');
    if (!ip.waitForStarted(5000))
        return what + QStringLiteral(": ") + ip.errorString();
    if (!ip.waitForFinished(5000)) {
        ip.kill();
        ip.waitForFinished(1000);
        return what + QStringLiteral(": did not finish");
    }
    if (ip.exitStatus() != QProcess::NormalExit || ip.exitCode() != 0)
        return what + QStringLiteral(": ") +
               QString::fromLocal8Bit(ip.readAllStandardError()).trimmed();
    return {};
}

// The two namespaces and the veth pair between them. Deleting a namespace takes its end of
// the pair (and so the whole pair) and its routes with it, so the destructor leaves nothing
// behind whatever state a failed check left the cable in.
class Cable {
  public:
    explicit Cable(qint64 pid)
        : panelSide(QStringLiteral("ds-cable-p-%1").arg(pid)),
          switcherSide(QStringLiteral("ds-cable-s-%1").arg(pid)),
          m_panelEnd(QStringLiteral("dscp%1").arg(pid)),
          m_switcherEnd(QStringLiteral("dscs%1").arg(pid)) {}

    ~Cable() {
        for (const QString &name : std::as_const(m_made))
            Ip({"netns", "del", name});
    }

    // Makes the two namespaces: the step that needs the privilege. Empty, or why not.
    QString makeNamespaces() {
        for (const QString &name : {panelSide, switcherSide}) {
            if (const QString error = Ip({"netns", "add", name}); !error.isEmpty())
                return error;
            m_made.append(name);
        }
        return {};
    }

    // The veth pair, one end in each namespace, addressed and up with their loopbacks.
    QString wire() {
        const QStringList steps[] = {
            {"link", "add", m_panelEnd, "netns", panelSide, "type", "veth", "peer", "name",
             m_switcherEnd, "netns", switcherSide},
            {"-n", panelSide, "addr", "add", QStringLiteral("%1/24").arg(kPanelAddress), "dev",
             m_panelEnd},
            {"-n", switcherSide, "addr", "add", QStringLiteral("%1/24").arg(kSwitcherAddress),
             "dev", m_switcherEnd},
            {"-n", panelSide, "link", "set", "lo", "up"},
            {"-n", switcherSide, "link", "set", "lo", "up"},
            {"-n", panelSide, "link", "set", m_panelEnd, "up"},
            {"-n", switcherSide, "link", "set", m_switcherEnd, "up"},
        };
        for (const QStringList &step : steps)
            if (const QString error = Ip(step); !error.isEmpty())
                return error;
        return {};
    }

    // Each side drops whatever it would send to the other: packets vanish, interfaces stay up.
    QString cut() { return routes("add"); }
    QString restore() { return routes("del"); }
    bool isCut() const { return m_cut; }

    const QString panelSide;
    const QString switcherSide;

  private:
    QString routes(const char *verb) {
        const QStringList sides[] = {
            {"-n", panelSide, "route", verb, "blackhole",
             QStringLiteral("%1/32").arg(kSwitcherAddress)},
            {"-n", switcherSide, "route", verb, "blackhole",
             QStringLiteral("%1/32").arg(kPanelAddress)},
        };
        QStringList errors;
        for (const QStringList &side : sides)
            if (const QString error = Ip(side); !error.isEmpty())
                errors.append(error);
        m_cut = qstrcmp(verb, "add") == 0;
        return errors.join(QStringLiteral("; "));
    }

    const QString m_panelEnd;
    const QString m_switcherEnd;
    QStringList m_made;
    bool m_cut = false;
};

// Moves the calling thread into a named namespace, and back when it goes. A socket stays in
// the namespace it was made in, whichever the thread moves to afterwards.
class InNamespace {
  public:
    explicit InNamespace(const QString &name) {
        m_home = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
        const int target = ::open(QByteArray("/run/netns/" + name.toLocal8Bit()).constData(),
                                  O_RDONLY | O_CLOEXEC);
        m_entered = m_home >= 0 && target >= 0 && ::setns(target, CLONE_NEWNET) == 0;
        if (!m_entered)
            m_error = QString::fromLocal8Bit(std::strerror(errno));
        if (target >= 0)
            ::close(target);
    }
    ~InNamespace() {
        if (m_entered)
            ::setns(m_home, CLONE_NEWNET);
        if (m_home >= 0)
            ::close(m_home);
    }
    InNamespace(const InNamespace &) = delete;
    InNamespace &operator=(const InNamespace &) = delete;

    bool entered() const { return m_entered; }
    QString error() const { return m_error; }

  private:
    int m_home = -1;
    bool m_entered = false;
    QString m_error;
};

// Sets a gain from the switcher's side of the cable, as a second panel in the rack would, and
// waits for the switcher to confirm it: the switcher's state moves on while the panel under
// test cannot hear about it. Empty, or what went wrong.
QString SetGainBesideSwitcher(const QString &ns, quint16 port, int channel, int gain) {
    int fd = -1;
    {
        const InNamespace there(ns);
        if (!there.entered())
            return QStringLiteral("cannot enter %1: %2").arg(ns, there.error());
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    ::inet_pton(AF_INET, kSwitcherAddress, &to.sin_addr);
    if (fd < 0 || ::connect(fd, reinterpret_cast<const sockaddr *>(&to), sizeof to) != 0) {
        const QString why = QString::fromLocal8Bit(std::strerror(errno));
        if (fd >= 0)
            ::close(fd);
        return QStringLiteral("second panel cannot connect: ") + why;
    }
    QTcpSocket socket;
    if (!socket.setSocketDescriptor(fd)) {
        ::close(fd);
        return QStringLiteral("second panel: ") + socket.errorString();
    }
    const QByteArray command = SetInputGain(channel, gain);
    socket.write(command);
    // The greeting every connection gets, then the confirmation: the command as a report.
    const QByteArray expected =
        ProtocolFakes::Hex("81 64 64 FF") +
        ProtocolFakes::Frame("E3", QByteArray(1, '\0') + command.mid(2, command.size() - 4));
    const QByteArray got = TestSupport::ReadAtLeast(socket, expected.size(), 3000);
    if (got != expected)
        return QStringLiteral("second panel got %1, expected %2")
            .arg(TraceHex(got), TraceHex(expected));
    return {};
}

} // namespace

class CableTest : public QObject {
    Q_OBJECT

    // Declared in the order they are needed; they go in reverse: the link, the simulator, the
    // panel's namespace, the cable.
    std::unique_ptr<Cable> m_cable;
    // The simulator inside the switcher's namespace, listening on its end of the pair, with its
    // own pings off: while the panel sends nothing, only keep-alive can find the cable pulled.
    std::unique_ptr<TestSupport::SimProcess> m_switcher;
    std::unique_ptr<InNamespace> m_panelSide;
    std::unique_ptr<SwitcherLink> m_link;

    void tearDown() {
        m_link.reset();
        m_switcher.reset();
        m_panelSide.reset();
        m_cable.reset();
    }

  public:
    ~CableTest() override { tearDown(); }

  private slots:
    void initTestCase() {
        m_cable = std::make_unique<Cable>(QCoreApplication::applicationPid());
        if (const QString why = m_cable->makeNamespaces(); !why.isEmpty()) {
            m_cable.reset();
            QSKIP(qPrintable(QStringLiteral("network namespaces unavailable: ") + why));
        }
        const QString wired = m_cable->wire();
        QVERIFY2(wired.isEmpty(), qPrintable(wired));
        m_switcher = std::make_unique<TestSupport::SimProcess>();
        QVERIFY2(m_switcher->start({"--bind", kSwitcherAddress, "--ping-interval", "0"}, 5000,
                                   {"ip", "netns", "exec", m_cable->switcherSide}),
                 qPrintable(m_switcher->error()));

        // The panel's sockets are made in this thread, so it lives on the panel's side.
        m_panelSide = std::make_unique<InNamespace>(m_cable->panelSide);
        QVERIFY2(m_panelSide->entered(), qPrintable(m_panelSide->error()));
        m_link = std::make_unique<SwitcherLink>();
        m_link->setTarget(kSwitcherAddress, m_switcher->port());
        m_link->ConnectSwitcher();
        QVERIFY(
            spinUntil([this] { return ReportedInputGain(*m_link, kChannel) == kStartGain; }, 5000));
        QCOMPARE(m_link->state(), LinkState::Live);
    }

    // A failed check may leave the path cut; the next case starts with it whole.
    void cleanup() {
        if (m_cable && m_cable->isCut())
            m_cable->restore();
    }

    void cleanupTestCase() { tearDown(); }

    // The cable is pulled; the switcher's state changes meanwhile (set from its own side); the
    // cable comes back. Idle, the panel sends nothing after the cut, and the path returns at
    // once (a port that flapped). With a command waiting, the panel sends a set-gain command
    // right after the cut, which can never be acknowledged, and the path stays cut until the
    // retries have reached their longest delay (0.5 + 1 + 2 + 4 s), the slowest return.
    void pulledCable_data() {
        QTest::addColumn<bool>("commandWaiting");
        QTest::addColumn<int>("holdMs");
        QTest::addColumn<int>("switcherGain");
        QTest::newRow("idle") << false << 0 << 1054;             // +3 dB
        QTest::newRow("command waiting") << true << 8000 << 924; // -10 dB
    }
    void pulledCable() {
        QFETCH(bool, commandWaiting);
        QFETCH(int, holdMs);
        QFETCH(int, switcherGain);
        QVERIFY(spinUntil([this] { return m_link->state() == LinkState::Live; }, kBackMs));
        QVERIFY(ReportedInputGain(*m_link, kChannel) != switcherGain);

        QElapsedTimer sinceCut;
        qint64 lostMs = -1;
        const auto onLost = connect(m_link.get(), &SwitcherLink::connectionLost, this, [&] {
            if (lostMs < 0)
                lostMs = sinceCut.elapsed();
        });
        const QString cut = m_cable->cut();
        sinceCut.start();
        QVERIFY2(cut.isEmpty(), qPrintable(cut));

        // The panel's own command: on its way, never to be acknowledged.
        const QByteArray lostCommand = SetInputGain(kChannel, 1124);
        if (commandWaiting) {
            m_link->SendToSwitcher(lostCommand);
            QCOMPARE(UnacknowledgedBytes(*m_link), int(lostCommand.size()));
        }

        spinUntil([&] { return lostMs >= 0; }, kFoundDeadMs + kMeasureSlackMs);
        disconnect(onLost);
        qInfo("found dead %lld ms after the cut", lostMs);
        QVERIFY2(lostMs >= 0 && lostMs <= kFoundDeadMs,
                 lostMs < 0 ? "still not found dead" : qPrintable(QString::number(lostMs)));
        QCOMPARE(m_link->state(), LinkState::Connecting);

        const QString set = SetGainBesideSwitcher(m_cable->switcherSide, m_switcher->port(),
                                                  kChannel, switcherGain);
        QVERIFY2(set.isEmpty(), qPrintable(set));
        // Nothing gets through a cut cable, however often the panel tries.
        QVERIFY(!spinUntil([this] { return m_link->state() == LinkState::Live; }, holdMs));

        QElapsedTimer sinceRestore;
        qint64 liveMs = -1;
        const auto onConnected = connect(m_link.get(), &SwitcherLink::connected, this, [&] {
            if (liveMs < 0)
                liveMs = sinceRestore.elapsed();
        });
        const QString restored = m_cable->restore();
        sinceRestore.start();
        QVERIFY2(restored.isEmpty(), qPrintable(restored));
        const bool refilled =
            spinUntil([&] { return ReportedInputGain(*m_link, kChannel) == switcherGain; },
                      kBackMs + kMeasureSlackMs);
        const qint64 refilledMs = sinceRestore.elapsed();
        disconnect(onConnected);
        qInfo("live %lld ms and refilled %lld ms after the path returned", liveMs, refilledMs);
        QVERIFY2(refilled, qPrintable(QString::number(ReportedInputGain(*m_link, kChannel))));
        QVERIFY2(liveMs >= 0 && liveMs <= kBackMs, qPrintable(QString::number(liveMs)));
        QVERIFY2(refilledMs <= kBackMs, qPrintable(QString::number(refilledMs)));
        QCOMPARE(m_link->state(), LinkState::Live);

        // The panel's command went down with the dead connection: the switcher never saw it,
        // while it did see the one set from its own side.
        const QString trace = m_switcher->trace();
        QVERIFY2(trace.contains(TraceHex(SetInputGain(kChannel, switcherGain))), qPrintable(trace));
        if (commandWaiting)
            QVERIFY2(!trace.contains(TraceHex(lostCommand)), qPrintable(trace));
    }
};

QTEST_GUILESS_MAIN(CableTest)
#include "test_cable.moc"
