// ase-testserver: a small TDS 5.0 server that stands in for Sybase ASE in Veltrane's tests and
// demo, keeping its data in SQLite. It is a test tool, not part of Veltrane.

#include "Engine.h"
#include "TdsSession.h"

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <set>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

const char* const kUsage =
    "usage: ase-testserver --port N --data-dir DIR --user NAME --password SECRET\n"
    "                      [--user NAME --password SECRET ...] [--database NAME ...]\n"
    "                      [--server-name NAME] [--charset utf8|iso_1]\n"
    "\n"
    "A test tool of Veltrane's test suite and demo, not part of Veltrane: a small TDS 5.0\n"
    "server that stands in for Sybase ASE and keeps its data in SQLite files in DIR (one per\n"
    "database; master always exists). It listens on 127.0.0.1 only, prints\n"
    "'listening on 127.0.0.1:PORT' when ready (--port 0 picks a free port) and stops on\n"
    "SIGTERM or SIGINT. --database creates that database at start unless it exists.\n"
    "The first --user owns every database and works in each as its Database Owner, dbo\n"
    "(as sa does on Sybase ASE); every other login works in each database as the user of\n"
    "its own name. A bare object name means the user's own object, else dbo's; a bare\n"
    "create makes the user's own. Permissions are not checked.\n"
    "--charset sets the server's character set (utf8 by default); with iso_1 the server\n"
    "converts between ISO 8859-1 on the wire and its UTF-8 data, as Sybase ASE does.\n";

int stopPipe[2] = {-1, -1};

void OnStopSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(stopPipe[1], &byte, 1);
}

struct Arguments {
    int port = -1;
    std::string dataDirectory;
    std::vector<std::string> databases;
    std::string ownerLogin; // the first --user
    asetest::ServerSettings settings;
};

bool Parse(int argc, char** argv, Arguments& args, std::string& error) {
    std::vector<std::string> users;
    std::vector<std::string> passwords;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--help" || option == "-h") {
            error.clear();
            return false;
        }
        if (i + 1 >= argc) {
            error = "missing value after " + option;
            return false;
        }
        const std::string value = argv[++i];
        if (option == "--port") {
            char* end = nullptr;
            errno = 0;
            const long port = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || errno != 0 || port < 0 || port > 65535) {
                error = "--port needs a number from 0 to 65535, not '" + value + "'";
                return false;
            }
            args.port = static_cast<int>(port);
        } else if (option == "--data-dir") {
            args.dataDirectory = value;
        } else if (option == "--user") {
            users.push_back(value);
        } else if (option == "--password") {
            passwords.push_back(value);
        } else if (option == "--database") {
            args.databases.push_back(value);
        } else if (option == "--server-name") {
            args.settings.serverName = value;
        } else if (option == "--charset") {
            if (value != "utf8" && value != "iso_1") {
                error = "--charset is utf8 or iso_1, not '" + value + "'";
                return false;
            }
            args.settings.charset = value;
        } else {
            error = "unknown option " + option;
            return false;
        }
    }
    if (args.port < 0 || args.dataDirectory.empty() || users.empty()) {
        error = "--port, --data-dir and --user are required";
        return false;
    }
    if (users.size() != passwords.size()) {
        error = "every --user needs its --password";
        return false;
    }
    for (std::size_t i = 0; i < users.size(); ++i) {
        if (users[i].empty() || users[i].size() > 30 || passwords[i].size() > 30) {
            error = "login names and passwords are 1 to 30 bytes in TDS 5.0";
            return false;
        }
        if (i > 0 && users[i] == "dbo") {
            error = "only the first --user can be named dbo: it is the one Database Owner";
            return false;
        }
        args.settings.passwords[users[i]] = passwords[i];
    }
    args.ownerLogin = users.front();
    return true;
}

// Creates each database that does not exist yet, through SQL as a client would.
void CreateDatabases(asetest::Engine& engine, const std::vector<std::string>& names,
                     const std::string& ownerLogin) {
    if (names.empty())
        return;
    auto session = engine.OpenSession(1, ownerLogin);
    const std::atomic<bool> notCancelled{false};
    for (const std::string& name : names) {
        std::string quoted = "[";
        for (const char c : name)
            quoted += c == ']' ? std::string("]]") : std::string(1, c);
        quoted += "]";
        const auto used = session->ExecuteBatch("use " + quoted, notCancelled);
        if (!used.empty() && !used.front().failed)
            continue;
        const auto created = session->ExecuteBatch("create database " + quoted, notCancelled);
        for (const auto& outcome : created) {
            if (outcome.failed) {
                throw std::runtime_error(
                    "cannot create database " + name + ": " +
                    (outcome.messages.empty() ? "" : outcome.messages.front().text));
            }
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    Arguments args;
    std::string error;
    if (!Parse(argc, argv, args, error)) {
        if (error.empty()) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        std::fprintf(stderr, "ase-testserver: %s\n%s", error.c_str(), kUsage);
        return 2;
    }

    std::unique_ptr<asetest::Engine> engine;
    try {
        asetest::EngineOptions options;
        options.dataDirectory = args.dataDirectory;
        options.serverName = args.settings.serverName;
        options.ownerLogin = args.ownerLogin;
        engine = asetest::Engine::Open(options);
        CreateDatabases(*engine, args.databases, args.ownerLogin);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "ase-testserver: %s\n", e.what());
        return 1;
    }

    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(args.port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (listener < 0 ||
        ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, 64) != 0) {
        std::fprintf(stderr, "ase-testserver: cannot listen on 127.0.0.1:%d: %s\n", args.port,
                     std::strerror(errno));
        return 1;
    }
    socklen_t length = sizeof address;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);

    if (::pipe2(stopPipe, O_CLOEXEC) != 0) {
        std::perror("ase-testserver: pipe");
        return 1;
    }
    struct sigaction stop {};
    stop.sa_handler = OnStopSignal;
    ::sigaction(SIGTERM, &stop, nullptr);
    ::sigaction(SIGINT, &stop, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    std::printf("listening on 127.0.0.1:%d\n", ntohs(address.sin_port));
    std::fflush(stdout);

    std::mutex clientsMutex;
    std::set<int> clients;
    struct Client {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> finished;
    };
    std::vector<Client> threads;
    int nextSpid = 14;
    for (;;) {
        pollfd waits[2] = {{listener, POLLIN, 0}, {stopPipe[0], POLLIN, 0}};
        if (::poll(waits, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (waits[1].revents != 0)
            break;
        if ((waits[0].revents & POLLIN) == 0)
            continue;
        const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        {
            std::lock_guard lock(clientsMutex);
            clients.insert(fd);
        }
        // Threads of connections that ended are joined as new ones arrive.
        for (auto it = threads.begin(); it != threads.end();) {
            if (*it->finished) {
                it->thread.join();
                it = threads.erase(it);
            } else {
                ++it;
            }
        }
        const int spid = nextSpid++;
        auto finished = std::make_shared<std::atomic<bool>>(false);
        std::thread thread([fd, spid, finished, &engine, &args, &clients, &clientsMutex] {
            {
                asetest::TdsSession session(fd, spid, *engine, args.settings);
                session.Run();
            }
            {
                std::lock_guard lock(clientsMutex);
                clients.erase(fd);
                ::close(fd);
            }
            *finished = true;
        });
        threads.push_back({std::move(thread), std::move(finished)});
    }

    ::close(listener);
    {
        std::lock_guard lock(clientsMutex);
        for (const int fd : clients)
            ::shutdown(fd, SHUT_RDWR);
    }
    for (Client& c : threads)
        c.thread.join();
    engine.reset();
    return 0;
}
