// One client connection of the test server: login, then requests until logout or hang-up.
#pragma once

#include "Engine.h"
#include "TdsWire.h"

#include <map>
#include <string>

namespace asetest {

struct ServerSettings {
    std::map<std::string, std::string> passwords; // login name -> password
    std::string serverName = "ASETEST";
};

class TdsSession {
public:
    TdsSession(int fd, int spid, Engine& engine, const ServerSettings& settings);
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

    PacketChannel channel_;
    int spid_;
    Engine& engine_;
    const ServerSettings& settings_;
    std::unique_ptr<EngineSession> session_;
    std::atomic<bool> cancelled_{false};
};

} // namespace asetest
