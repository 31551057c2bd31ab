// The JACK server itself goes away under an open MIDI input and comes back.
// This runs a dummy server of its own, so that stopping it disturbs no other
// test; libjack keeps one server name per process, so this is a test program
// of its own too.

#include "midi/CMIDIInDevice.h"
#include "midi/KeyRecorder.h"
#include "midi/MyReceiver.h"
#include "support/JackXrunWatch.h"
#include "support/TestSupport.h"
#include "support/VirtualMidiSource.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>

namespace {

// A JACK dummy server named `name`, up until destroyed or Stop().
class JackServer {
 public:
  explicit JackServer(const std::string& name) {
    pid_ = fork();
    if (pid_ == 0) {
      setenv("JACK_NO_AUDIO_RESERVATION", "1", 1);
      execlp("jackd", "jackd", "-n", name.c_str(), "-r", "-d", "dummy", "-r", "48000", "-p", "256",
             static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  ~JackServer() { Stop(); }

  // Whether the process's server (JACK_DEFAULT_SERVER) takes a client; the
  // client leaves right away.
  static bool Answers() {
    try {
      testing_support::JackXrunWatch probe("tastivo-probe-" + std::to_string(getpid()));
      return true;
    } catch (const std::runtime_error&) {
      return false;
    }
  }

  void Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
};

TEST(JackServerGone, InputSeesItsServerLeaveAndPlaysAgainOnTheNextOne) {
  const std::string server = "tastivo-gone-" + std::to_string(getpid());
  setenv("JACK_DEFAULT_SERVER", server.c_str(), 1);
  auto jack = std::make_unique<JackServer>(server);
  ASSERT_TRUE(testing_support::WaitFor([&] { return JackServer::Answers(); }))
      << "no JACK dummy server came up";

  const std::string name = "tastivo-gone-source";
  auto source = std::make_unique<testing_support::VirtualMidiSource>(name);
  platform::MidiPortId id;
  ASSERT_TRUE(testing_support::WaitFor([&] { return !(id = source->PortId()).Empty(); }));
  midi_test::KeyRecorder window;
  midi::MyReceiver receiver;
  receiver.SetWindow(&window);
  midi::CMIDIInDevice device(receiver);
  device.Open(id);
  device.Start();
  EXPECT_TRUE(device.SourcePresent());

  jack->Stop();
  // A client of a dead server is closed before any new client is opened:
  // libjack frees the old ones under their owners once a new one connects.
  source.reset();
  EXPECT_TRUE(testing_support::WaitFor([&] { return !device.SourcePresent(); }));

  jack = std::make_unique<JackServer>(server);
  ASSERT_TRUE(testing_support::WaitFor([&] { return JackServer::Answers(); }));
  source = std::make_unique<testing_support::VirtualMidiSource>(name);
  EXPECT_TRUE(testing_support::WaitFor([&] { return device.SourcePresent(); }));
  device.Open(id);
  device.Start();
  EXPECT_TRUE(testing_support::WaitFor([&] {
    source->Send(0x90, 37, 100);
    return testing_support::WaitFor([&] { return !window.keys.empty(); },
                                    std::chrono::milliseconds(200));
  }));
  EXPECT_EQ(window.keys.back(), midi_test::Down(1));
  // Everything of this server goes before it does.
  device.Close();
  source.reset();
}

}  // namespace
