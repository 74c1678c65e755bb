// One client connection of the test server: login, then requests until logout or hang-up.
#pragma once

#include "Engine.h"
#include "TdsResults.h"
#include "TdsWire.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace asetest {

struct ServerSettings {
    std::map<std::string, std::string> passwords; // login name -> password
    std::string serverName = "ASETEST";
    // The server's character set: "utf8", or "iso_1", in which case every character value,
    // name and message travels as ISO 8859-1 and statements arrive in it.
    std::string charset = "utf8";
};

class TdsSession {
public:
    TdsSession(int fd, int spid, Engine& engine, const ServerSettings& settings);
    ~TdsSession();
    TdsSession(const TdsSession&) = delete;
    TdsSession& operator=(const TdsSession&) = delete;
    // Serves the connection until the client logs out or goes away; never throws.
    void Run();

private:
    bool Login();
    void Serve();
    void Language(TokenReader& in);
    void RemoteProcedure(TokenReader& in);
    void OptionCommand(TokenReader& in);
    // Encodes outcomes; stops early (and acknowledges) when an attention arrives meanwhile.
    void SendOutcomes(std::vector<StatementOutcome>& outcomes);
    bool AttentionArrived();
    void SendError(int number, int severity, const std::string& text);
    bool Latin1() const { return settings_.charset == "iso_1"; }
    // Text of the server's character set as the engine's UTF-8, and back.
    std::string FromClient(std::string_view text) const;
    std::string ToClient(const std::string& utf8) const;
    // The name and character values of one result column in the server's character set.
    void ConvertColumnToClient(StatementOutcome& outcome, std::size_t column,
                               const WireColumn& wire) const;

    // An attention that arrives while the engine runs a long batch: a watcher thread reads the
    // socket while a batch has run for a while, so the engine can stop at the next statement.
    // Returns true when the execution was cut short by an attention, already read.
    template <typename Work> bool Execute(Work&& work);
    void WatchForAttention();
    void StopWatcher();

    PacketChannel channel_;
    int spid_;
    Engine& engine_;
    const ServerSettings& settings_;
    std::unique_ptr<EngineSession> session_;
    std::atomic<bool> cancelled_{false};

    int fd_;
    std::thread watcher_;
    std::mutex stateMutex_; // guards startedAt_ and stopping_
    std::condition_variable stateChanged_;
    std::mutex socketMutex_; // held by the watcher while it reads the socket
    std::atomic<bool> executing_{false};
    std::atomic<std::uint64_t> generation_{0};
    std::chrono::steady_clock::time_point startedAt_;
    bool stopping_ = false;
    std::atomic<bool> attentionTaken_{false};
    std::atomic<bool> watcherSawGarbage_{false};
};

} // namespace asetest
