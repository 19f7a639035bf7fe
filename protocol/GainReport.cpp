#include "protocol/GainReport.h"

#include "protocol/ByteManipulation.h"
#include "protocol/Failure.h"
#include "protocol/WireFormat.h"

#include <QList>
#include <algorithm>
#include <limits>
#include <optional>

namespace TCPComm {

namespace {

using namespace WireFormat;
using ByteManipulation::Read14;

constexpr int kInt16Max = std::numeric_limits<qint16>::max();

// The crosspoints that the counters panel watches: outputs 64 and 65 (0-based), each with
// sources 64 to 67; counter 8 takes the other sources of those outputs, counter 9 all else.
constexpr qint16 kWatchedOutput = 64;
constexpr int kWatchedOutputs = 2;
constexpr qint16 kWatchedSource = 64;
constexpr int kWatchedSources = 4;
constexpr int kCounterOtherSource = 8;
constexpr int kCounterOtherOutput = 9;

int CounterFor(qint16 output, qint16 source) {
    const int o = output - kWatchedOutput;
    if (o < 0 || o >= kWatchedOutputs)
        return kCounterOtherOutput;
    const int s = source - kWatchedSource;
    if (s < 0 || s >= kWatchedSources)
        return kCounterOtherSource;
    return o * kWatchedSources + s;
}

// One report being decoded: where it writes and whom it tells.
struct Decode {
    SwitcherTables &tables;
    ProtocolHost &host;

    bool Fail() {
        host.noteFailure(kErrReceiveGain);
        return false;
    }

    // The counters stop at the top of their range rather than wrap or fail: a failure here
    // would keep every later gain for the same crosspoint from being applied.
    void Count(int k) {
        qint16 &counter = tables.iMsgCount[static_cast<std::size_t>(k)];
        if (counter < kInt16Max)
            ++counter;
        host.counterIncremented(k);
    }

    // The history keeps the first entries only; once full, later entries go unrecorded but
    // are still applied.
    void Remember(const GainEntry &entry) {
        if (tables.iHistoryCount < 0 || tables.iHistoryCount >= kHistorySize)
            return;
        tables.udtHistory[static_cast<std::size_t>(tables.iHistoryCount)] = entry;
        ++tables.iHistoryCount;
    }

    bool ChannelEntries(const QByteArray &message, quint8 kind, QList<GainEntry> &entries,
                        qsizetype &expected);
    bool CrosspointEntries(const QByteArray &message, QList<GainEntry> &entries,
                           qsizetype &expected);
    bool ApplyCrosspoint(const GainEntry &entry);
    bool Apply(const QList<GainEntry> &entries);
};

// Kinds other than 10: N values for channels F .. F + N - 1.
bool Decode::ChannelEntries(const QByteArray &message, quint8 kind, QList<GainEntry> &entries,
                            qsizetype &expected) {
    const auto n = Read14(message, kGainCountPos);
    const auto first = Read14(message, kGainFirstPos);
    if (!n || !first)
        return Fail();
    expected = kGainFixedLength + qsizetype{kChannelEntryBytes} * *n;
    if (*n == 0)
        return Fail();
    const int last = *first + *n - 1;
    if (last > kInt16Max)
        return Fail();
    entries.reserve(std::min<qsizetype>(*n, message.size()));
    qsizetype pos = kGainEntriesPos;
    for (int c = *first; c <= last; ++c, pos += kChannelEntryBytes) {
        const auto value = Read14(message, pos);
        if (!value)
            return Fail();
        entries.append(GainEntry{kind, *value, static_cast<qint16>(c), 0});
    }
    return true;
}

// Kind 10: N (gain, source) pairs for output O. Each entry goes to the history as soon as it
// is read, so entries before a fault further on are remembered.
bool Decode::CrosspointEntries(const QByteArray &message, QList<GainEntry> &entries,
                               qsizetype &expected) {
    const auto n = Read14(message, kGainCountPos);
    if (!n || *n == 0)
        return Fail();
    const auto output = Read14(message, kGainFirstPos);
    if (!output)
        return Fail();
    expected = kGainFixedLength + qsizetype{kCrosspointEntryBytes} * *n;
    entries.reserve(std::min<qsizetype>(*n, message.size()));
    qsizetype pos = kGainEntriesPos;
    for (int k = 0; k < *n; ++k, pos += kCrosspointEntryBytes) {
        const auto value = Read14(message, pos);
        if (!value)
            return Fail();
        const auto source = Read14(message, pos + kChannelEntryBytes);
        if (!source)
            return Fail();
        const GainEntry entry{kKindCrosspoint, *value, *output,
                              std::min(*source, kMaxReportedSource)};
        entries.append(entry);
        Remember(entry);
    }
    return true;
}

// Sets the gain of the entry's source on its output, if the output's map lists it.
bool Decode::ApplyCrosspoint(const GainEntry &entry) {
    auto &map = tables.udtXpt[static_cast<std::size_t>(entry.iChannel)];
    const qint16 wanted = static_cast<qint16>(entry.iSource + 1);
    for (int slot = 0; slot < map.bCount; ++slot) {
        if (slot >= kMapSlots)
            return Fail(); // the count claims more sources than there are slots
        if (map.iSources[static_cast<std::size_t>(slot)] == wanted) {
            map.iGains[static_cast<std::size_t>(slot)] = entry.iValue;
            Count(CounterFor(entry.iChannel, entry.iSource));
            return true;
        }
    }
    return true;
}

bool Decode::Apply(const QList<GainEntry> &entries) {
    for (qsizetype k = 0; k < entries.size(); ++k) {
        const GainEntry &entry = entries.at(k);
        if (entry.bKind > kKindOutput && entry.bKind != kKindCrosspoint)
            continue; // kinds without a table
        if (entry.bKind == kKindCrosspoint && k > kMaxChannel)
            continue;
        if (entry.iChannel < 0 || entry.iChannel > kMaxChannel)
            return Fail();
        const auto index = static_cast<std::size_t>(entry.iChannel);
        switch (entry.bKind) {
        case kKindInputSecond:
            tables.udtInGain[index].iChannel = entry.iValue;
            break;
        case kKindInput:
            tables.udtInGain[index].iSource = entry.iValue;
            break;
        case kKindOutputSecond:
            tables.udtOutGain[index].iChannel = entry.iValue;
            break;
        case kKindOutput:
            tables.udtOutGain[index].iSource = entry.iValue;
            break;
        default:
            if (!ApplyCrosspoint(entry))
                return false;
            break;
        }
    }
    return true;
}

} // namespace

void ReceiveGain(QByteArray message, SwitcherTables &tables, ProtocolHost &host) {
    Decode decode{tables, host};
    if (!ByteManipulation::ChecksumMatches(message) || message.size() < kGainKindPos) {
        decode.Fail();
        return;
    }
    const auto kind = static_cast<quint8>(message.at(kGainKindPos - 1));

    QList<GainEntry> entries;
    qsizetype expected = 0;
    const bool decoded = kind == kKindCrosspoint
                             ? decode.CrosspointEntries(message, entries, expected)
                             : decode.ChannelEntries(message, kind, entries, expected);
    if (!decoded)
        return;
    if (message.size() != expected) {
        decode.Fail();
        return;
    }
    if (!decode.Apply(entries))
        return;
    host.gainReportDecoded();
}

} // namespace TCPComm
