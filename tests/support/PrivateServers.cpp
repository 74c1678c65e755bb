#include "PrivateServers.h"

#include "connect/Connection.h"
#include "connect/ConnectionString.h"

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace veltrane::testing {
namespace {

using Clock = std::chrono::steady_clock;

std::string MakeTempDir(const char* prefix) {
    std::string pattern = std::string("/tmp/") + prefix + "-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    return pattern;
}

} // namespace

int FreeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void Sleep(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

const std::string kUser = "veltrane";
const std::string kPassword = "Velt-test-pw1";
const std::string kDatabase = "veltrane_test";
const std::string kAdmin = "admin";
const std::string kAdminPassword = "Admin-pw1";

} // namespace

PrivateServer::PrivateServer(std::string name, std::string dir)
    : name_(std::move(name))
    , dir_(std::move(dir)) {}

PrivateServer::~PrivateServer() = default;

bool PrivateServer::Alive() const {
    if (pid_ <= 0)
        return false;
    int status = 0;
    return ::waitpid(pid_, &status, WNOHANG) == 0;
}

void PrivateServer::Launch(int port) {
    const std::vector<std::string> command = Command(port);
    std::vector<char*> argv;
    for (const std::string& part : command)
        argv.push_back(const_cast<char*>(part.c_str()));
    argv.push_back(nullptr);
    // What an earlier start printed must not pass for this one's readiness.
    const std::string outputPath = OutputPath(), logPath = LogPath();
    ::unlink(outputPath.c_str());
    const pid_t pid = ::fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        // Only calls that are safe between fork and exec in a process with threads.
        const int out = ::open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        const int in = ::open("/dev/null", O_RDONLY);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(log, 2);
        ::execv(argv[0], argv.data());
        std::_Exit(127);
    }
    pid_ = pid;
    paused_ = false;
    if (!WaitReady()) {
        Stop();
        throw std::runtime_error(name_ + " did not start; see " + LogPath() + ":\n" +
                                 ReadFile(LogPath()));
    }
}

void PrivateServer::Kill() {
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    paused_ = false;
}

void PrivateServer::Restart() {
    Kill();
    // A port in TIME_WAIT or a server still letting go of it: try for a few seconds.
    for (int attempt = 0;; ++attempt) {
        try {
            Launch(port_);
            return;
        } catch (const std::runtime_error&) {
            if (attempt == 20)
                throw;
            Sleep(250);
        }
    }
}

void PrivateServer::Pause() {
    if (pid_ > 0 && !paused_) {
        ::kill(pid_, SIGSTOP);
        paused_ = true;
    }
}

void PrivateServer::Resume() {
    if (pid_ > 0 && paused_) {
        ::kill(pid_, SIGCONT);
        paused_ = false;
    }
}

void PrivateServer::Stop() {
    if (pid_ <= 0)
        return;
    Resume();
    ::kill(pid_, SIGTERM);
    const auto deadline = Clock::now() + std::chrono::seconds(15);
    while (Alive() && Clock::now() < deadline)
        Sleep(50);
    Kill();
}

// MariaDB --------------------------------------------------------------------------------------

PrivateMariaDb::PrivateMariaDb(std::vector<std::string> extraOptions)
    : PrivateServer("mariadbd", MakeTempDir("vt-mariadb"))
    , extraOptions_(std::move(extraOptions)) {
    const bool root = ::geteuid() == 0;
    const std::string install = "mariadb-install-db --no-defaults --datadir=" + Dir() + "/data" +
                                (root ? " --user=root" : "") +
                                " --innodb-log-file-size=8M"
                                " --auth-root-authentication-method=normal --skip-test-db >" +
                                Dir() + "/install.log 2>&1";
    if (std::system(install.c_str()) != 0)
        throw std::runtime_error("mariadb-install-db failed: " + ReadFile(Dir() + "/install.log"));
    port_ = FreeLoopbackPort();
    Launch(port_);
    const std::string setup = "mariadb --no-defaults --socket=" + Socket() + " -uroot --batch >" +
                              Dir() + "/setup.log 2>&1";
    FILE* client = ::popen(setup.c_str(), "w");
    if (client == nullptr)
        throw std::runtime_error("cannot run the mariadb client");
    const std::string sql = "CREATE DATABASE " + kDatabase +
                            " CHARACTER SET utf8mb4;\n"
                            "CREATE USER '" +
                            kUser + "'@'127.0.0.1' IDENTIFIED BY '" + kPassword +
                            "';\n"
                            "GRANT ALL PRIVILEGES ON " +
                            kDatabase + ".* TO '" + kUser +
                            "'@'127.0.0.1';\n"
                            "CREATE USER '" +
                            kAdmin + "'@'127.0.0.1' IDENTIFIED BY '" + kAdminPassword +
                            "';\n"
                            "GRANT ALL PRIVILEGES ON *.* TO '" +
                            kAdmin + "'@'127.0.0.1' WITH GRANT OPTION;\n";
    std::fputs(sql.c_str(), client);
    if (::pclose(client) != 0) {
        Stop();
        throw std::runtime_error("setting up the MariaDB users failed: " +
                                 ReadFile(Dir() + "/setup.log"));
    }
}

