#include "frame_server.h"

#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>
#include <chrono>
#include <deque>
#include <optional>
#include <set>

#include "event_log.h"
#include "listen_address.h"
#include "listener.h"
#include "request_assembler.h"

namespace varek::server {

namespace asio = boost::asio;
using asio::ip::tcp;

namespace {

// After a failed accept (most often: no descriptors left) the listener
// pauses rather than failing again at once, in a busy loop.
constexpr std::chrono::milliseconds kAcceptPause{100};
// A client that sends requests faster than the instrument answers them gets
// this many queued; further ones are dropped, as a full line would lose them.
constexpr std::size_t kMaxWaitingRequests = 16;

}  // namespace

class FrameClient;

struct FrameClients {
    std::set<FrameClient*> open;
    bool stopping = false;
    // Clients that send garbage, or crowd others out, come in floods: 5
    // lines in 10 s at most, so that they cannot fill the log.
    ThrottledLog log{5, std::chrono::seconds(10)};
};

class FrameClient : public std::enable_shared_from_this<FrameClient> {
public:
    using Clock = std::chrono::steady_clock;

    FrameClient(tcp::socket socket, InstrumentBackend& instrument, std::shared_ptr<FrameClients> clients,
                std::chrono::seconds idle_limit)
        : socket_(std::move(socket)),
          instrument_(instrument),
          clients_(std::move(clients)),
          idle_limit_(idle_limit),
          idle_timer_(socket_.get_executor()) {
        boost::system::error_code ignored;
        const tcp::endpoint peer = socket_.remote_endpoint(ignored);
        name_ = VarekFormatHostAndPort(peer.address().to_string(), peer.port());
        clients_->open.insert(this);
    }
    ~FrameClient() { clients_->open.erase(this); }

    void Start() {
        WatchIdle();
        Read();
    }

    void Close() {
        boost::system::error_code ignored;
        socket_.close(ignored);
        idle_timer_.cancel();
    }

    const std::string& name() const { return name_; }

    // Since when it has neither sent nor awaited anything; nothing while a
    // request of its own waits or runs.
    std::optional<Clock::time_point> IdleSince() const {
        if (in_exchange_ || !waiting_.empty()) return std::nullopt;
        return last_active_;
    }

private:
    void Read() {
        socket_.async_read_some(
            asio::buffer(chunk_),
            [self = shared_from_this()](const boost::system::error_code& error, std::size_t got) {
                if (error) return self->Leave();
                self->Take(got);
                self->Read();
            });
    }

    void WatchIdle() {
        // A client with a request under way is not idle: look again a whole limit later.
        idle_timer_.expires_at(IdleSince().value_or(Clock::now()) + idle_limit_);
        idle_timer_.async_wait([self = shared_from_this()](const boost::system::error_code& cancelled) {
            if (cancelled || !self->socket_.is_open()) return;
            const auto since = self->IdleSince();
            if (since && Clock::now() - *since >= self->idle_limit_) {
                self->clients_->log.Log("frame client " + self->name_ + " closed after " +
                                        std::to_string(self->idle_limit_.count()) + " s idle");
                return self->Close();
            }
            self->WatchIdle();
        });
    }

    void Take(std::size_t got) {
        last_active_ = Clock::now();
        // Bytes that are no frame are skipped, and a frame left unfinished by
        // a pause dropped, as the instrument itself would.
        for (VarekFrame& request : assembler_.Feed(chunk_.data(), got, last_active_)) {
            if (waiting_.size() < kMaxWaitingRequests) waiting_.push_back(std::move(request));
        }
        const std::size_t garbage = assembler_.skipped() + assembler_.dropped();
        if (garbage > 0 && !garbage_logged_) {
            // Once a client, and few at all: a program speaking another
            // protocol, or many of them, would fill the log.
            garbage_logged_ = true;
            clients_->log.Log("frame client " + name_ + " sent " + std::to_string(garbage) +
                              " bytes that are no request frame (skipped): is it using the library, over "
                              "socket://?");
        }
        SubmitNext();
    }

    void SubmitNext() {
        if (in_exchange_ || waiting_.empty() || !socket_.is_open()) return;
        auto request = std::make_shared<VarekFrame>(std::move(waiting_.front()));
        waiting_.pop_front();
        in_exchange_ = true;
        // The client's library waits this long for its reply: a request that
        // could not start by then is answered by no one.
        ticket_ = std::make_shared<JobTicket>(JobTicket::Clock::now() +
                                              std::chrono::milliseconds(VarekDDG::OPERATION_TIMEOUT_MS));
        instrument_.Submit(
            [request](VarekDDG& device) {
                VarekFrame reply;
                return device.SendFrame(request->cmd, request->param, request->data.data(),
                                        static_cast<std::int32_t>(request->data.size()), &reply,
                                        VarekDDG::OPERATION_TIMEOUT_MS);
            },
            [self = shared_from_this()](JobResult result, bool, const VarekExchangeReport& report,
                                        const VarekPortOpening&) {
                // Every byte the instrument sent, damaged or not, so that the
                // client's library judges the reply as it would on the line;
                // nothing when it sent nothing, or the exchange never ran.
                std::vector<std::uint8_t> reply;
                if (result == JobResult::Done) reply = report.received;
                asio::post(self->socket_.get_executor(), [self, result, reply = std::move(reply)]() mutable {
                    self->Answer(result, std::move(reply));
                });
            },
            ticket_);
    }

