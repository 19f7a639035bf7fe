// Fuzz target for the receive path: arbitrary bytes, appended to sBuffer in chunks whose sizes
// the input itself chooses, driven through the dispatcher step (as the TCP data handler runs
// it), the decode timer tick and the serial-side decoder, with every decoder live. After each
// call the buffer and the tables are checked against what the receive path promises: bytes
// leave only from the front, the EOM search agrees with a plain one, pings alone are answered,
// a step waits only for an incomplete message within the bound, and the tables stay in range.
//
// Input: one plan byte, then the byte stream.
//  - plan byte kFloodPlan: once, at a chunk boundary, the stream is padded with data bytes
//    past the pending-message bound, as a switcher that never sends an EOM would (rare, as
//    such an input costs milliseconds);
//  - the plan byte and the stream seed the generator that picks chunk sizes and drivers.
//
// A valid greeting makes the panel hold its thread for 100 ms, which would slow fuzzing to a
// crawl. The stream is therefore rewritten so that no valid greeting can ever be cut from it:
// its checksum is spoiled. Invalid greetings, which take every branch of the greeting check
// but the answer, still reach the decoder.

#define DS_FUZZ_TARGET "fuzz_receive"
#include "Check.h"

#include "protocol/ByteManipulation.h"
#include "protocol/Dispatcher.h"
#include "protocol/ProtocolHost.h"
#include "protocol/SerialDecoder.h"
#include "protocol/WireFormat.h"

#include <QByteArray>
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

namespace {

using namespace WireFormat;

// The checks are not the code under test: keep the fuzzer's comparison tracing out of them,
// which would otherwise cost more than the receive path itself.
#if defined(__clang__)
#define DS_NOT_FUZZED __attribute__((no_sanitize("coverage")))
#else
#define DS_NOT_FUZZED
#endif

constexpr quint8 kFloodPlan = 0xF0;

// Buffers above this are only compared at their ends, and drained by single steps.
constexpr std::size_t kLargeBuffer = 64 * 1024;

// Spoils every valid greeting in the stream. A cut always runs from its status byte to the next
// EOM of the stream, so looking at the stream is enough; repeat until nothing changes, as one
// change could in principle complete another greeting ending at the same EOM.
DS_NOT_FUZZED void SpoilGreetings(std::string &stream) {
    for (bool changed = true; changed;) {
        changed = false;
        for (std::size_t i = 0; i < stream.size(); ++i) {
            if (static_cast<quint8>(stream[i]) != kGreeting)
                continue;
            const std::size_t eom = stream.find(static_cast<char>(kEom), i);
            if (eom == std::string::npos)
                break;
            const std::size_t length = eom - i + 1;
            if (length != kGreetingShortLength && length != kGreetingLongLength)
                continue;
            const QByteArray message(stream.data() + i, static_cast<qsizetype>(length));
            if (static_cast<quint8>(message.at(1)) != kGreetingMagic)
                continue;
            const auto sum = static_cast<quint8>(message.at(message.size() - kTrailerBytes));
            if (ByteManipulation::CalcChecksum(message.left(message.size() - kTrailerBytes)) != sum)
                continue;
            stream[eom - 1] = static_cast<char>(sum ^ 1); // still a data byte
            changed = true;
        }
    }
}

// A small deterministic generator, seeded from the input, so that a saved input replays the
// same chunks and drivers.
struct Generator {
    std::uint32_t state;
    void mix(quint8 byte) { state = state * 1664525u + 1013904223u + byte; }
    std::uint32_t next() {
        std::uint32_t x = state;
        x ^= x >> 15;
        x *= 0x2C1B3C6Du;
        x ^= x >> 12;
        return x;
    }
};

// What the buffer must hold: the stream from `head` to `end`. The EOM search resumes where the
// previous one stopped, as the buffer's own does, so the model costs the same per step.
struct Shadow {
    std::string stream;
    std::size_t head = 0;
    std::size_t end = 0; // bytes appended so far
    std::size_t scan = 0;

    std::size_t size() const { return end - head; }
    quint8 front() const { return static_cast<quint8>(stream[head]); }
    // 1-based position of the first EOM in the buffer, 0 when none.
    DS_NOT_FUZZED std::size_t firstEom() {
        scan = std::max(scan, head);
        const void *hit = std::memchr(stream.data() + scan, kEom, end - scan);
        if (!hit) {
            scan = end;
            return 0;
        }
        scan = static_cast<std::size_t>(static_cast<const char *>(hit) - stream.data());
        return scan - head + 1;
    }
};

// The receive path's host: the buffer and tables it works on, and the checks of what the
// decoders tell it.
struct Host final : ProtocolHost {
    ReceiveBuffer sBuffer;
    std::unique_ptr<SwitcherTables> tables = std::make_unique<SwitcherTables>();
    int sends = 0;

