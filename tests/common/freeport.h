#pragma once
// A TCP port on 127.0.0.1 that nothing listens on just now, for a server a test or benchmark
// starts of its own (a broker, a database, the logger's endpoint).
#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

inline int FreePort()
{
    sockaddr_in a{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t len = sizeof a;
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    bind(s, reinterpret_cast<sockaddr*>(&a), len);
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    close(s);
    return ntohs(a.sin_port);
}
