// A line-based control channel on a loopback TCP port. Tests reach it from a
// Linux process and from a Windows process under Wine alike. One Asio
// implementation serves both platforms.
#ifndef VAREK_SIM_CONTROL_SERVER_H
#define VAREK_SIM_CONTROL_SERVER_H

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <functional>
#include <list>
#include <memory>
#include <string>

namespace varek::sim {

class ControlServer {
public:
    using Handler = std::function<std::string(const std::string&)>;

    // Listens on 127.0.0.1:`port` (0 picks a free port). Throws
    // std::runtime_error when it cannot.
    explicit ControlServer(int port);
    ControlServer(const ControlServer&) = delete;
    ControlServer& operator=(const ControlServer&) = delete;

    int port() const { return port_; }

    // Without waiting: accepts connections and answers every complete
    // command line with `handle(line)` plus a newline.
    void Poll(const Handler& handle);

private:
    struct Client {
        explicit Client(boost::asio::io_context& io) : socket(io) {}
        boost::asio::ip::tcp::socket socket;
        std::string pending;
        char chunk[4096];
    };

    void Accept();
    void Receive(const std::shared_ptr<Client>& client);
    void Answer(const std::shared_ptr<Client>& client);
    void Drop(const std::shared_ptr<Client>& client);

    boost::asio::io_context io_;
    boost::asio::ip::tcp::acceptor acceptor_;
    int port_ = 0;
    std::list<std::shared_ptr<Client>> clients_;
    const Handler* handle_ = nullptr;  // set while Poll runs, the only time callbacks do
};

}  // namespace varek::sim

#endif
