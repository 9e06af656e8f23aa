#pragma once

#include <QString>

namespace framix {

// File names are bytes on Linux, and not every name is valid text: old archives and disks
// written under another code page have names that Qt's UTF-8 decoding cannot give back.
// Such a file is opened once, by its bytes, and named from then on by that descriptor
// (/proc/self/fd/N), which every later open goes through; the descriptor stays open for
// the rest of the program.

// The path to open for `bytes` as the system gave them (a command-line argument).
QString pathFromBytes(const QByteArray& bytes);
// The path to open for a name as Qt shows it (a file dialog's or a dropped file's), where
// undecodable bytes of the file's own name became U+FFFD: the one file of that folder whose
// name reads so, by its descriptor; the path as it is when it names a file or none matches.
QString pathFromShown(const QString& path);
// The name to show for a path (the file's own name, undecodable bytes shown as U+FFFD,
// for one named by its descriptor); other paths as they are.
QString shownPath(const QString& path);

} // namespace framix
