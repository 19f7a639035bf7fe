#pragma once

// One INI file in memory, loaded with the limits a settings file deserves and saved back in one
// atomic step. SimpleIni does the parsing and writing; this adds what it would otherwise lose of
// a hand-edited file (CRLF line ends, a byte-order mark, comments after the last entry).

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <SimpleIni.h>

namespace DiskWork {

// Anything larger is not a settings file of ours.
inline constexpr qint64 kMaxSettingsFileBytes = 1024 * 1024;

struct IniDocument {
    CSimpleIniA ini{/*utf8*/ true, /*multi-key*/ false, /*multi-line*/ false};
    bool crlf = false;       // the loaded file used CRLF line ends; saving keeps them
    bool bom = false;        // the loaded file began with a UTF-8 byte-order mark
    QByteArray tailComments; // comment lines after the last entry, LF-separated
};

enum class IniLoad {
    Loaded,   // a text file, parsed into the document
    Missing,  // no such file: the document stays empty
    NotText,  // binary, over kMaxSettingsFileBytes, or unparsable: the document stays empty
    Unusable, // a directory or other non-regular file, or unreadable
};

// Fills doc (which must be fresh) from the file at path.
IniLoad LoadIni(const QString &path, IniDocument &doc);

// Writes the whole document to a temporary file beside path and then replaces path with it, so
// path holds either its old content or the new one, never a mixture. False on any failure, with
// the system's reason in *error when given ("Permission denied", "No space left on device").
bool SaveIni(const QString &path, IniDocument &doc, QString *error = nullptr);

} // namespace DiskWork
