// Starting and stopping the ase-testserver binary for one test, and running other programs
// (tsql) with a given standard input.
#pragma once

#include <chrono>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace tdsserver {

struct Login {
    std::string user;
    std::string password;
};

// The server as a child process: a fresh temporary data directory, `--port 0`, the listening
// line read from its standard output with a timeout. Start and Stop throw std::runtime_error
// with a readable reason; the destructor kills a server that was not stopped.
class ServerProcess {
public:
    ServerProcess() = default;
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    // Starts the server with these logins (the first one is the usual test login), in a fresh
    // data directory or, after Stop(keepData = true), in the one it had.
    void Start(const std::vector<Login>& logins,
               std::chrono::milliseconds timeout = std::chrono::seconds(20));
    // Sends SIGTERM and waits for the exit; returns the exit status, or -(signal number) when
    // the process died of a signal, or -1000 when it had to be killed after `timeout`.
    // The data directory is removed unless `keepData`.
    int Stop(std::chrono::milliseconds timeout = std::chrono::seconds(20), bool keepData = false);

    // Further command-line options for the next Start (--charset iso_1).
    void SetOptions(std::vector<std::string> options) { options_ = std::move(options); }

    bool Running() const { return pid_ > 0; }
    int Port() const { return port_; }
    const std::filesystem::path& DataDirectory() const { return dataDirectory_; }
    // The listening line as printed (without the newline).
    const std::string& ListeningLine() const { return listeningLine_; }
    // Everything the server printed on standard output after the listening line.
    std::string LaterOutput();

private:
    void DrainOutput();
    void Cleanup();

    pid_t pid_ = -1;
    int port_ = 0;
    int stdoutFd_ = -1;
    std::filesystem::path dataDirectory_;
    std::vector<std::string> options_;
    std::string listeningLine_;
    std::thread drainer_;
    std::mutex outputMutex_;
    std::string laterOutput_;
};

struct ProcessResult {
    int exitStatus = -1; // -(signal) when killed by a signal
    bool timedOut = false;
    std::string output; // standard output and standard error together
};

// Runs `argv` (argv[0] a path or a name looked up in PATH) with these extra environment
// variables and this standard input; kills it after `timeout`.
ProcessResult RunProcess(const std::vector<std::string>& argv,
                         const std::map<std::string, std::string>& environment,
                         const std::string& input,
                         std::chrono::milliseconds timeout = std::chrono::seconds(60));

// A fresh empty directory under the system's temporary directory.
std::filesystem::path MakeTemporaryDirectory(const std::string& prefix);

} // namespace tdsserver
