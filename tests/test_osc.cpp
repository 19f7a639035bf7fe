// The OSC control surface: the address space and its argument types, bundles, feedback bytes,
// the allow list, subscriptions and their coalescing, the per-sender limit, the [SURFACES]
// settings, and the listener over real UDP sockets on 127.0.0.1.

#include "config/SurfaceSettings.h"
#include "support/EventLoop.h"
#include "support/Rows.h"
#include "support/SettingsFile.h"
#include "surfaces/AllowList.h"
#include "surfaces/OscCommand.h"
#include "surfaces/OscFeedback.h"
#include "surfaces/OscServer.h"
#include "surfaces/OscSubscribers.h"
#include "surfaces/SenderLimit.h"

#include <oscpack/osc/OscOutboundPacketStream.h>

#include <QNetworkDatagram>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtTest>
#include <limits>

using namespace Osc;
using TestSupport::Row;

namespace {

// One OSC message (or, with bundle(), a bundle of them) built by oscpack, as a surface sends it.
struct Packet {
    std::vector<char> buffer = std::vector<char>(16384);
    osc::OutboundPacketStream stream{buffer.data(), buffer.size()};
    Packet &bundle() {
        stream << osc::BeginBundleImmediate;
        return *this;
    }
    Packet &end() {
        stream << osc::EndBundle;
        return *this;
    }
    template <typename... Args> Packet &msg(const char *address, Args... args) {
        stream << osc::BeginMessage(address);
        ((stream << args), ...);
        stream << osc::EndMessage;
        return *this;
    }
    QByteArray bytes() const { return QByteArray(stream.Data(), qsizetype(stream.Size())); }
};

template <typename... Args> QByteArray Msg(const char *address, Args... args) {
    return Packet().msg(address, args...).bytes();
}

const char *ReasonName(DropReason r) {
    static const char *const names[] = {"Oversized",  "Malformed",   "TooDeep",
                                        "Unknown",    "BadArgs",     "OutOfRange",
                                        "NotAllowed", "RateLimited", "SubscribersFull"};
    return names[int(r)];
}

// The outcome of a packet as one line of fields, commands then drops.
QString Outcome(const Parsed &parsed) {
    QStringList parts;
    for (const Command &command : parsed.commands)
        parts << std::visit(
            [](const auto &c) -> QString {
                using T = std::decay_t<decltype(c)>;
                if constexpr (std::is_same_v<T, SetGain>)
                    return QStringLiteral("gain %1 %2").arg(c.fader).arg(c.gain);
                else if constexpr (std::is_same_v<T, Zero>)
                    return QStringLiteral("zero %1").arg(c.fader);
                else if constexpr (std::is_same_v<T, SetStereo>)
                    return QStringLiteral("stereo %1 %2").arg(c.fader).arg(int(c.on));
                else if constexpr (std::is_same_v<T, SetLock>)
                    return QStringLiteral("lock %1").arg(int(c.on));
                else if constexpr (std::is_same_v<T, Fade>)
                    return QStringLiteral("fade %1 %2 %3").arg(c.fader).arg(c.gain).arg(c.seconds);
                else if constexpr (std::is_same_v<T, RecallScene>)
                    return QStringLiteral("scene '%1' %2")
                        .arg(c.name, c.seconds ? QString::number(*c.seconds) : QStringLiteral("-"));
                else
                    return QStringLiteral("subscribe %1")
                        .arg(c.replyPort ? QString::number(*c.replyPort) : QStringLiteral("-"));
            },
            command);
    for (const Drop &d : parsed.drops)
        parts
            << QStringLiteral("drop %1 %2").arg(ReasonName(d.reason), QString(d.address)).trimmed();
    return parts.join(QStringLiteral(" | "));
}

QString Parse(const QByteArray &bytes) {
    return Outcome(ParseOscPacket(bytes.constData(), std::size_t(bytes.size())));
}

QByteArray Be32(quint32 v) {
    QByteArray b(4, '\0');
    qToBigEndian(v, b.data());
    return b;
}

// A bundle written out by hand, for element sizes oscpack would never write.
QByteArray RawBundle(const QList<QByteArray> &elements, qint64 sizeDelta = 0) {
    QByteArray b = QByteArrayLiteral("#bundle") + '\0' + QByteArray(7, '\0') + '\1';
    for (const QByteArray &e : elements)
        b += Be32(quint32(e.size() + sizeDelta)) + e;
    return b;
}

QByteArray Nested(int depth, const QByteArray &inner) {
    QByteArray packet = inner;
    for (int i = 0; i < depth; ++i)
        packet = RawBundle({packet});
    return packet;
}

// An OSC string: the text, a NUL, padded to four bytes.
QByteArray Str(const QByteArray &text) {
    QByteArray s = text + '\0';
    while (s.size() % 4)
        s += '\0';
    return s;
}

const float kNaN = std::numeric_limits<float>::quiet_NaN();

} // namespace

