#include "config/Limits.h"

#include "config/IniDocument.h"
#include "protocol/GainText.h"

#include <QRegularExpression>

namespace DiskWork {
namespace {

const char *const kSection = "LIMITS";
const std::array<const char *, 2> kKeys{"Ceiling 1", "Ceiling 2"};

// Off and the top of the scale, in gain units.
constexpr int kOffGain = 24;
constexpr int kTopGain = 1264;
constexpr int kUnitsPerDb = 10;

} // namespace

std::optional<qint16> CeilingOfText(const QString &text) {
    const QString value = text.trimmed();
    if (value.compare(QLatin1String("off"), Qt::CaseInsensitive) == 0)
        return qint16(kOffGain);
    // Digits are limited so that the arithmetic below never overflows; beyond three whole
    // digits nothing is on the scale anyway.
    static const QRegularExpression number(
        QStringLiteral(R"(^([+-]?)([0-9]{1,3})(?:\.([0-9]*))?\s*(?:db)?$)"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = number.match(value);
    if (!match.hasMatch())
        return std::nullopt;
    const QString decimals = match.captured(3);
    // A second decimal other than 0 lies between two steps of the fader.
    for (qsizetype k = 1; k < decimals.size(); ++k)
        if (decimals[k] != u'0')
            return std::nullopt;
    int units = match.captured(2).toInt() * kUnitsPerDb;
    if (!decimals.isEmpty())
        units += decimals[0].digitValue();
    const int gain = GainText::kZeroDbGain + (match.captured(1) == u"-" ? -units : units);
    if (gain < kOffGain || gain > kTopGain)
        return std::nullopt;
    return qint16(gain);
}

QString CeilingText(qint16 gain) {
    const int units = gain - GainText::kZeroDbGain;
    const int magnitude = qAbs(units);
    QString text = units < 0 ? QStringLiteral("-") : units > 0 ? QStringLiteral("+") : QString();
    text += QString::number(magnitude / kUnitsPerDb);
    if (magnitude % kUnitsPerDb != 0)
        text += u'.' + QString::number(magnitude % kUnitsPerDb);
    return text;
}

LimitsRead ReadLimits(const QString &path) {
    LimitsRead result;
    IniDocument doc;
    switch (LoadIni(path, doc)) {
    case IniLoad::Loaded:
        break;
    case IniLoad::Missing:
        return result;
    case IniLoad::NotText:
        result.problems.append(
            QStringLiteral("%1 is not a settings file (binary or too large); no ceilings apply.")
                .arg(path));
        return result;
    case IniLoad::Unusable:
        result.problems.append(QStringLiteral("%1 cannot be read; no ceilings apply.").arg(path));
        return result;
    }
    for (std::size_t i = 0; i < kKeys.size(); ++i) {
        const QString text = QString::fromUtf8(doc.ini.GetValue(kSection, kKeys[i], ""));
        if (text.trimmed().isEmpty())
            continue;
        result.limits.ceiling[i] = CeilingOfText(text);
        if (!result.limits.ceiling[i])
            result.problems.append(
                QStringLiteral("[%1] %2=%3 is not a gain from -100 dB to +24 dB in steps of "
                               "0.1 dB; fader %4 has no ceiling.")
                    .arg(QLatin1String(kSection), QLatin1String(kKeys[i]), text.trimmed())
                    .arg(i + 1));
    }
    return result;
}

bool WriteLimits(const QString &path, const Limits &limits) {
    IniDocument doc;
    const IniLoad load = LoadIni(path, doc);
    if (load == IniLoad::NotText || load == IniLoad::Unusable)
        return false;
    for (std::size_t i = 0; i < kKeys.size(); ++i) {
        const std::optional<qint16> ceiling = limits.ceiling[i];
        // Stored, it would read back as no ceiling at all.
        if (ceiling && (*ceiling < kOffGain || *ceiling > kTopGain))
            return false;
        if (!ceiling && !doc.ini.GetValue(kSection, kKeys[i]))
            continue;
        const QByteArray value = ceiling ? CeilingText(*ceiling).toUtf8() : QByteArray();
        if (doc.ini.SetValue(kSection, kKeys[i], value.constData()) < 0)
            return false;
    }
    return SaveIni(path, doc);
}

} // namespace DiskWork

namespace Ceiling {

qint16 HoldAtCeiling(qint16 gain, std::optional<qint16> ceiling) {
    return ceiling && gain > *ceiling ? *ceiling : gain;
}

std::optional<qint16> HeldMove(qint16 from, qint16 to, std::optional<qint16> ceiling) {
    const qint16 held = HoldAtCeiling(to, ceiling);
    if (held < from && to >= from)
        return std::nullopt;
    return held;
}

} // namespace Ceiling
