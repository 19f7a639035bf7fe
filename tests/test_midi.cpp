// The MIDI surface layer: binding lines, message decoding and encoding, the travel <-> gain
// mapping, soft takeover, the motor gate and learn; and the ports themselves against a real JACK
// server (dummy back end) with a controller made with python3-rtmidi.

#include "support/JackServer.h"
#include "support/MidiController.h"
#include "surfaces/MidiBinding.h"
#include "surfaces/MidiControl.h"
#include "surfaces/MidiLearn.h"
#include "surfaces/MidiMessage.h"
#include "surfaces/MidiPorts.h"
#include "surfaces/MidiScene.h"
#include "surfaces/MidiSetup.h"
#include "surfaces/MotorGate.h"
#include "surfaces/Pickup.h"

#include <QProcess>
#include <QSignalSpy>
#include <QtTest>

using namespace Midi;

namespace {

QByteArray Bytes(const char *hex) {
    return QByteArray::fromHex(hex);
}

QByteArray Bytes(const Message &m) {
    return QByteArray(reinterpret_cast<const char *>(m.data()), qsizetype(m.size()));
}

// One line per event, so a mismatch shows every field.
QString Describe(const Event &event) {
    if (const auto *e = std::get_if<ControlChange>(&event))
        return QStringLiteral("cc %1 %2 %3").arg(e->channel).arg(e->number).arg(e->value);
    if (const auto *e = std::get_if<NoteOn>(&event))
        return QStringLiteral("on %1 %2 %3").arg(e->channel).arg(e->note).arg(e->velocity);
    if (const auto *e = std::get_if<NoteOff>(&event))
        return QStringLiteral("off %1 %2 %3").arg(e->channel).arg(e->note).arg(e->velocity);
    if (const auto *e = std::get_if<PitchBend>(&event))
        return QStringLiteral("bend %1 %2").arg(e->channel).arg(e->value);
    return QStringLiteral("ignored: ") + QLatin1String(std::get<Ignored>(event).reason);
}

template <typename Parse> QString Outcome(const Parse &parsed) {
    if (const auto *error = std::get_if<BindingError>(&parsed))
        return (error->blank ? QStringLiteral("blank: ") : QStringLiteral("error: ")) +
               error->reason;
    return ToText(std::get<0>(parsed));
}

template <typename Binding, typename Parse>
void CheckLine(const QString &line, const QString &outcome, Parse parse) {
    const auto parsed = parse(line);
    QCOMPARE(Outcome(parsed), outcome);
    if (const auto *binding = std::get_if<Binding>(&parsed))
        QCOMPARE(parse(ToText(*binding)), parsed);
}

// A step of a scripted pickup, gate or learn run.
struct Step {
    char op;
    qint64 t;
    double a = 0, b = 0;
    int expect = 0;
};

} // namespace

class MidiTest : public QObject {
    Q_OBJECT

  private slots:
    void bindingLines_data();
    void bindingLines();
    void decode_data();
    void decode();
    void encode();
    void mapping_data();
    void mapping();
    void mappingEveryStep();
    void faderEvents();
    void buttonsAndTouch();
    void pickup_data();
    void pickup();
    void motorGate_data();
    void motorGate();
    void learn_data();
    void learn();
    void settingsSection();
    void stablePortNames();
    void jackPorts();
};

