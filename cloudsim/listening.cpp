#include "listening.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

void ExclusiveSocketOptions(int sock) {
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
}

bool PortInUse(int port) {
    int sock = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (sock < 0) return false;
    ExclusiveSocketOptions(sock);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool inUse = bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 &&
                 errno == EADDRINUSE;
    close(sock);
    return inUse;
}
