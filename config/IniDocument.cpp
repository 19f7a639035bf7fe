#include "config/IniDocument.h"

#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QSaveFile>
#include <string>

namespace DiskWork {
namespace {

// A settings file is text: control characters other than white space mean binary data (or a
// UTF-16 file, which we do not read).
bool LooksLikeText(const QByteArray &bytes) {
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\v' && c != '\f')
            return false;
    }
    return true;
}

enum class LineKind { Blank, Comment, Content };

// Blanks, comments and content as SimpleIni tells them apart: only spaces and tabs count as
// blanks before a comment mark (a vertical tab or form feed starts content).
LineKind KindOf(const QByteArray &line) {
    qsizetype i = 0;
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
        ++i;
    if (i == line.size())
        return LineKind::Blank;
    if (line[i] == ';' || line[i] == '#')
        return LineKind::Comment;
    return LineKind::Content;
}

// SimpleIni keeps a comment only as the file's opening comment block or as the comment of the
// section or key below it; comment lines after the last entry would be dropped on save. Returns
// those lines (trimmed, LF-separated) so that saving can put them back.
QByteArray TrailingComments(const QByteArray &bytes) {
    // Lines end at CR, LF or CRLF, as SimpleIni reads them: otherwise an entry behind a lone CR
    // would pass for part of a comment line and be written back twice at every save.
    QByteArray text = bytes;
    text.replace("\r\n", "\n");
    text.replace('\r', '\n');
    const QList<QByteArray> lines = text.split('\n');
    qsizetype start = -1; // the tail begins after this line
    for (qsizetype i = lines.size() - 1; i >= 0; --i) {
        if (KindOf(lines[i]) == LineKind::Content) {
            start = i;
            break;
        }
    }
    if (start < 0) {
        // No entries at all: the opening comment block survives as the file comment, so the
        // tail begins after it.
        qsizetype i = 0;
        while (i < lines.size() && KindOf(lines[i]) == LineKind::Blank)
            ++i;
        while (i < lines.size() && KindOf(lines[i]) == LineKind::Comment)
            ++i;
        start = i - 1;
    }
    QList<QByteArray> tail;
    for (qsizetype i = start + 1; i < lines.size(); ++i)
        tail.append(lines[i].trimmed());
    while (!tail.isEmpty() && tail.constFirst().isEmpty())
        tail.removeFirst();
    while (!tail.isEmpty() && tail.constLast().isEmpty())
        tail.removeLast();
    return tail.join('\n');
}

// SimpleIni skips a section line that lacks its closing bracket, yet keeps pointing at its
// text as the current section name: the keys below it land in a section whose name runs on
// over the following lines, and every save writes that name back with one more line break,
// so the file grows at each exit. Such lines are dropped before parsing (a save would drop
// them anyway, like any line that is neither a section, an entry nor a comment); the keys
// below them stay in the section above. Line ends are CR or LF, as SimpleIni counts them.
QByteArray WithoutUnclosedSections(const QByteArray &bytes) {
    const auto isLineEnd = [](char c) { return c == '\n' || c == '\r'; };
    QByteArray out;
    out.reserve(bytes.size());
    qsizetype start = bytes.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    out.append(bytes.constData(), start);
    while (start < bytes.size()) {
        qsizetype end = start;
        while (end < bytes.size() && !isLineEnd(bytes[end]))
            ++end;
        qsizetype first = start;
        while (first < end && (bytes[first] == ' ' || bytes[first] == '\t'))
            ++first;
        const bool unclosed = first < end && bytes[first] == '[' &&
                              !QByteArrayView(bytes).sliced(first, end - first).contains(']');
        if (!unclosed)
            out.append(bytes.constData() + start, end - start);
        if (end < bytes.size())
            out.append(bytes[end]);
        start = end + 1;
    }
    return out;
}

} // namespace

IniLoad LoadIni(const QString &path, IniDocument &doc) {
    const QFileInfo info(path);
    if (!info.exists())
        return IniLoad::Missing;
    // Directories, pipes and devices: opening a pipe could block, a device never ends.
    if (!info.isFile())
        return IniLoad::Unusable;
    if (info.size() > kMaxSettingsFileBytes)
        return IniLoad::NotText;

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return IniLoad::Unusable;
    // The file may have grown since the size check: never take more than the bound.
    const QByteArray bytes = file.read(kMaxSettingsFileBytes + 1);
    if (file.error() != QFileDevice::NoError)
        return IniLoad::Unusable;
    if (bytes.size() > kMaxSettingsFileBytes || !LooksLikeText(bytes))
        return IniLoad::NotText;

    const QByteArray parsed = WithoutUnclosedSections(bytes);
    if (doc.ini.LoadData(parsed.constData(), static_cast<size_t>(parsed.size())) < 0) {
        doc.ini.Reset();
        return IniLoad::NotText;
    }
    doc.crlf = bytes.contains("\r\n");
    doc.bom = bytes.startsWith("\xEF\xBB\xBF");
    doc.tailComments = TrailingComments(bytes);
    return IniLoad::Loaded;
}

bool SaveIni(const QString &path, IniDocument &doc, QString *error) {
    const auto fail = [error](const QString &reason) {
        if (error)
            *error = reason;
        return false;
    };
    // "Type=1" as hand-written files and other tools have it, not "Type = 1".
    doc.ini.SetSpaces(false);
    std::string text;
    if (doc.ini.Save(text, doc.bom) < 0)
        return fail(QStringLiteral("the settings could not be put into words"));
    QByteArray bytes = QByteArray::fromStdString(text);
    if (!doc.tailComments.isEmpty()) {
        if (!bytes.isEmpty())
            bytes.append('\n');
        bytes.append(doc.tailComments).append('\n');
    }
    if (doc.crlf)
        bytes.replace("\n", "\r\n");

    // Unbuffered, so that a short write (disk full, file size limit) shows in write()'s count:
    // a buffered QSaveFile loses that on its final flush and would commit the truncated file.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return fail(file.errorString());
    if (file.write(bytes) != bytes.size()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        return fail(reason);
    }
    return file.commit() || fail(file.errorString());
}

} // namespace DiskWork