    void SendToSwitcher(const QByteArray &message) override {
        // With greetings spoiled, the only thing the receive path may send is the pong.
        Check(message == QByteArray(1, static_cast<char>(kPong)), "sent something else than F4");
        ++sends;
    }
    void noteFailure(const char *) override {}
    void gainsApplied(const StoredGains &) override {}
    void crosspointMapDecoded(int first, int last) override {
        Check(first >= 0 && first <= last && first <= kMaxChannel, "maps stored out of range");
    }
    void counterIncremented(int k) override {
        Check(k >= 0 && k < kCounterCount, "counter index out of range");
    }
    void frontCut(const FrameCutter::Front &, const QByteArray &) override {}
};

// Reused from input to input: a fresh set of tables costs more than the receive path.
Host &TheHost() {
    static Host host;
    return host;
}

// The buffer only loses bytes from its front: it must hold a suffix of what it held before,
// and that is what the shadow holds after advancing its head by the bytes removed.
DS_NOT_FUZZED void CheckSuffix(Shadow &shadow) {
    const ReceiveBuffer &buffer = TheHost().sBuffer;
    const auto now = static_cast<std::size_t>(buffer.size());
    Check(now <= shadow.size(), "the buffer grew without an append");
    shadow.head = shadow.end - now;
    // Compare everything for small buffers; for large ones both ends, which catches any
    // removal or insertion away from the front.
    constexpr std::size_t kEdge = 256;
    for (std::size_t i = 0; i < now; ++i) {
        if (now > kLargeBuffer && i == kEdge)
            i = now - kEdge;
        Check(buffer.at(static_cast<qsizetype>(i)) ==
                  static_cast<quint8>(shadow.stream[shadow.head + i]),
              "the buffer lost or changed bytes behind its front");
    }
}

DS_NOT_FUZZED void CheckCounters() {
    const auto &[udtInGain, udtOutGain, udtXpt, iMsgCount, iHistoryCount, udtHistory] =
        *TheHost().tables;
    Check(iHistoryCount >= 0 && iHistoryCount <= kHistorySize, "iHistoryCount out of range");
    for (const qint16 count : iMsgCount)
        Check(count >= 0, "a message counter went negative");
}

// Everything the decoders may have written: indexes and values as the protocol can carry them.
DS_NOT_FUZZED void CheckTables() {
    const auto &[udtInGain, udtOutGain, udtXpt, iMsgCount, iHistoryCount, udtHistory] =
        *TheHost().tables;
    CheckCounters();
    for (int h = 0; h < iHistoryCount; ++h) {
        const GainEntry &entry = udtHistory[static_cast<std::size_t>(h)];
        Check(entry.bKind == kKindCrosspoint, "history holds a non-crosspoint entry");
        Check(entry.iValue >= 0 && entry.iChannel >= 0, "history entry negative");
        Check(entry.iSource >= 0 && entry.iSource <= kMaxReportedSource,
              "history source out of range");
    }
    for (std::size_t c = 0; c < kTableSize; ++c) {
        Check(udtInGain[c].iChannel >= 0 && udtInGain[c].iSource >= 0, "input gain negative");
        Check(udtOutGain[c].iChannel >= 0 && udtOutGain[c].iSource >= 0, "output gain negative");
        // A map decoder writes a record only with its sMap; the gain decoder writes only into
        // slots of a stored record. Records without one are as they started.
        const CrosspointMap &map = udtXpt[c];
        if (map.sMap.isEmpty())
            continue;
        Check(map.sMap.size() == kMapSources, "sMap has a wrong length");
        Check(map.sMap.count('0') + map.sMap.count('1') == kMapSources,
              "sMap holds something other than 0/1");
        for (std::size_t s = 0; s < map.iSources.size(); ++s) {
            Check(map.iSources[s] >= 0 && map.iSources[s] <= kMapSources,
                  "map source out of range");
            Check(map.iGains[s] >= 0, "map gain negative");
            if (map.iSources[s] != 0)
                Check(map.sMap.at(map.iSources[s] - 1) == '1', "kept source not marked in sMap");
        }
    }
}

struct Run {
    Shadow shadow;
    Host &host = TheHost();
};

// Why a step may remove nothing: an incomplete framed message at the front, within the bound.
DS_NOT_FUZZED void CheckWaiting(Shadow &shadow) {
    if (shadow.size() == 0)
        return;
    const quint8 b = shadow.front();
    Check(ByteManipulation::IsStatusByte(b) && b != kPing && b != kPong && b != kSystemF1 &&
              b != kSystemF3,
          "a step left a byte in place that it must remove");
    Check(shadow.firstEom() == 0, "a step left a complete message in place");
    Check(shadow.size() <= static_cast<std::size_t>(kMaxPendingBytes),
          "a step waited although the buffer is over its bound");
}

// The buffer's own EOM search, which resumes across appends and removals, against the plain
// search of the shadow.
DS_NOT_FUZZED void CheckEomSearch(Shadow &shadow) {
    Check(static_cast<std::size_t>(TheHost().sBuffer.firstEom()) == shadow.firstEom(),
          "the buffer's EOM search disagrees with a plain search");
}

// One dispatcher step: it answers a ping at the front and nothing else, and it removes nothing
// only while an incomplete message waits. Which bytes each rule removes is the unit tables'.
void Step(Run &run) {
    Shadow &shadow = run.shadow;
    const bool ping = shadow.size() > 0 && shadow.front() == kPing;
    const std::size_t before = shadow.size();
    const int sendsBefore = run.host.sends;
    TCPComm::ProcessCommand(run.host.sBuffer, *run.host.tables, run.host);
    CheckSuffix(shadow);
    CheckEomSearch(shadow);
    Check(run.host.sends - sendsBefore == (ping ? 1 : 0), "F5 not answered exactly once");
    if (shadow.size() == before)
        CheckWaiting(shadow);
    CheckCounters();
}

// One pass of the serial-side decoder, which never answers anything.
void SerialPass(Run &run) {
    const int sendsBefore = run.host.sends;
    TCPComm::DecodeMessage(run.host.sBuffer, *run.host.tables, run.host);
    CheckSuffix(run.shadow);
    Check(run.host.sends == sendsBefore, "the serial decoder sent something");
    CheckCounters();
}

// One tmrDecode tick: any number of steps within its budget; when it stops the timer, the
// buffer is drained or waits for bytes that have not arrived.
void Tick(Run &run) {
    const bool running = TCPComm::DecodeTick(run.host.sBuffer, *run.host.tables, run.host);
    CheckSuffix(run.shadow);
    if (!running)
        CheckWaiting(run.shadow);
    CheckCounters();
}

void Append(Run &run, std::size_t count) {
    Shadow &shadow = run.shadow;
    run.host.sBuffer.append(shadow.stream.data() + shadow.end, static_cast<qsizetype>(count));
    shadow.end += count;
    CheckSuffix(shadow);
    CheckEomSearch(shadow);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size == 0)
        return 0;
    const quint8 plan = data[0];
    Host &host = TheHost();
    host.sBuffer.clear();
    *host.tables = SwitcherTables{};
    host.sends = 0;
    Run run;

