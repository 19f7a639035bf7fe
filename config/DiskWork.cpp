#include "config/DiskWork.h"

#include "config/IniDocument.h"
#include "config/NumericValue.h"

#include <QDir>
#include <QFileInfo>
#include <limits>
#include <optional>

namespace DiskWork {
namespace {

const char *const kSection = "CONFIGURATION";
const char *const kKeyType = "Type";
const char *const kKeyChan1 = "Chan 1";
const char *const kKeyChan2 = "Chan 2";
const char *const kKeyOutChan = "Out Chan";
const char *const kKeyAddress = "IP Address";
const char *const kKeyPort = "IP Port";

constexpr qint16 kMin16 = std::numeric_limits<qint16>::min();
constexpr qint16 kMax16 = std::numeric_limits<qint16>::max();

QString ValueOf(const IniDocument &doc, const char *key) {
    return QString::fromUtf8(doc.ini.GetValue(kSection, key, ""));
}

// Reads the six keys in their fixed order. Each setting is assigned only once its key has been
// fully worked out, so a failing key leaves its setting, and every later one, as it was.
bool ReadKeys(const IniDocument &doc, Settings &settings) {
    auto &[iType, iChan, iOutChan, sIPAddress, lIPPort] = settings;

    const auto type = NumericValue16(ValueOf(doc, kKeyType));
    if (!type)
        return false;
    iType = *type == 0 ? kTypeInput : *type;

    // "Chan 1" and "Chan 2" turn every non-zero channel, negative ones too, into its 0-based
    // form; a 0 (or nothing) stands for channel 1 and channel 2 respectively.
    const auto chan1 = NumericValue16(ValueOf(doc, kKeyChan1));
    if (!chan1 || *chan1 == kMin16)
        return false;
    iChan[0] = *chan1 == 0 ? qint16(0) : qint16(*chan1 - 1);

    const auto chan2 = NumericValue16(ValueOf(doc, kKeyChan2));
    if (!chan2 || *chan2 == kMin16)
        return false;
    iChan[1] = *chan2 == 0 ? qint16(1) : qint16(*chan2 - 1);

    // "Out Chan" only lowers positive channels; 0 and negative values stay as they are.
    const auto outChan = NumericValue16(ValueOf(doc, kKeyOutChan));
    if (!outChan)
        return false;
    iOutChan = *outChan > 0 ? qint16(*outChan - 1) : *outChan;

    const QString address = ValueOf(doc, kKeyAddress);
    sIPAddress = address.isEmpty() ? Settings::kDefaultIPAddress : address;

    const auto port = NumericValue32(ValueOf(doc, kKeyPort));
    if (!port)
        return false;
    lIPPort = *port == 0 ? Settings::kDefaultIPPort : *port;
    return true;
}

bool Put(IniDocument &doc, const char *key, const QByteArray &value) {
    return doc.ini.SetValue(kSection, key, value.constData()) >= 0;
}

bool PutNumber(IniDocument &doc, const char *key, qint64 value) {
    return Put(doc, key, QByteArray::number(value));
}

// Channel as stored in the file, counted from 1; none when that leaves the 16-bit range.
std::optional<qint16> OneBased(qint16 channel) {
    if (channel == kMax16)
        return std::nullopt;
    return qint16(channel + 1);
}

// The address as it may stand on one INI line: control characters (line breaks above all)
// would split the line and plant keys or sections of their own, a NUL would cut it short.
QByteArray AddressText(const QString &address) {
    QString clean;
    clean.reserve(address.size());
    for (const QChar c : address)
        if (c.unicode() >= 0x20 && c.unicode() != 0x7F)
            clean.append(c);
    return clean.toUtf8();
}

// Stores the six keys in their fixed order, stopping at the first that cannot be stored.
bool WriteKeys(IniDocument &doc, const Settings &settings) {
    const auto &[iType, iChan, iOutChan, sIPAddress, lIPPort] = settings;
    if (!PutNumber(doc, kKeyType, iType))
        return false;
    const auto chan1 = OneBased(iChan[0]);
    if (!chan1 || !PutNumber(doc, kKeyChan1, *chan1))
        return false;
    const auto chan2 = OneBased(iChan[1]);
    if (!chan2 || !PutNumber(doc, kKeyChan2, *chan2))
        return false;
    const auto outChan = OneBased(iOutChan);
    if (!outChan || !PutNumber(doc, kKeyOutChan, *outChan))
        return false;
    if (!Put(doc, kKeyAddress, AddressText(sIPAddress)))
        return false;
    return PutNumber(doc, kKeyPort, lIPPort);
}

} // namespace

QString SettingsPathIn(const QString &dir) {
    const QString name = QString::fromLatin1(kFileName);
    if (dir.isEmpty() || dir.endsWith(u'/') || dir.endsWith(QDir::separator()))
        return dir + name;
    return dir + u'/' + name;
}

ReadResult ReadSettings(const QString &path, const Settings &start) {
    ReadResult result{start, true, {}};
    IniDocument doc;
    const IniLoad load = LoadIni(path, doc);
    // A missing file reads like one without the keys; anything unreadable changes nothing.
    if (load == IniLoad::Unusable) {
        result.ok = false;
        result.reason = QFileInfo(path).isDir() ? QStringLiteral("it is a folder")
                                                : QStringLiteral("it cannot be read");
    } else if (load == IniLoad::NotText) {
        result.ok = false;
        result.reason = QStringLiteral("it is not a text file of settings");
    } else if (!ReadKeys(doc, result.settings)) {
        result.ok = false;
        result.reason = QStringLiteral("a value in it does not fit");
    }
    return result;
}

bool WriteSettings(const QString &path, const Settings &settings, QString *reason) {
    IniDocument doc;
    if (LoadIni(path, doc) == IniLoad::Unusable) {
        if (reason)
            *reason = QFileInfo(path).isDir() ? QStringLiteral("it is a folder")
                                              : QStringLiteral("it cannot be read");
        return false;
    }
    // Binary or oversized content is not worth keeping: the document starts empty and the
    // file is replaced by a fresh one.
    const bool allKeys = WriteKeys(doc, settings);
    const bool saved = SaveIni(path, doc, reason);
    if (!allKeys && saved && reason)
        *reason = QStringLiteral("a setting is out of the range the file can hold");
    return allKeys && saved;
}

} // namespace DiskWork
