#pragma once

#include "connect/ConnectionProfile.h"
#include "connect/access/ServerKind.h"

#include <QString>
#include <array>
#include <stdexcept>

namespace veltrane {

// One of the connection window's ten fields: the settings key it is stored under, what it
// starts as, the window field that shows it, and which member of which server's profile it is.
struct ProfileField {
    const char* key;
    const char* defaultValue; // used when the key is absent
    int number;               // of the window field: Text1..Text10
    ServerKind server;
    QString ConnectionProfile::*member;
    bool password;        // shown as one '*' per character
    bool standardPointer; // the pointer turns standard over it (every field but the MySQL port)

    // The window field's object name, "Text<number>".
    QString FieldName() const { return QStringLiteral("Text%1").arg(number); }
};

// In the order the window loads them from the settings store, which is the fields' number order.
inline constexpr std::array<ProfileField, 10> kProfileFields{{
    {"ASEServer", "", 1, ServerKind::SybaseASE, &ConnectionProfile::Server, false, true},
    {"ASEPort", "5000", 2, ServerKind::SybaseASE, &ConnectionProfile::Port, false, true},
    {"ASEUser", "", 3, ServerKind::SybaseASE, &ConnectionProfile::User, false, true},
    {"ASEPassword", "", 4, ServerKind::SybaseASE, &ConnectionProfile::Password, true, true},
    {"ASEDatabase", "", 5, ServerKind::SybaseASE, &ConnectionProfile::Database, false, true},
    {"MySQLServer", "localhost", 6, ServerKind::MySQL, &ConnectionProfile::Server, false, true},
    {"MySQLUser", "", 7, ServerKind::MySQL, &ConnectionProfile::User, false, true},
    {"MySQLPassword", "", 8, ServerKind::MySQL, &ConnectionProfile::Password, true, true},
    {"MySQLDatabase", "", 9, ServerKind::MySQL, &ConnectionProfile::Database, false, true},
    {"MySQLPort", "3306", 10, ServerKind::MySQL, &ConnectionProfile::Port, false, false},
}};

// The field that holds `member` of `server`'s profile.
constexpr const ProfileField& ProfileFieldOf(ServerKind server,
                                             QString ConnectionProfile::*member) {
    for (const ProfileField& field : kProfileFields) {
        if (field.server == server && field.member == member)
            return field;
    }
    throw std::logic_error("no profile field for that member");
}

} // namespace veltrane
