#pragma once

// The settings file Slider.ini: section "CONFIGURATION" with the keys "Type", "Chan 1",
// "Chan 2", "Out Chan", "IP Address" and "IP Port". Which file is used is decided once at
// start-up (SettingsLocation); these routines read and write the file they are given.
//
// Both routines are silent: on the first failure they stop, keep what they already did and
// report the reason "Bad File", which nothing shows.
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

#include "config/Settings.h"

#include <QString>

namespace DiskWork {

inline constexpr char kFileName[] = "Slider.ini";
inline constexpr char kBadFile[] = "Bad File";

// Full path of Slider.ini in dir, with no doubled separator when dir already ends in one.
QString SettingsPathIn(const QString &dir);

struct ReadResult {
    Settings settings; // the values in force after the read
    bool ok = true;    // false: the read stopped at a failure ("Bad File")
    QString reason;    // why, in words for the user: "it is a folder", "a value is out of range"
};

// The settings after reading the file over `start`, the values in force before the read. A
// read that fails keeps the keys read before the failing one, and `start` for the rest.
ReadResult ReadSettings(const QString &path, const Settings &start = {});

// Stores the six settings into the file; false ("Bad File") when that failed, with the reason in
// words for the user in *reason when given. The keys stored before a failing one are still
// saved, the later ones keep their old text.
bool WriteSettings(const QString &path, const Settings &settings, QString *reason = nullptr);

} // namespace DiskWork