// Binding lines of each kind: the canonical text or why the line binds nothing; what binds
// reads back the same from its canonical text.
void MidiTest::bindingLines_data() {
    QTest::addColumn<int>("kind"); // 0 fader, 1 button, 2 scene
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("outcome");
    const auto row = [](int kind, const char *line, const char *outcome) {
        static const char *const kinds[] = {"fader", "button", "scene"};
        QTest::addRow("%s: %s", kinds[kind], line)
            << kind << QString::fromUtf8(line) << QString::fromUtf8(outcome);
    };
    row(0, "cc 1 7", "cc 1 7 pickup");
    row(0, "  CC14\t16   31  Motor ", "cc14 16 31 motor");
    row(0, "PitchBend 9 JUMP", "pitchbend 9 jump");
    row(0, "cc 16 127 pickup", "cc 16 127 pickup");
    row(0, "cc14 1 0", "cc14 1 0 pickup");
    row(0, "cc 01 007", "cc 1 7 pickup");
    row(0, "", "blank: nothing bound");
    row(0, "cc 17 7", "error: channel 17 is not 1-16");
    row(0, "pitchbend 0", "error: channel 0 is not 1-16");
    row(0, "cc 1 128", "error: controller 128 is not 0-127");
    row(0, "cc14 1 32", "error: controller 32 is not 0-31");
    row(0, "cc 1", "error: controller missing");
    row(0, "pitchbend", "error: channel missing");
    row(0, "cc -1 7", "error: channel \"-1\" is not a number");
    row(0, "cc 1 000007", "error: controller \"000007\" is not a number");
    row(0, "cc 1 7 fast", "error: mode \"fast\" is not pickup, jump or motor");
    row(0, "pitchbend 1 7", "error: mode \"7\" is not pickup, jump or motor");
    row(0, "cc 1 7 jump now", "error: unexpected \"now\" after the mode");
    row(0, "note 1 60", "error: \"note\" is not cc, cc14 or pitchbend");
    row(1, "note 1 60", "note 1 60");
    row(1, " NOTE  16 0 ", "note 16 0");
    row(1, "cc 10 127", "cc 10 127");
    row(1, "", "blank: nothing bound");
    row(1, "note 1 128", "error: note 128 is not 0-127");
    row(1, "note 1", "error: note missing");
    row(1, "note 1 60 pickup", "error: unexpected \"pickup\" after the note");
    row(1, "pitchbend 1", "error: \"pitchbend\" is not note or cc");
    row(2, "note 1 60 Interval", "note 1 60 Interval");
    row(2, "  CC 2 20   Late  show\t", "cc 2 20 Late  show");
    row(2, "note 16 127 x", "note 16 127 x");
    row(2, "note 1 60   ", "error: scene name missing");
    row(2, "note 17 60 Interval", "error: channel 17 is not 1-16");
    row(2, "note 1", "error: note missing");
    row(2, "", "blank: nothing bound");
}

void MidiTest::bindingLines() {
    QFETCH(int, kind);
    QFETCH(QString, line);
    QFETCH(QString, outcome);
    if (kind == 0)
        CheckLine<FaderBinding>(line, outcome, ParseFaderBinding);
    else if (kind == 1)
        CheckLine<ButtonBinding>(line, outcome, ParseButtonBinding);
    else
        CheckLine<SceneBinding>(line, outcome, ParseSceneBinding);
}

// (b00764 is cc 1 7 100, or the switcher would not get -2.4 dB in test_midi_e2e.)
void MidiTest::decode_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("event");
    const auto row = [](const char *hex, const char *event) {
        QTest::newRow(hex) << Bytes(hex) << QString::fromUtf8(event);
    };
    row("bf7f7f", "cc 16 127 127");
    row("903c64", "on 1 60 100");
    row("9f3c00", "off 16 60 0");
    row("803c40", "off 1 60 64");
    row("e00040", "bend 1 8192");
    row("ef7f7f", "bend 16 16383");
    row("e17f00", "bend 2 127");
    row("", "ignored: empty message");
    row("0764", "ignored: no status byte");
    row("b007", "ignored: truncated message");
    row("b0076400", "ignored: message too long");
    row("b08764", "ignored: data byte with the status bit");
    row("9040f0", "ignored: data byte with the status bit");
    row("f07e7f0601f7", "ignored: system message");
    row("ff", "ignored: system message");
    row("c005", "ignored: program change");
    row("d040", "ignored: channel pressure");
    row("a03c40", "ignored: key pressure");
}

void MidiTest::decode() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, event);
    QCOMPARE(Describe(Decode(bytes)), event);
}

