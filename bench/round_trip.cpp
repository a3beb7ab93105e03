// The floor of a lock-step TFTP transfer on loopback: the round trip of one 516-byte DATA-sized
// datagram and its 4-byte ACK-sized answer between two processes, each blocked in its receive,
// as a server and its client are.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr std::size_t DATA_SIZE = 516;
constexpr std::size_t ACK_SIZE = 4;
constexpr int WARM_UP = 500;

int bound_socket(sockaddr_in* address) {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    std::memset(address, 0, sizeof *address);
    address->sin_family = AF_INET;
    address->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof *address;
    if (bind(fd, reinterpret_cast<sockaddr*>(address), sizeof *address) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(address), &length) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// Answers every datagram with 4 bytes until it gets one of a single byte.
[[noreturn]] void answer_all(int fd) {
    unsigned char buffer[1024];
    for (;;) {
        sockaddr_in from{};
        socklen_t length = sizeof from;
        long got = recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from),
                            &length);
        if (got == 1) _exit(0);
        if (got <= 0) continue;
        sendto(fd, buffer, ACK_SIZE, 0, reinterpret_cast<sockaddr*>(&from), length);
    }
}

double now_seconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

}  // namespace

int main(int argc, char** argv) {
    int count = argc > 1 ? std::atoi(argv[1]) : 20000;
    if (count < 1) {
        std::fprintf(stderr, "usage: tev-round-trip [COUNT]\n");
        return 2;
    }
    sockaddr_in server{};
    sockaddr_in client{};
    int server_fd = bound_socket(&server);
    int client_fd = bound_socket(&client);
    if (server_fd < 0 || client_fd < 0) {
        std::perror("tev-round-trip: socket");
        return 1;
    }
    pid_t answerer = fork();
    if (answerer < 0) {
        std::perror("tev-round-trip: fork");
        return 1;
    }
    if (answerer == 0) answer_all(server_fd);
    unsigned char data[DATA_SIZE] = {0, 3};
    unsigned char answer[64];
    std::vector<double> trips;
    trips.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < WARM_UP + count; ++i) {
        double start = now_seconds();
        sendto(client_fd, data, sizeof data, 0, reinterpret_cast<sockaddr*>(&server), sizeof server);
        if (recv(client_fd, answer, sizeof answer, 0) != static_cast<long>(ACK_SIZE)) {
            std::fprintf(stderr, "tev-round-trip: no answer\n");
            return 1;
        }
        if (i >= WARM_UP) trips.push_back(now_seconds() - start);
    }
    sendto(client_fd, data, 1, 0, reinterpret_cast<sockaddr*>(&server), sizeof server);
    waitpid(answerer, nullptr, 0);
    std::sort(trips.begin(), trips.end());
    double sum = 0;
    for (double trip : trips) sum += trip;
    std::printf("round trip of %d: median %.2f us, mean %.2f us, 10th %.2f us, 90th %.2f us\n",
                count, trips[trips.size() / 2] * 1e6, sum / count * 1e6,
                trips[trips.size() / 10] * 1e6, trips[trips.size() * 9 / 10] * 1e6);
    return 0;
}
