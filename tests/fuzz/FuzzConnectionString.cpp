// The connection-string parser on any text, and on the strings built from any profile: it
// returns or throws DatabaseError, never anything else, and its error text never repeats the
// password. A string built from a profile parses exactly when the profile names a server and a
// port from 1 to 65535 (or, for MySQL, an empty port, which means 3306), and then reads back the
// profile's exact fields.
#include "FuzzInput.h"
#include "connect/ConnectionProfile.h"
#include "connect/ConnectionString.h"
#include "connect/access/DatabaseError.h"

#include <charconv>
#include <optional>

namespace veltrane::fuzz {
namespace {

// The parse, or nullopt with the error text in `error`.
std::optional<ConnectionTarget> Parse(const std::string& text, std::string& error) {
    try {
        return ParseConnectionString(text);
    } catch (const DatabaseError& e) {
        error = e.what();
        if (error.empty())
            Fail("an error without a text", text);
        return std::nullopt;
    }
}

// The port that a profile's port field names: for MySQL an empty field means 3306.
std::optional<unsigned> PortNumber(const std::string& text, bool sybase) {
    if (!sybase && text.empty())
        return 3306;
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value == 0 || value > 65535)
        return std::nullopt;
    return value;
}

void CheckBuiltString(const ConnectionProfile& profile, bool sybase) {
    const QString built = sybase ? SybaseConnectionString(profile) : MySQLConnectionString(profile);
    const std::string text = built.toStdString();
    const std::string server = profile.Server.toStdString();
    const std::string port = profile.Port.toStdString();
    const std::string password = profile.Password.toStdString();
    std::string error;
    const auto target = Parse(text, error);
    if (!target) {
        if (!server.empty() && PortNumber(port, sybase))
            Fail("a profile with a server and a port does not parse: " + error, text);
        // A password that the other fields or the message's own words do not contain must
        // not show up in the message.
        if (password.size() >= 4 && error.find(password) != std::string::npos) {
            ConnectionProfile without = profile;
            without.Password = QStringLiteral("\x01");
            std::string otherError;
            Parse((sybase ? SybaseConnectionString(without) : MySQLConnectionString(without))
                      .toStdString(),
                  otherError);
            if (otherError.find(password) == std::string::npos)
                Fail("the error repeats the password: " + error, text);
        }
        return;
    }
    // Data Source is server:port, split at its last ':', so a port field holding ':' moves
    // text into the server name; Data Source itself still reads back as typed.
    const std::string address = sybase ? server + ":" + port : server;
    const std::size_t split = sybase ? address.rfind(':') : address.size();
    const bool sameAddress =
        target->host == address.substr(0, split) &&
        PortNumber(sybase ? address.substr(split + 1) : port, sybase) == target->port;
    if (target->kind != (sybase ? ServerKind::SybaseASE : ServerKind::MySQL) || !sameAddress ||
        target->user != profile.User.toStdString() || target->password != password ||
        target->database != profile.Database.toStdString())
        Fail("the parsed fields differ from the profile", text);
}

} // namespace
} // namespace veltrane::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace veltrane;
    using namespace veltrane::fuzz;
    FuzzInput in(data, size);
    switch (in.Byte() % 3) {
    case 0: {
        std::string error;
        const std::string text = in.Rest();
        if (const auto target = Parse(text, error)) {
            if (target->host.empty() || target->port == 0)
                Fail("parsed without a server or port", text);
        }
        break;
    }
    default: {
        const bool sybase = (data[0] % 3) == 2;
        ConnectionProfile profile;
        for (QString* field : {&profile.Server, &profile.Port, &profile.User, &profile.Password,
                               &profile.Database}) {
            const std::string bytes = in.Text();
            *field = QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
        }
        CheckBuiltString(profile, sybase);
        break;
    }
    }
    return 0;
}
