#include "protocol/CrosspointMapDecoder.h"

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

// Reads the block of output o at pos into block. Advances pos and the expected message length.
// Entries of outputs from 1024 up are skipped unread; sources outside 0..1023 are skipped.
std::optional<Refusal> ReadBlock(const QByteArray &message, int o, qsizetype &pos, qint64 &expected,
                                 Decoded::MapBlock &block) {
    const auto n = Read14(message, pos);
    if (!n)
        return Refusal{Rule::WrongLength, message.size()};
    if (*n > kMapMaxEntries) {
        Refusal refusal{Rule::TooManySources, message.size()};
        refusal.at = o;
        refusal.count = *n;
        return refusal;
    }
    expected += kMapBlockHeaderBytes + qint64{kMapEntryBytes} * *n;
    pos += 2;
    if (pos > message.size())
        return Refusal{Rule::WrongLength, message.size()};
    block.count = *n;
    block.info = static_cast<quint8>(message.at(pos - 1));
    pos += 1;
    if (o >= kMapSources) {
        pos += qsizetype{kMapEntryBytes} * *n;
        return std::nullopt;
    }
    for (int e = 0; e < *n; ++e) {
        const auto source = Read14(message, pos);
        if (!source)
            return Refusal{Rule::UnreadableEntry, message.size(), -1, o};
        pos += 2;
        if (*source < 0 || *source >= kMapSources) {
            pos += 2;
            continue;
        }
        if (e >= kMapSlots)
            return Refusal{Rule::SlotsFull, message.size(), -1, o};
        const auto gain = Read14(message, pos);
        if (!gain)
            return Refusal{Rule::UnreadableEntry, message.size(), -1, o};
        pos += 2;
        block.sources.append({e, *source, *gain});
    }
    return std::nullopt;
}

} // namespace

Decoded::CrosspointMapReport DecodeCrosspointMap(const QByteArray &message) {
    Decoded::CrosspointMapReport map;
    const auto refuse = [&](Refusal refusal) {
        map.refusal = refusal;
        return map;
    };
    if (const auto fault = Decoded::CheckFraming(message)) {
        map.refusal = fault;
        return map;
    }
    const auto n = Read14(message, kMapCountPos);
    const auto first = Read14(message, kMapFirstPos);
    if (!n || !first)
        return refuse({Rule::UnreadableHeader, message.size()});
    if (*n == 0)
        return refuse({Rule::NoEntries, message.size()});
    if (*first + *n - 1 > kInt16Max)
        return refuse({Rule::ChannelsPastRange, message.size()});
    map.first = *first;
    map.outputs = *n;

    qint64 expected = kMapFixedLength;
    qsizetype pos = kMapBlocksPos;
    for (int o = *first; o < *first + *n; ++o) {
        // Each block adds at least its header to the length: a count of blocks that the message
        // cannot hold ends the walk as soon as the bytes run out.
        Decoded::MapBlock block;
        if (const auto refusal = ReadBlock(message, o, pos, expected, block))
            return refuse(*refusal);
        map.blocks.append(std::move(block));
    }
    if (message.size() != expected) {
        Refusal refusal{Rule::WrongLength, message.size()};
        refusal.expected = expected;
        return refuse(refusal);
    }
    // The store stops at the first output beyond the table; the outputs before it are stored.
    const int storable = std::clamp(kMaxChannel - *first + 1, 0, int{*n});
    map.storable = storable;
    if (storable < *n) {
        Refusal refusal{Rule::BeyondTables, message.size()};
        refusal.at = *first + storable;
        map.refusal = refusal;
    }
    return map;
}

void ApplyCrosspointMap(const Decoded::CrosspointMapReport &map, SwitcherTables &tables) {
    for (qsizetype r = 0; r < map.storable; ++r) {
        const Decoded::MapBlock &block = map.blocks.at(r);
        CrosspointMap record;
        record.sMap = QByteArray(kMapSources, '0');
        record.bCount = static_cast<quint8>(block.count);
        record.bInfo = block.info;
        for (const Decoded::MapSource &s : block.sources) {
            record.sMap[s.source] = '1';
            record.iSources[static_cast<std::size_t>(s.slot)] = static_cast<qint16>(s.source + 1);
            record.iGains[static_cast<std::size_t>(s.slot)] = s.gain;
        }
        tables.udtXpt[static_cast<std::size_t>(map.first + r)] = std::move(record);
    }
}

void ProcessCrosspointMap(QByteArray message, SwitcherTables &tables, ProtocolHost &host) {
    const Decoded::CrosspointMapReport map = DecodeCrosspointMap(message);
    ApplyCrosspointMap(map, tables);
    if (!map.accepted()) {
        host.noteFailure(kErrCrosspointMap);
        return;
    }
    host.crosspointMapDecoded(map.first, map.first + map.outputs - 1);
}

} // namespace TCPComm
