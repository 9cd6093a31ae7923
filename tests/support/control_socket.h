// A blocking loopback TCP line client for the simulator's control channel.
#ifndef VAREK_TESTS_CONTROL_SOCKET_H
#define VAREK_TESTS_CONTROL_SOCKET_H

#include <cstdint>
#include <string>

namespace varek::test {

// How long an answer may take: a simulator that stops answering fails the
// test waiting on it instead of hanging the run.
constexpr int kAnswerWaitMs = 20000;

// The platform's socket calls, one file per platform. Handles are socket
// descriptors widened to intptr_t so that both platforms' fit.
std::intptr_t ConnectLoopback(int port);  // throws std::runtime_error
bool SendText(std::intptr_t socket, const std::string& text);
int ReceiveSome(std::intptr_t socket, char* buffer, int size);  // <= 0: closed, or no answer in time
void CloseSocket(std::intptr_t socket);

class ControlSocket {
public:
    explicit ControlSocket(int port) : socket_(ConnectLoopback(port)) {}
    ~ControlSocket() { CloseSocket(socket_); }
    ControlSocket(const ControlSocket&) = delete;
    ControlSocket& operator=(const ControlSocket&) = delete;

    // Sends `line` plus a newline and returns the answer line without it.
    std::string Ask(const std::string& line);

private:
    std::intptr_t socket_;
    std::string pending_;
};

}  // namespace varek::test

#endif