class TestOsc : public QObject {
    Q_OBJECT

  private slots:
    // (A float gain, "off", zero, stereo 1 and 0, and a recall with its time, sent by liblo's
    // oscsend, reach the switcher as exact bytes in test_osc_e2e.cpp; a subscription with and
    // without a reply port is answered there and in serverFeedback below.)
    void parse_data() {
        QTest::addColumn<QByteArray>("packet");
        QTest::addColumn<QString>("expected");
        const char *g1 = "/dual-slider/fader/1/gain";
        const char *p2 = "/dual-slider/fader/2/position";
        const char *st = "/dual-slider/fader/1/stereo";
        const char *fade = "/dual-slider/fader/2/fade";
        const char *scene = "/dual-slider/scene/recall";
        // Gain: to the nearest 0.1 dB step, a tie to the quieter one, beyond the scale to its end.
        Row("gain int, fader 2", Msg("/dual-slider/fader/2/gain", 3), "gain 1 1054");
        Row("gain double", Msg(g1, 12.34), "gain 0 1147");
        Row("gain int64", Msg(g1, osc::int64(-20)), "gain 0 824");
        Row("gain tie to quieter", Msg(g1, -0.25), "gain 0 1021");
        Row("gain below Off", Msg(g1, -150.0f), "gain 0 24");
        Row("gain over +24", Msg(g1, 30.0f), "gain 0 1264");
        Row("gain OFF", Msg(g1, "OFF"), "gain 0 24");
        Row("gain loud", Msg(g1, "loud"), "drop OutOfRange /dual-slider/fader/1/gain");
        Row("gain NaN", Msg(g1, kNaN), "drop OutOfRange /dual-slider/fader/1/gain");
        Row("gain true", Msg(g1, true), "drop BadArgs /dual-slider/fader/1/gain");
        Row("gain no argument", Msg(g1), "drop BadArgs /dual-slider/fader/1/gain");
        // Position: 0 is Off, 1 is +24 dB, linear in steps; outside 0..1 clamps.
        Row("position 0", Msg(p2, 0.0f), "gain 1 24");
        Row("position 1 (int)", Msg(p2, 1), "gain 1 1264");
        Row("position of 0 dB", Msg(p2, 1000.0 / 1240.0), "gain 1 1024");
        Row("position above 1", Msg(p2, 1.5f), "gain 1 1264");
        Row("position NaN", Msg(p2, kNaN), "drop OutOfRange /dual-slider/fader/2/position");
        Row("position string", Msg(p2, "0.5"), "drop BadArgs /dual-slider/fader/2/position");
        Row("zero", Msg("/dual-slider/fader/2/zero"), "zero 1");
        Row("zero with argument", Msg("/dual-slider/fader/2/zero", 1),
            "drop BadArgs /dual-slider/fader/2/zero");
        // Switches: int 0/1, true/false, a toggle's 0.0/1.0.
        Row("stereo true", Msg(st, true), "stereo 0 1");
        Row("stereo false", Msg(st, false), "stereo 0 0");
        Row("stereo toggle 1.0", Msg(st, 1.0f), "stereo 0 1");
        Row("stereo 2", Msg(st, 2), "drop OutOfRange /dual-slider/fader/1/stereo");
        Row("stereo string", Msg(st, "on"), "drop BadArgs /dual-slider/fader/1/stereo");
        Row("lock 0", Msg("/dual-slider/lock", 0), "lock 0");
        Row("lock nothing", Msg("/dual-slider/lock"), "drop BadArgs /dual-slider/lock");
        // Fade and scene recall.
        Row("fade", Msg(fade, -10.0f, 2.5f), "fade 1 924 2.5");
        Row("fade off, int seconds", Msg(fade, "off", 60), "fade 1 24 60");
        Row("fade 61 s", Msg(fade, 0.0f, 61.0f), "drop OutOfRange /dual-slider/fader/2/fade");
        Row("fade no time", Msg(fade, 0.0f), "drop BadArgs /dual-slider/fader/2/fade");
        Row("fade time as text", Msg(fade, "loud", "2"), "drop BadArgs /dual-slider/fader/2/fade");
        Row("scene utf-8", Msg(scene, "Bühne"), "scene 'Bühne' -");
        Row("scene blank name", Msg(scene, " "), "drop OutOfRange /dual-slider/scene/recall");
        Row("scene number", Msg(scene, 3), "drop BadArgs /dual-slider/scene/recall");
        Row("scene 100 s", Msg(scene, "A", 100.0f), "drop OutOfRange /dual-slider/scene/recall");
        Row("subscribe port 0", Msg("/dual-slider/subscribe", 0),
            "drop OutOfRange /dual-slider/subscribe");
        // Addresses.
        Row("fader 3", Msg("/dual-slider/fader/3/gain", 0.0f),
            "drop Unknown /dual-slider/fader/3/gain");
        Row("fader 0", Msg("/dual-slider/fader/0/gain", 0.0f),
            "drop Unknown /dual-slider/fader/0/gain");
        Row("fader 12", Msg("/dual-slider/fader/12/gain", 0.0f),
            "drop Unknown /dual-slider/fader/12/gain");
        Row("trailing part", Msg("/dual-slider/fader/1/gain/x", 0.0f),
            "drop Unknown /dual-slider/fader/1/gain/x");
        Row("feedback address", Msg("/dual-slider/link", "Live"), "drop Unknown /dual-slider/link");
        Row("other program", Msg("/ping"), "drop Unknown /ping");
        // Bundles: taken apart in order, nested too; a bad element spares its neighbours.
        Row("bundle", Packet().bundle().msg("/dual-slider/lock", 1).msg(g1, 0.0f).end().bytes(),
            "lock 1 | gain 0 1024");
        Row("nested bundles",
            Packet()
                .bundle()
                .msg("/dual-slider/fader/1/zero")
                .bundle()
                .bundle()
                .msg(st, 1)
                .end()
                .end()
                .msg("/x")
                .end()
                .bytes(),
            "zero 0 | stereo 0 1 | drop Unknown /x");
        Row("empty bundle", RawBundle({}), "");
        Row("depth 8", Nested(8, Msg("/dual-slider/lock", 1)), "lock 1");
        Row("depth 9", Nested(9, Msg("/dual-slider/lock", 1)), "drop TooDeep");
        Row("bundle with a message lacking type tags",
            RawBundle({Str("/dual-slider/lock") + Str("x"), Msg("/dual-slider/lock", 0)}),
            "lock 0 | drop Malformed /dual-slider/lock");
        Row("bundle element past the end", RawBundle({Msg("/dual-slider/lock", 1)}, 4),
            "drop Malformed");
        // Bytes that are no OSC at all.
        Row("empty datagram", QByteArray(), "drop Malformed");
        Row("address without end", QByteArray("/dua"), "drop Malformed");
        Row("string argument without end",
            Str("/dual-slider/scene/recall") + Str(",s") + QByteArray("abcd"),
            "drop Malformed /dual-slider/scene/recall");
        Row("address with control bytes", Str("/a\x01") + Str(","), "drop Unknown /a?");
        Row("largest packet", Msg(scene, QByteArray(kMaxPacketBytes - 36, 'n').constData()),
            QStringLiteral("scene '%1' -").arg(QString(kMaxPacketBytes - 36, u'n')));
        Row("oversized", Msg(scene, QByteArray(kMaxPacketBytes - 32, 'n').constData()),
            "drop Oversized");
    }
    void parse() {
        QFETCH(QByteArray, packet);
        QFETCH(QString, expected);
        QCOMPARE(Parse(packet), expected);
    }

