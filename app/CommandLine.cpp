#include "app/CommandLine.h"

#include "app/ProgramInfo.h"

#include <QCommandLineParser>
#include <QFileInfo>

namespace {

// Qt's own options, which QApplication takes out of the arguments itself; known here so that
// they are not taken for mistakes. The boolean ones stand alone, the others take a value.
const char *const kQtFlags[] = {"reverse", "widgetcount", "nograb", "dograb", "sync"};
const char *const kQtValueOptions[] = {"platform",        "platformpluginpath",
                                       "platformtheme",   "plugin",
                                       "qmljsdebugger",   "style",
                                       "stylesheet",      "session",
                                       "display",         "geometry",
                                       "title",           "name",
                                       "qwindowgeometry", "qwindowicon",
                                       "qwindowtitle"};

const QString kCaption = QStringLiteral("Gain Change");

} // namespace

CommandLine CommandLine::Parse(const QStringList &args) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Control panel with two gain faders for an audio routing switcher.\n"
                       "Qt's standard options, such as -platform and -style, are also taken."));
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption settings(
        QStringLiteral("settings"),
        QStringLiteral("Use <file> as the settings file, created on exit if missing."),
        QStringLiteral("file"));
    const QCommandLineOption trace(
        QStringLiteral("trace"),
        QStringLiteral("Write every message to and from the switcher to <file> (- for the "
                       "standard error stream)."),
        QStringLiteral("file"));
    parser.addOptions({settings, trace});
    for (const char *name : kQtFlags) {
        QCommandLineOption flag(QString::fromLatin1(name));
        flag.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(flag);
    }
    for (const char *name : kQtValueOptions) {
        QCommandLineOption option(QString::fromLatin1(name), QString(), QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }

    CommandLine result;
    const auto exitWith = [&result](int code, const QString &out, const QString &err) {
        result.action = Action::Exit;
        result.exitCode = code;
        result.output = out;
        result.error = err;
        return result;
    };
    if (!parser.parse(args))
        return exitWith(2, {}, parser.errorText() + u'\n' + parser.helpText());
    if (!parser.positionalArguments().isEmpty())
        return exitWith(2, {},
                        QStringLiteral("Unexpected argument: ") +
                            parser.positionalArguments().constFirst() + u'\n' + parser.helpText());
    if (parser.isSet(help))
        return exitWith(0, parser.helpText(), {});
    if (parser.isSet(version))
        return exitWith(0, ProgramInfo::kName + u' ' + ProgramInfo::kVersion + u'\n', {});
    if (parser.isSet(settings)) {
        const QString file = parser.value(settings);
        if (file.isEmpty())
            return exitWith(2, {}, QStringLiteral("--settings needs a file name\n"));
        result.settingsFile = QFileInfo(file).absoluteFilePath();
    }
    if (parser.isSet(trace)) {
        result.traceFile = parser.value(trace);
        if (result.traceFile.isEmpty())
            return exitWith(2, {}, QStringLiteral("--trace needs a file name, or -\n"));
    }
    return result;
}

QString CommandLine::windowCaption() const {
    if (settingsFile.isEmpty())
        return kCaption;
    return kCaption + QStringLiteral(" - ") + QFileInfo(settingsFile).completeBaseName();
}