void MidiTest::encode() {
    // (b00764 and e00040 re-encode byte for byte in the fuzz_midi corpus replay.)
    QCOMPARE(Bytes(EncodeControlChange(16, 127, 0)), Bytes("bf7f00"));
    QCOMPARE(Bytes(EncodeControlChange(1, 7, 200)), Bytes("b0077f")); // clamped
    QCOMPARE(Bytes(EncodePitchBend(16, 16383)), Bytes("ef7f7f"));
    QCOMPARE(Bytes(EncodePitchBend(1, -5)), Bytes("e00000"));
    QCOMPARE(Bytes(EncodePitchBend(1, 99999)), Bytes("e07f7f"));
    const auto pair = EncodeControlChange14(2, 31, 8197);
    QCOMPARE(pair.size(), std::size_t(2));
    QCOMPARE(Bytes(pair[0]), Bytes("b11f40")); // MSB first
    QCOMPARE(Bytes(pair[1]), Bytes("b13f05"));
    // Feedback goes out as the binding's own message kind, and reads back as the same position.
    const FaderBinding bindings[] = {{FaderKind::ControlChange, 3, 70, FaderMode::Motor},
                                     {FaderKind::ControlChange14, 1, 7, FaderMode::Motor},
                                     {FaderKind::PitchBend, 5, 0, FaderMode::Motor}};
    for (const FaderBinding &binding : bindings) {
        const int value = TravelOfGain(1024, TravelMax(binding.kind));
        Cc14State state;
        std::optional<int> read;
        for (const Message &m : FeedbackMessages(binding, value))
            read = FaderValue(binding, Decode(m.data(), m.size()), state);
        QCOMPARE(read, std::optional<int>(value));
    }
}

// (7-bit 0 is Off, 100 is -2.4 dB, 110 is +7.4 dB and 0 dB goes to the motor as 102; 14-bit
// 8192 is -38 dB and 14269 +8 dB: byte for byte in test_midi_e2e.)
void MidiTest::mapping_data() {
    QTest::addColumn<int>("max");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("gain");
    QTest::addColumn<int>("back"); // TravelOfGain(gain)
    const auto row = [](const char *name, int max, int value, int gain, int back) {
        QTest::newRow(name) << max << value << gain << back;
    };
    row("7-bit top is +24 dB", 127, 127, 1264, 127);
    row("7-bit 1", 127, 1, 34, 1);
    row("7-bit 63", 127, 63, 639, 63);
    row("7-bit 64", 127, 64, 649, 64);
    row("14-bit bottom", 16383, 0, 24, 0);
    row("14-bit top", 16383, 16383, 1264, 16383);
    row("14-bit 8191", 16383, 8191, 644, 8192);
    row("14-bit 7", 16383, 7, 25, 13);
}

void MidiTest::mapping() {
    QFETCH(int, max);
    QFETCH(int, value);
    QFETCH(int, gain);
    QFETCH(int, back);
    QCOMPARE(GainOfTravel(value, max), qint16(gain));
    QCOMPARE(TravelOfGain(qint16(gain), max), back);
}

void MidiTest::mappingEveryStep() {
    // 0 dB, gains the fader cannot show, and ties (half way between two values goes up).
    QCOMPARE(TravelOfGain(1024, 16383), 13212);
    QCOMPARE(TravelOfGain(0, 127), 0);
    QCOMPARE(TravelOfGain(16383, 127), 127);
    QCOMPARE(TravelOfGain(644, 127), 64); // 63.5
    // Every 7-bit value has a gain of its own; every gain has a 14-bit value of its own.
    for (int v = 0; v <= 127; ++v)
        QCOMPARE(TravelOfGain(GainOfTravel(v, 127), 127), v);
    for (int g = 24; g <= 1264; ++g)
        QCOMPARE(GainOfTravel(TravelOfGain(qint16(g), 16383), 16383), qint16(g));
}

