// Names of files that come out of archives or lists (ZIP and RAR entries, SFV lines), checked
// before they are appended to a directory, and put as Windows keeps them.
#pragma once

#include <string>

// The name under which the engine keeps a group's journal in its destination. It and every
// name that begins with it (each job's journal and its temporary file) are the engine's own:
// no file that comes out of a download may take one.
constexpr char kJournalName[] = ".ravelpak-journal";

// True when `name`, appended to a directory, names something inside that directory: it does
// not start with a separator, holds no ":" (drive letters, alternate data streams), no
// wildcard or control character, no component made only of dots and spaces other than ".",
// no component that Windows maps to a device (CON, NUL, COM1, ...), and no component that
// begins with kJournalName in any letter case. The empty name stands for the directory itself.
bool IsContainedName(const std::string& name);

// A contained name as Windows keeps it: each component without its trailing dots and spaces,
// which a path of the plain form drops and one of the long form ("\\?\") would keep. So a name
// comes out alike at every length of the destination, and "notes." meets "notes" as one file.
std::string WindowsName(const std::string& name);
