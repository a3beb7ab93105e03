// tftp-peer: a scripted TFTP server for the device tests. It serves one file in lock step from the
// one port it listens on (as the upgrader does) and records every datagram it receives and sends,
// with its source port, so a test can see on the wire what the device did.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct PeerOptions {
    const char* address = "127.0.0.1";
    int port = 69;
    const char* file = nullptr;
    const char* record = nullptr;
    int retransmit_ms = 100;
    int retries = 30;        // sends of one packet before the transfer fails
    int linger_ms = 500;     // recording after the end
    int wait_ms = 10000;     // for the read request
    long silent_after = -1;  // stop sending once this block has gone out
};

std::FILE* record_file = nullptr;
timespec start_time{};

double elapsed() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec - start_time.tv_sec) + (now.tv_nsec - start_time.tv_nsec) / 1e9;
}

void note(const char* format, ...) __attribute__((format(printf, 1, 2)));
void note(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::fprintf(record_file, "%.3f ", elapsed());
    std::vfprintf(record_file, format, args);
    std::fputc('\n', record_file);
    std::fflush(record_file);
    va_end(args);
}

std::uint16_t get_u16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] << 8 | p[1]); }

// The NUL-terminated strings of a packet from `at`, quoted and joined by blanks.
std::string strings_from(const std::uint8_t* p, long length, long at) {
    std::string out;
    while (at < length) {
        long end = at;
        while (end < length && p[end] != 0) ++end;
        if (!out.empty()) out += " ";
        out += '"';
        out.append(reinterpret_cast<const char*>(p + at), static_cast<std::size_t>(end - at));
        out += '"';
        at = end + 1;
    }
    return out;
}

void note_received(const std::uint8_t* p, long length, std::uint16_t port) {
    if (length < 2) {
        note("rx %u SHORT %ld", port, length);
        return;
    }
    std::uint16_t opcode = get_u16(p);
    std::uint16_t number = length >= 4 ? get_u16(p + 2) : 0;
    if (opcode == 1) note("rx %u RRQ %s", port, strings_from(p, length, 2).c_str());
    else if (opcode == 3) note("rx %u DATA %u %ld", port, number, length - 4);
    else if (opcode == 4) note("rx %u ACK %u", port, number);
    else if (opcode == 5) note("rx %u ERROR %u %s", port, number, strings_from(p, length, 4).c_str());
    else note("rx %u OPCODE %u", port, opcode);
}

bool parse(int argc, char** argv, PeerOptions* o) {
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string name = argv[i];
        const char* value = argv[i + 1];
        if (name == "--address") o->address = value;
        else if (name == "--port") o->port = std::atoi(value);
        else if (name == "--file") o->file = value;
        else if (name == "--record") o->record = value;
        else if (name == "--retransmit-ms") o->retransmit_ms = std::atoi(value);
        else if (name == "--retries") o->retries = std::atoi(value);
        else if (name == "--linger-ms") o->linger_ms = std::atoi(value);
        else if (name == "--wait-ms") o->wait_ms = std::atoi(value);
        else if (name == "--silent-after") o->silent_after = std::atol(value);
        else return false;
    }
    return argc % 2 == 1 && o->file != nullptr && o->record != nullptr;
}

struct Peer {
    int fd = -1;
    sockaddr_in client{};
    std::vector<std::uint8_t> image;
    bool silent = false;
};

void send_packet(Peer* peer, const std::vector<std::uint8_t>& packet) {
    if (peer->silent) return;
    sendto(peer->fd, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&peer->client), sizeof peer->client);
}

std::vector<std::uint8_t> oack(std::size_t size) {
    std::vector<std::uint8_t> p = {0, 6};
    for (const std::string& s : {std::string("tsize"), std::to_string(size), std::string("timeout"), std::string("5")}) {
        p.insert(p.end(), s.begin(), s.end());
        p.push_back(0);
    }
    return p;
}

std::vector<std::uint8_t> data_packet(const Peer& peer, long block) {
    std::size_t offset = static_cast<std::size_t>(block - 1) * 512;
    std::size_t length = std::min<std::size_t>(512, peer.image.size() - offset);
    std::vector<std::uint8_t> p = {0, 3, static_cast<std::uint8_t>(block >> 8 & 0xff), static_cast<std::uint8_t>(block & 0xff)};
    p.insert(p.end(), peer.image.begin() + static_cast<long>(offset), peer.image.begin() + static_cast<long>(offset + length));
    return p;
}

