// udp-port-holder: keeps UDP ports bound, as other programs on the computer might, until it is
// killed. Usage: udp-port-holder A.B.C.D FIRST_PORT [COUNT]; prints "holding" once all are bound.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fputs("usage: udp-port-holder A.B.C.D FIRST_PORT [COUNT]\n", stderr);
        return 2;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    if (inet_pton(AF_INET, argv[1], &address.sin_addr) != 1) {
        std::fprintf(stderr, "udp-port-holder: bad address %s\n", argv[1]);
        return 2;
    }
    long first = std::strtol(argv[2], nullptr, 10);
    long count = argc > 3 ? std::strtol(argv[3], nullptr, 10) : 1;
    for (long port = first; port < first + count; ++port) {
        int fd = socket(AF_INET, SOCK_DGRAM, 0);
        address.sin_port = htons(static_cast<unsigned short>(port));
        if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            std::fprintf(stderr, "udp-port-holder: cannot bind %s:%ld\n", argv[1], port);
            return 1;
        }
    }
    std::printf("holding %ld port(s) from %s:%ld\n", count, argv[1], first);
    std::fflush(stdout);
    for (;;) pause();
}
