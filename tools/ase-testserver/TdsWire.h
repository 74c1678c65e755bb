// TDS 5.0 framing: packets on a socket, and a little-endian token writer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace asetest {

// Packet types (the first header byte).
enum PacketType : std::uint8_t {
    kPacketLogin = 0x02,
    kPacketResponse = 0x04,
    kPacketAttention = 0x06,
    kPacketNormal = 0x0F,
};

// Token codes the server reads or writes.
enum Token : std::uint8_t {
    kTokenRowFormat2 = 0x61,
    kTokenLogout = 0x71,
    kTokenReturnStatus = 0x79,
    kTokenOptionCommand = 0xA6,
    kTokenLoginAck = 0xAD,
    kTokenRow = 0xD1,
    kTokenParams = 0xD7,
    kTokenLanguage = 0x21,
    kTokenCapability = 0xE2,
    kTokenEnvChange = 0xE3,
    kTokenEed = 0xE5,
    kTokenDbRpc = 0xE6,
    kTokenParamFormat = 0xEC,
    kTokenRowFormat = 0xEE,
    kTokenDone = 0xFD,
    kTokenDoneProc = 0xFE,
    kTokenDoneInProc = 0xFF,
};

// DONE status bits.
enum DoneStatus : std::uint16_t {
    kDoneFinal = 0x00,
    kDoneMore = 0x01,
    kDoneError = 0x02,
    kDoneCount = 0x10,
    kDoneAttention = 0x20,
};

// The peer closed the connection or sent something that is not TDS.
class ConnectionClosed : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Appends little-endian values to a byte string.
class TokenWriter {
public:
    explicit TokenWriter(std::string& out)
        : out_(out) {}
    void U8(std::uint8_t v) { out_.push_back(static_cast<char>(v)); }
    void U16(std::uint16_t v) { Little(v, 2); }
    void U32(std::uint32_t v) { Little(v, 4); }
    void U64(std::uint64_t v) { Little(v, 8); }
    void I32(std::int32_t v) { Little(static_cast<std::uint32_t>(v), 4); }
    void Bytes(std::string_view b) { out_.append(b); }
    // Length byte then the text, cut at 255 bytes.
    void Short(std::string_view s) {
        const std::size_t n = s.size() > 255 ? 255 : s.size();
        U8(static_cast<std::uint8_t>(n));
        out_.append(s.data(), n);
    }
    std::size_t Size() const { return out_.size(); }
    // Writes a 2-byte length placeholder and returns its position for PatchU16.
    std::size_t LengthU16() {
        U16(0);
        return out_.size() - 2;
    }
    std::size_t LengthU32() {
        U32(0);
        return out_.size() - 4;
    }
    void PatchU16(std::size_t at) { Patch(at, out_.size() - at - 2, 2); }
    void PatchU32(std::size_t at) { Patch(at, out_.size() - at - 4, 4); }

private:
    void Little(std::uint64_t v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            out_.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    }
    void Patch(std::size_t at, std::size_t value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            out_[at + static_cast<std::size_t>(i)] = static_cast<char>((value >> (8 * i)) & 0xFF);
    }
    std::string& out_;
};

// Reads little-endian values from a received token stream; running past the end throws.
class TokenReader {
public:
    explicit TokenReader(std::string_view in)
        : in_(in) {}
    bool AtEnd() const { return pos_ >= in_.size(); }
    std::size_t Remaining() const { return in_.size() - pos_; }
    std::uint8_t U8() { return static_cast<std::uint8_t>(Take(1)[0]); }
    std::uint16_t U16() { return static_cast<std::uint16_t>(Little(2)); }
    std::uint32_t U32() { return static_cast<std::uint32_t>(Little(4)); }
    std::string_view Take(std::size_t n) {
        if (n > Remaining())
            throw ConnectionClosed("truncated token");
        std::string_view v = in_.substr(pos_, n);
        pos_ += n;
        return v;
    }

private:
    std::uint64_t Little(int bytes) {
        std::string_view b = Take(static_cast<std::size_t>(bytes));
        std::uint64_t v = 0;
        for (int i = bytes - 1; i >= 0; --i)
            v = (v << 8) | static_cast<unsigned char>(b[static_cast<std::size_t>(i)]);
        return v;
    }
    std::string_view in_;
    std::size_t pos_ = 0;
};

// One client socket: whole messages in, responses out in packets of the negotiated size.
class PacketChannel {
public:
    explicit PacketChannel(int fd)
        : fd_(fd) {}

    // Reads packets up to and including the one with the end-of-message bit. Throws
    // ConnectionClosed when the peer goes away or the framing is broken.
    void ReadMessage(std::uint8_t& type, std::string& payload);

    // True when a packet is waiting to be read (used to notice an attention mid-response).
    bool Readable() const;

    void SetPacketSize(std::size_t size) { packetSize_ = size; }
    std::size_t PacketSize() const { return packetSize_; }

    // Response buffering: Append tokens to Pending(); SendFull() sends every full packet held
    // (not the end of message) and says whether it sent any; Finish() sends the rest with the
    // end-of-message bit.
    std::string& Pending() { return pending_; }
    bool SendFull();
    void Finish();
    void Discard() { pending_.clear(); }

private:
    void SendPacket(std::string_view payload, bool last);
    void ReadExact(char* into, std::size_t n);

    int fd_;
    std::size_t packetSize_ = 512;
    std::string pending_;
    std::string packet_;
};

} // namespace asetest
