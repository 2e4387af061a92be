#pragma once

#include <QString>

#include <functional>
#include <optional>

// What the help panel shows while no help file has been read.
QString helpMissingText();

// The help file of a program directory: help.txt in it, also when the directory is the root.
QString helpFilePath(const QString &directory);

// Reads the help text: the file's bytes as Latin-1, cut into lines at CR or CR LF (a LF alone
// stays in its line), the lines joined with CR LF so that the paragraphs survive. yield runs
// after each line. Any failure (no file, not a regular file, no access, a read error) gives
// nothing, not even what was read before it.
std::optional<QString> readHelpText(const QString &path, const std::function<void()> &yield = {});
