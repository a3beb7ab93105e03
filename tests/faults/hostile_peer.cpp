// Peers that no TEV would be, for the fault matrix:
//   hostile-peer web --address A.B.C.D (--garbage BYTES | --answer FILE) [--retry-bind yes]
//     a web server on port 80 that answers every connection with binary garbage or the bytes
//     of FILE, then closes it; with --retry-bind it waits until the port is free;
//   hostile-peer flood --from A.B.C.D --to A.B.C.D:PORT [--every-us N]
//     sends TFTP read requests for wrong file names, one every N microseconds (default 200),
//     until it is killed;
//   hostile-peer thief --from A.B.C.D --to A.B.C.D:PORT --name NAME --version TEXT
//     a host that is not the device asks for the announced file as the device would, takes
//     every block it is given, then answers on port 80 with a status page that claims TEXT.
// Each prints "hostile-peer ready" once it runs, and a line for each connection, every thousandth
// request, or the end of the theft.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

[[noreturn]] void die(const char* what) {
    std::fprintf(stderr, "hostile-peer: %s: %s\n", what, std::strerror(errno));
    std::exit(2);
}

[[noreturn]] void usage() {
    std::fprintf(stderr, "usage: hostile-peer web --address A.B.C.D (--garbage BYTES | --answer FILE) [--retry-bind yes]\n"
                         "       hostile-peer flood --from A.B.C.D --to A.B.C.D:PORT [--every-us N]\n"
                         "       hostile-peer thief --from A.B.C.D --to A.B.C.D:PORT --name NAME --version TEXT\n");
    std::exit(2);
}

sockaddr_in address_of(const std::string& text, std::uint16_t default_port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    std::string host = text;
    std::uint16_t port = default_port;
    std::size_t colon = text.find(':');
    if (colon != std::string::npos) {
        host = text.substr(0, colon);
        port = static_cast<std::uint16_t>(std::atoi(text.c_str() + colon + 1));
    }
    if (inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1) usage();
    address.sin_port = htons(port);
    return address;
}

// Bytes of every value, NUL and line breaks included, the same on every run.
std::vector<std::uint8_t> garbage(std::size_t size) {
    std::vector<std::uint8_t> bytes(size);
    std::uint32_t state = 0x2545F491u;
    for (std::uint8_t& byte : bytes) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = static_cast<std::uint8_t>(state >> 24);
    }
    return bytes;
}

void send_all(int fd, const std::vector<std::uint8_t>& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return;  // the client closed: what it read is its business
        sent += static_cast<std::size_t>(n);
    }
}

// Reads the request up to its empty line (or whatever comes within a few reads).
void read_request(int fd) {
    std::string request;
    char buffer[2048];
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
        ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) return;
        request.append(buffer, static_cast<std::size_t>(n));
    }
}

int run_web(const sockaddr_in& address, const std::vector<std::uint8_t>& answer, bool retry_bind) {
    int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int on = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    while (bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        if (!retry_bind || errno != EADDRINUSE) die("bind");
        usleep(20000);
    }
    if (listen(listener, 16) != 0) die("listen");
    std::printf("hostile-peer ready\n");
    std::fflush(stdout);
    for (int count = 1;; ++count) {
        int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        read_request(fd);
        send_all(fd, answer);
        close(fd);
        std::printf("connection %d answered with %zu bytes\n", count, answer.size());
        std::fflush(stdout);
    }
}

int run_flood(const sockaddr_in& from, const sockaddr_in& to, long every_us) {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&from), sizeof from) != 0) die("bind");
    std::printf("hostile-peer ready\n");
    std::fflush(stdout);
    for (unsigned long count = 1;; ++count) {
        // Names the upgrader never announces: upper case, or no leading slash, or another number.
        char name[64];
        int variant = static_cast<int>(count % 3);
        std::snprintf(name, sizeof name, variant == 0 ? "/TEV%lX.BI1" : variant == 1 ? "tev%lx.bi1" : "/tev%lx.bi9",
                      count);
        std::vector<std::uint8_t> request{0, 1};
        for (const char* text : {static_cast<const char*>(name), "octet", "tsize", "0", "timeout", "5"}) {
            request.insert(request.end(), text, text + std::strlen(text) + 1);
        }
        sendto(fd, request.data(), request.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
        if (count % 1000 == 0) {
            std::printf("%lu wrong requests sent\n", count);
            std::fflush(stdout);
        }
        usleep(static_cast<useconds_t>(every_us));
    }
}