void MidiTest::faderEvents() {
    // cc14 on 1/7: MSB sets the high part (low part 0) at once; LSB refines under the last MSB.
    const FaderBinding pair{FaderKind::ControlChange14, 1, 7, FaderMode::Pickup};
    const QList<QPair<const char *, int>> steps = {
        {"b02705", -1},   // LSB before any MSB: high part unknown
        {"b00740", 8192}, // MSB 64
        {"b02705", 8197}, // LSB 5
        {"b10741", -1},   // another channel
        {"b00800", -1},   // another controller
        {"b00741", 8320}, // MSB 65: LSB back to 0
        {"b0277f", 8447}, {"e00040", -1},
    };
    Cc14State state;
    for (const auto &[hex, expected] : steps)
        QCOMPARE(FaderValue(pair, Decode(Bytes(hex)), state).value_or(-1), expected);

    const FaderBinding cc{FaderKind::ControlChange, 2, 7, FaderMode::Jump};
    const FaderBinding bend{FaderKind::PitchBend, 2, 0, FaderMode::Motor};
    QCOMPARE(FaderValue(cc, Decode(Bytes("b1077f")), state), std::optional<int>(127));
    QCOMPARE(FaderValue(cc, Decode(Bytes("b0077f")), state), std::nullopt);
    QCOMPARE(FaderValue(cc, Decode(Bytes("b1277f")), state), std::nullopt);
    QCOMPARE(FaderValue(bend, Decode(Bytes("e10000")), state), std::optional<int>(0));
    QCOMPARE(FaderValue(bend, Decode(Bytes("e07f7f")), state), std::nullopt);
    QCOMPARE(FaderValue(bend, Decode(Bytes("b10740")), state), std::nullopt);
}

void MidiTest::buttonsAndTouch() {
    const ButtonBinding note{ButtonKind::Note, 1, 60};
    const ButtonBinding cc{ButtonKind::ControlChange, 3, 20};
    QVERIFY(IsPress(note, Decode(Bytes("903c01"))));
    QVERIFY(!IsPress(note, Decode(Bytes("903c00")))); // velocity 0: a release
    QVERIFY(!IsPress(note, Decode(Bytes("803c40"))));
    QVERIFY(!IsPress(note, Decode(Bytes("913c7f")))); // another channel
    QVERIFY(!IsPress(note, Decode(Bytes("b03c7f")))); // a controller with the note's number
    QVERIFY(IsPress(cc, Decode(Bytes("b21440"))));
    QVERIFY(!IsPress(cc, Decode(Bytes("b2143f"))));
    QVERIFY(!IsPress(cc, Decode(Bytes("b2157f")))); // another controller
    // Touch notes of motorised faders on pitch bend: fader on channel 3 touches note 106.
    const FaderBinding bend{FaderKind::PitchBend, 3, 0, FaderMode::Motor};
    QCOMPARE(TouchOf(bend, Decode(Bytes("906a7f"))), std::optional<bool>(true));
    QCOMPARE(TouchOf(bend, Decode(Bytes("906a00"))), std::optional<bool>(false));
    QCOMPARE(TouchOf(bend, Decode(Bytes("806a00"))), std::optional<bool>(false));
    QCOMPARE(TouchOf(bend, Decode(Bytes("90697f"))), std::nullopt);
    QCOMPARE(TouchOf(bend, Decode(Bytes("926a7f"))), std::nullopt);
    QCOMPARE(TouchOf(FaderBinding{FaderKind::PitchBend, 9, 0, FaderMode::Motor},
                     Decode(Bytes("90707f"))),
             std::nullopt);
}

