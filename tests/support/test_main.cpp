// Runs the GoogleTest suite inside a QApplication on the offscreen platform, so that widget
// tests and event-loop waits work without a display.
//
// Every test binary also refuses to connect anywhere but this machine: the program's defaults
// point at a real board's address, and a test that forgot to point the record at a loopback
// address must fail loudly instead of sending traffic off the machine. The program's own connect
// calls (and Qt's) resolve to the definition here first, which passes loopback and local-socket
// connects on. It lives in this file because this one is always linked.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <dlfcn.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <QApplication>
#include <cstdio>
#include <cstdlib>

extern "C" int connect(int fd, const struct sockaddr* addr, socklen_t len) {
    using Fn = int (*)(int, const struct sockaddr*, socklen_t);
    static const Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "connect"));
    if (addr && addr->sa_family == AF_INET) {
        const auto* in = reinterpret_cast<const sockaddr_in*>(addr);
        if ((ntohl(in->sin_addr.s_addr) >> 24) != 127) {
            char text[INET_ADDRSTRLEN] = "?";
            inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
            std::fprintf(stderr, "test refused a connect to %s: tests stay on 127.0.0.0/8\n", text);
            std::abort();
        }
    } else if (addr && addr->sa_family == AF_INET6) {
        const auto* in6 = reinterpret_cast<const sockaddr_in6*>(addr);
        if (!IN6_IS_ADDR_LOOPBACK(&in6->sin6_addr)) {
            std::fprintf(stderr, "test refused an IPv6 connect: tests stay on this machine\n");
            std::abort();
        }
    }
    return real(fd, addr, len);
}

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