    // Feedback as the surface receives it, byte for byte. (0 dB, -6 dB on fader 2, Off, a caption
    // and "Live" reach liblo's oscdump as exact lines in test_osc_e2e.cpp.)
    void feedback_data() {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<QByteArray>("expected");
        const auto gain = [](const char *name, const QByteArray &message, const char *address,
                             float dB) {
            QTest::newRow(name) << message
                                << Str(address) + Str(",f") + Be32(std::bit_cast<quint32>(dB));
        };
        const auto text = [](const char *name, const QByteArray &message, const char *address,
                             const QByteArray &utf8) {
            QTest::newRow(name) << message << Str(address) + Str(",s") + Str(utf8);
        };
        const char *g1 = "/dual-slider/fader/1/gain", *c1 = "/dual-slider/fader/1/caption";
        gain("+24 dB", GainMessage(0, 1264), g1, 24.0f);
        gain("never reported (0) reads as Off", GainMessage(0, 0), g1, -100.0f);
        gain("one step above Off", GainMessage(0, 25), g1, -99.9f);
        text("caption, 4 bytes of UTF-8, NUL left out",
             CaptionMessage(0, QStringLiteral("K\u00e4") + QChar(0) + u'x'), c1, "K\xc3\xa4x");
        text("empty caption", CaptionMessage(0, QString()), c1, "");
        text("Connecting", LinkMessage(LinkWord::Connecting), "/dual-slider/link", "Connecting");
        text("Offline", LinkMessage(LinkWord::Offline), "/dual-slider/link", "Offline");
    }
    void feedback() {
        QFETCH(QByteArray, message);
        QFETCH(QByteArray, expected);
        QCOMPARE(message.toHex(' '), expected.toHex(' '));
    }

