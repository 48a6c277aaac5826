#include "listener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>
#include <cstdint>
#include <cstdio>

int OpenAnnouncedListener(const char* who, const char* address, int port, bool listening,
                          int* status) {
    *status = 1;
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    if (inet_pton(AF_INET, address, &sa.sin_addr) != 1) {
        std::fprintf(stderr, "netboard-sim %s: not an IPv4 address: %s\n", who, address);
        *status = 2;
        return -1;
    }
    const int ls = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    if (ls < 0 || setsockopt(ls, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0 ||
        bind(ls, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
        (listening && listen(ls, 4) != 0)) {
        std::fprintf(stderr, "netboard-sim %s: ", who);
        std::perror("socket/bind/listen");
        if (ls >= 0)
            close(ls);
        return -1;
    }
    socklen_t len = sizeof sa;
    getsockname(ls, reinterpret_cast<sockaddr*>(&sa), &len);
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &sa.sin_addr, text, sizeof text);
    std::printf("%s:%u\n", text, static_cast<unsigned>(ntohs(sa.sin_port)));
    std::fflush(stdout);
    return ls;
}

ssize_t ReceiveSome(int fd, void* buf, size_t n) {
    for (;;) {
        const ssize_t got = recv(fd, buf, n, 0);
        if (got >= 0 || errno != EINTR)
            return got;
    }
}
