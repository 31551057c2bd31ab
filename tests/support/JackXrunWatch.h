#pragma once
// Counts the JACK server's xruns (cycles a client did not finish in time).
// JACK drops the MIDI of such a cycle, so tests that flood a device use the
// count to tell notes lost by an overloaded server from notes lost by us.

#include <atomic>
#include <memory>
#include <string>

namespace testing_support {

class JackXrunWatch {
 public:
  // Connects to the running server as client `name`; never starts one.
  // Throws std::runtime_error when no server answers.
  explicit JackXrunWatch(const std::string& name);
  ~JackXrunWatch();
  JackXrunWatch(const JackXrunWatch&) = delete;
  JackXrunWatch& operator=(const JackXrunWatch&) = delete;

  long Count() const { return count_.load(); }

 private:
  struct Client;
  std::unique_ptr<Client> client_;
  std::atomic<long> count_{0};
};

}  // namespace testing_support
