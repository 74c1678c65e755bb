// The connection-string parser on any text, and on the strings built from any profile: it
// returns or throws DatabaseError, never anything else, and its error text never repeats the
// password. A string built from a profile that parses reads back the profile's exact fields.
#include "FuzzInput.h"
#include "connect/ConnectionProfile.h"
#include "connect/ConnectionString.h"
#include "connect/DatabaseError.h"

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

// The builders still write each value as typed, so a value holding ';' splits its pair and may
// read back shorter; the field-by-field check waits for them to enclose such values in braces.
constexpr bool kBuildersQuoteEveryValue = false;

std::optional<unsigned> PortNumber(const std::string& text) {
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
    if (!kBuildersQuoteEveryValue)
        return;
    if (target->kind != (sybase ? ServerKind::SybaseASE : ServerKind::MySQL) ||
        target->host != server || target->user != profile.User.toStdString() ||
        target->password != password || target->database != profile.Database.toStdString() ||
        PortNumber(port) != std::optional<unsigned>(target->port))
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
