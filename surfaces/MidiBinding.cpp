#include "surfaces/MidiBinding.h"

#include <QStringList>
#include <optional>

namespace Midi {

namespace {

// A word that is a plain decimal number: digits only, no sign, at most 5 of them (enough for
// every field, and no overflow on long runs of digits).
std::optional<int> SmallNumber(const QString &word) {
    if (word.isEmpty() || word.size() > 5)
        return std::nullopt;
    int value = 0;
    for (const QChar c : word) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = value * 10 + (c.unicode() - u'0');
    }
    return value;
}

// The next numeric field, checked against its range; on failure `error` holds the reason.
std::optional<int> Field(const QStringList &words, qsizetype index, const char *name, int first,
                         int last, QString &error) {
    if (index >= words.size()) {
        error = QStringLiteral("%1 missing").arg(QLatin1String(name));
        return std::nullopt;
    }
    const auto value = SmallNumber(words.at(index));
    if (!value) {
        error =
            QStringLiteral("%1 \"%2\" is not a number").arg(QLatin1String(name), words.at(index));
        return std::nullopt;
    }
    if (*value < first || *value > last) {
        error = QStringLiteral("%1 %2 is not %3-%4")
                    .arg(QLatin1String(name))
                    .arg(*value)
                    .arg(first)
                    .arg(last);
        return std::nullopt;
    }
    return value;
}

QStringList Words(const QString &text) {
    QStringList words;
    QString word;
    for (const QChar c : text) {
        if (c.isSpace()) {
            if (!word.isEmpty())
                words.append(word.toLower());
            word.clear();
        } else {
            word.append(c);
        }
    }
    if (!word.isEmpty())
        words.append(word.toLower());
    return words;
}

BindingError Failure(const QString &reason) {
    return BindingError{reason, false};
}

BindingError Blank() {
    return BindingError{QStringLiteral("nothing bound"), true};
}

BindingError Trailing(const QString &word, const char *after) {
    return Failure(
        QStringLiteral("unexpected \"%1\" after the %2").arg(word, QLatin1String(after)));
}

QString ChannelAndNumber(const char *kind, int channel, int number) {
    return QStringLiteral("%1 %2 %3").arg(QLatin1String(kind)).arg(channel).arg(number);
}

} // namespace

FaderParse ParseFaderBinding(const QString &text) {
    const QStringList words = Words(text);
    if (words.isEmpty())
        return Blank();
    FaderBinding binding;
    const QString &kind = words.first();
    if (kind == u"cc")
        binding.kind = FaderKind::ControlChange;
    else if (kind == u"cc14")
        binding.kind = FaderKind::ControlChange14;
    else if (kind == u"pitchbend")
        binding.kind = FaderKind::PitchBend;
    else
        return Failure(QStringLiteral("\"%1\" is not cc, cc14 or pitchbend").arg(kind));

    QString error;
    const auto channel = Field(words, 1, "channel", kFirstChannel, kLastChannel, error);
    if (!channel)
        return Failure(error);
    binding.channel = *channel;
    qsizetype next = 2;
    if (binding.kind != FaderKind::PitchBend) {
        const int last =
            binding.kind == FaderKind::ControlChange14 ? kLastPairedController : kMaxDataValue;
        const auto number = Field(words, next++, "controller", 0, last, error);
        if (!number)
            return Failure(error);
        binding.number = *number;
    }
    if (next < words.size()) {
        const QString &mode = words.at(next++);
        if (mode == u"pickup")
            binding.mode = FaderMode::Pickup;
        else if (mode == u"jump")
            binding.mode = FaderMode::Jump;
        else if (mode == u"motor")
            binding.mode = FaderMode::Motor;
        else
            return Failure(QStringLiteral("mode \"%1\" is not pickup, jump or motor").arg(mode));
        if (next < words.size())
            return Trailing(words.at(next), "mode");
    }
    return binding;
}

ButtonParse ParseButtonBinding(const QString &text) {
    const QStringList words = Words(text);
    if (words.isEmpty())
        return Blank();
    ButtonBinding binding;
    const QString &kind = words.first();
    if (kind == u"note")
        binding.kind = ButtonKind::Note;
    else if (kind == u"cc")
        binding.kind = ButtonKind::ControlChange;
    else
        return Failure(QStringLiteral("\"%1\" is not note or cc").arg(kind));

    QString error;
    const auto channel = Field(words, 1, "channel", kFirstChannel, kLastChannel, error);
    if (!channel)
        return Failure(error);
    const char *name = binding.kind == ButtonKind::Note ? "note" : "controller";
    const auto number = Field(words, 2, name, 0, kMaxDataValue, error);
    if (!number)
        return Failure(error);
    if (words.size() > 3)
        return Trailing(words.at(3), name);
    binding.channel = *channel;
    binding.number = *number;
    return binding;
}

QString ToText(const FaderBinding &binding) {
    QString head;
    switch (binding.kind) {
    case FaderKind::ControlChange:
        head = ChannelAndNumber("cc", binding.channel, binding.number);
        break;
    case FaderKind::ControlChange14:
        head = ChannelAndNumber("cc14", binding.channel, binding.number);
        break;
    case FaderKind::PitchBend:
        head = QStringLiteral("pitchbend %1").arg(binding.channel);
        break;
    }
    switch (binding.mode) {
    case FaderMode::Pickup:
        return head + QStringLiteral(" pickup");
    case FaderMode::Jump:
        return head + QStringLiteral(" jump");
    case FaderMode::Motor:
        return head + QStringLiteral(" motor");
    }
    return head;
}

QString ToText(const ButtonBinding &binding) {
    return ChannelAndNumber(binding.kind == ButtonKind::Note ? "note" : "cc", binding.channel,
                            binding.number);
}

} // namespace Midi