// Sends the OACK (block 0) or DATA `block` and records it.
void send_block(Peer* peer, long block, bool again) {
    if (peer->silent) return;
    if (block == 0) {
        send_packet(peer, oack(peer->image.size()));
        note("tx OACK tsize=%zu timeout=5%s", peer->image.size(), again ? " again" : "");
    } else {
        std::vector<std::uint8_t> p = data_packet(*peer, block);
        send_packet(peer, p);
        note("tx DATA %ld %zu%s", block, p.size() - 4, again ? " again" : "");
    }
}

// Waits up to `ms` for a datagram; its length or -1.
long receive(int fd, std::uint8_t* buffer, std::size_t size, int ms, sockaddr_in* source) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, ms) <= 0) return -1;
    socklen_t length = sizeof *source;
    return recvfrom(fd, buffer, size, 0, reinterpret_cast<sockaddr*>(source), &length);
}

bool from_client(const Peer& peer, const sockaddr_in& source) {
    return source.sin_addr.s_addr == peer.client.sin_addr.s_addr && source.sin_port == peer.client.sin_port;
}

// Lock-step transfer; true once the last block is acknowledged from the client's port.
bool serve(Peer* peer, const PeerOptions& o) {
    long block_count = static_cast<long>(peer->image.size() / 512 + 1);
    long current = 0;
    int sends = 1;
    send_block(peer, 0, false);
    std::uint8_t buffer[2048];
    double last_send = elapsed();
    while (true) {
        int wait = o.retransmit_ms - static_cast<int>((elapsed() - last_send) * 1000);
        sockaddr_in source{};
        long length = wait > 0 ? receive(peer->fd, buffer, sizeof buffer, wait, &source) : -1;
        if (length < 0) {
            if (sends >= o.retries) return false;
            send_block(peer, current, true);
            ++sends;
            last_send = elapsed();
            continue;
        }
        note_received(buffer, length, ntohs(source.sin_port));
        if (!from_client(*peer, source) || length < 4 || get_u16(buffer) != 4 ||
            get_u16(buffer + 2) != static_cast<std::uint16_t>(current)) {
            continue;
        }
        if (current == block_count) return true;
        ++current;
        if (o.silent_after >= 0 && current > o.silent_after) {
            peer->silent = true;
            note("silent from now on");
        }
        send_block(peer, current, false);
        sends = 1;
        last_send = elapsed();
    }
}

void record_after_end(Peer* peer, int ms) {
    std::uint8_t buffer[2048];
    double end = elapsed() + ms / 1000.0;
    while (elapsed() < end) {
        sockaddr_in source{};
        long length = receive(peer->fd, buffer, sizeof buffer, static_cast<int>((end - elapsed()) * 1000) + 1, &source);
        if (length >= 0) note_received(buffer, length, ntohs(source.sin_port));
    }
}

bool load(const char* path, std::vector<std::uint8_t>* image) {
    std::FILE* f = std::fopen(path, "rb");
    if (f == nullptr) return false;
    std::uint8_t chunk[65536];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0) image->insert(image->end(), chunk, chunk + got);
    std::fclose(f);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    PeerOptions o;
    Peer peer;
    clock_gettime(CLOCK_MONOTONIC, &start_time);
    if (!parse(argc, argv, &o) || !load(o.file, &peer.image)) {
        std::fprintf(stderr, "usage: tftp-peer --file PATH --record PATH [--address A] [--port P] [--retransmit-ms N]\n"
                             "       [--retries N] [--linger-ms N] [--wait-ms N] [--silent-after BLOCK]\n");
        return 2;
    }
    record_file = std::fopen(o.record, "w");
    peer.fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<std::uint16_t>(o.port));
    inet_pton(AF_INET, o.address, &local.sin_addr);
    if (record_file == nullptr || bind(peer.fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        std::perror("tftp-peer");
        return 2;
    }
    std::printf("tftp-peer ready\n");
    std::fflush(stdout);
    std::uint8_t buffer[2048];
    long length = receive(peer.fd, buffer, sizeof buffer, o.wait_ms, &peer.client);
    if (length < 0) {
        note("result no-request");
        return 3;
    }
    note_received(buffer, length, ntohs(peer.client.sin_port));
    note("client %s:%u", inet_ntoa(peer.client.sin_addr), ntohs(peer.client.sin_port));
    bool complete = serve(&peer, o);
    note(complete ? "result complete" : "result failed");
    record_after_end(&peer, o.linger_ms);
    note("end");
    return complete ? 0 : 1;
}