    void Answer(JobResult result, std::vector<std::uint8_t> reply) {
        if (result == JobResult::Stopping) return Close();
        if (reply.empty()) return Finished();
        auto bytes = std::make_shared<std::vector<std::uint8_t>>(std::move(reply));
        asio::async_write(socket_, asio::buffer(*bytes),
                          [self = shared_from_this(), bytes](const boost::system::error_code&, std::size_t) {
                              self->Finished();
                          });
    }

    void Finished() {
        in_exchange_ = false;
        last_active_ = Clock::now();
        SubmitNext();
    }

    // The client went: its request still waiting never runs, and the one
    // under way ends unseen.
    void Leave() {
        if (ticket_) ticket_->Withdraw();
        waiting_.clear();
        Close();
    }

    tcp::socket socket_;
    InstrumentBackend& instrument_;
    std::shared_ptr<FrameClients> clients_;
    std::chrono::seconds idle_limit_;
    asio::steady_timer idle_timer_;
    Clock::time_point last_active_ = Clock::now();
    std::string name_;  // HOST:PORT, for log lines
    std::array<std::uint8_t, 4096> chunk_{};
    varek::sim::RequestAssembler assembler_;
    std::deque<VarekFrame> waiting_;
    std::shared_ptr<JobTicket> ticket_;
    bool in_exchange_ = false;
    bool garbage_logged_ = false;  // whether its garbage has been reported
};

FrameServer::FrameServer(asio::io_context& io, const std::string& address, unsigned short port,
                         InstrumentBackend& instrument, NetworkFilter filter, std::size_t max_clients,
                         std::chrono::seconds idle_limit)
    : acceptor_(io),
      accept_pause_(io),
      instrument_(instrument),
      filter_(std::move(filter)),
      max_clients_(max_clients),
      idle_limit_(idle_limit),
      clients_(std::make_shared<FrameClients>()) {
    port_ = Listen(acceptor_, address, port, "cannot serve frames on");
    Accept();
}

FrameServer::~FrameServer() = default;

void FrameServer::Shutdown() {
    clients_->stopping = true;
    boost::system::error_code ignored;
    acceptor_.close(ignored);
    accept_pause_.cancel();
    for (FrameClient* client : clients_->open) client->Close();
}

void FrameServer::Accept() {
    acceptor_.async_accept([this](const boost::system::error_code& error, tcp::socket socket) {
        if (clients_->stopping) return;
        if (error) {
            accept_pause_.expires_after(kAcceptPause);
            accept_pause_.async_wait([this](const boost::system::error_code& cancelled) {
                if (!cancelled) Accept();
            });
            return;
        }
        boost::system::error_code peer_error;
        const tcp::endpoint peer = socket.remote_endpoint(peer_error);
        const bool allowed = !peer_error && filter_.Allows(peer.address());
        if (allowed && (clients_->open.size() < max_clients_ ||
                        MakeRoom(VarekFormatHostAndPort(peer.address().to_string(), peer.port())))) {
            boost::system::error_code ignored;
            socket.set_option(tcp::no_delay(true), ignored);
            std::make_shared<FrameClient>(std::move(socket), instrument_, clients_, idle_limit_)->Start();
        }
        // Anyone else: closed at once, with the socket going out of scope.
        Accept();
    });
}

bool FrameServer::MakeRoom(const std::string& newcomer) {
    FrameClient* longest = nullptr;
    FrameClient::Clock::time_point earliest = FrameClient::Clock::now() - kIdleBeforeMakingRoom;
    for (FrameClient* client : clients_->open) {
        const auto since = client->IdleSince();
        if (since && *since <= earliest) {
            earliest = *since;
            longest = client;
        }
    }
    if (longest == nullptr) return false;
    clients_->log.Log(
        "frame client " + longest->name() + " closed to make room for " + newcomer + ", idle for " +
        std::to_string(
            std::chrono::duration_cast<std::chrono::seconds>(FrameClient::Clock::now() - earliest).count()) +
        " s");
    // Out of the count at once: its handlers end it a moment later.
    clients_->open.erase(longest);
    longest->Close();
    return true;
}

}  // namespace varek::server
