// The system resolver on Windows: it needs Winsock started, which the
// toolkit does only with its first socket.

#include "serial/hostlookup.h"

#include <winsock2.h>

#include <mutex>

void startResolver()
{
    static std::once_flag started;
    std::call_once(started, [] {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    });
}