PrivateMariaDb::~PrivateMariaDb() {
    Stop();
    std::error_code ignored;
    std::filesystem::remove_all(Dir(), ignored);
}

std::string PrivateMariaDb::Socket() const {
    return Dir() + "/mariadbd.sock";
}

std::vector<std::string> PrivateMariaDb::Command(int port) const {
    std::vector<std::string> command = {
        "/usr/sbin/mariadbd",
        "--no-defaults",
        "--datadir=" + Dir() + "/data",
        "--socket=" + Socket(),
        "--pid-file=" + Dir() + "/mariadbd.pid",
        "--port=" + std::to_string(port),
        "--bind-address=127.0.0.1",
        "--skip-name-resolve",
        "--character-set-server=utf8mb4",
        "--collation-server=utf8mb4_unicode_ci",
        "--sql-mode=NO_ENGINE_SUBSTITUTION",
        "--innodb-buffer-pool-size=32M",
        "--innodb-log-file-size=8M",
        // Committed rows survive a killed process: the operating system keeps the log.
        "--innodb-flush-log-at-trx-commit=2",
        "--skip-log-bin",
        "--log-error=" + LogPath(),
    };
    if (::geteuid() == 0)
        command.push_back("--user=root");
    command.insert(command.end(), extraOptions_.begin(), extraOptions_.end());
    return command;
}

bool PrivateMariaDb::WaitReady() {
    const std::string ping = "mariadb-admin --no-defaults --socket=" + Socket() +
                             " -uroot --connect-timeout=1 ping >/dev/null 2>&1";
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    while (Clock::now() < deadline) {
        if (!Alive())
            return false;
        if (std::system(ping.c_str()) == 0)
            return true;
        Sleep(100);
    }
    return false;
}

ConnectionProfile PrivateMariaDb::Profile() const {
    return {QStringLiteral("127.0.0.1"), QString::number(Port()), QString::fromStdString(kUser),
            QString::fromStdString(kPassword), QString::fromStdString(kDatabase)};
}

ConnectionProfile PrivateMariaDb::AdminProfile() const {
    return {QStringLiteral("127.0.0.1"), QString::number(Port()), QString::fromStdString(kAdmin),
            QString::fromStdString(kAdminPassword), QString::fromStdString(kDatabase)};
}

void PrivateMariaDb::Admin(const std::vector<std::string>& statements) const {
    Connection connection;
    connection.Open(MySQLConnectionString(AdminProfile()).toStdString());
    for (const std::string& statement : statements)
        connection.Execute(statement);
}

// TDS test server ------------------------------------------------------------------------------

PrivateAseServer::PrivateAseServer(std::string binary)
    : PrivateServer("ase-testserver", MakeTempDir("vt-ase"))
    , binary_(std::move(binary)) {
    std::filesystem::create_directories(DataDir());
    Launch(0);
}

PrivateAseServer::~PrivateAseServer() {
    Stop();
    std::error_code ignored;
    std::filesystem::remove_all(Dir(), ignored);
}

std::vector<std::string> PrivateAseServer::Command(int port) const {
    return {binary_,      "--port",  std::to_string(port), "--data-dir", DataDir(), "--user", kUser,
            "--password", password_, "--database",         kDatabase};
}

bool PrivateAseServer::WaitReady() {
    static const std::regex listening(R"(listening on 127\.0\.0\.1:(\d+))");
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (Clock::now() < deadline) {
        if (!Alive())
            return false;
        std::smatch match;
        const std::string output = ReadFile(OutputPath());
        if (std::regex_search(output, match, listening)) {
            port_ = std::stoi(match[1]);
            return true;
        }
        Sleep(20);
    }
    return false;
}

ConnectionProfile PrivateAseServer::Profile() const {
    return {QStringLiteral("127.0.0.1"), QString::number(Port()), QString::fromStdString(kUser),
            QString::fromStdString(password_), QString::fromStdString(kDatabase)};
}

// Relay ----------------------------------------------------------------------------------------

