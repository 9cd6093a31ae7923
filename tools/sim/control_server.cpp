#include "control_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace varek::sim {

ControlServer::ControlServer(int port) {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (listener_ < 0) throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
    const int reuse = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener_, 8) != 0) {
        const std::string reason = std::strerror(errno);
        close(listener_);
        throw std::runtime_error("control port " + std::to_string(port) + ": " + reason);
    }
    socklen_t size = sizeof address;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
    port_ = ntohs(address.sin_port);
}

ControlServer::~ControlServer() {
    for (const Client& client : clients_) close(client.fd);
    if (listener_ >= 0) close(listener_);
}

void ControlServer::CollectPollFds(std::vector<pollfd>& fds) const {
    fds.push_back({listener_, POLLIN, 0});
    for (const Client& client : clients_) fds.push_back({client.fd, POLLIN, 0});
}

void ControlServer::Service(const std::function<std::string(const std::string&)>& handle) {
    for (;;) {
        const int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) break;
        // Answers are single short lines; Nagle would only add latency.
        const int no_delay = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &no_delay, sizeof no_delay);
        clients_.push_back({fd, {}});
    }
    for (auto client = clients_.begin(); client != clients_.end();) {
        pollfd entry{client->fd, POLLIN, 0};
        bool keep = true;
        if (poll(&entry, 1, 0) > 0) {
            char chunk[4096];
            const ssize_t got = recv(client->fd, chunk, sizeof chunk, 0);
            if (got <= 0) {
                keep = false;
            } else {
                client->pending.append(chunk, static_cast<std::size_t>(got));
            }
        }
        std::size_t newline = 0;
        while (keep && (newline = client->pending.find('\n')) != std::string::npos) {
            std::string line = client->pending.substr(0, newline);
            client->pending.erase(0, newline + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            const std::string answer = handle(line) + "\n";
            keep = send(client->fd, answer.data(), answer.size(), MSG_NOSIGNAL) ==
                   static_cast<ssize_t>(answer.size());
        }
        if (keep) {
            ++client;
        } else {
            close(client->fd);
            client = clients_.erase(client);
        }
    }
}

}  // namespace varek::sim
