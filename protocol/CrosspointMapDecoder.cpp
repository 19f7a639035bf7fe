#include "protocol/CrosspointMapDecoder.h"

#include "protocol/ByteManipulation.h"
#include "protocol/Failure.h"
#include "protocol/WireFormat.h"

#include <QList>
#include <algorithm>
#include <limits>

namespace TCPComm {

namespace {

using namespace WireFormat;
using ByteManipulation::Read14;

constexpr int kInt16Max = std::numeric_limits<qint16>::max();

// Reads the block of output o at pos into record (null for outputs beyond the table, whose
// blocks are only checked). Advances pos and the expected message length. Entries of
// outputs from 1024 up, and sources outside 0..1023, count in bCount but are not kept.
bool ReadBlock(const QByteArray &message, int o, qsizetype &pos, qsizetype &expected,
               CrosspointMap *record) {
    const auto n = Read14(message, pos);
    if (!n || *n > kMapMaxEntries)
        return false;
    expected += kMapBlockHeaderBytes + qsizetype{kMapEntryBytes} * *n;
    pos += 2;
    if (pos > message.size())
        return false;
    const auto info = static_cast<quint8>(message.at(pos - 1));
    pos += 1;
    if (record) {
        record->sMap = QByteArray(kMapSources, '0');
        record->bCount = static_cast<quint8>(*n);
        record->bInfo = info;
    }
    if (o >= kMapSources) {
        pos += qsizetype{kMapEntryBytes} * *n;
        return true;
    }
    for (int e = 0; e < *n; ++e) {
        const auto source = Read14(message, pos);
        if (!source)
            return false;
        pos += 2;
        if (*source < 0 || *source >= kMapSources) {
            pos += 2;
            continue;
        }
        if (e >= kMapSlots)
            return false;
        const auto gain = Read14(message, pos);
        if (!gain)
            return false;
        pos += 2;
        if (record) {
            record->sMap[*source] = '1';
            record->iSources[static_cast<std::size_t>(e)] = static_cast<qint16>(*source + 1);
            record->iGains[static_cast<std::size_t>(e)] = *gain;
        }
    }
    return true;
}

} // namespace

void ProcessCrosspointMap(QByteArray message, SwitcherTables &tables, ProtocolHost &host) {
    const auto Fail = [&host] { host.noteFailure(kErrCrosspointMap); };
    if (!ByteManipulation::ChecksumMatches(message)) {
        Fail();
        return;
    }
    const auto n = Read14(message, kMapCountPos);
    const auto first = Read14(message, kMapFirstPos);
    if (!n || !first || *n == 0) {
        Fail();
        return;
    }
    const int last = *first + *n - 1;
    if (last > kInt16Max) {
        Fail();
        return;
    }

    // Records are built only for outputs that the table holds: the store stops at the first
    // output beyond it, so records past that point could never be stored.
    const int storable = std::clamp(kMaxChannel - *first + 1, 0, int{*n});
    QList<CrosspointMap> records(storable);
    qsizetype expected = kMapFixedLength;
    qsizetype pos = kMapBlocksPos;
    for (int o = *first; o <= last; ++o) {
        const int r = o - *first;
        CrosspointMap *record = r < storable ? &records[r] : nullptr;
        if (!ReadBlock(message, o, pos, expected, record)) {
            Fail();
            return;
        }
    }
    if (message.size() != expected) {
        Fail();
        return;
    }

    for (int r = 0; r < storable; ++r)
        tables.udtXpt[static_cast<std::size_t>(*first + r)] = records.at(r);
    if (storable < *n) {
        Fail(); // an output beyond the table: the outputs before it stay stored
        return;
    }
    host.crosspointMapDecoded(*first, last);
}

} // namespace TCPComm