// Pickup scripts: o = offer(panel a, value b) expecting pass (1) or hold (0); m = panelMoved;
// r = rearm; f = forgetSurface.
void MidiTest::pickup_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<QList<Step>>("steps");
    const auto row = [](const char *name, const QList<Step> &steps,
                        FaderMode mode = FaderMode::Pickup) {
        QTest::newRow(name) << int(mode) << steps;
    };
    const double t3 = 3.0 / 128;
    row("first value within 3/128 passes", {{'o', 0, .5, .5 + t3, 1}});
    row("first value below within 3/128", {{'o', 0, .5, .5 - t3, 1}});
    row("first value far never passes", {{'o', 0, .5, .5 + 4.0 / 128, 0}});
    row("0 far from the panel never passes",
        {{'o', 0, .5, 0, 0}, {'o', 10, .5, 0, 0}, {'o', 20, .5, 0, 0}});
    row("0 at a panel that is Off passes", {{'o', 0, 0, 0, 1}});
    row("0 near a panel above Off holds",
        {{'o', 0, 2.0 / 1240, 0, 0}, {'o', 10, 2.0 / 1240, 1.0 / 1240, 1}});
    row("0 crossing down holds", {{'o', 0, .2, .5, 0}, {'o', 10, .2, 0, 0}, {'o', 20, .2, .25, 1}});
    row("crossing from below", {{'o', 0, .5, .3, 0}, {'o', 10, .5, .45, 0}, {'o', 20, .5, .6, 1}});
    row("landing on the panel", {{'o', 0, .5, .8, 0}, {'o', 10, .5, .5, 1}});
    row("same side far holds", {{'o', 0, .5, .8, 0}, {'o', 10, .5, .7, 0}, {'o', 20, .5, .9, 0}});
    row("quick throws after takeover",
        {{'o', 0, .5, .5, 1}, {'o', 5, .5, 1, 1}, {'o', 10, 1, 0, 1}});
    row("outside move under the hand does not re-arm",
        {{'o', 0, .5, .5, 1}, {'m', 299}, {'o', 310, .3, .9, 1}});
    row("outside move at 300 ms re-arms, then picked up anew",
        {{'o', 0, .5, .5, 1}, {'m', 300}, {'o', 310, .3, .9, 0}, {'o', 320, .3, .2, 1}});
    row("deliberate move re-arms under the hand",
        {{'o', 0, .5, .5, 1}, {'r', 10}, {'o', 20, .8, .55, 0}});
    row("lost surface forgets its position",
        {{'o', 0, .5, .3, 0}, {'f', 5}, {'o', 10, .5, .7, 0}, {'o', 20, .5, .3, 1}});
    row("jump passes anywhere", {{'o', 0, .5, 0, 1}}, FaderMode::Jump);
    row("motor passes anywhere", {{'o', 0, .9, .1, 1}}, FaderMode::Motor);
}

void MidiTest::pickup() {
    QFETCH(int, mode);
    QFETCH(QList<Step>, steps);
    Pickup p(static_cast<FaderMode>(mode));
    for (const Step &s : steps) {
        if (s.op == 'o')
            QCOMPARE(p.offer(s.a, s.b, s.t), s.expect == 1);
        else if (s.op == 'm')
            p.panelMoved(s.t);
        else if (s.op == 'r')
            p.rearm();
        else
            p.forgetSurface();
    }
}

// Gate scripts: v = setValue(a); i = noteInput; t/u = touch/untouch; d = due() expecting the
// value or -1; n = nextCheck() expecting the time or -1.
void MidiTest::motorGate_data() {
    QTest::addColumn<QList<Step>>("steps");
    QTest::newRow("a change goes once") << QList<Step>{
        {'d', 0, 0, 0, -1}, {'v', 0, 100},      {'d', 0, 0, 0, 100}, {'d', 1, 0, 0, -1},
        {'v', 2, 100},      {'d', 2, 0, 0, -1}, {'v', 3, 101},       {'d', 3, 0, 0, 101}};
    QTest::newRow("input holds for 300 ms") << QList<Step>{{'i', 0},
                                                           {'v', 10, 50},
                                                           {'d', 10, 0, 0, -1},
                                                           {'n', 10, 0, 0, 300},
                                                           {'d', 299, 0, 0, -1},
                                                           {'d', 300, 0, 0, 50},
                                                           {'n', 300, 0, 0, -1}};
    QTest::newRow("touch holds until released") << QList<Step>{
        {'t', 0},    {'v', 0, 50},         {'d', 5000, 0, 0, -1}, {'n', 5000, 0, 0, -1},
        {'u', 6000}, {'d', 6000, 0, 0, 50}};
    QTest::newRow("after the hand the position goes even if unchanged") << QList<Step>{
        {'v', 0, 50}, {'d', 0, 0, 0, 50}, {'i', 10}, {'d', 100, 0, 0, -1}, {'d', 310, 0, 0, 50}};
    QTest::newRow("the latest position wins")
        << QList<Step>{{'i', 0}, {'v', 1, 10}, {'v', 2, 20}, {'v', 3, 30}, {'d', 300, 0, 0, 30}};
}

