#include "RawTds.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <unistd.h>

namespace tdsserver {
namespace {

std::string Hex(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value);
    return text;
}

// Writes `value` into a fixed field of `record` (NUL padded) followed by its length byte.
void PutName(std::string& record, std::size_t offset, std::size_t width, const std::string& value) {
    const std::size_t n = std::min(value.size(), width);
    record.replace(offset, n, value.substr(0, n));
    record[offset + width] = static_cast<char>(n);
}

} // namespace

void PutU16(std::string& out, std::uint16_t v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>(v >> 8);
}

void PutU32(std::string& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

std::uint32_t GetU32(const std::string& bytes, std::size_t offset) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | static_cast<unsigned char>(bytes.at(offset + static_cast<std::size_t>(i)));
    return v;
}

std::int32_t GetI32(const std::string& bytes, std::size_t offset) {
    return static_cast<std::int32_t>(GetU32(bytes, offset));
}

std::string TokenName(std::uint8_t id) {
    switch (id) {
    case tds::kDone:
        return "DONE";
    case tds::kDoneProc:
        return "DONEPROC";
    case tds::kDoneInProc:
        return "DONEINPROC";
    case tds::kEed:
        return "EED";
    case tds::kInfo:
        return "INFO";
    case tds::kError:
        return "ERROR";
    case tds::kEnvChange:
        return "ENVCHANGE";
    case tds::kLoginAck:
        return "LOGINACK";
    case tds::kCapability:
        return "CAPABILITY";
    case tds::kRowFmt:
        return "ROWFMT";
    case tds::kRowFmt2:
        return "ROWFMT2";
    case tds::kRow:
        return "ROW";
    case tds::kReturnStatus:
        return "RETURNSTATUS";
    case tds::kOptionCmd:
        return "OPTIONCMD";
    case tds::kParamFmt:
        return "PARAMFMT";
    case tds::kParams:
        return "PARAMS";
    default:
        return Hex(id);
    }
}

std::string Describe(const std::vector<Token>& tokens) {
    std::ostringstream out;
    for (const Token& t : tokens) {
        out << TokenName(t.id);
        if (t.IsDone())
            out << "(" << Hex(t.doneStatus) << "," << t.doneCount << ")";
        else if (t.id == tds::kEed || t.id == tds::kInfo || t.id == tds::kError)
            out << "(" << t.messageNumber << " sev " << t.severity << ": " << t.messageText << ")";
        else if (t.id == tds::kEnvChange)
            out << "(" << t.envType << ": '" << t.newValue << "' <- '" << t.oldValue << "')";
        else if (t.id == tds::kLoginAck)
            out << "(" << t.ackStatus << ")";
        out << " ";
    }
    return out.str();
}

std::string BuildLoginRecord(const std::string& user, const std::string& password,
                             const std::string& application, const std::string& packetSize) {
    std::string r(568, '\0');
    PutName(r, 0, 30, "tdstesthost");
    PutName(r, 31, 30, user);
    PutName(r, 62, 30, password);
    PutName(r, 93, 30, std::to_string(::getpid()));
    const unsigned char byteOrders[] = {3, 1, 6, 10, 9, 1, 0, 0, 0};
    for (std::size_t i = 0; i < sizeof byteOrders; ++i)
        r[124 + i] = static_cast<char>(byteOrders[i]);
    PutName(r, 140, 30, application);
    PutName(r, 171, 30, "ASETEST");
    // Remote passwords: server name length 0 ("any"), then the password with its length.
    r[202] = 0;
    r[203] = static_cast<char>(password.size());
    r.replace(204, password.size(), password);
    r[457] = static_cast<char>(password.size() + 2);
    const char version[] = {5, 0, 0, 0};
    r.replace(458, 4, version, 4);
    PutName(r, 462, 10, "TDS-Librar");
    r.replace(473, 4, version, 4);
    r[477] = 0;
    r[478] = 13;
    r[479] = 17;
    PutName(r, 480, 30, "us_english");
    r[556] = 1; // set charset; the name itself stays empty, as FreeTDS sends it
    PutName(r, 557, 6, packetSize);
    const unsigned char capability[] = {0xE2, 0x20, 0x00, 0x01, 0x0E, 0x00, 0x00, 0x60, 0x08,
                                        0x81, 0x81, 0xE8, 0x0F, 0x6D, 0x7F, 0xFF, 0xFF, 0xFF,
                                        0xFE, 0x02, 0x0E, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                                        0x00, 0x00, 0x00, 0x02, 0x68, 0x00, 0x00, 0x00};
    r.append(reinterpret_cast<const char*>(capability), sizeof capability);
    return r;
}

