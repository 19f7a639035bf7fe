#include "protocol/GainReport.h"

#include "protocol/ByteManipulation.h"
#include "protocol/Failure.h"
#include "protocol/WireFormat.h"

#include <algorithm>
#include <limits>

namespace TCPComm {

namespace {

using namespace WireFormat;
using ByteManipulation::Read14;
using Decoded::Refusal;
using Decoded::Rule;

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

bool HasTable(quint8 kind) {
    return kind <= kKindOutput || kind == kKindCrosspoint;
}

// The entries after the header: kind 10 as (gain, source) pairs for one output, other kinds as
// one gain per channel from the first. Reading stops at the first entry that cannot be read.
void ReadEntries(const QByteArray &message, int count, Decoded::GainReport &report) {
    const bool crosspoint = report.kind == kKindCrosspoint;
    const int entryBytes = crosspoint ? kCrosspointEntryBytes : kChannelEntryBytes;
    report.entries.reserve(std::min<qsizetype>(count, message.size() / entryBytes + 1));
    qsizetype pos = kGainEntriesPos;
    for (int k = 0; k < count; ++k, pos += entryBytes) {
        const auto value = Read14(message, pos);
        if (!value)
            return;
        if (!crosspoint) {
            report.entries.append(
                GainEntry{report.kind, *value, static_cast<qint16>(report.first + k), 0});
            continue;
        }
        const auto source = Read14(message, pos + kChannelEntryBytes);
        if (!source)
            return;
        report.entries.append(GainEntry{kKindCrosspoint, *value, report.first,
                                        std::min(*source, kMaxReportedSource)});
    }
}

// The first entry whose channel (for kind 10, whose output) the tables do not hold. Kinds
// without a table are not checked, nor kind 10 entries past the table's length, which are never
// stored.
std::optional<int> FirstBeyondTables(const Decoded::GainReport &report) {
    if (!HasTable(report.kind))
        return std::nullopt;
    for (qsizetype k = 0; k < report.entries.size(); ++k) {
        if (report.kind == kKindCrosspoint && k > kMaxChannel)
            continue;
        const qint16 channel = report.entries.at(k).iChannel;
        if (channel < 0 || channel > kMaxChannel)
            return static_cast<int>(k);
    }
    return std::nullopt;
}

// The history keeps the first entries only; once full, later entries go unrecorded but are
// still applied.
void Remember(SwitcherTables &tables, const GainEntry &entry) {
    if (tables.iHistoryCount < 0 || tables.iHistoryCount >= kHistorySize)
        return;
    tables.udtHistory[static_cast<std::size_t>(tables.iHistoryCount)] = entry;
    ++tables.iHistoryCount;
}

// The counters stop at the top of their range rather than wrap or fail: a failure here would
// keep every later gain for the same crosspoint from being applied.
void Count(SwitcherTables &tables, int k, GainsApplied &applied) {
    qint16 &counter = tables.iMsgCount[static_cast<std::size_t>(k)];
    if (counter < kInt16Max)
        ++counter;
    applied.counted.append(k);
}

// Sets the gain of the entry's source on its output, if the output's map lists it. False when
// the map claims more sources than there are slots and none of the slots lists it.
bool ApplyCrosspoint(const GainEntry &entry, SwitcherTables &tables, GainsApplied &applied) {
    auto &map = tables.udtXpt[static_cast<std::size_t>(entry.iChannel)];
    const qint16 wanted = static_cast<qint16>(entry.iSource + 1);
    for (int slot = 0; slot < map.bCount; ++slot) {
        if (slot >= kMapSlots)
            return false;
        if (map.iSources[static_cast<std::size_t>(slot)] == wanted) {
            map.iGains[static_cast<std::size_t>(slot)] = entry.iValue;
            Count(tables, CounterFor(entry.iChannel, entry.iSource), applied);
            applied.stored.gains.append({entry.iSource, entry.iValue});
            return true;
        }
    }
    return true;
}

} // namespace

Decoded::GainReport DecodeGainReport(const QByteArray &message) {
    Decoded::GainReport report;
    const auto refuse = [&](Rule rule) {
        report.refusal = Refusal{rule, message.size()};
        return report;
    };
    if (const auto fault = Decoded::CheckFraming(message)) {
        report.refusal = fault;
        return report;
    }
    if (message.size() < kGainKindPos)
        return refuse(Rule::WrongLength);
    report.kind = static_cast<quint8>(message.at(kGainKindPos - 1));

    const auto n = Read14(message, kGainCountPos);
    const auto first = Read14(message, kGainFirstPos);
    if (!n || !first)
        return refuse(Rule::UnreadableHeader);
    if (*n == 0)
        return refuse(Rule::NoEntries);
    const bool crosspoint = report.kind == kKindCrosspoint;
    if (!crosspoint && *first + *n - 1 > kInt16Max)
        return refuse(Rule::ChannelsPastRange);
    report.first = *first;
    const qint64 expected =
        kGainFixedLength + qint64{crosspoint ? kCrosspointEntryBytes : kChannelEntryBytes} * *n;

    ReadEntries(message, *n, report);
    if (message.size() != expected || report.entries.size() < *n) {
        refuse(message.size() != expected ? Rule::WrongLength : Rule::UnreadableEntry);
        report.refusal->expected = expected;
        report.refusal->at = static_cast<int>(report.entries.size());
        return report;
    }
    if (const auto beyond = FirstBeyondTables(report)) {
        refuse(Rule::BeyondTables);
        report.refusal->at = report.entries.at(*beyond).iChannel;
        report.storable = *beyond;
        return report;
    }
    report.storable = report.entries.size();
    return report;
}

GainsApplied ApplyGainReport(const Decoded::GainReport &report, SwitcherTables &tables) {
    GainsApplied applied;
    applied.stored.kind = report.kind;
    if (report.kind == kKindCrosspoint) {
        applied.stored.output = report.first;
        for (const GainEntry &entry : report.entries)
            Remember(tables, entry);
    }
    for (qsizetype k = 0; k < report.storable; ++k) {
        const GainEntry &entry = report.entries.at(k);
        if (!HasTable(entry.bKind) || (entry.bKind == kKindCrosspoint && k > kMaxChannel))
            continue;
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
            if (!ApplyCrosspoint(entry, tables, applied))
                return applied;
            continue;
        }
        applied.stored.gains.append({entry.iChannel, entry.iValue});
    }
    applied.complete = report.accepted();
    return applied;
}

void ReceiveGain(QByteArray message, SwitcherTables &tables, ProtocolHost &host) {
    const GainsApplied applied = ApplyGainReport(DecodeGainReport(message), tables);
    for (const int k : applied.counted)
        host.counterIncremented(k);
    if (!applied.complete) {
        host.noteFailure(kErrReceiveGain);
        return;
    }
    host.gainsApplied(applied.stored);
}

} // namespace TCPComm
