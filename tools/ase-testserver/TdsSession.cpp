#include "TdsSession.h"

#include "TdsResults.h"

#include <cstdio>
#include <exception>
#include <poll.h>

namespace asetest {

namespace {

// Offsets in the TDS 5.0 login record.
constexpr std::size_t kUserAt = 31;
constexpr std::size_t kPasswordAt = 62;
constexpr std::size_t kNameField = 30;
constexpr std::size_t kPacketSizeAt = 557;
constexpr std::size_t kPacketSizeField = 6;
constexpr std::size_t kCapabilityAt = 568;

std::string Field(const std::string& login, std::size_t at, std::size_t size) {
    std::size_t length = static_cast<unsigned char>(login[at + size]);
    if (length > size)
        length = size;
    return login.substr(at, length);
}

// LOGINACK: status, TDS version 5.0, the product's name and its version, one byte a part.
enum : std::uint8_t { kLoginSucceeded = 5, kLoginFailed = 6 };
void WriteLoginAck(std::string& out, std::uint8_t status, const std::string& product,
                   std::uint32_t version) {
    TokenWriter w(out);
    w.U8(kTokenLoginAck);
    const std::size_t length = w.LengthU16();
    w.U8(status);
    w.U32(0x00000005);
    w.Short(product);
    for (int shift = 24; shift >= 0; shift -= 8)
        w.U8(static_cast<std::uint8_t>(version >> shift));
    w.PatchU16(length);
}

// ENVCHANGE kinds.
enum : std::uint8_t { kEnvDatabase = 1, kEnvLanguage = 2, kEnvCharset = 3, kEnvPacketSize = 4 };

} // namespace

TdsSession::TdsSession(int fd, int spid, Engine& engine, const ServerSettings& settings)
    : channel_(fd)
    , spid_(spid)
    , engine_(engine)
    , settings_(settings)
    , fd_(fd) {}

TdsSession::~TdsSession() {
    StopWatcher();
}

void TdsSession::StopWatcher() {
    if (!watcher_.joinable())
        return;
    {
        std::lock_guard lock(stateMutex_);
        stopping_ = true;
    }
    stateChanged_.notify_all();
    watcher_.join();
}

namespace {
// A batch that has run this long gets its socket watched for an attention.
constexpr auto kWatchAfter = std::chrono::milliseconds(50);
constexpr auto kWatcherTick = std::chrono::milliseconds(20);
} // namespace

void TdsSession::WatchForAttention() {
    std::unique_lock lock(stateMutex_);
    while (!stopping_) {
        stateChanged_.wait_for(lock, kWatcherTick);
        if (stopping_)
            break;
        if (!executing_ || std::chrono::steady_clock::now() - startedAt_ < kWatchAfter)
            continue;
        const std::uint64_t generation = generation_;
        lock.unlock();
        {
            std::lock_guard socket(socketMutex_);
            while (executing_ && generation_ == generation) {
                pollfd p{fd_, POLLIN, 0};
                if (::poll(&p, 1, 10) <= 0)
                    continue;
                try {
                    std::uint8_t type = 0;
                    std::string ignored;
                    channel_.ReadMessage(type, ignored);
                    if (type == kPacketAttention)
                        attentionTaken_ = true;
                    else
                        watcherSawGarbage_ = true;
                } catch (const ConnectionClosed&) {
                    watcherSawGarbage_ = true;
                }
                cancelled_ = true;
                break;
            }
        }
        lock.lock();
        // Engage again only for a later batch.
        while (!stopping_ && executing_ && generation_ == generation)
            stateChanged_.wait_for(lock, kWatcherTick);
    }
}

template <typename Work> bool TdsSession::Execute(Work&& work) {
    cancelled_ = false;
    attentionTaken_ = false;
    {
        std::lock_guard lock(stateMutex_);
        startedAt_ = std::chrono::steady_clock::now();
        ++generation_;
        executing_ = true;
    }
    try {
        work();
    } catch (...) {
        executing_ = false;
        std::lock_guard socket(socketMutex_);
        throw;
    }
    executing_ = false;
    {
        // The watcher lets go of the socket within one poll interval.
        std::lock_guard socket(socketMutex_);
    }
    if (watcherSawGarbage_)
        throw ConnectionClosed("the client sent a request before the previous one was answered");
    return attentionTaken_;
}

void TdsSession::Run() {
    try {
        if (Login())
            Serve();
    } catch (const ConnectionClosed&) {
        // the client went away or broke the framing: drop the connection
    } catch (const std::exception& e) {
        std::fprintf(stderr, "ase-testserver: connection %d: %s\n", spid_, e.what());
    }
}

bool TdsSession::Login() {
    std::uint8_t type = 0;
    std::string login;
    channel_.ReadMessage(type, login);
    if (type != kPacketLogin || login.size() < kCapabilityAt)
        return false; // not a TDS 5.0 login: hang up, as ASE does

    const std::string user = Field(login, kUserAt, kNameField);
    const std::string password = Field(login, kPasswordAt, kNameField);
    const auto known = settings_.passwords.find(user);
    std::string& out = channel_.Pending();
    if (known == settings_.passwords.end() || known->second != password) {
        WriteMessage(out, {4002, 14, 1, "Login failed."}, settings_.serverName);
        WriteLoginAck(out, kLoginFailed, "", 0);
        WriteDone(out, kTokenDone, kDoneError, -1);
        channel_.Finish();
        return false;
    }

    std::size_t packetSize = 512;
    const std::string requested = Field(login, kPacketSizeAt, kPacketSizeField);
    if (!requested.empty() && requested.find_first_not_of("0123456789") == std::string::npos) {
        const unsigned long asked = std::stoul(requested);
        if (asked >= 512 && asked <= 65535)
            packetSize = asked;
    }

    session_ = engine_.OpenSession(spid_, user);
    WriteEnvChange(out, kEnvDatabase, session_->CurrentDatabase(), "");
    WriteMessage(
        out, {5701, 10, 1, "Changed database context to '" + session_->CurrentDatabase() + "'."},
        settings_.serverName);
    WriteEnvChange(out, kEnvLanguage, "us_english", "");
    WriteMessage(out, {5703, 10, 1, "Changed language setting to 'us_english'."},
                 settings_.serverName);
    WriteEnvChange(out, kEnvCharset, settings_.charset, "");
    WriteLoginAck(out, kLoginSucceeded, "ASE", 0x10000306); // 16.0.3.6
    WriteEnvChange(out, kEnvPacketSize, std::to_string(packetSize), std::to_string(512));
    // Capabilities: grant what the client asked for, as it sent them.
    if (static_cast<unsigned char>(login[kCapabilityAt]) == kTokenCapability &&
        login.size() >= kCapabilityAt + 3) {
        const std::size_t length =
            static_cast<unsigned char>(login[kCapabilityAt + 1]) |
            (static_cast<std::size_t>(static_cast<unsigned char>(login[kCapabilityAt + 2])) << 8);
        if (login.size() >= kCapabilityAt + 3 + length)
            out.append(login, kCapabilityAt, 3 + length);
    }
    WriteDone(out, kTokenDone, kDoneFinal, -1);
    channel_.Finish();
    channel_.SetPacketSize(packetSize);
    return true;
}

void TdsSession::Serve() {
    watcher_ = std::thread([this] { WatchForAttention(); });
    std::uint8_t type = 0;
    std::string message;
    for (;;) {
        channel_.ReadMessage(type, message);
        if (type == kPacketAttention) {
            // Always acknowledged, even when the response it meant to stop was complete.
            WriteDone(channel_.Pending(), kTokenDone, kDoneAttention, -1);
            channel_.Finish();
            continue;
        }
        if (type != kPacketNormal || message.empty()) {
            SendError(102, 15, "Incorrect syntax near 'packet'.");
            continue;
        }
        TokenReader in(message);
        const std::uint8_t token = in.U8();
        switch (token) {
        case kTokenLanguage:
            Language(in);
            break;
        case kTokenDbRpc:
            RemoteProcedure(in);
            break;
        case kTokenOptionCommand:
            OptionCommand(in);
            break;
        case kTokenLogout:
            WriteDone(channel_.Pending(), kTokenDone, kDoneFinal, -1);
            channel_.Finish();
            return;
        default: {
            char text[96];
            std::snprintf(text, sizeof text,
                          "The test server does not support request token 0x%02X.", token);
            SendError(7200, 16, text);
            break;
        }
        }
    }
}

void TdsSession::Language(TokenReader& in) {
    const std::uint32_t length = in.U32();
    if (length < 1)
        throw ConnectionClosed("empty LANGUAGE token");
    const std::uint8_t status = in.U8();
    const std::string_view text = in.Take(length - 1);
    if ((status & 0x01) != 0) {
        SendError(7201, 16, "The test server does not support parameters in language commands.");
        return;
    }
    std::vector<StatementOutcome> outcomes;
    const std::string batch = FromClient(text);
    if (Execute([&] { outcomes = session_->ExecuteBatch(batch, cancelled_); })) {
        // The client discards everything up to the acknowledgement.
        WriteDone(channel_.Pending(), kTokenDone, kDoneAttention, -1);
        channel_.Finish();
        return;
    }
    SendOutcomes(outcomes);
}

void TdsSession::RemoteProcedure(TokenReader& in) {
    const std::uint16_t length = in.U16();
    TokenReader rpc(in.Take(length));
    const std::uint8_t nameLength = rpc.U8();
    const std::string name(rpc.Take(nameLength));
    std::vector<EngineSession::NamedParameter> parameters;
    // Parameter formats then values: character and integer parameters are understood.
    struct Format {
        std::string name;
        std::uint8_t type;
        std::uint32_t size;
    };
    std::vector<Format> formats;
    while (!in.AtEnd()) {
        const std::uint8_t token = in.U8();
        if (token == kTokenParamFormat) {
            TokenReader f(in.Take(in.U16()));
            const std::uint16_t count = f.U16();
            for (std::uint16_t i = 0; i < count; ++i) {
                std::string parameterName(f.Take(f.U8()));
                f.U8();  // status
                f.U32(); // user type
                const std::uint8_t type = f.U8();
                std::uint32_t size = 0;
                switch (type) {
                case 0x27:
                case 0x2F:
                case 0x26:
                case 0x25:
                case 0x2D:
                case 0x44:
                    size = f.U8();
                    break;
                case 0xAF:
                case 0xE1:
                    size = f.U32();
                    break;
                case 0x30:
                    size = 1;
                    break;
                case 0x34:
                    size = 2;
                    break;
                case 0x38:
                    size = 4;
                    break;
                case 0xBF:
                    size = 8;
                    break;
                default:
                    SendError(7202, 16, "The test server does not support this parameter type.");
                    return;
                }
                f.Take(f.U8()); // locale
                formats.push_back({std::move(parameterName), type, size});
            }
        } else if (token == kTokenParams) {
            for (const Format& format : formats) {
                EngineSession::NamedParameter parameter;
                parameter.name = format.name;
                const std::uint8_t type = format.type;
                if (type == 0x27 || type == 0x2F || type == 0x25 || type == 0x2D) {
                    const std::uint8_t length = in.U8();
                    parameter.isNull = length == 0;
                    parameter.value = std::string(in.Take(length));
                } else if (type == 0xAF || type == 0xE1) {
                    const std::uint32_t length = in.U32();
                    parameter.isNull = length == 0;
                    parameter.value = std::string(in.Take(length));
                } else {
                    std::uint32_t bytes = format.size;
                    if (type == 0x26 || type == 0x44)
                        bytes = in.U8();
                    const std::string_view raw = in.Take(bytes);
                    std::int64_t n = 0;
                    for (std::size_t k = raw.size(); k-- > 0;)
                        n = (n << 8) | static_cast<unsigned char>(raw[k]);
                    if (bytes > 0 && bytes < 8 && (static_cast<unsigned char>(raw.back()) & 0x80))
                        n -= std::int64_t{1} << (8 * bytes);
                    parameter.isNull = bytes == 0;
                    if (!parameter.isNull)
                        parameter.value = std::to_string(n);
                }
                if (type == 0x27 || type == 0x2F || type == 0xAF)
                    parameter.value = FromClient(parameter.value);
                parameters.push_back(std::move(parameter));
            }
        } else {
            SendError(7203, 16, "Unexpected token after the procedure call.");
            return;
        }
    }
    std::vector<StatementOutcome> outcomes;
    if (Execute([&] { outcomes = session_->CallProcedureNamed(name, parameters, cancelled_); })) {
        WriteDone(channel_.Pending(), kTokenDone, kDoneAttention, -1);
        channel_.Finish();
        return;
    }
    SendOutcomes(outcomes);
}

void TdsSession::OptionCommand(TokenReader& in) {
    TokenReader option(in.Take(in.U16()));
    const std::uint8_t command = option.U8();
    const std::uint8_t which = option.U8();
    const std::uint8_t argLength = option.U8();
    const std::string_view arg = option.Take(argLength);
    constexpr std::uint8_t kSet = 1, kDefault = 2, kList = 3, kInfo = 4, kTextSize = 2;
    std::string& out = channel_.Pending();
    if (which == kTextSize && command == kSet && arg.size() == 4) {
        std::int64_t n = 0;
        for (std::size_t k = 4; k-- > 0;)
            n = (n << 8) | static_cast<unsigned char>(arg[k]);
        session_->SetTextSize(n);
    } else if (which == kTextSize && command == kDefault) {
        session_->SetTextSize(0);
    } else if (command == kList) {
        TokenWriter w(out);
        w.U8(kTokenOptionCommand);
        w.U16(3 + 4);
        w.U8(kInfo);
        w.U8(which);
        w.U8(4);
        w.U32(which == kTextSize ? static_cast<std::uint32_t>(session_->TextSize()) : 0);
    }
    WriteDone(out, kTokenDone, kDoneFinal, -1);
    channel_.Finish();
}

bool TdsSession::AttentionArrived() {
    if (!channel_.Readable())
        return false;
    std::uint8_t type = 0;
    std::string ignored;
    channel_.ReadMessage(type, ignored);
    if (type != kPacketAttention)
        throw ConnectionClosed("a request arrived before the previous response was read");
    cancelled_ = true;
    return true;
}

void TdsSession::SendOutcomes(std::vector<StatementOutcome>& outcomes) {
    std::string& out = channel_.Pending();
    for (std::size_t s = 0; s < outcomes.size(); ++s) {
        StatementOutcome& o = outcomes[s];
        const bool last = s + 1 == outcomes.size();
        if (o.databaseChanged)
            WriteEnvChange(out, kEnvDatabase, ToClient(o.newDatabase), ToClient(o.oldDatabase));
        for (Message& m : o.messages) {
            m.text = ToClient(m.text);
            WriteMessage(out, m, settings_.serverName);
        }
        if (o.hasResultSet) {
            std::vector<WireColumn> wire;
            for (std::size_t c = 0; c < o.columns.size(); ++c) {
                bool nullable = o.columns[c].type.nullable;
                for (std::size_t r = 0; !nullable && r < o.rows.size(); ++r)
                    nullable = c < o.rows[r].size() && o.rows[r][c].isNull;
                wire.push_back(DescribeWireColumn(o.columns[c].type, nullable));
                if (Latin1())
                    ConvertColumnToClient(o, c, wire.back());
            }
            WriteRowFormat(out, o.columns, wire);
            for (std::size_t r = 0; r < o.rows.size(); ++r) {
                WriteRow(out, o.columns, wire, o.rows[r]);
                if (channel_.SendFull() && AttentionArrived()) {
                    WriteDone(out, kTokenDone, kDoneAttention, -1);
                    channel_.Finish();
                    return;
                }
            }
            o.rows.clear();
        }
        const std::uint16_t more = last ? 0 : kDoneMore;
        const std::uint16_t error = o.failed ? kDoneError : 0;
        if (o.isProcedure) {
            WriteDone(out, kTokenDoneInProc,
                      static_cast<std::uint16_t>(kDoneMore | (o.rowCount >= 0 ? kDoneCount : 0)),
                      o.rowCount);
            TokenWriter w(out);
            w.U8(kTokenReturnStatus);
            w.I32(o.returnStatus);
            WriteDone(out, kTokenDoneProc, static_cast<std::uint16_t>(more | error), -1);
        } else {
            WriteDone(out, kTokenDone,
                      static_cast<std::uint16_t>(more | error | (o.rowCount >= 0 ? kDoneCount : 0)),
                      o.rowCount);
        }
    }
    if (outcomes.empty())
        WriteDone(out, kTokenDone, kDoneFinal, -1);
    channel_.Finish();
}

void TdsSession::ConvertColumnToClient(StatementOutcome& outcome, std::size_t column,
                                       const WireColumn& wire) const {
    outcome.columns[column].name = ToClient(outcome.columns[column].name);
    // char, varchar, longchar and text; the unicode types travel as UTF-16 anyway.
    const bool character = wire.wireType == 0x2F || wire.wireType == 0x27 ||
                           wire.wireType == 0xAF || wire.wireType == 0x23;
    if (!character || wire.utf16)
        return;
    for (auto& row : outcome.rows) {
        if (column < row.size() && !row[column].isNull)
            row[column].bytes = ToClient(row[column].bytes);
    }
}

std::string TdsSession::FromClient(std::string_view text) const {
    return Latin1() ? Utf8FromLatin1(text) : std::string(text);
}

std::string TdsSession::ToClient(const std::string& utf8) const {
    return Latin1() ? Latin1FromUtf8(utf8) : utf8;
}

void TdsSession::SendError(int number, int severity, const std::string& text) {
    WriteMessage(channel_.Pending(), {number, severity, 1, ToClient(text)}, settings_.serverName);
    WriteDone(channel_.Pending(), kTokenDone, kDoneError, -1);
    channel_.Finish();
}

} // namespace asetest
