#include <winsock2.h>
#include <ws2tcpip.h>

#include <stdexcept>

#include "control_socket.h"

namespace varek::test {

std::intptr_t ConnectLoopback(int port) {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) throw std::runtime_error("WSAStartup failed");
    const SOCKET handle = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (handle == INVALID_SOCKET ||
        connect(handle, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        if (handle != INVALID_SOCKET) closesocket(handle);
        WSACleanup();
        throw std::runtime_error("cannot reach the simulator's control port " + std::to_string(port));
    }
    // One short line each way per command: Nagle would only add delay.
    const BOOL no_delay = TRUE;
    setsockopt(handle, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&no_delay), sizeof no_delay);
    const DWORD answer_wait = kAnswerWaitMs;
    setsockopt(handle, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&answer_wait),
               sizeof answer_wait);
    return static_cast<std::intptr_t>(handle);
}

bool SendText(std::intptr_t socket, const std::string& text) {
    return send(static_cast<SOCKET>(socket), text.data(), static_cast<int>(text.size()), 0) ==
           static_cast<int>(text.size());
}

int ReceiveSome(std::intptr_t socket, char* buffer, int size) {
    return recv(static_cast<SOCKET>(socket), buffer, size, 0);
}

void CloseSocket(std::intptr_t socket) {
    closesocket(static_cast<SOCKET>(socket));
    WSACleanup();
}

}  // namespace varek::test
