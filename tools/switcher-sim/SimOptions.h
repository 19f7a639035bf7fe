#pragma once

// The simulator's command line.

#include "tools/switcher-sim/SimDelivery.h"

#include <QHostAddress>
#include <QString>
#include <QStringList>
#include <optional>

class QCommandLineParser;

struct SimOptions {
    static constexpr quint16 kDefaultPort = 1250;
    static constexpr int kDefaultPingMs = 3000;
    static constexpr int kMaxLatencyMs = 60000;
    static constexpr int kDefaultDownMs = 2000;
    static constexpr int kMaxDownMs = 3600000; // an hour

    QHostAddress bind = QHostAddress(QHostAddress::LocalHost);
    quint16 port = kDefaultPort; // 0: any free port
    int inputs = 128;
    int outputs = 128;
    bool quiet = false;
    int pingIntervalMs = kDefaultPingMs; // 0: never
    SimDelivery::Faults faults;
    int dropEvery = 0;   // 0: confirm every command
    int closeAfterS = 0; // 0: keep connections open
    bool animate = false;
    int rebootEveryS = 0;           // 0: never reboots by itself
    int downForMs = kDefaultDownMs; // how long a reboot keeps the port closed
    std::optional<quint32> seed;    // random faults repeat with the same seed
};

// Declares every option on the parser (with its help text).
void addSimOptions(QCommandLineParser &parser);

// Parses args (argv, program name first) and checks every value. On a bad option or value
// returns nothing and puts the reason in error. Does not act on --help or --version.
std::optional<SimOptions> parseSimOptions(QCommandLineParser &parser, const QStringList &args,
                                          QString &error);
