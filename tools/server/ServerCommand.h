// ServerCommand: the command line of kestrix-server, apart from signal handling so the
// tests can run every command in-process.
//
//   kestrix-server [--listen ADDR:PORT] [--web ADDR:PORT|off] [--db FILE|URI]
//                  [--tls-cert FILE --tls-key FILE]  serve until told to stop (both
//                                                  addresses in TLS with the certificate)
//                  [--registration open|closed] [--tiles URL|off] [--keep-days N]
//                                                  (the pages' options; Retention)
//   kestrix-server [--db FILE|URI] user add NAME PASSWORD [--admin]  add an account, print its id
//   kestrix-server [--db FILE|URI] user admin NAME on|off    make or unmake an administrator
//   kestrix-server [--db FILE|URI] user passwd NAME PASSWORD change the password (ends web sessions)
//   kestrix-server [--db FILE|URI] user del NAME             delete the account and its points
//   kestrix-server [--db FILE|URI] user list                 the accounts, one a line
//   kestrix-server [--db FILE|URI] export NAME [--gpx]      print what the user sent
//   kestrix-server [--db FILE|URI] prune --before ISO [--user NAME]  delete older points
//
// --db names a SQLite file or a PostgreSQL URI (see MakeStore). Every command brings an
// older database's schema up to date first and says so on err.
// Serving starts the tracking port and the web pages (127.0.0.1:1280 unless --web says
// otherwise; when that default cannot be bound a warning goes to err and the tracking
// server runs without them, while an address named by --web must be bound), prints
// "listening on ADDR:PORT" and then "web pages on http://ADDR:PORT/", calls waitForStop
// (main blocks there until SIGINT or SIGTERM) and shuts both down. Exit codes: 0 success,
// 1 failure (message on err), 2 bad command line (usage on err). A command given options
// that are not its own is a bad command line.
#pragma once
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "Store.h"

namespace kestrix::refserver {

// $XDG_DATA_HOME/kestrix/server.sqlite, else ~/.local/share/kestrix/server.sqlite.
std::string DefaultDatabasePath();

// The 32 lower-case hexadecimal characters of the MD5 digest of the password: what the
// client sends at login.
std::string PasswordDigest(const std::string& password);

// One JSON object per line, oldest first:
// {"kind":"live","received":"ISO","time":null,"lat":..,"lon":..,"alt":..,"speed":..}
void WriteJsonLines(const std::vector<StoredPoint>& points, std::ostream& out);
// A GPX 1.1 document with one track of the user's points, oldest first.
void WriteGpx(const std::string& userName, const std::vector<StoredPoint>& points, std::ostream& out);

// args excludes the program name.
int RunServerCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                     const std::function<void()>& waitForStop);

}  // namespace kestrix::refserver
