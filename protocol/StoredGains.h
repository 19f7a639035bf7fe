#pragma once

// What a gain report changed in the tables, as the link tells it upward: the kind of gain and,
// for each entry the tables took, the channel and its new gain.

#include <QList>
#include <QtGlobal>

struct StoredGain {
    qint16 channel = 0; // 0-based; for crosspoint gains, the source
    qint16 gain = 0;
};

struct StoredGains {
    quint8 kind = 0;         // the report's kind: 1 input, 3 output, 10 crosspoint, 0 and 2 second
    qint16 output = -1;      // crosspoint gains: the output (0-based); otherwise -1
    QList<StoredGain> gains; // crosspoint gains: only those of sources the output's map lists
};
