// Fuzz target for the settings file: ReadSettings on arbitrary file contents, then a
// WriteSettings and a second read, which must give back exactly what the read rules make of the
// values written. Writing the same values again must settle the file.

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

// The address as a line of the file carries it: no control characters, no blanks at either
// end (the INI reader trims them).
QString StoredAddress(const QString &address) {
    QString clean;
    for (const QChar c : address)
        if (c.unicode() >= 0x20 && c.unicode() != 0x7F)
            clean.append(c);
    qsizetype first = 0;
    qsizetype last = clean.size();
    while (first < last && (clean[first] == u' ' || clean[first] == u'\t'))
        ++first;
    while (last > first && (clean[last - 1] == u' ' || clean[last - 1] == u'\t'))
        --last;
    return clean.mid(first, last - first);
}

// What reading the file back must give for the values that were written: each value goes
// through its write rule (channels stored counted from 1) and then its read rule.
Settings Reread(const Settings &w) {
    Settings r = w;
    if (w.iType == 0)
        r.iType = kTypeInput;
    const int chan1 = w.iChan[0] + 1;
    r.iChan[0] = static_cast<qint16>(chan1 == 0 ? 0 : chan1 - 1);
    const int chan2 = w.iChan[1] + 1;
    r.iChan[1] = static_cast<qint16>(chan2 == 0 ? 1 : chan2 - 1);
    // "Out Chan" lowers only positive numbers: a stored 0 or less comes back as it stands, one
    // above the value that was written.
    const int out = w.iOutChan + 1;
    r.iOutChan = static_cast<qint16>(out > 0 ? out - 1 : out);
    r.sIPAddress = StoredAddress(w.sIPAddress);
    if (r.sIPAddress.isEmpty())
        r.sIPAddress = Settings::kDefaultIPAddress;
    if (w.lIPPort == 0)
        r.lIPPort = Settings::kDefaultIPPort;
    return r;
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

    // Start the re-read from values that no file produces, so that a key it misses shows.
    const DiskWork::ReadResult again =
        DiskWork::ReadSettings(path, {0, {-7, -7}, -7, QStringLiteral("unset"), 0});
    Check(again.ok, "the written file does not read back");
    const Settings &reread = again.settings;
    Check(reread == Reread(read), "the values read back differ from the values written");

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
