#include "support/JackXrunWatch.h"

#include <jack/jack.h>

#include <stdexcept>

namespace testing_support {

struct JackXrunWatch::Client {
  jack_client_t* handle = nullptr;
};

namespace {

// Runs on JACK's notification thread; only bumps the counter.
int OnXrun(void* arg) {
  static_cast<std::atomic<long>*>(arg)->fetch_add(1);
  return 0;
}

}  // namespace

JackXrunWatch::JackXrunWatch(const std::string& name) : client_(std::make_unique<Client>()) {
  jack_status_t status{};
  client_->handle = jack_client_open(name.c_str(), JackNoStartServer, &status);
  if (client_->handle == nullptr)
    throw std::runtime_error("No JACK server answers (status " + std::to_string(status) + ")");
  jack_set_xrun_callback(client_->handle, OnXrun, &count_);
  if (jack_activate(client_->handle) != 0) {
    jack_client_close(client_->handle);
    throw std::runtime_error("Could not activate the JACK client " + name);
  }
}

JackXrunWatch::~JackXrunWatch() {
  jack_deactivate(client_->handle);
  jack_client_close(client_->handle);
}

}  // namespace testing_support
