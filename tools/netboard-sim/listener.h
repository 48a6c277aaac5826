// The listening socket of the sim's TCP faces (telnet board, reader, label printer) and the
// receive their connections are served with.
#pragma once

#include <sys/types.h>
#include <cstddef>

// A TCP socket bound to `address`:`port` (port 0: any free one), listening unless `listening`
// is false (a bound port nobody listens on answers every connect with a reset), whose address
// is printed as "ADDR:PORT", the first line of standard output the starter waits for. -1 when it
// cannot be had: the reason is on standard error and `*status` holds the exit status (2 for an
// address that is not IPv4, 1 otherwise).
int OpenAnnouncedListener(const char* who, const char* address, int port, bool listening,
                          int* status);

// One receive of up to `n` bytes, going on after an interruption: the count received, or 0 or
// less once the connection has ended or failed.
ssize_t ReceiveSome(int fd, void* buf, size_t n);