    void allowList_data() {
        QTest::addColumn<QString>("list");
        QTest::addColumn<QString>("sender");
        QTest::addColumn<QString>("expected"); // "allowed", "refused" or "bad: <entry>"
        const auto row = [](const char *name, const char *list, const char *sender,
                            const char *expected) {
            QTest::newRow(name) << QString::fromUtf8(list) << QString::fromUtf8(sender)
                                << QString::fromUtf8(expected);
        };
        row("empty list allows anyone", "", "203.0.113.9", "allowed");
        row("only commas", " , ,", "203.0.113.9", "allowed");
        row("single address", "127.0.0.1, 192.168.1.0/24, ::1", "127.0.0.1", "allowed");
        row("in the network", "127.0.0.1, 192.168.1.0/24, ::1", "192.168.1.77", "allowed");
        row("next network", "127.0.0.1, 192.168.1.0/24, ::1", "192.168.2.1", "refused");
        row("other loopback", "127.0.0.1", "127.0.0.2", "refused");
        row("mapped sender counts as IPv4", "192.168.1.0/24", "::ffff:192.168.1.5", "allowed");
        row("mapped entry counts as IPv4", "::ffff:10.0.0.0/104", "10.9.8.7", "allowed");
        row("mapped entry, outside", "::ffff:10.0.0.0/104", "11.0.0.1", "refused");
        row("host bits in a network", "10.1.2.3/8", "10.200.0.1", "allowed");
        row("IPv6 network", "fd00::/8", "fd12:3456::1", "allowed");
        row("IPv4 sender, IPv6 catch-all", "::/0", "10.0.0.1", "refused");
        row("IPv4 catch-all", "0.0.0.0/0", "198.51.100.1", "allowed");
        row("prefix 0 for a single v4", "10.0.0.1/32", "10.0.0.1", "allowed");
        row("host name", "127.0.0.1, localhost", "127.0.0.1", "bad: localhost");
        row("shorthand IPv4", "127.1", "127.0.0.1", "bad: 127.1");
        row("prefix past 32", "10.0.0.0/33", "10.0.0.1", "bad: 10.0.0.0/33");
        row("prefix past 128", "fd00::/129", "fd00::1", "bad: fd00::/129");
        row("netmask instead of prefix", "10.0.0.0/255.0.0.0", "10.0.0.1",
            "bad: 10.0.0.0/255.0.0.0");
        row("empty prefix", "10.0.0.0/", "10.0.0.1", "bad: 10.0.0.0/");
        row("signed prefix", "10.0.0.0/+8", "10.0.0.1", "bad: 10.0.0.0/+8");
        row("scope", "fe80::1%eth0", "fe80::1", "bad: fe80::1%eth0");
        row("mapped entry, prefix beyond mapping", "::ffff:10.0.0.0/80", "10.0.0.1",
            "bad: ::ffff:10.0.0.0/80");
    }
    void allowList() {
        QFETCH(QString, list);
        QFETCH(QString, sender);
        QFETCH(QString, expected);
        const auto parsed = ParseAllowList(list);
        if (const auto *bad = std::get_if<BadAllowEntry>(&parsed)) {
            QCOMPARE(QStringLiteral("bad: ") + bad->entry, expected);
            return;
        }
        const bool allowed = std::get<AllowList>(parsed).allows(QHostAddress(sender));
        QCOMPARE(allowed ? QStringLiteral("allowed") : QStringLiteral("refused"), expected);
    }

