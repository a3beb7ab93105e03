// What the TFTP server tells the program above it while it waits for and serves a transfer. The
// server shows nothing itself: the dialogs implement these calls, a test may count them. Every
// call comes from the listener's thread.
#pragma once
#include <cstdint>

struct TftpSession;
enum class TransferOutcome;

class TftpEvents {
public:
    // The listener starts waiting for a read request; first is false when it waits again for the
    // second image.
    virtual void waiting(bool first) = 0;
    // An empty poll while waiting: idle_counter runs from 1 to WAITING_PROGRESS_CYCLE - 1, then 0.
    virtual void waiting_poll(int idle_counter) = 0;
    // A read request was accepted; the transfer follows.
    virtual void request_accepted() = 0;
    // The transfer begins: the session's sizes are set, nothing is sent yet.
    virtual void transfer_started(const TftpSession& session) = 0;
    // The packet outstanding was acknowledged: current_block and bytes_acked have moved on.
    virtual void block_acknowledged(const TftpSession& session) = 0;
    // An empty poll during the transfer: the socket found empty, or a wait ended by input or its
    // time-out. Not called between an acknowledgement and the send it brings.
    virtual void transfer_poll() = 0;
    // How soon transfer_poll wants to be called again, in milliseconds of clock_ms(), if no
    // datagram or input comes first: a wait for the device's answer ends no later than this.
    // NO_POLL_DUE when only input or the end of a silent period need wake the session.
    static constexpr std::uint32_t NO_POLL_DUE = 0xFFFFFFFFu;
    virtual std::uint32_t transfer_poll_due_ms() { return NO_POLL_DUE; }
    // The transfer is over, whatever its outcome.
    virtual void transfer_ended(const TftpSession& session, TransferOutcome outcome) = 0;
    // The server cannot go on (no memory, no socket, no port, no thread); the program ends. A
    // stand-in that returns sees the server give up what it was doing.
    virtual void fail(const char* message) = 0;

protected:
    ~TftpEvents() = default;
};
