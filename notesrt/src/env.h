// env.h - the process's data directory, its notes.ini settings, the name
// that updates record, and the mapping of database names to files.
#ifndef NOTESRT_SRC_ENV_H
#define NOTESRT_SRC_ENV_H

#include <cstdint>
#include <string>

#include "global.h"

namespace nrt {

// Absolute path of the data directory, without a trailing slash.
std::string DataDirectory();
// A notes.ini setting (key compared without regard to case).
bool IniSetting(const std::string& key, std::string* value);
// Changes whenever the settings may have changed (another data directory,
// notes.ini read anew), so that a copy of settings read from them can be
// checked cheaply; never 0.
uint64_t SettingsGeneration();
std::string UserName();

// Turns a database name into a file path inside the data directory. The
// name is relative ('\' and '/' both separate), never climbs out with "..",
// and is matched without regard to letter case; an existing file wins, a
// name without extension also finds NAME.nsf. With create, components that
// do not exist yet are taken in lower case. The path returned is the real
// one, links followed; a name that links lead outside the data directory is
// refused with ERR_BAD_PATH, as a climbing one is.
STATUS ResolveDbPath(const char* name, bool create, std::string* path);

}  // namespace nrt

#endif
