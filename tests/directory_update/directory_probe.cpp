// Opens a directory session in a fresh process, so a test can try a client
// configuration of its own: libldap reads its configuration once per process.
//   directory_probe            -> "OK <uri> <defaultNamingContext>" or "ERR <code> <text>"
#include "directory_update/Directory.h"

#include <cstdio>

int main()
{
    DirectoryError err;
    auto session = DirectorySession::open(err);
    if (session) {
        const QString nc = session->readRootDse("defaultNamingContext", err);
        if (!err) {
            std::printf("OK %s %s\n", qPrintable(DirectorySession::configuredUri()), qPrintable(nc));
            return 0;
        }
    }
    std::printf("ERR %d %s\n", err.code, qPrintable(err.text));
    return 1;
}
