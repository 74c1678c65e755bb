#pragma once

// Servers of one test executable's own, for tests that kill, stop, reconfigure or silence a
// server: the shared servers of scripts/test serve every other test at the same time.

#include "connect/ConnectionProfile.h"

#include <string>
#include <sys/types.h>
#include <vector>

namespace veltrane::testing {

// A loopback port that nothing listened on a moment ago.
int FreeLoopbackPort();

// A server process of its own: started, killed with SIGKILL, restarted on the same port with
// the same data, paused with SIGSTOP, stopped at the end.
class PrivateServer {
public:
    PrivateServer(const PrivateServer&) = delete;
    PrivateServer& operator=(const PrivateServer&) = delete;
    virtual ~PrivateServer();

    int Port() const { return port_; }
    bool Running() const { return pid_ > 0; }
    // SIGKILL to the server process, and waits until it is gone.
    void Kill();
    // Starts it again on the same port with the same data; returns once it answers.
    void Restart();
    // SIGSTOP: connections are still accepted by the kernel, but nothing answers. Resume ends it.
    void Pause();
    void Resume();

protected:
    PrivateServer(std::string name, std::string dir);
    // The command line of one start on `port` (0: any free port, told by the server).
    virtual std::vector<std::string> Command(int port) const = 0;
    // Waits until the server answers; false when it does not within the time a start may take.
    virtual bool WaitReady() = 0;
    void Launch(int port);
    void Stop();
    const std::string& Dir() const { return dir_; }
    std::string LogPath() const { return dir_ + "/" + name_ + ".log"; }
    std::string OutputPath() const { return dir_ + "/" + name_ + ".out"; }
    bool Alive() const;

    int port_ = 0;

private:
    std::string name_;
    std::string dir_;
    pid_t pid_ = -1;
    bool paused_ = false;
};

// A MariaDB server of the test executable's own, in a fresh data directory, with the test
// user `veltrane` (all rights on the database veltrane_test only) and an administrator `admin`
// (all rights), both over TCP on 127.0.0.1.
class PrivateMariaDb final : public PrivateServer {
public:
    // Throws std::runtime_error when the server cannot be set up.
    explicit PrivateMariaDb(std::vector<std::string> extraOptions = {});
    ~PrivateMariaDb() override;

    ConnectionProfile Profile() const;      // the test user, on veltrane_test
    ConnectionProfile AdminProfile() const; // the administrator, on veltrane_test
    // Runs statements as the administrator, each on its own.
    void Admin(const std::vector<std::string>& statements) const;

private:
    std::vector<std::string> Command(int port) const override;
    bool WaitReady() override;
    std::string Socket() const;
    std::vector<std::string> extraOptions_;
};

// The TDS test server, on a data directory of its own, with user `veltrane` and database
// veltrane_test. The password can be changed by a restart, the way an administrator changes it.
class PrivateAseServer final : public PrivateServer {
public:
    explicit PrivateAseServer(std::string binary);
    ~PrivateAseServer() override;

    ConnectionProfile Profile() const; // with the password the server was last started with
    void SetPassword(std::string password) { password_ = std::move(password); }
    std::string DataDir() const { return Dir() + "/data"; }

private:
    std::vector<std::string> Command(int port) const override;
    bool WaitReady() override;
    std::string binary_;
    std::string password_ = "Velt-test-pw1";
};

// A TCP relay from a loopback port of its own to a server, which can be made to stop answering
// at a moment the client's own traffic names: once `trigger` has passed from client to server
// `count` times, that piece is swallowed and every connection, old and new, stays open with
// nothing answered. Runs on a thread of its own. Only the relay's own connections go silent,
// so it may stand in front of the shared servers.
class SilencingRelay {
public:
    // Listens on `listenPort` (0: a free one); throws when that port cannot be had.
    explicit SilencingRelay(int serverPort, int listenPort = 0);
    ~SilencingRelay();
    SilencingRelay(const SilencingRelay&) = delete;
    SilencingRelay& operator=(const SilencingRelay&) = delete;

    int Port() const { return port_; }
    void SilenceAt(std::string trigger, int count = 1);
    void SilenceNow();
    bool Silent() const;
    // Answers again, to new connections; the silenced ones are closed.
    void Speak();

private:
    struct State;
    State* state_;
    int port_ = 0;
};

} // namespace veltrane::testing
