// Sockets on 127.0.0.1 for the tests.
#include "loopback_socket.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>

sockaddr_in loopback_address(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

int bound_loopback_socket(int type, std::uint16_t port, std::uint16_t* bound_port,
                          std::uint32_t on_address) {
    int fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
    if (fd < 0) std::abort();
    sockaddr_in address = loopback_address(port);
    address.sin_addr.s_addr = htonl(on_address);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    *bound_port = ntohs(address.sin_port);
    return fd;
}
