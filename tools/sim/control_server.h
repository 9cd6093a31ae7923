// A line-based control channel on a loopback TCP port. Tests reach it from a
// Linux process and from a Windows process under Wine alike.
#ifndef VAREK_SIM_CONTROL_SERVER_H
#define VAREK_SIM_CONTROL_SERVER_H

#include <poll.h>

#include <functional>
#include <string>
#include <vector>

namespace varek::sim {

class ControlServer {
public:
    // Listens on 127.0.0.1:`port` (0 picks a free port). Throws
    // std::runtime_error when it cannot.
    explicit ControlServer(int port);
    ~ControlServer();
    ControlServer(const ControlServer&) = delete;
    ControlServer& operator=(const ControlServer&) = delete;

    int port() const { return port_; }

    // Adds the descriptors to wait on to `fds`.
    void CollectPollFds(std::vector<pollfd>& fds) const;
    // Accepts connections and answers every complete command line with
    // `handle(line)` plus a newline.
    void Service(const std::function<std::string(const std::string&)>& handle);

private:
    struct Client {
        int fd;
        std::string pending;
    };
    int listener_ = -1;
    int port_ = 0;
    std::vector<Client> clients_;
};

}  // namespace varek::sim

#endif
