#pragma once

// The settings file Slider.ini beside the executable: section "CONFIGURATION" with the keys
// "Type", "Chan 1", "Chan 2", "Out Chan", "IP Address" and "IP Port".
//
// Both procedures are silent: on the first failure they stop, keep what they already did and
// remember the reason "Bad File" (see LastFailure), which nothing shows.
//  - A missing file is no failure: every key reads as empty text, which gives the start-up
//    values.
//  - A file that is not a usable text file (a directory, unreadable, binary, larger than
//    kMaxSettingsFileBytes) fails the read before any key: the start-up values stay in force.
//  - A write goes to a temporary file that then replaces Slider.ini in one step, so a failing
//    disk never leaves a truncated file. A binary or oversized Slider.ini is replaced by a fresh
//    file with the six keys; a directory, an unreadable file or an unwritable folder makes the
//    write fail and leaves everything as it was.
//  - Comments, other keys and other sections of a hand-edited file survive a write; key and
//    section names match in any letter case; CRLF line ends are kept. Lines that are neither
//    a section, a "key=value" line nor a comment are dropped by a write.

#include <QString>

namespace DiskWork {

// Full path of Slider.ini in the executable's directory.
QString SettingsPath();
// Full path of Slider.ini in dir, with no doubled separator when dir already ends in one.
QString SettingsPathIn(const QString &dir);

// Fill the settings of the program state from the file / store them into it.
void ReadSettings();
void WriteSettings();

// The same against another file (tests, tools).
void ReadSettings(const QString &path);
void WriteSettings(const QString &path);

// Reason of the last ReadSettings/WriteSettings failure ("Bad File"), empty after a success.
QString LastFailure();

} // namespace DiskWork