struct SilencingRelay::State {
    std::mutex mutex;
    std::string trigger;
    int remaining = 0;
    std::atomic<bool> silent{false};
    std::atomic<bool> speak{false};
    std::atomic<bool> stopping{false};
    int listener = -1;
    int wake[2] = {-1, -1};
    int serverPort = 0;
    std::vector<std::pair<int, int>> pairs; // client, server
    std::thread thread;

    // True when this piece from a client silences the relay.
    bool Triggers(const char* data, ssize_t size) {
        std::lock_guard<std::mutex> lock(mutex);
        if (trigger.empty())
            return false;
        const std::string_view piece(data, static_cast<std::size_t>(size));
        for (std::size_t at = piece.find(trigger); at != std::string_view::npos;
             at = piece.find(trigger, at + 1)) {
            if (--remaining == 0) {
                silent = true;
                return true;
            }
        }
        return false;
    }

    int Connect() const {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<uint16_t>(serverPort));
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            ::close(fd);
            return -1;
        }
        return fd;
    }

    void Loop() {
        char buffer[65536];
        while (!stopping) {
            if (speak.exchange(false)) {
                for (const auto& [client, server] : pairs) {
                    ::close(client);
                    ::close(server);
                }
                pairs.clear();
                silent = false;
            }
            std::vector<pollfd> polled;
            polled.push_back({wake[0], POLLIN, 0});
            if (!silent) {
                polled.push_back({listener, POLLIN, 0});
                for (const auto& [client, server] : pairs) {
                    polled.push_back({client, POLLIN, 0});
                    polled.push_back({server, POLLIN, 0});
                }
            }
            if (::poll(polled.data(), polled.size(), 200) <= 0)
                continue;
            if (stopping || silent)
                continue;
            if (polled[1].revents & POLLIN) {
                const int client = ::accept(listener, nullptr, nullptr);
                if (client >= 0) {
                    const int server = Connect();
                    if (server < 0)
                        ::close(client);
                    else
                        pairs.emplace_back(client, server);
                }
            }
            for (std::size_t i = 2; i < polled.size() && !silent; ++i) {
                if (pairs[(i - 2) / 2].first < 0 ||
                    !(polled[i].revents & (POLLIN | POLLHUP | POLLERR)))
                    continue;
                auto& pair = pairs[(i - 2) / 2];
                const bool fromClient = (i - 2) % 2 == 0;
                const int from = fromClient ? pair.first : pair.second;
                const int to = fromClient ? pair.second : pair.first;
                const ssize_t got = ::read(from, buffer, sizeof buffer);
                if (got <= 0) {
                    // Either side gone: the other goes too.
                    ::close(pair.first);
                    ::close(pair.second);
                    pair = {-1, -1};
                    continue;
                }
                if (fromClient && Triggers(buffer, got))
                    break;
                for (ssize_t sent = 0; sent < got;) {
                    const ssize_t n = ::write(to, buffer + sent, static_cast<size_t>(got - sent));
                    if (n <= 0)
                        break;
                    sent += n;
                }
            }
            std::erase_if(pairs, [](const auto& pair) { return pair.first < 0; });
        }
    }
};

SilencingRelay::SilencingRelay(int serverPort, int listenPort)
    : state_(new State) {
    state_->serverPort = serverPort;
    state_->listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(listenPort));
    const int reuse = 1;
    ::setsockopt(state_->listener, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    if (::bind(state_->listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(state_->listener, 16) != 0) {
        const std::string why = std::strerror(errno);
        ::close(state_->listener);
        delete state_;
        throw std::runtime_error("the relay cannot listen on port " + std::to_string(listenPort) +
                                 ": " + why);
    }
    socklen_t length = sizeof address;
    ::getsockname(state_->listener, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    if (::pipe(state_->wake) != 0)
        throw std::runtime_error("pipe failed");
    state_->thread = std::thread([state = state_] { state->Loop(); });
}

SilencingRelay::~SilencingRelay() {
    state_->stopping = true;
    const char byte = 0;
    [[maybe_unused]] const ssize_t written = ::write(state_->wake[1], &byte, 1);
    state_->thread.join();
    for (const auto& [client, server] : state_->pairs) {
        ::close(client);
        ::close(server);
    }
    ::close(state_->listener);
    ::close(state_->wake[0]);
    ::close(state_->wake[1]);
    delete state_;
}

void SilencingRelay::SilenceAt(std::string trigger, int count) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->trigger = std::move(trigger);
    state_->remaining = count;
}

void SilencingRelay::SilenceNow() {
    state_->silent = true;
}

void SilencingRelay::Speak() {
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        state_->trigger.clear();
    }
    state_->speak = true;
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (state_->silent && Clock::now() < deadline)
        Sleep(10);
}

bool SilencingRelay::Silent() const {
    return state_->silent;
}

} // namespace veltrane::testing