RawTdsClient::RawTdsClient(int port, std::chrono::milliseconds timeout)
    : timeout_(timeout) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0)
        throw ProtocolError(std::string("socket: ") + std::strerror(errno));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        const std::string reason = std::strerror(errno);
        ::close(fd_);
        fd_ = -1;
        throw ProtocolError("cannot connect to 127.0.0.1:" + std::to_string(port) + ": " + reason);
    }
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(timeout.count() / 1000);
    tv.tv_usec = static_cast<suseconds_t>((timeout.count() % 1000) * 1000);
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    int one = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

RawTdsClient::~RawTdsClient() {
    if (fd_ >= 0)
        ::close(fd_);
}

void RawTdsClient::SendRawBytes(const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw ProtocolError(std::string("send: ") + std::strerror(errno));
        sent += static_cast<std::size_t>(n);
    }
}

void RawTdsClient::SendMessage(std::uint8_t type, const std::string& payload,
                               std::size_t packetSize) {
    const std::size_t chunk = packetSize - 8;
    std::size_t offset = 0;
    std::string wire;
    do {
        const std::size_t n = std::min(chunk, payload.size() - offset);
        const bool last = offset + n == payload.size();
        const std::size_t length = n + 8;
        wire += static_cast<char>(type);
        wire += static_cast<char>(last ? 1 : 0);
        wire += static_cast<char>(length >> 8);
        wire += static_cast<char>(length & 0xFF);
        wire.append(4, '\0');
        wire.append(payload, offset, n);
        offset += n;
    } while (offset < payload.size());
    SendRawBytes(wire);
}

void RawTdsClient::SendAttention() {
    SendRawBytes(std::string("\x06\x01\x00\x08\x00\x00\x00\x00", 8));
}

std::vector<Token> RawTdsClient::Login(const std::string& user, const std::string& password) {
    SendMessage(tds::kPacketLogin, BuildLoginRecord(user, password));
    return ReadResponse();
}

void RawTdsClient::SendLanguage(const std::string& sql) {
    std::string payload;
    payload += static_cast<char>(tds::kLanguage);
    PutU32(payload, static_cast<std::uint32_t>(sql.size() + 1));
    payload += '\0';
    payload += sql;
    SendMessage(tds::kPacketNormal, payload);
}

std::vector<Token> RawTdsClient::Language(const std::string& sql) {
    SendLanguage(sql);
    return ReadResponse();
}

bool RawTdsClient::ReadPacket() {
    auto readFully = [this](char* into, std::size_t n) {
        std::size_t got = 0;
        while (got < n) {
            const ssize_t r = ::recv(fd_, into + got, n - got, 0);
            if (r < 0 && errno == EINTR)
                continue;
            if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                throw ProtocolError("timed out after " + std::to_string(timeout_.count()) +
                                    " ms waiting for the server");
            if (r < 0)
                throw ProtocolError(std::string("recv: ") + std::strerror(errno));
            if (r == 0) {
                if (got == 0)
                    return false;
                throw ProtocolError("the server closed the connection inside a packet");
            }
            got += static_cast<std::size_t>(r);
        }
        return true;
    };
    unsigned char header[8];
    if (!readFully(reinterpret_cast<char*>(header), 8))
        return false;
    const std::size_t length = (static_cast<std::size_t>(header[2]) << 8) | header[3];
    if (length < 8)
        throw ProtocolError("packet length " + std::to_string(length) + " is below 8");
    if (header[0] != tds::kPacketReply)
        packetFaults_.push_back("packet of type " + Hex(header[0]) + " instead of REPLY");
    std::string payload(length - 8, '\0');
    if (!payload.empty() && !readFully(payload.data(), payload.size()))
        throw ProtocolError("the server closed the connection after a packet header");
    buffer_ += payload;
    lastPacketEom_ = (header[1] & 0x01) != 0;
    ++packetsRead_;
    return true;
}

void RawTdsClient::Need(std::size_t n) {
    while (buffer_.size() - pos_ < n) {
        if (lastPacketEom_)
            throw ProtocolError("a token runs past the end of a packet with EOM");
        if (!ReadPacket())
            throw ProtocolError("the server closed the connection in the middle of a response");
    }
}

std::uint8_t RawTdsClient::U8() {
    Need(1);
    return static_cast<std::uint8_t>(buffer_[pos_++]);
}

std::uint16_t RawTdsClient::U16() {
    const std::uint16_t lo = U8();
    const std::uint16_t hi = U8();
    return static_cast<std::uint16_t>(lo | (hi << 8));
}

std::uint32_t RawTdsClient::U32() {
    const std::uint32_t lo = U16();
    const std::uint32_t hi = U16();
    return lo | (hi << 16);
}

std::string RawTdsClient::Bytes(std::size_t n) {
    Need(n);
    std::string out = buffer_.substr(pos_, n);
    pos_ += n;
    return out;
}

