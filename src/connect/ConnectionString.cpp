#include "connect/ConnectionString.h"

#include "connect/access/CaseInsensitive.h"
#include "connect/access/DatabaseError.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <initializer_list>
#include <optional>

namespace veltrane {
namespace {

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) {
        s.remove_prefix(1);
    }
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) {
        s.remove_suffix(1);
    }
    return s;
}

[[noreturn]] void Malformed(const std::string& why) {
    throw DatabaseError("Invalid connection string: " + why);
}

std::optional<std::string> Find(const ConnectionStringPairs& pairs, std::string_view key) {
    for (const auto& [k, v] : pairs) {
        if (EqualsIgnoringCase(k, key)) {
            return v;
        }
    }
    return std::nullopt;
}

std::uint16_t ParsePort(std::string_view text, const char* what) {
    if (text.empty()) {
        Malformed(std::string("no port given in ") + what);
    }
    unsigned value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value == 0 || value > 65535) {
        Malformed("the port '" + std::string(text) + "' in " + what +
                  " is not a number from 1 to 65535");
    }
    return static_cast<std::uint16_t>(value);
}

// A key the string's kind does not have is most likely the tail of a value that holds ';'
// without braces; the key is not repeated in the text since it may be part of a password.
void RejectUnknownKeys(const ConnectionStringPairs& pairs,
                       std::initializer_list<std::string_view> known, const char* kind) {
    for (std::size_t i = 0; i < pairs.size(); ++i) {
        const bool isKnown = std::any_of(known.begin(), known.end(), [&](std::string_view k) {
            return EqualsIgnoringCase(pairs[i].first, k);
        });
        if (!isKnown) {
            std::string names;
            for (std::string_view k : known) {
                names += names.empty() ? "" : ", ";
                names += k;
            }
            Malformed("pair " + std::to_string(i + 1) + " has a key that a " + kind +
                      " connection string does not know (known keys: " + names +
                      "; a value containing ';' must be enclosed in braces)");
        }
    }
}

constexpr std::uint16_t kMySQLDefaultPort = 3306;

ConnectionTarget ParseMySQL(const ConnectionStringPairs& pairs) {
    RejectUnknownKeys(pairs, {"DRIVER", "SERVER", "USER", "DATABASE", "PASSWORD", "PORT"}, "MySQL");
    ConnectionTarget target;
    target.kind = ServerKind::MySQL;
    target.host = Find(pairs, "SERVER").value_or("");
    if (target.host.empty()) {
        Malformed("no server given in SERVER");
    }
    // As the MySQL ODBC driver does, a port left empty (or not given) means MySQL's own 3306.
    const std::string port = Find(pairs, "PORT").value_or("");
    target.port = port.empty() ? kMySQLDefaultPort : ParsePort(port, "PORT");
    target.user = Find(pairs, "USER").value_or("");
    target.password = Find(pairs, "PASSWORD").value_or("");
    target.database = Find(pairs, "DATABASE").value_or("");
    return target;
}

ConnectionTarget ParseSybase(const ConnectionStringPairs& pairs) {
    RejectUnknownKeys(pairs, {"Provider", "Data Source", "User Id", "Password", "Catalog"},
                      "Sybase ASE");
    ConnectionTarget target;
    target.kind = ServerKind::SybaseASE;
    std::string source = Find(pairs, "Data Source").value_or("");
    auto colon = source.rfind(':');
    if (colon == std::string::npos) {
        Malformed("Data Source must be server:port");
    }
    target.host = source.substr(0, colon);
    if (target.host.empty()) {
        Malformed("no server given in Data Source");
    }
    target.port = ParsePort(std::string_view(source).substr(colon + 1), "Data Source");
    target.user = Find(pairs, "User Id").value_or("");
    target.password = Find(pairs, "Password").value_or("");
    target.database = Find(pairs, "Catalog").value_or("");
    return target;
}

} // namespace

ConnectionStringPairs ParseConnectionStringPairs(std::string_view text) {
    ConnectionStringPairs pairs;
    std::size_t pos = 0;
    int partNumber = 0;
    while (pos <= text.size()) {
        ++partNumber;
        std::size_t end = text.find(';', pos);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        std::string_view part = text.substr(pos, end - pos);
        if (TrimBlanks(part).empty()) {
            pos = end + 1;
            continue;
        }
        std::size_t equals = part.find('=');
        if (equals == std::string_view::npos) {
            // The part itself is not quoted: it may be a fragment of a password.
            Malformed("part " + std::to_string(partNumber) +
                      " has no '=' (a value containing ';' must be enclosed in braces)");
        }
        std::string key(TrimBlanks(part.substr(0, equals)));
        if (key.empty()) {
            Malformed("part " + std::to_string(partNumber) + " has no key before '='");
        }
        std::size_t valueStart = pos + equals + 1;
        std::string value;
        if (valueStart < text.size() && text[valueStart] == '{') {
            std::size_t i = valueStart + 1;
            bool closed = false;
            while (i < text.size()) {
                if (text[i] == '}') {
                    if (i + 1 < text.size() && text[i + 1] == '}') {
                        value.push_back('}');
                        i += 2;
                        continue;
                    }
                    closed = true;
                    ++i;
                    break;
                }
                value.push_back(text[i++]);
            }
            if (!closed) {
                Malformed("the value of " + key + " opens a brace that is never closed");
            }
            while (i < text.size() && text[i] == ' ') {
                ++i;
            }
            if (i < text.size() && text[i] != ';') {
                Malformed("unexpected text after the closing brace of " + key);
            }
            end = i;
        } else {
            value = std::string(text.substr(valueStart, end - valueStart));
        }
        for (const auto& existing : pairs) {
            if (EqualsIgnoringCase(existing.first, key)) {
                Malformed("the key " + key + " is given more than once");
            }
        }
        pairs.emplace_back(std::move(key), std::move(value));
        pos = end + 1;
    }
    return pairs;
}

ConnectionTarget ParseConnectionString(std::string_view connectionString) {
    ConnectionStringPairs pairs = ParseConnectionStringPairs(connectionString);
    auto driver = Find(pairs, "DRIVER");
    auto provider = Find(pairs, "Provider");
    if (driver && provider) {
        Malformed("it names both a DRIVER and a Provider");
    }
    if (driver) {
        if (!EqualsIgnoringCase(*driver, "MySQL ODBC 5.1 Driver")) {
            Malformed("the driver '" + *driver +
                      "' is not supported (use DRIVER={MySQL ODBC 5.1 Driver})");
        }
        return ParseMySQL(pairs);
    }
    if (provider) {
        if (!EqualsIgnoringCase(*provider, "ASEOLEDB")) {
            Malformed("the provider '" + *provider + "' is not supported (use Provider=ASEOLEDB)");
        }
        return ParseSybase(pairs);
    }
    Malformed("it names neither a DRIVER nor a Provider");
}

} // namespace veltrane