// Asks for the file and acknowledges every answer from the server's port; the bytes received, or
// -1 when the server never answered.
long steal_file(const sockaddr_in& from, const sockaddr_in& to, const std::string& name) {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&from), sizeof from) != 0) die("bind");
    timeval wait{3, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    std::vector<std::uint8_t> request{0, 1};
    for (const char* text : {name.c_str(), "octet", "tsize", "0", "timeout", "5"}) {
        request.insert(request.end(), text, text + std::strlen(text) + 1);
    }
    sendto(fd, request.data(), request.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    long stolen = -1;
    std::uint8_t packet[1024];
    for (;;) {
        sockaddr_in server{};
        socklen_t length = sizeof server;
        ssize_t n = recvfrom(fd, packet, sizeof packet, 0, reinterpret_cast<sockaddr*>(&server), &length);
        if (n < 4) break;
        int opcode = packet[0] << 8 | packet[1];
        std::uint8_t ack[4] = {0, 4, 0, 0};
        if (opcode == 3) {
            ack[2] = packet[2];
            ack[3] = packet[3];
            stolen = (stolen < 0 ? 0 : stolen) + (n - 4);
        } else if (opcode == 6) {
            stolen = stolen < 0 ? 0 : stolen;
        } else {
            continue;
        }
        sendto(fd, ack, sizeof ack, 0, reinterpret_cast<sockaddr*>(&server), length);
        if (opcode == 3 && n < 516) break;
    }
    close(fd);
    return stolen;
}

std::vector<std::uint8_t> status_page_claiming(const std::string& version) {
    std::string page = "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n<html><body><table>"
                       "<tr><td>Product Name:</td><td>TEV-4400</td></tr>"
                       "<tr><td>Software Version:</td><td>" + version + "</td></tr></table></body></html>\r\n";
    return std::vector<std::uint8_t>(page.begin(), page.end());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) usage();
    std::string mode = argv[1];
    std::string address, to, answer_file, name, version;
    bool retry_bind = false;
    long garbage_size = -1, every_us = 200;
    for (int i = 2; i + 1 < argc; i += 2) {
        std::string option = argv[i];
        if (option == "--address" || option == "--from") address = argv[i + 1];
        else if (option == "--to") to = argv[i + 1];
        else if (option == "--garbage") garbage_size = std::atol(argv[i + 1]);
        else if (option == "--answer") answer_file = argv[i + 1];
        else if (option == "--name") name = argv[i + 1];
        else if (option == "--version") version = argv[i + 1];
        else if (option == "--every-us") every_us = std::atol(argv[i + 1]);
        else if (option == "--retry-bind") retry_bind = std::string(argv[i + 1]) == "yes";
        else usage();
    }
    if (address.empty()) usage();
    if (mode == "web") {
        std::vector<std::uint8_t> answer;
        if (garbage_size >= 0) {
            answer = garbage(static_cast<std::size_t>(garbage_size));
        } else {
            std::ifstream in(answer_file, std::ios::binary);
            if (!in) usage();
            answer.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
        return run_web(address_of(address, 80), answer, retry_bind);
    }
    if (mode == "flood" && !to.empty()) return run_flood(address_of(address, 0), address_of(to, 69), every_us);
    if (mode == "thief" && !to.empty() && !name.empty()) {
        long stolen = steal_file(address_of(address, 0), address_of(to, 69), name);
        std::printf(stolen < 0 ? "theft: no answer\n" : "theft: %ld bytes\n", stolen);
        std::fflush(stdout);
        return run_web(address_of(address, 80), status_page_claiming(version), false);
    }
    usage();
}
