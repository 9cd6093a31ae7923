// Times one exchange along one path to the instrument, from one client or
// several at once:
//   path_client library PORT COUNT trigger|status [CLIENTS]
//       through the library's C interface; PORT is any name it opens, a
//       device or socket://HOST:PORT (varek-server's frame port);
//   path_client http HOST:PORT COUNT trigger|status [CLIENTS]
//       through varek-server's HTTP API (POST /api/v1/fire, GET
//       /api/v1/channels/1), one keep-alive connection per client.
// Each client makes COUNT timed exchanges on a thread of its own, after a
// few untimed ones. Prints one line:
// "median_us=... p99_us=... cpu_us_per_exchange=... failures=... per_second=..."
// where per_second is all clients' exchanges over the wall time.
#include <algorithm>
#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/asio/streambuf.hpp>
#include <boost/asio/write.hpp>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <istream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "process_stats.h"
#include "varek/varek.h"

namespace {

namespace asio = boost::asio;
using asio::ip::tcp;
using Clock = std::chrono::steady_clock;

// One client's exchange: true when it succeeded.
using Exchange = std::function<bool()>;

// A client of the HTTP API on one connection, as lean as a program can be:
// one prepared request, the answer read to its length.
class HttpClient {
public:
    HttpClient(const std::string& host, const std::string& port, bool status) : socket_(io_) {
        tcp::resolver resolver(io_);
        asio::connect(socket_, resolver.resolve(host, port));
        socket_.set_option(tcp::no_delay(true));
        request_ = std::string(status ? "GET /api/v1/channels/1" : "POST /api/v1/fire") +
                   " HTTP/1.1\r\nHost: " + host + ":" + port + "\r\nContent-Length: 0\r\n\r\n";
    }

    bool Exchange() {
        boost::system::error_code error;
        asio::write(socket_, asio::buffer(request_), error);
        if (error) return false;
        const std::size_t head_size = asio::read_until(socket_, answer_, "\r\n\r\n", error);
        if (error) return false;
        std::string head(asio::buffers_begin(answer_.data()),
                         asio::buffers_begin(answer_.data()) + static_cast<std::ptrdiff_t>(head_size));
        answer_.consume(head_size);
        const bool ok = head.compare(0, 12, "HTTP/1.1 200") == 0;
        const std::size_t length = ContentLength(head);
        if (answer_.size() < length)
            asio::read(socket_, answer_, asio::transfer_exactly(length - answer_.size()), error);
        answer_.consume(length);
        return ok && !error;
    }

private:
    static std::size_t ContentLength(std::string head) {
        std::transform(head.begin(), head.end(), head.begin(),
                       [](unsigned char c) { return std::tolower(c); });
        const std::size_t at = head.find("content-length:");
        return at == std::string::npos ? 0 : std::strtoul(head.c_str() + at + 15, nullptr, 10);
    }

    asio::io_context io_;
    tcp::socket socket_;
    asio::streambuf answer_;
    std::string request_;
};

struct Results {
    std::mutex mutex;
    std::vector<double> latencies_us;
    int failures = 0;
};

// Untimed exchanges before the timed ones: a server just started reads the
// instrument's state first, and a connection's first exchange sets it up.
constexpr int kWarmUpExchanges = 20;

void RunClient(const Exchange& exchange, int count, Results& results) {
    std::vector<double> latencies_us;
    latencies_us.reserve(static_cast<std::size_t>(count));
    int failures = 0;
    for (int i = 0; i < count; ++i) {
        const Clock::time_point start = Clock::now();
        if (!exchange()) ++failures;
        latencies_us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    std::lock_guard<std::mutex> lock(results.mutex);
    results.latencies_us.insert(results.latencies_us.end(), latencies_us.begin(), latencies_us.end());
    results.failures += failures;
}

int Usage() {
    std::fprintf(stderr, "usage: path_client library|http PORT|HOST:PORT COUNT trigger|status [CLIENTS]\n");
    return 2;
}

}  // namespace

int Run(int argc, char** argv) {
    if (argc != 5 && argc != 6) return Usage();
    const std::string mode = argv[1], target = argv[2];
    const int count = std::atoi(argv[3]);
    const bool status = std::strcmp(argv[4], "status") == 0;
    const int clients = argc == 6 ? std::atoi(argv[5]) : 1;
    if (count <= 0 || clients <= 0 || (mode != "library" && mode != "http")) return Usage();

    // Every client connects before any starts, so that the rate counts exchanges alone.
    std::vector<Exchange> exchanges;
    std::vector<VarekHandle> handles;
    std::vector<std::unique_ptr<HttpClient>> http_clients;
    for (int i = 0; i < clients; ++i) {
        if (mode == "library") {
            VarekHandle handle = varek_init(target.c_str(), 0);
            if (handle == nullptr) {
                std::fprintf(stderr, "cannot open %s\n", target.c_str());
                return 1;
            }
            handles.push_back(handle);
            exchanges.push_back([handle, status] {
                return (status ? varek_read_timing_config(handle, 1, nullptr, nullptr, nullptr, nullptr)
                               : varek_software_trigger(handle)) == VAREK_OK;
            });
        } else {
            const std::size_t colon = target.rfind(':');
            if (colon == std::string::npos) return Usage();
            http_clients.push_back(
                std::make_unique<HttpClient>(target.substr(0, colon), target.substr(colon + 1), status));
            HttpClient* client = http_clients.back().get();
            exchanges.push_back([client] { return client->Exchange(); });
        }
    }

    for (const Exchange& exchange : exchanges) {
        for (int i = 0; i < kWarmUpExchanges; ++i) exchange();
    }
    Results results;
    const double cpu_before = varek::stats::CpuSeconds();
    const Clock::time_point start = Clock::now();
    std::vector<std::thread> threads;
    for (const Exchange& exchange : exchanges) {
        threads.emplace_back([&exchange, count, &results] { RunClient(exchange, count, results); });
    }
    for (std::thread& thread : threads) thread.join();
    const double wall_s = std::chrono::duration<double>(Clock::now() - start).count();
    const double total = static_cast<double>(count) * clients;
    const double cpu_us = (varek::stats::CpuSeconds() - cpu_before) * 1e6 / total;
    for (VarekHandle handle : handles) varek_close(handle);

    std::vector<double>& latencies = results.latencies_us;
    std::sort(latencies.begin(), latencies.end());
    const double median = latencies[latencies.size() / 2];
    const double p99 = latencies[std::min(latencies.size() - 1, latencies.size() * 99 / 100)];
    std::printf("median_us=%.1f p99_us=%.1f cpu_us_per_exchange=%.1f failures=%d per_second=%.1f\n", median,
                p99, cpu_us, results.failures, total / wall_s);
    return 0;
}

int main(int argc, char** argv) {
    try {
        return Run(argc, argv);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "path_client: %s\n", error.what());
        return 1;
    }
}