void RawTdsClient::ReadTypeInfo(ColumnFormat& c) {
    switch (c.type) {
    case tds::kInt1:
    case tds::kInt2:
    case tds::kInt4:
    case tds::kInt8:
    case 0x7F: // INT8 as Microsoft numbers it
    case tds::kUInt1:
    case tds::kUInt2:
    case tds::kUInt4:
    case tds::kUInt8:
    case tds::kFlt4:
    case tds::kFlt8:
    case tds::kBit:
    case tds::kMoney:
    case tds::kMoney4:
    case tds::kDateTime:
    case tds::kDateTime4:
    case tds::kDate:
    case tds::kTime:
        return;
    case tds::kIntN:
    case tds::kUIntN:
    case tds::kFltN:
    case tds::kMoneyN:
    case tds::kDateTimeN:
    case tds::kDateN:
    case tds::kTimeN:
    case tds::kVarChar:
    case tds::kChar:
    case tds::kVarBinary:
    case tds::kBinary:
    case 0x68: // BITN
        c.maxLength = U8();
        return;
    case tds::kNumeric:
    case tds::kDecimal:
        c.maxLength = U8();
        c.precision = U8();
        c.scale = U8();
        return;
    case tds::kLongChar:
    case tds::kLongBinary:
        c.maxLength = U32();
        return;
    case tds::kText:
    case tds::kImage:
    case tds::kUniText: {
        c.maxLength = U32();
        const std::uint16_t n = U16();
        c.tableName = Bytes(n);
        return;
    }
    case tds::kBigDateTime:
    case tds::kBigTime:
        c.maxLength = U8();
        c.precision = U8();
        return;
    default:
        throw ProtocolError("column '" + c.name +
                            "' has a data type FreeTDS does not know: " + Hex(c.type));
    }
}

std::vector<ColumnFormat> RawTdsClient::ReadFormat(bool wide, bool params) {
    const std::size_t declared = wide ? U32() : U16();
    const std::size_t start = pos_;
    const std::uint16_t count = U16();
    std::vector<ColumnFormat> columns;
    for (std::uint16_t i = 0; i < count; ++i) {
        ColumnFormat c;
        if (wide) {
            const std::string label = Bytes(U8());
            Bytes(U8()); // catalog
            Bytes(U8()); // schema
            Bytes(U8()); // table
            const std::string column = Bytes(U8());
            c.name = label.empty() ? column : label;
            c.status = U32();
        } else {
            c.name = Bytes(U8());
            c.status = U8();
        }
        c.userType = U32();
        c.type = U8();
        ReadTypeInfo(c);
        Bytes(U8()); // locale
        columns.push_back(std::move(c));
    }
    // The position may have moved across a compaction only at token starts, so this holds.
    if (pos_ - start != declared)
        packetFaults_.push_back(std::string(params ? "PARAMFMT" : "ROWFMT") + " length field " +
                                std::to_string(declared) + " but " + std::to_string(pos_ - start) +
                                " bytes of columns");
    return columns;
}

ColumnValue RawTdsClient::ReadValue(const ColumnFormat& c) {
    ColumnValue v;
    auto fixed = [&](std::size_t n) { v.bytes = Bytes(n); };
    switch (c.type) {
    case tds::kInt1:
    case tds::kUInt1:
    case tds::kBit:
        fixed(1);
        break;
    case tds::kInt2:
    case tds::kUInt2:
        fixed(2);
        break;
    case tds::kInt4:
    case tds::kUInt4:
    case tds::kFlt4:
    case tds::kMoney4:
    case tds::kDateTime4:
    case tds::kDate:
    case tds::kTime:
        fixed(4);
        break;
    case tds::kInt8:
    case 0x7F:
    case tds::kUInt8:
    case tds::kFlt8:
    case tds::kMoney:
    case tds::kDateTime:
        fixed(8);
        break;
    case tds::kLongChar:
    case tds::kLongBinary: {
        const std::uint32_t n = U32();
        if (n > 0)
            v.bytes = Bytes(n);
        break;
    }
    case tds::kText:
    case tds::kImage:
    case tds::kUniText: {
        const std::uint8_t pointer = U8();
        v.textPointerLength = pointer;
        if (pointer == 0)
            break;
        v.textPointer = Bytes(pointer);
        v.textTimestamp = Bytes(8);
        const std::uint32_t n = U32();
        v.bytes = Bytes(n);
        break;
    }
    default: {
        const std::uint8_t n = U8();
        if (n > 0)
            v.bytes = Bytes(n);
        break;
    }
    }
    return v;
}

