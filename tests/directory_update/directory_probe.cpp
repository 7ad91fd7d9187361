// Opens a directory session in a fresh process, so a test can try a client
// configuration of its own: libldap reads its configuration once per process.
// Prints "OK" or "ERR <code> <text>".
#include "directory_update/Directory.h"

#include <cstdio>

int main()
{
    DirectoryError err;
    if (DirectorySession::open(err)) {
        std::puts("OK");
        return 0;
    }
    std::printf("ERR %d %s\n", err.code, qPrintable(err.text));
    return 1;
}
