#pragma once

// The switcher's end of a flood, for the benchmarks that measure the panel under one: a fixed
// stream of junk runs and gain reports, written by a plain blocking socket on a thread of its
// own so that the GUI thread only runs the panel.

#include <QByteArray>
#include <QRandomGenerator>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace BenchFlood {

inline QByteArray Frame(QByteArray data) {
    int sum = 0;
    for (int i = 1; i < data.size(); ++i)
        sum = (sum + static_cast<quint8>(data.at(i))) & 0x7F;
    data.append(static_cast<char>(sum));
    data.append('\xFF');
    return data;
}

// Runs of 1 to 64 data bytes, each followed by a kind-1 gain report of one of 128 inputs at a
// gain between Off and +24 dB; a fixed seed, so every run sends the same bytes.
inline QByteArray Flood(qsizetype size, qint64 &reports) {
    QRandomGenerator random(20240607);
    QByteArray flood;
    flood.reserve(size + 128);
    while (flood.size() < size) {
        const int junk = 1 + int(random.bounded(64));
        for (int i = 0; i < junk; ++i)
            flood.append(static_cast<char>(random.bounded(0x80)));
        const int channel = int(random.bounded(128));
        const int gain = 24 + int(random.bounded(1241));
        flood.append(Frame(QByteArray("\xE3\x00\x01\x01\x00", 5) + char(channel & 0x7F) +
                           char(channel >> 7) + char(gain & 0x7F) + char(gain >> 7)));
        ++reports;
    }
    return flood.append('\xF5');
}

// The switcher's end: accepts one connection, writes everything, then reads until the panel
// closes. Plain blocking sockets on a thread of its own, so that the GUI thread only runs the
// panel.
struct Peer {
    int listener = -1;
    quint16 port = 0;
    std::thread thread;

    bool listen() {
        listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr *>(&address), length) != 0 ||
            ::listen(listener, 1) != 0 ||
            ::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length) != 0)
            return false;
        port = ntohs(address.sin_port);
        return true;
    }

    void send(const QByteArray &bytes) {
        thread = std::thread([this, bytes] {
            const int s = ::accept(listener, nullptr, nullptr);
            for (qsizetype done = 0; s >= 0 && done < bytes.size();) {
                const ssize_t n = ::write(s, bytes.constData() + done, size_t(bytes.size() - done));
                if (n <= 0)
                    break;
                done += n;
            }
            char sink[4096];
            while (s >= 0 && ::read(s, sink, sizeof sink) > 0) {
            }
            if (s >= 0)
                ::close(s);
        });
    }

    ~Peer() {
        if (thread.joinable())
            thread.join();
        if (listener >= 0)
            ::close(listener);
    }
};

} // namespace BenchFlood
