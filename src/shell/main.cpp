// Entry point of the client program Tessarin.
#include <cstdio>
#include <cstdlib>

#include "shell/startup.h"
#include "storage/database.h"

int main() {
  int code = shell::RunClient();
  // The process ends the way the windowed client's does: at once, with the
  // worker threads (a message check, a key-medium test, the console) still
  // where they are. Running the static destructors under their feet could
  // only turn a clean end into a crash; every statement the database ran
  // has already committed. The database is closed first, which empties its
  // write-ahead log into "TS.db", so that a copy of that file alone is
  // whole.
  storage::CloseDatabase();
  std::fflush(stdout);
  std::fflush(stderr);
  std::_Exit(code);
}
