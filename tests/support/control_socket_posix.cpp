#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <stdexcept>

#include "control_socket.h"

namespace varek::test {

std::intptr_t ConnectLoopback(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        if (fd >= 0) close(fd);
        throw std::runtime_error("cannot reach the simulator's control port " + std::to_string(port));
    }
    // One short line each way per command: Nagle would only add delay.
    const int no_delay = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &no_delay, sizeof no_delay);
    const timeval answer_wait{kAnswerWaitMs / 1000, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &answer_wait, sizeof answer_wait);
    return fd;
}

bool SendText(std::intptr_t socket, const std::string& text) {
    return send(static_cast<int>(socket), text.data(), text.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(text.size());
}

int ReceiveSome(std::intptr_t socket, char* buffer, int size) {
    return static_cast<int>(recv(static_cast<int>(socket), buffer, static_cast<std::size_t>(size), 0));
}

void CloseSocket(std::intptr_t socket) { close(static_cast<int>(socket)); }

}  // namespace varek::test
