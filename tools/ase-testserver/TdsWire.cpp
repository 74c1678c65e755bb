#include "TdsWire.h"

#include <cerrno>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace asetest {

namespace {
constexpr std::size_t kHeader = 8;
constexpr std::size_t kMaxMessage = 64u << 20; // a request larger than this is refused
} // namespace

void PacketChannel::ReadExact(char* into, std::size_t n) {
    std::size_t done = 0;
    while (done < n) {
        const ssize_t got = ::recv(fd_, into + done, n - done, 0);
        if (got > 0) {
            done += static_cast<std::size_t>(got);
        } else if (got == 0) {
            throw ConnectionClosed("peer closed the connection");
        } else if (errno != EINTR) {
            throw ConnectionClosed("receive failed");
        }
    }
}

void PacketChannel::ReadMessage(std::uint8_t& type, std::string& payload) {
    payload.clear();
    for (bool first = true;; first = false) {
        unsigned char header[kHeader];
        ReadExact(reinterpret_cast<char*>(header), kHeader);
        const std::size_t length = (static_cast<std::size_t>(header[2]) << 8) | header[3];
        if (length < kHeader)
            throw ConnectionClosed("packet shorter than its header");
        if (first)
            type = header[0];
        else if (header[0] != type)
            throw ConnectionClosed("packet type changed inside a message");
        const std::size_t body = length - kHeader;
        if (payload.size() + body > kMaxMessage)
            throw ConnectionClosed("request too large");
        const std::size_t at = payload.size();
        payload.resize(at + body);
        ReadExact(payload.data() + at, body);
        if ((header[1] & 0x01) != 0)
            return;
    }
}

bool PacketChannel::Readable() const {
    pollfd p{fd_, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLIN | POLLHUP | POLLERR)) != 0;
}

void PacketChannel::SendPacket(std::string_view payload, bool last) {
    const std::size_t length = payload.size() + kHeader;
    packet_.assign(kHeader, '\0');
    packet_[0] = static_cast<char>(kPacketResponse);
    packet_[1] = static_cast<char>(last ? 0x01 : 0x00);
    packet_[2] = static_cast<char>((length >> 8) & 0xFF);
    packet_[3] = static_cast<char>(length & 0xFF);
    packet_.append(payload);
    std::size_t done = 0;
    while (done < packet_.size()) {
        const ssize_t sent =
            ::send(fd_, packet_.data() + done, packet_.size() - done, MSG_NOSIGNAL);
        if (sent > 0)
            done += static_cast<std::size_t>(sent);
        else if (sent < 0 && errno == EINTR)
            continue;
        else
            throw ConnectionClosed("send failed");
    }
}

bool PacketChannel::SendFull() {
    const std::size_t body = packetSize_ - kHeader;
    if (pending_.size() <= body)
        return false;
    std::size_t at = 0;
    // Keep at least one byte back so the end-of-message packet is never empty.
    while (pending_.size() - at > body) {
        SendPacket(std::string_view(pending_).substr(at, body), false);
        at += body;
    }
    pending_.erase(0, at);
    return true;
}

void PacketChannel::Finish() {
    SendFull();
    SendPacket(pending_, true);
    pending_.clear();
}

} // namespace asetest