Token RawTdsClient::ReadToken() {
    if (pos_ == buffer_.size()) {
        buffer_.clear();
        pos_ = 0;
        if (!ReadPacket())
            throw ProtocolError("the server closed the connection");
    } else if (pos_ > 65536) {
        buffer_.erase(0, pos_);
        pos_ = 0;
    }
    Token t;
    t.id = U8();
    switch (t.id) {
    case tds::kDone:
    case tds::kDoneProc:
    case tds::kDoneInProc:
        t.doneStatus = U16();
        t.transactionState = U16();
        t.doneCount = U32();
        break;
    case tds::kEed:
    case tds::kInfo:
    case tds::kError: {
        const std::size_t declared = U16();
        const std::size_t start = pos_;
        t.messageNumber = static_cast<std::int32_t>(U32());
        t.state = U8();
        t.severity = U8();
        if (t.id == tds::kEed) {
            Bytes(U8()); // sqlstate
            U8();        // status
            U16();       // transaction state
        }
        t.messageText = Bytes(U16());
        Bytes(U8()); // server
        Bytes(U8()); // procedure
        U16();       // line
        if (pos_ - start != declared)
            packetFaults_.push_back(TokenName(t.id) + " length field " + std::to_string(declared) +
                                    " but " + std::to_string(pos_ - start) + " bytes");
        if (pos_ - start < declared)
            Bytes(declared - (pos_ - start));
        break;
    }
    case tds::kEnvChange: {
        const std::size_t declared = U16();
        const std::size_t start = pos_;
        t.envType = U8();
        t.newValue = Bytes(U8());
        t.oldValue = Bytes(U8());
        if (pos_ - start < declared) {
            t.envHasTrailingBytes = true;
            Bytes(declared - (pos_ - start));
        } else if (pos_ - start > declared) {
            packetFaults_.push_back("ENVCHANGE shorter than its change");
        }
        break;
    }
    case tds::kLoginAck: {
        const std::size_t declared = U16();
        t.ackStatus = U8();
        for (auto& b : t.tdsVersion)
            b = U8();
        const std::uint8_t n = U8();
        t.programName = Bytes(n);
        for (auto& b : t.programVersion)
            b = U8();
        if (declared != 10u + n)
            packetFaults_.push_back("LOGINACK length " + std::to_string(declared) +
                                    " for a name of " + std::to_string(n) + " bytes");
        break;
    }
    case tds::kCapability:
    case tds::kOptionCmd:
    case 0xA9: // ORDERBY
    case 0xAE: // CONTROL
        t.body = Bytes(U16());
        break;
    case tds::kRowFmt:
        t.columns = ReadFormat(false, false);
        currentFormat_ = t.columns;
        break;
    case tds::kRowFmt2:
        t.columns = ReadFormat(true, false);
        currentFormat_ = t.columns;
        break;
    case tds::kParamFmt:
        t.columns = ReadFormat(false, true);
        currentParamFormat_ = t.columns;
        break;
    case tds::kRow:
        for (const ColumnFormat& c : currentFormat_)
            t.values.push_back(ReadValue(c));
        break;
    case tds::kParams:
        for (const ColumnFormat& c : currentParamFormat_)
            t.values.push_back(ReadValue(c));
        break;
    case tds::kReturnStatus:
        t.returnStatus = static_cast<std::int32_t>(U32());
        break;
    default:
        throw ProtocolError("unknown token " + Hex(t.id) + " (FreeTDS would drop the connection)");
    }
    return t;
}

std::vector<Token> RawTdsClient::ReadResponse() {
    std::vector<Token> tokens;
    do {
        tokens.push_back(ReadToken());
    } while (!AtMessageBoundary());
    return tokens;
}

bool RawTdsClient::WaitForClose(std::chrono::milliseconds timeout) {
    if (pos_ != buffer_.size())
        return false; // unread data is still pending
    pollfd p{fd_, POLLIN, 0};
    const int ready = ::poll(&p, 1, static_cast<int>(timeout.count()));
    if (ready <= 0)
        return false;
    char c;
    const ssize_t n = ::recv(fd_, &c, 1, 0);
    return n == 0 || (n < 0 && errno == ECONNRESET);
}

std::vector<Token> Filter(const std::vector<Token>& tokens, std::uint8_t id) {
    std::vector<Token> out;
    for (const Token& t : tokens)
        if (t.id == id)
            out.push_back(t);
    return out;
}

const Token* First(const std::vector<Token>& tokens, std::uint8_t id) {
    for (const Token& t : tokens)
        if (t.id == id)
            return &t;
    return nullptr;
}

const Token* FirstError(const std::vector<Token>& tokens) {
    for (const Token& t : tokens)
        if ((t.id == tds::kEed || t.id == tds::kInfo || t.id == tds::kError) && t.severity > 10)
            return &t;
    return nullptr;
}

} // namespace tdsserver