void MidiTest::motorGate() {
    QFETCH(QList<Step>, steps);
    MotorGate gate;
    for (const Step &s : steps) {
        switch (s.op) {
        case 'v':
            gate.setValue(int(s.a));
            break;
        case 'i':
            gate.noteInput(s.t);
            break;
        case 't':
        case 'u':
            gate.setTouched(s.op == 't');
            break;
        case 'd':
            QCOMPARE(gate.due(s.t).value_or(-1), s.expect);
            break;
        default:
            QCOMPARE(gate.nextCheck().value_or(-1), qint64(s.expect));
        }
    }
}

void MidiTest::learn_data() {
    QTest::addColumn<int>("target");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QStringList>("events"); // "time:hex"
    QTest::addColumn<int>("poll");           // -1: none
    QTest::addColumn<QString>("learned");
    const int f = int(LearnTarget::Fader2), b = int(LearnTarget::Stereo1);
    const auto row = [](const char *name, int target, const QStringList &events, int poll,
                        const char *learned, FaderMode mode = FaderMode::Pickup) {
        QTest::newRow(name) << target << int(mode) << events << poll << QString::fromUtf8(learned);
    };
    row("keeps the armed mode", f, {"0:e00040"}, -1, "pitchbend 1 motor", FaderMode::Motor);
    row("MSB then LSB", f, {"0:b00740", "5:b02705"}, -1, "cc14 1 7 pickup");
    row("LSB then MSB", f, {"0:b02705", "5:b00740"}, -1, "cc14 1 7 pickup");
    row("MSB moving on, then LSB", f, {"0:b00740", "40:b00741", "80:b02700"}, -1,
        "cc14 1 7 pickup");
    row("no pair within 100 ms", f, {"0:b00740"}, 100, "cc 1 7 pickup");
    row("not yet at 99 ms", f, {"0:b00740"}, 99, "");
    row("pair too late", f, {"0:b00740", "150:b02705"}, -1, "cc 1 7 pickup");
    row("pair on another channel", f, {"0:b00740", "5:b12705"}, -1, "cc 1 7 pickup");
    row("controller above 63 at once", f, {"0:b04640"}, -1, "cc 1 70 pickup");
    row("touch note skipped", f, {"0:90687f", "1:e00040"}, -1, "pitchbend 1 pickup");
    row("note button", b, {"0:803c40", "1:913c7f"}, -1, "note 2 60");
    row("cc button press", b, {"0:b01400", "1:e00040", "2:b01440"}, -1, "cc 1 20");
}

void MidiTest::learn() {
    QFETCH(int, target);
    QFETCH(int, mode);
    QFETCH(QStringList, events);
    QFETCH(int, poll);
    QFETCH(QString, learned);
    MidiLearn learn;
    learn.arm(static_cast<LearnTarget>(target), static_cast<FaderMode>(mode));
    std::optional<Learned> result;
    for (const QString &e : events) {
        QVERIFY(!result);
        const QStringList parts = e.split(u':');
        result =
            learn.feed(Decode(QByteArray::fromHex(parts[1].toLatin1())), parts[0].toLongLong());
    }
    if (!result && poll >= 0)
        result = learn.poll(poll);
    QCOMPARE(result.has_value(), !learned.isEmpty());
    QCOMPARE(learn.armed(), !result.has_value());
    if (!result)
        return;
    QCOMPARE(int(result->target), target);
    const auto *fader = std::get_if<FaderBinding>(&result->binding);
    QCOMPARE(fader ? ToText(*fader) : ToText(std::get<ButtonBinding>(result->binding)), learned);
}

