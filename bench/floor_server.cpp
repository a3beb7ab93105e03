// tev-floor-server: the floor of the transfer benchmarks, on Linux beside the program's own server
// and as tev-floor-server.exe under the same Wine as the Windows program. A bare server that
// answers a read request the way the upgrader does (an OACK with tsize and timeout, then each
// 512-byte block after the acknowledgement of the one before) from a thread blocked in its
// receive, with no window, no dialog and no polling. It serves the one image for every request,
// one transfer after the other, until it is ended, and prints each transfer's time from the
// request to the last acknowledgement.
//   tev-floor-server IMAGE PORT
#ifdef _WIN32
#include <winsock2.h>
using SocketLength = int;
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
using SOCKET = int;
using SocketLength = socklen_t;
constexpr SOCKET INVALID_SOCKET = -1;
#endif

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr int BLOCK = 512;
// Loopback loses nothing; this only keeps a lost packet from hanging a run.
constexpr int RESEND_MS = 1000;

std::vector<char> read_file(const char* path) {
    std::vector<char> bytes;
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return bytes;
    char chunk[65536];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        bytes.insert(bytes.end(), chunk, chunk + got);
    std::fclose(file);
    return bytes;
}

#ifdef _WIN32
bool start_sockets() {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

void set_receive_time_out(SOCKET s) {
    DWORD resend = RESEND_MS;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&resend), sizeof resend);
}
#else
bool start_sockets() { return true; }

void set_receive_time_out(SOCKET s) {
    timeval resend{RESEND_MS / 1000, 0};
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &resend, sizeof resend);
}
#endif

bool same_peer(const sockaddr_in& a, const sockaddr_in& b) {
    return a.sin_addr.s_addr == b.sin_addr.s_addr && a.sin_port == b.sin_port;
}

// Sends packet until the peer acknowledges block; false when it stops answering.
bool exchange(SOCKET s, const sockaddr_in& peer, const char* packet, int length, unsigned block) {
    char answer[BLOCK + 4];
    for (int attempt = 0; attempt < 5; ++attempt) {
        sendto(s, packet, length, 0, reinterpret_cast<const sockaddr*>(&peer), sizeof peer);
        for (;;) {
            sockaddr_in from{};
            SocketLength from_length = sizeof from;
            auto got = recvfrom(s, answer, sizeof answer, 0, reinterpret_cast<sockaddr*>(&from),
                                &from_length);
            if (got < 0) break;  // the time-out: send again
            unsigned acknowledged =
                (static_cast<unsigned>(static_cast<unsigned char>(answer[2])) << 8) |
                static_cast<unsigned char>(answer[3]);
            if (got >= 4 && same_peer(from, peer) && answer[1] == 4 &&
                acknowledged == (block & 0xFFFFu)) {
                return true;
            }
        }
    }
    return false;
}

void serve(SOCKET s, const sockaddr_in& peer, const std::vector<char>& image) {
    char packet[BLOCK + 4];
    int length = 2;
    packet[0] = 0;
    packet[1] = 6;
    length += std::sprintf(packet + length, "tsize") + 1;
    length += std::sprintf(packet + length, "%u", static_cast<unsigned>(image.size())) + 1;
    length += std::sprintf(packet + length, "timeout") + 1;
    length += std::sprintf(packet + length, "5") + 1;
    auto start = std::chrono::steady_clock::now();
    if (!exchange(s, peer, packet, length, 0)) return;
    std::size_t blocks = image.size() / BLOCK + 1;
    for (std::size_t block = 1; block <= blocks; ++block) {
        std::size_t offset = (block - 1) * BLOCK;
        int size = static_cast<int>(block < blocks ? BLOCK : image.size() - offset);
        packet[0] = 0;
        packet[1] = 3;
        packet[2] = static_cast<char>((block >> 8) & 0xFF);
        packet[3] = static_cast<char>(block & 0xFF);
        std::memcpy(packet + 4, image.data() + offset, static_cast<std::size_t>(size));
        if (!exchange(s, peer, packet, size + 4, static_cast<unsigned>(block))) return;
    }
    std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    std::printf("transfer %u bytes in %.6f s\n", static_cast<unsigned>(image.size()),
                took.count());
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("usage: tev-floor-server IMAGE PORT\n", stderr);
        return 2;
    }
    std::vector<char> image = read_file(argv[1]);
    if (image.empty() || !start_sockets()) return 2;
    SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    local.sin_port = htons(static_cast<u_short>(std::atoi(argv[2])));
    if (s == INVALID_SOCKET || bind(s, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        std::fputs("tev-floor-server: cannot bind\n", stderr);
        return 2;
    }
    set_receive_time_out(s);
    std::printf("ready\n");
    std::fflush(stdout);
    for (;;) {
        char request[BLOCK + 4];
        sockaddr_in peer{};
        SocketLength peer_length = sizeof peer;
        auto got = recvfrom(s, request, sizeof request, 0, reinterpret_cast<sockaddr*>(&peer),
                            &peer_length);
        if (got >= 2 && request[1] == 1) serve(s, peer, image);
    }
}
