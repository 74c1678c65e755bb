// A minimal TDS 5.0 client for protocol tests: a socket, packets, a reader that reassembles
// tokens across packets, and a walker that decodes the tokens a server sends.
// Every protocol violation it notices is thrown as ProtocolError with a readable reason.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace tdsserver {

struct ProtocolError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Packet types and token codes used by the tests.
namespace tds {
constexpr std::uint8_t kPacketLogin = 0x02;
constexpr std::uint8_t kPacketReply = 0x04;
constexpr std::uint8_t kPacketAttention = 0x06;
constexpr std::uint8_t kPacketNormal = 0x0F;

constexpr std::uint8_t kLanguage = 0x21;
constexpr std::uint8_t kLogout = 0x71;
constexpr std::uint8_t kReturnStatus = 0x79;
constexpr std::uint8_t kOptionCmd = 0xA6;
constexpr std::uint8_t kError = 0xAA;
constexpr std::uint8_t kInfo = 0xAB;
constexpr std::uint8_t kLoginAck = 0xAD;
constexpr std::uint8_t kRow = 0xD1;
constexpr std::uint8_t kParams = 0xD7;
constexpr std::uint8_t kCapability = 0xE2;
constexpr std::uint8_t kEnvChange = 0xE3;
constexpr std::uint8_t kEed = 0xE5;
constexpr std::uint8_t kDbRpc = 0xE6;
constexpr std::uint8_t kParamFmt = 0xEC;
constexpr std::uint8_t kRowFmt = 0xEE;
constexpr std::uint8_t kRowFmt2 = 0x61;
constexpr std::uint8_t kDone = 0xFD;
constexpr std::uint8_t kDoneProc = 0xFE;
constexpr std::uint8_t kDoneInProc = 0xFF;

constexpr std::uint16_t kDoneMore = 0x01;
constexpr std::uint16_t kDoneError = 0x02;
constexpr std::uint16_t kDoneCount = 0x10;
constexpr std::uint16_t kDoneAttention = 0x20;

// Wire data types.
constexpr std::uint8_t kImage = 0x22;
constexpr std::uint8_t kText = 0x23;
constexpr std::uint8_t kVarBinary = 0x25;
constexpr std::uint8_t kIntN = 0x26;
constexpr std::uint8_t kVarChar = 0x27;
constexpr std::uint8_t kBinary = 0x2D;
constexpr std::uint8_t kChar = 0x2F;
constexpr std::uint8_t kInt1 = 0x30;
constexpr std::uint8_t kDate = 0x31;
constexpr std::uint8_t kBit = 0x32;
constexpr std::uint8_t kTime = 0x33;
constexpr std::uint8_t kInt2 = 0x34;
constexpr std::uint8_t kInt4 = 0x38;
constexpr std::uint8_t kDateTime4 = 0x3A;
constexpr std::uint8_t kFlt4 = 0x3B;
constexpr std::uint8_t kMoney = 0x3C;
constexpr std::uint8_t kDateTime = 0x3D;
constexpr std::uint8_t kFlt8 = 0x3E;
constexpr std::uint8_t kUInt1 = 0x40;
constexpr std::uint8_t kUInt2 = 0x41;
constexpr std::uint8_t kUInt4 = 0x42;
constexpr std::uint8_t kUInt8 = 0x43;
constexpr std::uint8_t kUIntN = 0x44;
constexpr std::uint8_t kDecimal = 0x6A;
constexpr std::uint8_t kNumeric = 0x6C;
constexpr std::uint8_t kFltN = 0x6D;
constexpr std::uint8_t kMoneyN = 0x6E;
constexpr std::uint8_t kDateTimeN = 0x6F;
constexpr std::uint8_t kMoney4 = 0x7A;
constexpr std::uint8_t kDateN = 0x7B;
constexpr std::uint8_t kTimeN = 0x93;
constexpr std::uint8_t kUniText = 0xAE;
constexpr std::uint8_t kLongChar = 0xAF;
constexpr std::uint8_t kBigDateTime = 0xBB;
constexpr std::uint8_t kBigTime = 0xBC;
constexpr std::uint8_t kInt8 = 0xBF;
constexpr std::uint8_t kLongBinary = 0xE1;
} // namespace tds

struct ColumnFormat {
    std::string name;
    std::uint32_t status = 0;
    std::uint32_t userType = 0;
    std::uint8_t type = 0;
    std::uint32_t maxLength = 0; // from the type info; 0 for fixed types
    std::uint8_t precision = 0;
    std::uint8_t scale = 0;
    std::string tableName; // text/image only
};

struct ColumnValue {
    std::optional<std::string> bytes; // nullopt = NULL
    int textPointerLength = -1;       // text/image/unitext: the pointer length byte
    std::string textPointer;          // and the pointer and timestamp after it
    std::string textTimestamp;
};