void MidiTest::settingsSection() {
    const QHash<QString, QString> file{
        {"MIDI Input", " ctl:out "}, {"MIDI Fader 1", "PitchBend 1 Motor"},
        {"MIDI Fader 2", "cc 17 7"}, {"MIDI Zero 1", "note 1 60"},
        {"MIDI Stereo 1", "  "},     {"MIDI Stereo 2", "cc 2 20 jump"},
        {"MIDI Lock", "cc 1 64"},    {"MIDI Scene 1", "note 1 1"}};
    MidiSetup setup = ReadMidiSetup([&](const QString &key) { return file.value(key); });
    QCOMPARE(setup.problems, (QStringList{"MIDI Fader 2=cc 17 7: channel 17 is not 1-16",
                                          "MIDI Stereo 2=cc 2 20 jump: unexpected \"jump\" after "
                                          "the controller"}));
    QCOMPARE(setup.input, QStringLiteral("ctl:out"));
    QCOMPARE(setup.faders[0], (FaderBinding{FaderKind::PitchBend, 1, 0, FaderMode::Motor}));
    QVERIFY(!setup.faders[1] && !setup.zero[1] && !setup.stereo[0] && !setup.stereo[1]);
    QCOMPARE(setup.lock, (ButtonBinding{ButtonKind::ControlChange, 1, 64}));
    // Written back canonical; the lines that did not parse as they were, until bound anew.
    using Entries = QList<QPair<QString, QString>>;
    const Entries written{{"MIDI Input", "ctl:out"},
                          {"MIDI Output", ""},
                          {"MIDI Fader 1", "pitchbend 1 motor"},
                          {"MIDI Fader 2", "cc 17 7"},
                          {"MIDI Zero 1", "note 1 60"},
                          {"MIDI Zero 2", ""},
                          {"MIDI Stereo 1", ""},
                          {"MIDI Stereo 2", "cc 2 20 jump"},
                          {"MIDI Lock", "cc 1 64"}};
    QCOMPARE(MidiSetupEntries(setup), written);
    setup.faders[1] = FaderBinding{FaderKind::ControlChange, 16, 7, FaderMode::Jump};
    QCOMPARE(MidiSetupEntries(setup).at(3).second, QStringLiteral("cc 16 7 jump"));
}

void MidiTest::stablePortNames() {
    QCOMPARE(StablePortName("nanoKONTROL2:nanoKONTROL2 nanoKONTROL2 _ CTRL 28:0", true),
             QStringLiteral("nanoKONTROL2:nanoKONTROL2 nanoKONTROL2 _ CTRL"));
    QCOMPARE(StablePortName("ctl:out 14:0", false), QStringLiteral("ctl:out 14:0"));
}

namespace {

// The names of the ports the server lists, or nothing while it does not answer.
std::optional<QByteArray> JackPorts() {
    QProcess lsp;
    lsp.start(QStringLiteral("jack_lsp"), {});
    if (!lsp.waitForFinished(3000) || lsp.exitStatus() != QProcess::NormalExit ||
        lsp.exitCode() != 0)
        return std::nullopt;
    return lsp.readAllStandardOutput();
}

// The JACK server and the controller, stopped however the test ends.
struct JackRig {
    QProcess server;
    QProcess controller;
    ~JackRig() {
        controller.kill();
        controller.waitForFinished(2000);
        TestSupport::StopJackServer(server);
    }
    bool startController() { return TestSupport::StartMidiController(controller); }
};

} // namespace

