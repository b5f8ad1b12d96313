// check.cpp - `nsfdb check DB`: whether a database is sound. The database
// is opened the way the task opens it to check it (every page read, its
// rows consistent); a sound one prints "DB: sound" and exits 0, a damaged
// or unreadable one reports why on standard error and exits 1.
//
// Owned by the nsfdb tool.
#include <iostream>

#include "commands.h"
#include "nsfdb.h"
#include "runtime.h"

namespace nsfdb {

int RunCheck(const CommandLine& line) {
    const std::string& name = line.args[0];
    DBHANDLE handle = NULLHANDLE;
    STATUS status = NSFDbOpenExtended(name.c_str(), DBOPEN_FORCE_FIXUP, NULLHANDLE, nullptr, &handle,
                                      nullptr, nullptr);
    if (ERR(status) == ERR_DB_CORRUPT) FailStatus(status, "database " + Quoted(name) + " is damaged");
    Check(status, "cannot check database " + Quoted(name));
    Database checked(handle, name);
    std::cout << name << ": sound\n";
    return 0;
}

}  // namespace nsfdb
