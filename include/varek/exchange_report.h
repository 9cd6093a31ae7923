/// @file
/// What a connection knows about how its last operation ended: the outcome,
/// the details that explain it, and every byte that crossed the line, so that
/// a tool can say why an instrument did not answer and show the exchange.
#ifndef VAREK_EXCHANGE_REPORT_H
#define VAREK_EXCHANGE_REPORT_H

#include <cstdint>
#include <string>
#include <vector>

#include "varek/export.h"
#include "varek/serial_port.h"

/// Where an operation ended. Each failure is a kind of its own, so that no
/// message for one can be mistaken for another.
enum class VarekOutcome : std::int32_t {
    Succeeded = 0,        ///< the operation did what it was asked
    Unfinished,           ///< the operation stopped without a result (out of memory)
    OpenFailed,           ///< the port did not open: see `open_error`
    NotOpen,              ///< an operation on a connection that is not open
    ArgumentRejected,     ///< refused before anything was sent: see `rejection`
    WriteIncomplete,      ///< `bytes_written` of the request's size went out
    ReadFailed,           ///< the port failed while the reply was awaited (unplugged, hung up)
    NothingArrived,       ///< not one byte before the deadline
    NoFrameHead,          ///< bytes arrived, but no EB 90 among them
    FrameIncomplete,      ///< a head, then the frame stopped short
    LengthFieldTooSmall,  ///< a head whose length field is below the smallest frame's
    BadTail,              ///< a whole frame whose tail byte is wrong
    BadChecksum,          ///< a whole frame whose checksum is wrong
    PayloadTooShort,      ///< a query's reply decoded but carries too little
    Refused,              ///< a control request's reply decoded and says no
    LineKeepsSending,     ///< nothing sent: the line did not fall quiet before the request
};

/// One read that brought bytes: `size` bytes at `offset` in `received`,
/// `at_ms` milliseconds after the request was written.
struct VarekChunk {
    std::uint32_t at_ms = 0;   ///< ms after the request was written
    std::uint32_t offset = 0;  ///< where its bytes start in `received`
    std::uint32_t size = 0;    ///< how many bytes it brought
};

/// The record of one operation: its outcome, the details that explain a
/// failure (each field names the outcome it belongs to), and the bytes. Each
/// connection keeps one, which its next operation replaces: read it on the
/// thread that made the call, before the next.
struct VAREK_API VarekExchangeReport {
    /// How many of the first and of the last noise bytes before a reply are kept.
    static constexpr std::uint32_t KEPT_NOISE_BYTES = 2048;

    /// The connection's port and baud rate as last opened (kept across
    /// operations), for messages that name them.
    std::string port;
    std::int32_t baud = 0;  ///< the baud rate of the last open

    VarekOutcome outcome = VarekOutcome::Succeeded;  ///< how the operation ended
    VarekOpenError open_error;                       ///< OpenFailed
    std::string rejection;                           ///< ArgumentRejected: which argument, and its limits
    std::int32_t timeout_ms = 0;                     ///< the exchange's time-out

    std::vector<std::uint8_t> request;  ///< the request frame, as written
    std::int32_t bytes_written = 0;     ///< negative when the write failed outright
    /// The bytes read, in order: all of a reply frame, and of the noise before
    /// it the first and the last few KiB, so that a line that babbles cannot
    /// make the record grow. The noise not kept came between received[omitted_at - 1]
    /// and received[omitted_at], in `reads_omitted` reads of its own.
    std::vector<std::uint8_t> received;
    std::vector<VarekChunk> chunks;      ///< the reads that brought the bytes kept
    std::uint64_t received_omitted = 0;  ///< noise bytes read and not kept
    std::uint32_t omitted_at = 0;        ///< where in `received` the bytes not kept came
    std::uint64_t reads_omitted = 0;     ///< the reads that brought only bytes not kept
    /// Telnet commands that came while the reply was awaited (rfc2217://),
    /// which bring no line bytes.
    std::uint64_t telnet_bytes = 0;
    /// Bytes dropped before the request while waiting for the line to fall
    /// quiet, and how long that wait took.
    std::uint64_t discarded_bytes = 0;
    std::uint32_t quiet_wait_ms = 0;  ///< how long the wait for a quiet line took
    /// Set when an exchange failed after its request went out, so that its
    /// reply may still be on its way: the next exchange first waits for the
    /// line to fall quiet. Kept from one operation to the next; an Open clears it.
    bool reply_may_follow = false;

    std::int32_t noise_bytes = 0;         ///< bytes before the frame head
    std::int32_t length_field = -1;       ///< -1 until both length bytes arrived
    std::int32_t frame_size = 0;          ///< the whole frame the length announced, 0 before
    std::int32_t frame_received = 0;      ///< of it, counting head and length
    std::uint8_t tail_received = 0;       ///< BadTail
    std::uint16_t checksum_received = 0;  ///< BadChecksum
    std::uint16_t checksum_computed = 0;  ///< BadChecksum: what the bytes sum to
    std::int32_t payload_size = 0;        ///< PayloadTooShort: the payload that came
    std::int32_t payload_needed = 0;      ///< PayloadTooShort: the payload the query needs
    std::uint16_t reply_param = 0;        ///< Refused

    /// True unless the operation succeeded.
    bool failed() const { return outcome != VarekOutcome::Succeeded; }
    /// Every byte that arrived while the reply was awaited, kept or not.
    std::uint64_t ReceivedTotal() const { return received.size() + received_omitted; }
    /// The reply frame as received (from its head on), empty without a head.
    std::vector<std::uint8_t> ReplyFrame() const;
    /// Forgets the last operation, keeping the port, the baud rate, whether a
    /// reply may follow and the buffers' room, so that recording an exchange
    /// allocates nothing.
    void Begin(std::int32_t timeout);
    /// Records one read of `count` bytes, `at_ms` after the request. While the
    /// reply's head is still hunted (`noise`), the middle of a long run of
    /// bytes is dropped, keeping its first and last bytes and counting the rest.
    void KeepRead(std::uint32_t at_ms, const std::uint8_t* bytes, std::uint32_t count, bool noise);
};

/// Why the operation of `report` failed, in words that name the port, what was
/// seen and what to check; empty when it succeeded.
VAREK_API std::string VarekDescribeOutcome(const VarekExchangeReport& report);

/// The outcome's name for programs (metrics, logs): "nothing_arrived", "bad_checksum",
/// the words of the C names VAREKX_OUTCOME_* in lower case; null for a
/// number that is no outcome.
VAREK_API const char* VarekOutcomeName(VarekOutcome outcome);

/// The open failure's name for programs: "busy", "no_such_port", the words of
/// the C names VAREKX_OPEN_* in lower case; null for a number that is none.
VAREK_API const char* VarekOpenFailureName(VarekOpenFailure failure);

/// Whether the instrument may have carried out the request of `report`: true
/// when it succeeded, and when it failed after the request went out without a
/// refusal coming back (a lost or damaged reply says nothing of the request);
/// false when the instrument refused it or it was never sent.
VAREK_API bool VarekMayHaveActed(const VarekExchangeReport& report);

/// Whether the operation of `report` failed because the port itself went
/// away (a USB adapter unplugged, the terminal server's connection closed), so
/// that only opening it again can help.
VAREK_API bool VarekPortLost(const VarekExchangeReport& report);

/// Bytes as spaced upper-case hex pairs: "EB 90 06 00".
VAREK_API std::string VarekHex(const std::uint8_t* bytes, std::size_t count);

#endif
