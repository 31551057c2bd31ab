// A start agreed on the shared clock, as the machines of a network group
// agree on one, heard on two JACK dummy servers whose cycles fall apart:
// the services' server with a machine in this process, and one of the
// test's own with a machine in a child process (NetStartMachine.h), each
// heard on one time line (the servers' cycle times).

#include "NetRelay.h"
#include "NetStartMachine.h"
#include "engine/timing/NetClock.h"
#include "support/MediaFiles.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string Tag() {
  return std::to_string(QCoreApplication::applicationPid());
}

// A second dummy server, at the services' rate and period, for the test's
// life.
class SecondServer {
 public:
  SecondServer() : name_("net-start-" + Tag()) {
    process_.start(
        "jackd", {"-n", QString::fromStdString(name_), "-d", "dummy", "-r", "48000", "-p", "256"});
  }
  ~SecondServer() {
    process_.terminate();
    if (!process_.waitForFinished(5000)) process_.kill();
  }
  const std::string& Name() const { return name_; }
  // Asked from outside: a client of a server not up yet would leave the
  // process's JACK library broken.
  bool Up() const {
    return QProcess::execute("jack_lsp", {"-s", QString::fromStdString(name_)}) == 0;
  }

 private:
  std::string name_;
  QProcess process_;
};

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Each server starts the clip on the frame the agreed time names, not on
// the first of its cycles after the clip is ready: a cycle is 5.3 ms here,
// so starts on cycle edges would land up to that far from the time and,
// on two servers, from each other.
TEST(AgreedStart, SoundsOnTheFrameOfItsTimeOnEveryServer) {
  const char* services = std::getenv("JACK_DEFAULT_SERVER");
  ASSERT_NE(services, nullptr) << "run under scripts/with-test-services.sh";
  const QString clip = media_files::StartMarker();
  SecondServer second;
  ASSERT_TRUE(net_start::WaitFor([&] { return second.Up(); }, std::chrono::seconds(10)))
      << "jackd " << second.Name() << " did not start";
  QProcess other;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("JACK_DEFAULT_SERVER", QString::fromStdString(second.Name()));
  other.setProcessEnvironment(env);
  other.start(NET_START_MACHINE, {QString::fromStdString(second.Name()),
                                  QString::fromStdString("net-start-b-" + Tag()), clip});
  net_start::Machine here(services, "net-start-a-" + Tag());
  ASSERT_TRUE(here.Ready(clip));
  auto answer = [&] {
    return net_start::WaitFor([&] { return other.canReadLine(); }, std::chrono::seconds(15))
               ? other.readLine().trimmed().toStdString()
               : std::string("none");
  };
  ASSERT_EQ(answer(), "ready") << other.readAllStandardError().toStdString();

  std::vector<double> fromTimeA, fromTimeB, apart;
  for (int press = 0; press < 5; ++press) {
    const std::uint64_t at = net_start::SharedNow() + 100'000'000;
    other.write((std::to_string(at) + "\n").c_str());
    const double onsetA = here.PressAt(clip, at);
    const double onsetB = std::stod(answer() + " ");
    // A cycle whose times were read torn leaves its onset untimed.
    if (onsetA < 0 || onsetB < 0) continue;
    fromTimeA.push_back(std::fabs(onsetA - at / 1e3));
    fromTimeB.push_back(std::fabs(onsetB - at / 1e3));
    apart.push_back(std::fabs(onsetA - onsetB));
  }
  other.closeWriteChannel();
  other.waitForFinished(5000);
  ASSERT_GE(apart.size(), 3u);
  // The median, so that a start the loaded machine made late does not
  // decide it.
  EXPECT_LE(Median(fromTimeA), 1000) << "µs from the agreed time on the services' server";
  EXPECT_LE(Median(fromTimeB), 1000) << "µs from the agreed time on the second server";
  EXPECT_LE(Median(apart), 1000) << "µs between the two servers' onsets";
}

// A follower's clock against its host's, both this process's shared clock,
// through a link 2 ms each way on which every other answer is held 3 ms
// more on its way back, as a busy machine or link holds some. Such an
// answer is 1.5 ms off; taken in with the others, it pulls the follower's
// time off by about half that, on every machine of the group.
TEST(AgreedClock, AFollowerIsNotPulledOffByAnswersHeldUpOnTheirWayBack) {
  auto host = engine::NetClock::Host("127.0.0.1", 0);
  ASSERT_TRUE(host);
  bench::NetRelay relay("127.0.0.5", "127.0.0.1", "127.0.0.1", {host->Port()},
                        std::chrono::milliseconds(2));
  relay.HoldBack(2, std::chrono::milliseconds(3));
  ASSERT_TRUE(relay.Ok());
  auto follower = engine::NetClock::Follow("127.0.0.5", host->Port());
  ASSERT_TRUE(net_start::WaitFor([&] { return follower->Synced(); }, std::chrono::seconds(60)));
  // Read over a couple of seconds of its answers from then on.
  std::vector<double> errorsUs;
  const std::uint64_t until = net_start::SharedNow() + 2'000'000'000;
  net_start::WaitFor(
      [&] {
        const std::uint64_t now = net_start::SharedNow();
        errorsUs.push_back(std::fabs(double(follower->ToGroup(now)) - double(now)) / 1e3);
        return now > until;
      },
      std::chrono::seconds(10));
  ASSERT_FALSE(errorsUs.empty());
  EXPECT_LE(Median(errorsUs), 300) << "µs off the host's clock";
}

// A member that leaves the group and joins it again lets its follower go
// and makes another for the same host: the one let go must leave nothing
// behind that holds the next one up (nor GStreamer's clock thread).
TEST(AgreedClock, AFollowerLetGoLeavesTheNextOneFree) {
  auto host = engine::NetClock::Host("127.0.0.1", 0);
  ASSERT_TRUE(host);
  const int port = host->Port();
  // Followers that have taken an answer or two: whichever thread lets the
  // last part of one go, none may hold up the next.
  for (int round = 0; round < 50; ++round) {
    auto follower = engine::NetClock::Follow("127.0.0.1", port);
    ASSERT_TRUE(follower);
    const std::uint64_t made = net_start::SharedNow();
    ASSERT_TRUE(net_start::WaitFor([&] { return follower->ToGroup(made) != made; },
                                   std::chrono::seconds(5)));
    follower.reset();
  }
  // Made on a thread of its own, so that a follower held up fails the test
  // instead of hanging it.
  auto made = std::make_shared<std::atomic<bool>>(false);
  std::thread([made, port] {
    auto again = engine::NetClock::Follow("127.0.0.1", port);
    *made = again != nullptr;
  }).detach();
  EXPECT_TRUE(net_start::WaitFor([&] { return made->load(); }, std::chrono::seconds(10)))
      << "a new follower was held up by the one let go";
}

}  // namespace
