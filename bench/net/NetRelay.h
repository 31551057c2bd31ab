#pragma once
// A UDP relay that holds every datagram a fixed time, both ways: the
// delayed link between two machines of a network group, where the kernel
// has no delay queue of its own to offer. Each client heard on a listening
// port gets a socket of its own towards the target, so that the target's
// answers find their way back.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <deque>
#include <string>
#include <thread>
#include <vector>

namespace bench {

class NetRelay {
 public:
  // Listens on `listenHost` at each of `ports`, forwarding to `targetHost`
  // on the same port from sockets bound to `upstreamHost`.
  NetRelay(const std::string& listenHost, const std::string& upstreamHost,
           const std::string& targetHost, const std::vector<int>& ports,
           std::chrono::microseconds delay)
      : upstreamHost_(upstreamHost), delay_(delay) {
    for (int port : ports) {
      Link link;
      link.listen = Bound(listenHost, port);
      link.target = Address(targetHost, port);
      links_.push_back(link);
    }
    thread_ = std::thread([this] { Run(); });
  }
  ~NetRelay() {
    stop_ = true;
    thread_.join();
    for (auto& link : links_) {
      close(link.listen);
      for (auto& c : link.clients) close(c.upstream);
    }
  }
  // Holds every `every`-th datagram on its way back to a client `extra`
  // longer, as a busy link or a machine slow to read its socket holds
  // some. Before the first datagram.
  void HoldBack(int every, std::chrono::microseconds extra) {
    holdEvery_ = every;
    holdExtra_ = extra;
  }
  bool Ok() const {
    for (const auto& link : links_)
      if (link.listen < 0) return false;
    return true;
  }

 private:
  struct Client {
    sockaddr_in from{};
    int upstream = -1;
  };
  struct Link {
    int listen = -1;
    sockaddr_in target{};
    std::vector<Client> clients;
  };
  struct Held {
    std::chrono::steady_clock::time_point due;
    int socket;
    sockaddr_in to;
    std::vector<char> bytes;
  };

  static sockaddr_in Address(const std::string& host, int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, host.c_str(), &a.sin_addr);
    return a;
  }
  static int Bound(const std::string& host, int port) {
    const int s = socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in a = Address(host, port);
    if (bind(s, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
      close(s);
      return -1;
    }
    return s;
  }
  static bool Same(const sockaddr_in& a, const sockaddr_in& b) {
    return a.sin_addr.s_addr == b.sin_addr.s_addr && a.sin_port == b.sin_port;
  }

  void Run() {
    std::vector<char> buffer(65536);
    while (!stop_) {
      std::vector<pollfd> fds;
      std::vector<std::pair<int, int>> who;  // link, client (-1: the listener)
      for (int l = 0; l < static_cast<int>(links_.size()); ++l) {
        fds.push_back({links_[l].listen, POLLIN, 0});
        who.push_back({l, -1});
        for (int c = 0; c < static_cast<int>(links_[l].clients.size()); ++c) {
          fds.push_back({links_[l].clients[c].upstream, POLLIN, 0});
          who.push_back({l, c});
        }
      }
      int wait = 20;
      const auto now = std::chrono::steady_clock::now();
      if (!held_.empty())
        wait = std::max<int>(
            0, static_cast<int>(
                   std::chrono::ceil<std::chrono::milliseconds>(held_.front().due - now).count()));
      // Shorter than a millisecond, the wait spins: the delay must not grow
      // by the poll's rounding.
      poll(fds.data(), fds.size(), held_.empty() || wait > 1 ? wait - 1 : 0);
      for (std::size_t i = 0; i < fds.size(); ++i) {
        if ((fds[i].revents & POLLIN) == 0) continue;
        sockaddr_in from{};
        socklen_t length = sizeof from;
        const ssize_t n = recvfrom(fds[i].fd, buffer.data(), buffer.size(), 0,
                                   reinterpret_cast<sockaddr*>(&from), &length);
        if (n < 0) continue;
        Link& link = links_[who[i].first];
        Held h{
            std::chrono::steady_clock::now() + delay_, -1, {}, {buffer.data(), buffer.data() + n}};
        if (who[i].second < 0) {
          Client* client = nullptr;
          for (auto& c : link.clients)
            if (Same(c.from, from)) client = &c;
          if (client == nullptr) {
            link.clients.push_back({from, Bound(upstreamHost_, 0)});
            client = &link.clients.back();
          }
          h.socket = client->upstream;
          h.to = link.target;
        } else {
          h.socket = link.listen;
          h.to = link.clients[who[i].second].from;
          if (holdEvery_ > 0 && ++back_ % holdEvery_ == 0) h.due += holdExtra_;
        }
        const auto at = std::upper_bound(held_.begin(), held_.end(), h.due,
                                         [](auto due, const Held& o) { return due < o.due; });
        held_.insert(at, std::move(h));
      }
      while (!held_.empty() && held_.front().due <= std::chrono::steady_clock::now()) {
        const Held& h = held_.front();
        sendto(h.socket, h.bytes.data(), h.bytes.size(), 0,
               reinterpret_cast<const sockaddr*>(&h.to), sizeof h.to);
        held_.pop_front();
      }
    }
  }

  std::string upstreamHost_;
  std::chrono::microseconds delay_;
  std::vector<Link> links_;
  std::deque<Held> held_;  // by when they are due
  int holdEvery_ = 0;
  std::chrono::microseconds holdExtra_{0};
  long back_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace bench
