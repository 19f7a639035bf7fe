// Fuzz target for the settings file: ReadSettings on arbitrary file contents, then a
// WriteSettings and a second read, which must find every key and give values that survive
// another round trip unchanged. Writing the same values again must settle the file. What each
// key's write and read rules make of a value is pinned by the settings file tests.

#define DS_FUZZ_TARGET "fuzz_settings"
#include "Check.h"

#include "config/DiskWork.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QString>
#include <cstdint>
#include <limits>

namespace {

// A private folder for the file: in shared memory when there is one, as the fuzzer writes it
// a few times per input.
QString FilePath() {
    static const QString path = [] {
        const QString base =
            QDir("/dev/shm").exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
        const QString dir = base + QStringLiteral("/ds-fuzz-settings-") +
                            QString::number(QCoreApplication::applicationPid());
        QDir().mkpath(dir);
        return DiskWork::SettingsPathIn(dir);
    }();
    return path;
}

QByteArray FileBytes(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool ChannelUnwritable(qint16 channel) {
    return channel == std::numeric_limits<qint16>::max();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const QString path = FilePath();
    {
        QFile file(path);
        Check(file.open(QIODevice::WriteOnly | QIODevice::Truncate), "cannot write the file");
        file.write(reinterpret_cast<const char *>(data), static_cast<qint64>(size));
    }

    const DiskWork::ReadResult first = DiskWork::ReadSettings(path);
    const Settings &read = first.settings;
    if (first.ok) {
        // A successful read applies every replacement rule.
        Check(read.iType != 0 && read.lIPPort != 0 && !read.sIPAddress.isEmpty(),
              "a read kept a value that its rule replaces");
    }

    const bool unwritable = ChannelUnwritable(read.iChan[0]) || ChannelUnwritable(read.iChan[1]) ||
                            ChannelUnwritable(read.iOutChan);
    Check(DiskWork::WriteSettings(path, read) != unwritable,
          "the write failed without a channel it cannot store, or stored one it cannot");
    if (unwritable)
        return 0;
    const QByteArray written = FileBytes(path);

    // Two re-reads from different values that no file produces: a key the write missed keeps
    // the starting value and shows as a difference.
    const DiskWork::ReadResult again =
        DiskWork::ReadSettings(path, {0, {-7, -7}, -7, QStringLiteral("unset"), 0});
    const DiskWork::ReadResult other =
        DiskWork::ReadSettings(path, {5, {-9, -9}, -9, QStringLiteral("other"), 9});
    Check(again.ok && other.ok, "the written file does not read back");
    const Settings &reread = again.settings;
    Check(reread == other.settings, "the written file lacks a key");

    // What a read gives back must survive its own round trip: a value the write stores wrongly
    // (or an address that breaks its line) comes back different the second time. A negative
    // "Out Chan" is the exception: it is not lowered when read, so it creeps up by one per save.
    if (reread.iOutChan >= 0 && !ChannelUnwritable(reread.iChan[0]) &&
        !ChannelUnwritable(reread.iChan[1]) && !ChannelUnwritable(reread.iOutChan)) {
        Check(DiskWork::WriteSettings(path, reread), "writing read-back values failed");
        const DiskWork::ReadResult third = DiskWork::ReadSettings(path);
        Check(third.ok && third.settings == reread, "a round trip changed the values read back");
    }

    // Writing the same values again settles the file: the INI writer may still move blank
    // lines around a comment once, but the file must not keep growing at every save (each
    // exit saves).
    if (reread == read) {
        QByteArray previous = written;
        for (int round = 0; round < 2; ++round) {
            Check(DiskWork::WriteSettings(path, read), "a repeated write failed");
            const QByteArray now = FileBytes(path);
            if (round == 1)
                Check(now == previous, "repeated writes of the same values keep changing the file");
            previous = now;
        }
    }
    return 0;
}