void MidiTest::jackPorts() {
    if (const QString why = TestSupport::JackMidiUnavailable(); !why.isEmpty())
        QSKIP(qPrintable(why));
    const QByteArray name = "ds-test-midi";
    TestSupport::ClearStaleJackState();
    qputenv("JACK_DEFAULT_SERVER", name);

    // No MIDI system yet: unavailable, with the reason, and the panel carries on.
    auto ports = std::make_unique<MidiPorts>();
    QVERIFY(!ports->hasClient());
    QSignalSpy received(ports.get(), &MidiPorts::messageReceived);
    QSignalSpy lost(ports.get(), &MidiPorts::portLost);
    QSignalSpy found(ports.get(), &MidiPorts::portFound);
    QSignalSpy availability(ports.get(), &MidiPorts::availabilityChanged);
    ports->setInputPort("ctl:out");
    QVERIFY(!ports->available());
    const QString noServer = QStringLiteral(
        "no ALSA sequencer (/dev/snd/seq is missing), and no JACK server is running");
    QCOMPARE(ports->unavailableReason(), noServer);
    QVERIFY(!ports->hasClient());
    QVERIFY(!ports->send(EncodeControlChange(1, 7, 0)));

    // The server and the controller come: the bound port is found by the next check.
    JackRig rig;
    QVERIFY(TestSupport::StartJackServer(rig.server, name));
    QVERIFY(QTest::qWaitFor([] { return JackPorts().has_value(); }, 5000));
    QVERIFY(rig.startController());
    QTRY_COMPARE_WITH_TIMEOUT(found.size(), 1, 2500);
    QCOMPARE(found.at(0).at(0).toString(), QStringLiteral("ctl:out"));
    QVERIFY(ports->available());
    QCOMPARE(ports->apiName(), QStringLiteral("jack"));
    QVERIFY(ports->inputPortNames().contains("ctl:out"));
    QVERIFY(ports->outputPortNames().contains("ctlfb:in"));
    ports->setOutputPort("ctlfb:in");
    QCOMPARE(found.size(), 2);
    QVERIFY(ports->isInputOpen() && ports->isOutputOpen());

    rig.controller.write("b00764\n903c7f\n");
    QTRY_COMPARE_WITH_TIMEOUT(received.size(), 2, 2000);
    QCOMPARE(received.at(0).at(0).toByteArray(), Bytes("b00764"));
    QCOMPARE(received.at(1).at(0).toByteArray(), Bytes("903c7f"));
    for (const Message &m : EncodeControlChange14(1, 7, 8197))
        QVERIFY(ports->send(m));
    QVERIFY(QTest::qWaitFor([&] { return rig.controller.bytesAvailable() >= 14; }, 2000));
    QCOMPARE(rig.controller.readAll(), QByteArray("b00740\nb02705\n"));

    // Unplugged: lost within one check; plugged again: found by name within one more.
    rig.controller.kill();
    rig.controller.waitForFinished(2000);
    QTRY_VERIFY_WITH_TIMEOUT(lost.size() >= 1, 2500);
    QTRY_COMPARE_WITH_TIMEOUT(lost.size(), 2, 500);
    QVERIFY(!ports->isInputOpen());
    QVERIFY(!ports->send(EncodePitchBend(1, 0)));
    QVERIFY(rig.startController());
    QTRY_COMPARE_WITH_TIMEOUT(found.size(), 4, 2500);
    QCOMPARE(found.at(2).at(0).toString() + found.at(3).at(0).toString(),
             QStringLiteral("ctl:outctlfb:in"));
    QVERIFY(ports->send(EncodePitchBend(1, 0)));
    QVERIFY(QTest::qWaitFor([&] { return rig.controller.canReadLine(); }, 2000));
    QCOMPARE(rig.controller.readLine(), QByteArray("e00000\n"));

    // Unbound: the client goes, and with it every port of the panel.
    ports->setInputPort(QString());
    ports->setOutputPort(QString());
    QVERIFY(!ports->hasClient());
    const auto listed = JackPorts();
    QVERIFY(listed);
    QVERIFY(listed->contains("ctl:out"));
    QVERIFY(!listed->contains("Dual Slider"));

    // Bound again, then the server stops: the panel says so and lets the dead client go.
    ports->setInputPort("ctl:out");
    QVERIFY(ports->isInputOpen());
    TestSupport::StopJackServer(rig.server);
    QTRY_VERIFY_WITH_TIMEOUT(!ports->available(), 2500);
    QCOMPARE(ports->unavailableReason(), noServer);
    QVERIFY(!ports->hasClient());
    QCOMPARE(lost.size(), 3);
    QCOMPARE(availability.last().at(0).toBool(), false);
    ports.reset();
}

QTEST_MAIN(MidiTest)
#include "test_midi.moc"