// One decoded token. Only the fields of its kind are filled.
struct Token {
    std::uint8_t id = 0;
    // DONE, DONEPROC, DONEINPROC
    std::uint16_t doneStatus = 0;
    std::uint16_t transactionState = 0;
    std::uint32_t doneCount = 0;
    // EED, INFO, ERROR
    std::int32_t messageNumber = 0;
    int state = 0;
    int severity = 0;
    std::string messageText;
    // ENVCHANGE
    int envType = 0;
    std::string newValue;
    std::string oldValue;
    bool envHasTrailingBytes = false; // more than one change in the token
    // LOGINACK
    int ackStatus = 0;
    std::array<std::uint8_t, 4> tdsVersion{};
    std::string programName;
    std::array<std::uint8_t, 4> programVersion{};
    // ROWFMT / ROWFMT2 / PARAMFMT
    std::vector<ColumnFormat> columns;
    // ROW / PARAMS
    std::vector<ColumnValue> values;
    // RETURNSTATUS
    std::int32_t returnStatus = 0;
    // CAPABILITY, OPTIONCMD: the body after the length
    std::string body;

    bool IsDone() const {
        return id == tds::kDone || id == tds::kDoneProc || id == tds::kDoneInProc;
    }
};

std::string TokenName(std::uint8_t id);
std::string Describe(const std::vector<Token>& tokens);

// The login record FreeTDS 1.3 sends for TDS 5.0 (603 bytes).
std::string BuildLoginRecord(const std::string& user, const std::string& password,
                             const std::string& application = "TSQL",
                             const std::string& packetSize = "512");

// Little-endian helpers for building request payloads.
void PutU16(std::string& out, std::uint16_t v);
void PutU32(std::string& out, std::uint32_t v);
std::uint32_t GetU32(const std::string& bytes, std::size_t offset = 0);
std::int32_t GetI32(const std::string& bytes, std::size_t offset = 0);

class RawTdsClient {
public:
    explicit RawTdsClient(int port, std::chrono::milliseconds timeout = std::chrono::seconds(30));
    ~RawTdsClient();
    RawTdsClient(const RawTdsClient&) = delete;
    RawTdsClient& operator=(const RawTdsClient&) = delete;

    // Sends `payload` as one message of packets no longer than `packetSize` (header included);
    // the last packet carries EOM.
    void SendMessage(std::uint8_t type, const std::string& payload, std::size_t packetSize = 512);
    void SendRawBytes(const std::string& bytes);
    void SendAttention();

    // Login with the FreeTDS record; returns the reply tokens.
    std::vector<Token> Login(const std::string& user, const std::string& password);
    // A LANGUAGE request and its whole reply.
    std::vector<Token> Language(const std::string& sql);
    void SendLanguage(const std::string& sql);

    // Reads tokens until the end of the current response message (a packet with EOM whose
    // bytes are all consumed).
    std::vector<Token> ReadResponse();
    // Reads the next token, across packets and messages.
    Token ReadToken();
    // True when no partial message is pending.
    bool AtMessageBoundary() const { return pos_ == buffer_.size() && lastPacketEom_; }

    // Waits until the server closes the connection; false when it stays open (or sends data)
    // for `timeout`.
    bool WaitForClose(std::chrono::milliseconds timeout = std::chrono::seconds(10));

    // Packets seen so far that were not of type REPLY, and EOM flags in the middle of a token.
    const std::vector<std::string>& PacketFaults() const { return packetFaults_; }
    std::size_t PacketsRead() const { return packetsRead_; }

private:
    void Need(std::size_t n);
    bool ReadPacket(); // false at end of file
    std::uint8_t U8();
    std::uint16_t U16();
    std::uint32_t U32();
    std::string Bytes(std::size_t n);
    std::vector<ColumnFormat> ReadFormat(bool wide, bool params);
    ColumnValue ReadValue(const ColumnFormat& column);
    void ReadTypeInfo(ColumnFormat& column);

    int fd_ = -1;
    std::chrono::milliseconds timeout_;
    std::string buffer_;
    std::size_t pos_ = 0;
    bool lastPacketEom_ = true;
    std::vector<ColumnFormat> currentFormat_;
    std::vector<ColumnFormat> currentParamFormat_;
    std::vector<std::string> packetFaults_;
    std::size_t packetsRead_ = 0;
};

// Helpers over a token list.
std::vector<Token> Filter(const std::vector<Token>& tokens, std::uint8_t id);
const Token* First(const std::vector<Token>& tokens, std::uint8_t id);
const Token* FirstError(const std::vector<Token>& tokens); // EED/ERROR with severity > 10

} // namespace tdsserver
