#pragma once

// A recording host for the protocol tests: it owns a receive buffer and the tables, and
// records everything the protocol asked of it, with the time since install() for the sends.

#include "protocol/ByteManipulation.h"
#include "protocol/Dispatcher.h"
#include "protocol/FrameCutter.h"
#include "protocol/ProtocolHost.h"
#include "protocol/ReceiveBuffer.h"
#include "protocol/SwitcherTables.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QPair>
#include <QTest>
#include <memory>

namespace ProtocolFakes {

// "E3 00 FF" -> the three bytes.
inline QByteArray Hex(const char *text) {
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

// Each value as a 14-bit field, low group first.
inline QByteArray Fields(const QList<int> &values) {
    QByteArray d;
    for (int v : values)
        ByteManipulation::Append14(d, v);
    return d;
}

// Status byte, the data exactly as given (bytes above 7F included), checksum and EOM.
inline QByteArray Frame(const char *status, const QByteArray &data) {
    QByteArray m = Hex(status) + data;
    m.append(static_cast<char>(ByteManipulation::CalcChecksum(m)));
    return m + Hex("FF");
}

// The worked examples: a gain report setting input 5 to 1000, and a crosspoint map of
// output 64 listing sources 65 and 66 (held 1-based) at gains 1000 and 500.
inline const QByteArray kReport5 = Hex("E3 00 01 01 00 05 00 68 07 76 FF");
inline const QByteArray kMapExample =
    Hex("F6 00 01 00 40 00 02 00 00 40 00 68 07 41 00 74 03 2A FF");

struct Recorder final : ProtocolHost {
    ReceiveBuffer sBuffer;
    std::unique_ptr<SwitcherTables> owned = std::make_unique<SwitcherTables>();
    SwitcherTables &tables = *owned;

    QList<QByteArray> sent;
    QList<qint64> sentAtMs;
    QList<int> shown;                  // counters counted up
    QList<QPair<int, int>> mapsStored; // first and last output of each stored map
    QByteArray cut;                    // every byte cut off the front, in order
    QString failure;                   // the last reason noted
    int reports = 0;                   // gain reports decoded to their end
    QList<StoredGains> stored;         // what each of them stored
    QElapsedTimer clock;

    Recorder() { clock.start(); }

    // Everything back to a fresh start: buffer, tables and records.
    void reset() {
        sBuffer.clear();
        *owned = SwitcherTables{};
        sent.clear();
        sentAtMs.clear();
        shown.clear();
        mapsStored.clear();
        cut.clear();
        failure.clear();
        reports = 0;
        stored.clear();
        clock.start();
    }

    // The dispatcher and the tmrDecode tick on this recorder's buffer and tables.
    bool step() { return TCPComm::ProcessCommand(sBuffer, tables, *this); }
    bool tick() { return TCPComm::DecodeTick(sBuffer, tables, *this); }

    void SendToSwitcher(const QByteArray &m) override {
        sent.append(m);
        sentAtMs.append(clock.elapsed());
    }
    void noteFailure(const char *reason) override { failure = QString::fromLatin1(reason); }
    void gainsApplied(const StoredGains &s) override {
        ++reports;
        stored.append(s);
    }
    void crosspointMapDecoded(int first, int last) override { mapsStored.append({first, last}); }
    void counterIncremented(int k) override { shown.append(k); }
    void frontCut(const FrameCutter::Front &front, const QByteArray &message) override {
        cut += message.isEmpty() ? QByteArray(1, char(front.status)) : message;
    }

    // The decode stopped with this reason and told of no stored report or map.
    void expectFailedWithoutRefresh(const char *reason) const {
        QCOMPARE(failure, QString(reason));
        QCOMPARE(reports + mapsStored.size(), 0);
    }
};

} // namespace ProtocolFakes
