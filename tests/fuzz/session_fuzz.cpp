// Fuzz target: a whole TFTP transfer session (transfer_image) fed a sequence of datagrams and
// empty polls from the input, against a small image whose size the input chooses. Every packet
// the session sends is checked as it leaves, against a plain count of the acknowledgements the
// session has been given and a clock that advances 10 ms with every empty poll (a datagram, of
// whatever kind, takes no time).
//
// Input: two bytes of image size (big-endian, taken modulo 5121), then records:
//   kind % 4 == 0: count byte; count + 1 empty polls
//   kind % 4 == 1: length byte and the bytes; a datagram from the device's address and port
//   kind % 4 == 2: length byte and the bytes; a datagram from another port (kind & 4: another
//                  address)
//   kind % 4 == 3: two bytes of block number; an ACK of that block from the device
// Once the records run out, every poll is empty.
#include <cstring>
#include <string>
#include <vector>

#include "app/transfer_dialogs.h"
#include "core/upgrade_state.h"
#include "fuzz_support.h"
#include "platform/clock.h"
#include "platform/dialogs.h"
#include "scripted_net.h"
#include "tftp/tftp_packets.h"
#include "tftp/tftp_session.h"

namespace {

constexpr std::uint32_t LOCAL_IP = 0x7F000001u;
constexpr std::uint32_t PEER_IP = 0x7F000002u;
constexpr std::uint16_t PEER_PORT = 50123;
constexpr std::uint32_t IMAGE_SIZE_MODULUS = 5121;  // up to 11 blocks
constexpr std::size_t SENDS_PER_PACKET = RETRY_LIMIT;
constexpr std::uint32_t MS_PER_EMPTY_POLL = 10;  // divides every retry period

std::uint32_t scripted_clock() {
    return static_cast<std::uint32_t>(scripted_net().empty_polls) * MS_PER_EMPTY_POLL;
}

bool same_address(const NetAddress& a, const NetAddress& b) {
    return a.port_be == b.port_be && a.address_be == b.address_be;
}

// What the session has been given so far, counted the plain way.
struct Model {
    const std::uint8_t* image;
    std::uint32_t image_size;
    std::uint32_t block_count;
    std::uint32_t awaited = 0;  // 0: the option acknowledgement; then the DATA block
    bool complete = false;
    std::size_t sends_since_progress = 0;
    std::uint32_t first_send_at = 0;  // of the packet outstanding
    std::uint32_t last_send_at = 0;
};

Model model;
NetAddress peer_address;

std::vector<std::uint8_t> expected_oack(std::uint32_t size) {
    std::string text = std::string("\0\6tsize\0", 8) + std::to_string(size) + std::string("\0timeout\0" "5\0", 11);
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

std::vector<std::uint8_t> expected_data(std::uint32_t block) {
    std::uint32_t offset = (block - 1) * TFTP_BLOCK_SIZE;
    std::uint32_t length = block == model.block_count ? model.image_size % TFTP_BLOCK_SIZE : TFTP_BLOCK_SIZE;
    std::vector<std::uint8_t> packet{0, 3, static_cast<std::uint8_t>(block >> 8 & 0xFF),
                                     static_cast<std::uint8_t>(block & 0xFF)};
    packet.insert(packet.end(), model.image + offset, model.image + offset + length);
    return packet;
}

void on_deliver(const ScriptedDatagram& datagram) {
    fuzz_require(!model.complete, "nothing is read after the last acknowledgement");
    const std::vector<std::uint8_t>& bytes = datagram.bytes;
    bool from_peer = same_address(datagram.peer, peer_address);
    bool ack = from_peer && bytes.size() >= 4 && bytes[0] == 0 && bytes[1] == TFTP_OPCODE_ACK;
    if (!ack) return;
    std::uint32_t block = static_cast<std::uint32_t>(bytes[2]) << 8 | bytes[3];
    if (block != (model.awaited & 0xFFFFu)) return;  // a duplicate or stray ACK
    model.awaited += 1;
    model.complete = model.awaited > model.block_count;
    model.sends_since_progress = 0;
}

void on_send(const ScriptedDatagram& datagram) {
    fuzz_require(same_address(datagram.peer, peer_address), "every packet goes to the requester");
    fuzz_require(!model.complete, "nothing is sent after the last acknowledgement");
    model.sends_since_progress += 1;
    fuzz_require(model.sends_since_progress <= SENDS_PER_PACKET, "a packet is sent 30 times at most");
    std::uint32_t now = scripted_clock();
    if (model.sends_since_progress == 1) {
        model.first_send_at = now;
    } else {
        int retries = static_cast<int>(model.sends_since_progress) - 2;
        fuzz_require(now - model.last_send_at == retry_period_ms(retries),
                     "a packet is sent again when the silence since its last send reaches its period, "
                     "and only then");
    }
    model.last_send_at = now;
    std::vector<std::uint8_t> expected =
        model.awaited == 0 ? expected_oack(model.image_size) : expected_data(model.awaited);
    fuzz_require(datagram.bytes == expected, "the packet is the OACK or the awaited block of the image");
}

void append_datagram(std::uint32_t address, std::uint16_t port, const std::uint8_t* bytes, std::size_t length) {
    ScriptedEvent event{false, {scripted_address(address, port), std::vector<std::uint8_t>(bytes, bytes + length)}};
    scripted_net().events.push_back(std::move(event));
}

void read_script(const std::uint8_t* data, std::size_t size) {
    std::size_t at = 0;
    while (at < size) {
        std::uint8_t kind = data[at++];
        std::uint8_t argument = at < size ? data[at++] : 0;
        switch (kind % 4) {
        case 0:
            for (int i = 0; i <= argument; ++i) scripted_net().events.push_back(ScriptedEvent{true, {}});
            break;
        case 1:
        case 2: {
            std::size_t length = argument < size - at ? argument : size - at;
            std::uint32_t address = kind % 4 == 2 && (kind & 4) != 0 ? PEER_IP + 1 : PEER_IP;
            std::uint16_t port = kind % 4 == 2 && (kind & 4) == 0 ? PEER_PORT + 1 : PEER_PORT;
            append_datagram(address, port, data + at, length);
            at += length;
            break;
        }
        default: {
            std::uint8_t ack[4] = {0, TFTP_OPCODE_ACK, argument, at < size ? data[at++] : std::uint8_t{0}};
            append_datagram(PEER_IP, PEER_PORT, ack, sizeof ack);
            break;
        }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    fuzz_format_traces();
    std::strcpy(upgrade_state.device_ip_text, "127.0.0.2");

    std::uint32_t image_size = (static_cast<std::uint32_t>(data[0]) << 8 | data[1]) % IMAGE_SIZE_MODULUS;
    std::unique_ptr<std::uint8_t[]> image(new std::uint8_t[image_size]);
    for (std::uint32_t i = 0; i < image_size; ++i) image[i] = static_cast<std::uint8_t>(i * 7 + i / 512);

    scripted_net_reset();
    read_script(data + 2, size - 2);
    peer_address = scripted_address(PEER_IP, PEER_PORT);
    model = Model{};
    model.image = image.get();
    model.image_size = image_size;
    model.block_count = image_size / TFTP_BLOCK_SIZE + 1;
    scripted_net().on_deliver = on_deliver;
    scripted_net().on_send = on_send;

    TftpSession session{};
    session.socket = net_udp_socket();
    session.local_ip = LOCAL_IP;
    session.local_port = 69;
    session.peer_ip = PEER_IP;
    session.peer_port = PEER_PORT;
    size_tftp_session(&session, image_size);
    clock_substitute(scripted_clock);
    TransferOutcome outcome = transfer_image(&session, image.get(), transfer_dialogs());
    clock_substitute(nullptr);

    fuzz_require((outcome == TransferOutcome::COMPLETE) == model.complete,
                 "the transfer completes exactly when every block was acknowledged");
    if (outcome != TransferOutcome::COMPLETE) {
        fuzz_require(scripted_clock() - model.first_send_at == give_up_after_ms() &&
                         model.sends_since_progress == SENDS_PER_PACKET,
                     "a transfer ends after the 30 silent periods, the packet sent 30 times");
        fuzz_require((outcome == TransferOutcome::LAST_ACK_MISSING) == (model.awaited == model.block_count),
                     "only the acknowledgement of the last block may be missing for the verification to follow");
    }
    if (outcome == TransferOutcome::COMPLETE) {
        fuzz_require(session.bytes_acked == image_size, "at the end every byte is acknowledged");
    }
    dialog_destroy(upgrade_state.upload_dialog);
    upgrade_state.upload_dialog = nullptr;
    scripted_net_reset();
    return 0;
}