    std::string payload(reinterpret_cast<const char *>(data + 1), size - 1);
    SpoilGreetings(payload);
    const auto pings =
        static_cast<int>(std::count(payload.begin(), payload.end(), static_cast<char>(kPing)));
    bool flood = plan == kFloodPlan;
    // Room for the flood: data bytes that push a waiting message past the bound.
    const std::size_t floodBytes = static_cast<std::size_t>(kMaxPendingBytes) + 1;
    run.shadow.stream.reserve(payload.size() + (flood ? floodBytes : 0));

    Generator gen{0x9E3779B9u ^ (std::uint32_t{plan} << 24) ^ static_cast<std::uint32_t>(size)};
    std::size_t pos = 0;
    while (pos < payload.size()) {
        gen.mix(static_cast<quint8>(payload[pos]));
        const std::uint32_t r = gen.next();
        // Mostly small chunks, as a link delivers them under load; now and then a large one.
        const std::size_t limit = (r & 0x300) == 0 ? 4096 : 16;
        const std::size_t count =
            std::min<std::size_t>(1 + (r >> 16) % limit, payload.size() - pos);
        run.shadow.stream.append(payload, pos, count);
        pos += count;
        Append(run, count);
        if (flood && ((r & 7) == 0 || pos == payload.size())) {
            flood = false;
            const auto filler = static_cast<char>(payload[pos - 1] & kDataMask);
            run.shadow.stream.append(floodBytes, filler);
            Append(run, floodBytes);
        }
        switch ((r >> 4) & 3) {
        case 0: // TCP data handler: one step, then the timer when bytes remain
            Step(run);
            break;
        case 1: // serial receive handler
            // Past the flood one pass would drop the whole filler; one step keeps it cheap.
            if (run.shadow.size() > kLargeBuffer)
                Step(run);
            else
                SerialPass(run);
            break;
        case 2: // a tmrDecode tick
            // Past the flood a tick would spend its whole budget dropping filler bytes.
            if (run.shadow.size() > kLargeBuffer)
                Step(run);
            else
                Tick(run);
            break;
        default: // a few dispatcher steps, as successive ticks of one step each would make
            for (std::uint32_t k = 0; k < 1 + ((r >> 8) & 7); ++k)
                Step(run);
            break;
        }
    }

    // Drain as the timer would, step by step with the model; a flooded buffer is only checked
    // for its first steps past the bound, not drained a byte at a time.
    const std::size_t maxSteps = 2 * payload.size() + 64;
    for (std::size_t k = 0; k < maxSteps && run.shadow.size() > 0; ++k) {
        const std::size_t before = run.shadow.size();
        Step(run);
        if (run.shadow.size() == before)
            break;
    }
    if (run.shadow.size() <= kLargeBuffer)
        Tick(run);
    Check(host.sBuffer.size() <= kMaxPendingBytes, "the buffer ended over its bound");
    // Every answer was for a ping of the stream (the serial decoder drops them unanswered).
    Check(host.sends <= pings, "answers without pings");
    CheckTables();
    return 0;
}
