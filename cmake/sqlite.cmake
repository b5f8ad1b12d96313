# SQLite built from its single-file source (sqlite3.c and sqlite3.h in
# ZELREP_SQLITE_SOURCE), for builds that have no system library to link,
# such as the Windows build. The source is Debian's, of the version the
# Linux build links (scripts/build.sh --windows fetches and prepares it),
# compiled with the options of Debian's own build so that both builds store
# databases alike.
add_library(sqlite3 STATIC ${ZELREP_SQLITE_SOURCE}/sqlite3.c)
target_include_directories(sqlite3 SYSTEM PUBLIC ${ZELREP_SQLITE_SOURCE})
target_compile_definitions(sqlite3 PRIVATE
  SQLITE_SECURE_DELETE SQLITE_ENABLE_COLUMN_METADATA
  SQLITE_ENABLE_FTS3 SQLITE_ENABLE_FTS3_PARENTHESIS
  SQLITE_ENABLE_RTREE=1 SQLITE_SOUNDEX=1 SQLITE_ENABLE_UNLOCK_NOTIFY
  SQLITE_OMIT_LOOKASIDE=1 SQLITE_ENABLE_DBSTAT_VTAB SQLITE_ALLOW_ROWID_IN_VIEW
  SQLITE_ENABLE_UPDATE_DELETE_LIMIT=1 SQLITE_ENABLE_LOAD_EXTENSION SQLITE_ENABLE_JSON1
  SQLITE_LIKE_DOESNT_MATCH_BLOBS SQLITE_THREADSAFE=1 SQLITE_ENABLE_FTS3_TOKENIZER=1
  SQLITE_USE_URI=1 SQLITE_MAX_SCHEMA_RETRY=25 SQLITE_ENABLE_PREUPDATE_HOOK
  SQLITE_ENABLE_SESSION SQLITE_ENABLE_STMTVTAB SQLITE_MAX_VARIABLE_NUMBER=250000)
target_compile_options(sqlite3 PRIVATE -O2 -fno-strict-aliasing)
target_link_libraries(sqlite3 PUBLIC Threads::Threads)
add_library(SQLite::SQLite3 ALIAS sqlite3)