    // A subscriber gets every current value at once, then each change; per address at most
    // one message in 20 ms, the latest winning; the subscription lapses 30 s after its renewal.
    void subscribersCoalesceAndLapse() {
        OscSubscribers subs;
        const QHostAddress a(QStringLiteral("127.0.0.1"));
        const auto sent = [&](qint64 now) {
            QStringList out;
            for (const Outgoing &o : subs.take(now))
                out << QStringLiteral("%1 %2").arg(o.port).arg(QString(o.datagram));
            return out.join(u',');
        };
        subs.publish("/g", "g1", 0);
        QCOMPARE(subs.nextDue(0), std::nullopt); // nobody to send to
        QVERIFY(subs.subscribe(a, 5000, 10));
        QCOMPARE(subs.nextDue(10), 10);
        QCOMPARE(sent(10), QStringLiteral("5000 g1"));
        QCOMPARE(subs.nextDue(10), std::nullopt);
        subs.publish("/g", "g2", 15);
        subs.publish("/g", "g3", 16);
        subs.publish("/c", "c1", 16); // another address is not held back
        QCOMPARE(subs.nextDue(16), 16);
        QCOMPARE(sent(16), QStringLiteral("5000 c1"));
        QCOMPARE(subs.nextDue(16), 30);
        QCOMPARE(sent(29), QString());
        QCOMPARE(sent(30), QStringLiteral("5000 g3"));
        subs.publish("/g", "g3", 31); // no change: nothing owed
        QCOMPARE(subs.nextDue(31), std::nullopt);
        // A second subscriber on another port is owed everything; the first is not.
        QVERIFY(subs.subscribe(a, 5001, 40));
        QCOMPARE(sent(40), QStringLiteral("5001 c1,5001 g3"));
        // Renewal owes the current values again, keeping the interval per address.
        QVERIFY(subs.subscribe(a, 5000, 45));
        QCOMPARE(sent(45), QStringLiteral("5000 c1"));
        QCOMPARE(subs.nextDue(45), 50);
        QCOMPARE(sent(50), QStringLiteral("5000 g3"));
        QCOMPARE(subs.live(30'009).size(), std::size_t(2));
        QCOMPARE(subs.live(30'040).size(), std::size_t(1)); // 5001 lapsed, 5000 renewed at 45
        subs.publish("/g", "g4", 30'044);
        QCOMPARE(sent(30'044), QStringLiteral("5000 g4"));
        subs.publish("/g", "g5", 30'044);
        QCOMPARE(subs.nextDue(30'044), 30'064);
        QCOMPARE(subs.nextDue(30'045), std::nullopt); // lapsed with its message pending
        QCOMPARE(sent(30'064), QString());
        QVERIFY(subs.live(30'064).empty());
    }

    void subscribersBounded() {
        OscSubscribers subs;
        for (int i = 0; i < OscSubscribers::kMaxSubscribers; ++i)
            QVERIFY(subs.subscribe(QHostAddress(QStringLiteral("10.0.0.1")), quint16(1000 + i), 0));
        QVERIFY(!subs.subscribe(QHostAddress(QStringLiteral("10.0.0.2")), 1000, 1));
        QVERIFY(subs.subscribe(QHostAddress(QStringLiteral("10.0.0.1")), 1000, 1)); // renewal
        QVERIFY(subs.subscribe(QHostAddress(QStringLiteral("10.0.0.2")), 1000, 30'000));
    }

    void senderLimit() {
        SenderLimit limit;
        const QHostAddress flood(QStringLiteral("10.0.0.1"));
        const QHostAddress calm(QStringLiteral("10.0.0.2"));
        int admitted = 0;
        for (int i = 0; i < 1000; ++i)
            admitted += limit.admit(flood, 0);
        QCOMPARE(admitted, int(SenderLimit::kBurst));
        QVERIFY(limit.admit(calm, 0));
        QVERIFY(!limit.admit(QHostAddress(QStringLiteral("::ffff:10.0.0.1")), 0)); // same machine
        admitted = 0;
        for (int i = 0; i < 1000; ++i)
            admitted += limit.admit(flood, 100);
        QCOMPARE(admitted, int(SenderLimit::kPerSecond / 10));
        QVERIFY(!limit.admit(flood, 50)); // a clock stepping back gives nothing
        // Many senders: the table stays bounded, a busy sender keeps its empty bucket.
        for (int i = 0; i < 3 * SenderLimit::kMaxSenders; ++i)
            limit.admit(QHostAddress(quint32(0x0B000000 + i)), 100);
        QVERIFY(limit.trackedSenders() <= SenderLimit::kMaxSenders);
        // A surface (or script) sending 1,000 messages a second, steadily, loses none of them:
        // its last value must be the one that stands.
        const QHostAddress steady(QStringLiteral("10.0.0.3"));
        admitted = 0;
        for (int ms = 200; ms < 10'200; ++ms)
            admitted += limit.admit(steady, ms);
        QCOMPARE(admitted, 10'000);
    }

    void surfaceSettings_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("expected"); // enabled port address allowed midiLock
        QTest::addColumn<QStringList>("problems");
        const auto row = [](const char *name, const QByteArray &file, const char *expected,
                            const QStringList &problems = {}) {
            QTest::newRow(name) << file << QString::fromUtf8(expected) << problems;
        };
        const char *defaults = "0 9000 127.0.0.1 || ";
        const QString badPort =
            QStringLiteral("OSC Port: \"%1\" is not a port (1 to 65535); using 9000");
        const QString badEnabled = QStringLiteral("OSC Enabled: \"%1\" is not 0 or 1; using 0");
        row("no section", "[CONFIGURATION]\nType=1\n", defaults);
        row("all keys",
            "[surfaces]\nOSC Enabled=1\nOSC Port=8000\nOSC Address=0.0.0.0\n"
            "OSC Allowed=10.0.0.0/8, ::1\nMIDI Lock= CC 1 64 \n",
            "1 8000 0.0.0.0 |10.0.0.0/8, ::1| CC 1 64");
        row("empty values are defaults", "[SURFACES]\nOSC Enabled=\nOSC Port=\nOSC Address=\n",
            defaults);
        row("bad values", "[SURFACES]\nOSC Enabled=yes\nOSC Port=70000\nOSC Address=10.0.0.9\n",
            "0 9000 10.0.0.9 || ", {badEnabled.arg("yes"), badPort.arg("70000")});
        row("port 0, enabled 2", "[SURFACES]\nOSC Enabled=2\nOSC Port=0\n", defaults,
            {badEnabled.arg("2"), badPort.arg("0")});
        row("port with trailing text", "[SURFACES]\nOSC Port=9001x\n", defaults,
            {badPort.arg("9001x")});
        row("binary file", QByteArray("\0\1\2[SURFACES]\nOSC Enabled=1\n", 27), defaults,
            {QStringLiteral("The settings file could not be read; using the defaults")});
    }
    void surfaceSettings() {
        QFETCH(QByteArray, file);
        QFETCH(QString, expected);
        QFETCH(QStringList, problems);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Slider.ini"));
        TestSupport::writeFile(path, file);
        const auto read = DiskWork::ReadSurfaceSettings(path);
        const SurfaceSettings &s = read.settings;
        QCOMPARE(QStringLiteral("%1 %2 %3 |%4| %5")
                     .arg(int(s.oscEnabled))
                     .arg(s.oscPort)
                     .arg(s.oscAddress, s.oscAllowed, s.midiLock),
                 expected);
        QCOMPARE(read.problems, problems);
    }

    // A write keeps the other sections, their keys and comments; the section reads back as
    // written, line breaks in text taken out.
    void surfaceSettingsRoundTrip() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Slider.ini"));
        TestSupport::writeFile(
            path, "; hand-written\n[CONFIGURATION]\nType=3\nIP Port=1250\n\n[OTHER]\nKey=v\n");
        QCOMPARE(DiskWork::ReadSurfaceSettings(QString()).settings, SurfaceSettings{});
        SurfaceSettings s;
        s.oscEnabled = true;
        s.oscPort = 65535;
        s.oscAllowed = QStringLiteral("192.168.1.0/24,\n[CONFIGURATION]\nType=9");
        s.midiInput = QStringLiteral("nanoKONTROL2 MIDI 1");
        s.midiFader2 = QStringLiteral("CC 1 1");
        QVERIFY(DiskWork::WriteSurfaceSettings(path, s));
        const QByteArray written = TestSupport::FileBytes(path);
        // (SimpleIni sets sections apart with blank lines of its own.)
        QByteArray lines = written;
        while (lines.contains("\n\n"))
            lines.replace("\n\n", "\n");
        QVERIFY2(lines.startsWith("; hand-written\n[CONFIGURATION]\nType=3\nIP Port=1250\n[OTHER]\n"
                                  "Key=v\n[SURFACES]\nOSC Enabled=1\nOSC Port=65535\n"),
                 written.constData());
        const auto read = DiskWork::ReadSurfaceSettings(path);
        QVERIFY(read.problems.isEmpty());
        SurfaceSettings expected = s;
        expected.oscAllowed = QStringLiteral("192.168.1.0/24,[CONFIGURATION]Type=9");
        QCOMPARE(read.settings, expected);
        QVERIFY(DiskWork::WriteSurfaceSettings(path, read.settings));
        QCOMPARE(TestSupport::FileBytes(path), written);         // settled
        QVERIFY(!DiskWork::WriteSurfaceSettings(dir.path(), s)); // a folder is no file
    }

    // The listener over real sockets on 127.0.0.1.
    void serverPortTaken() {
        QUdpSocket other;
        QVERIFY(other.bind(QHostAddress::LocalHost, 0));
        OscServer server;
        const QString error = server.start(QHostAddress::LocalHost, other.localPort(), AllowList{});
        QVERIFY2(error.contains(QString::number(other.localPort())), qPrintable(error));
        QVERIFY(!server.isListening());
        QCOMPARE(server.port(), quint16(0));
        // An address that is not this machine's.
        QVERIFY(!server.start(QHostAddress(QStringLiteral("192.0.2.1")), 0, AllowList{}).isEmpty());
    }

    // Commands arrive typed, with their sender; bad packets move nothing and are counted. (liblo's
    // oscsend as the sender, and a sender the allow list refuses: test_osc_e2e.cpp.)
    void serverCommandsAndDrops() {
        OscServer server;
        QVERIFY(server.start(QHostAddress::LocalHost, 0, AllowList{}).isEmpty());
        std::vector<std::pair<Command, QHostAddress>> got;
        connect(&server, &OscServer::commandReceived, this,
                [&](const Command &c, const QHostAddress &from, quint16) {
                    got.emplace_back(c, from);
                });
        QUdpSocket surface;
        surface.writeDatagram(Msg("/dual-slider/fader/2/gain", -6.0f), QHostAddress::LocalHost,
                              server.port());
        QVERIFY(TestSupport::spinUntil([&] { return !got.empty(); }, 3000));
        QCOMPARE(got[0].first, Command(SetGain{1, 964}));
        QCOMPARE(got[0].second, QHostAddress(QHostAddress::LocalHost));
        QVERIFY2(server.lastArrival().endsWith(QStringLiteral(": fader 2 gain -6db")),
                 qPrintable(server.lastArrival()));

        surface.writeDatagram(QByteArray("junk"), QHostAddress::LocalHost, server.port());
        surface.writeDatagram(Msg("/dual-slider/fader/3/gain", 0.0f), QHostAddress::LocalHost,
                              server.port());
        surface.writeDatagram(QByteArray(int(kMaxPacketBytes) + 4, '/'), QHostAddress::LocalHost,
                              server.port());
        QVERIFY(TestSupport::spinUntil([&] { return server.dropCount(DropReason::Oversized) == 1; },
                                       3000));
        QCOMPARE(server.dropCount(DropReason::Malformed), quint64(1));
        QCOMPARE(server.dropCount(DropReason::UnknownAddress), quint64(1));
    }

    // A flood from one sender is cut to its share; another sender still gets through, and
    // once it is over no timer runs.
    void serverFlood() {
        OscServer server;
        QVERIFY(server.start(QHostAddress::LocalHost, 0, AllowList{}).isEmpty());
        int locks = 0, zeros = 0;
        connect(&server, &OscServer::commandReceived, this, [&](const Command &c) {
            locks += std::holds_alternative<SetLock>(c);
            zeros += std::holds_alternative<Zero>(c);
        });
        QUdpSocket flood, calm;
        const QByteArray lock = Msg("/dual-slider/lock", 1);
        for (int i = 0; i < 1000; ++i)
            flood.writeDatagram(lock, QHostAddress::LocalHost, server.port());
        calm.bind(QHostAddress(QStringLiteral("127.0.0.2")), 0);
        calm.writeDatagram(Msg("/dual-slider/fader/1/zero"), QHostAddress::LocalHost,
                           server.port());
        QVERIFY(TestSupport::spinUntil([&] { return zeros == 1; }, 3000));
        QVERIFY(TestSupport::spinUntil(
            [&] { return quint64(locks) + server.dropCount(DropReason::RateLimited) >= 900; },
            3000));
        QVERIFY2(locks <= int(SenderLimit::kBurst) + 50, qPrintable(QString::number(locks)));
        QVERIFY(server.dropCount(DropReason::RateLimited) > 0);
        QVERIFY(TestSupport::spinUntil(
            [&] {
                for (const QTimer *t : server.findChildren<QTimer *>())
                    if (t->isActive())
                        return false;
                return true;
            },
            1000));
    }

    // A subscriber gets the state at once, then changes coalesced to the latest value. (liblo's
    // oscdump as the subscriber, exact lines: test_osc_e2e.cpp.)
    void serverFeedback() {
        OscServer server;
        server.publishGain(0, 964);
        server.publishLink(LinkWord::Connecting);
        QVERIFY(server.start(QHostAddress::LocalHost, 0, AllowList{}).isEmpty());
        QUdpSocket surface;
        QVERIFY(surface.bind(QHostAddress::LocalHost, 0));
        QByteArrayList received;
        connect(&surface, &QUdpSocket::readyRead, this, [&] {
            while (surface.hasPendingDatagrams())
                received << surface.receiveDatagram().data();
        });
        surface.writeDatagram(Msg("/dual-slider/subscribe"), QHostAddress::LocalHost,
                              server.port());
        QVERIFY(TestSupport::spinUntil([&] { return received.size() == 2; }, 3000));
        std::sort(received.begin(), received.end());
        QCOMPARE(received,
                 QByteArrayList({GainMessage(0, 964), LinkMessage(LinkWord::Connecting)}));
        QCOMPARE(server.subscribers().size(), std::size_t(1));
        QCOMPARE(server.subscribers()[0].port, surface.localPort());

        // A sweep of fader 2: the first value at once, the last one within the interval after.
        received.clear();
        for (qint16 g = 500; g <= 1000; g += 10)
            server.publishGain(1, g);
        QVERIFY(TestSupport::spinUntil(
            [&] { return !received.isEmpty() && received.last() == GainMessage(1, 1000); }, 3000));
        QVERIFY2(received.size() <= 3, qPrintable(QString::number(received.size())));
    }
};

QTEST_GUILESS_MAIN(TestOsc)
#include "test_osc.moc"
