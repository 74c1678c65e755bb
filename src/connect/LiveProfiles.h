#pragma once

#include "connect/ConnectionProfile.h"

namespace veltrane {

// Where operations read the two connection profiles at the moment they connect: the connection
// window's ten fields as they stand (never the stored settings).
class LiveProfiles {
public:
    virtual ~LiveProfiles() = default;
    virtual ConnectionProfile SybaseProfile() const = 0; // Text1 to Text5
    virtual ConnectionProfile MySQLProfile() const = 0;  // Text6 to Text10
};

// Two fixed profiles, for tests and for anything that has no connection window.
class FixedProfiles : public LiveProfiles {
public:
    ConnectionProfile sybase;
    ConnectionProfile mysql;
    ConnectionProfile SybaseProfile() const override { return sybase; }
    ConnectionProfile MySQLProfile() const override { return mysql; }
};

} // namespace veltrane
