// From an OSC key press, and from a web remote press over its WebSocket, on
// the loopback address to the first frame of the key's clip on the
// program's JACK output, beside a MIDI note to the same in the same run, the
// three taking turns. Then the program's CPU use while idle with the remote
// on, with one OSC subscriber, and with a web remote page connected.
//
// Runs under scripts/with-test-services.sh (a JACK dummy server at
// 48 kHz / 256 frames), the program offscreen. An OSC press counts from the
// frame the server was at when the packet was sent (a WebSocket press
// likewise); a MIDI note from the cycle it went out in, as
// bench_midi_to_sound counts it.

#include "AppHarness.h"
#include "JackProbe.h"
#include "ProcStatus.h"
#include "SoundEvents.h"

#include <lo/lo.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QWebSocket>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>

namespace {

using namespace e2e;

constexpr float kThreshold = 0.05f;
constexpr int kPresses = 60;  // of each kind
constexpr int kWarmUp = 3;
constexpr double kLowHertz = 300, kHighHertz = 3000;

void Print(const std::string& name, double value, const char* unit) {
  std::printf("%s: %.2f %s\n", name.c_str(), value, unit);
  std::fflush(stdout);
}

bool IsHigh(const JackProbe& ears, uint64_t at) {
  const std::vector<float> block = ears.Samples(0, at, at + ears.Period());
  int crossings = 0;
  for (std::size_t i = 1; i < block.size(); ++i) crossings += block[i - 1] < 0 && block[i] >= 0;
  const double split = std::sqrt(kLowHertz * kHighHertz);
  return crossings > split * static_cast<double>(block.size()) / ears.SampleRate();
}

bool WaitForSilence(const JackProbe& probe, double seconds) {
  const auto quiet = static_cast<uint64_t>(seconds * probe.SampleRate());
  return WaitUntil(
      [&] {
        const uint64_t now = probe.RecordedUntil();
        return now >= quiet && CountSounding(probe.Level(now - quiet, now), kThreshold) == 0;
      },
      5s);
}

// Presses with `press` (which returns the frame it was sent at, on `ears`'
// timeline), waits for the first frame of the low or high clip, releases
// with `release`; nothing when the clip never sounded.
std::optional<double> OnePress(const JackProbe& ears, bool high,
                               const std::function<std::optional<uint64_t>()>& press,
                               const std::function<void()>& release) {
  WaitForSilence(ears, 0.1);
  const std::optional<uint64_t> at = press();
  if (!at) return std::nullopt;
  std::optional<uint64_t> onset;
  WaitUntil(
      [&] {
        const uint64_t now = ears.RecordedUntil();
        const std::vector<float> level = ears.Level(*at, now);
        for (uint64_t from = *at; (onset = FindOnset(level, kThreshold, 0, from, *at));
             from = *onset + ears.Period() / 4) {
          if (*onset + ears.Period() > now) return false;
          if (IsHigh(ears, *onset) == high) return true;
        }
        return false;
      },
      2s);
  release();
  if (!onset) return std::nullopt;
  return static_cast<double>(*onset - *at);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication qt(argc, argv);
  RunsBesideTheProgram();
  RunFolder folder("bench-osc");
  const std::string tag = std::to_string(getpid());
  JackProbe keyboard("bench-osc-keyboard-" + tag, 1, 5);
  if (!keyboard.Ok()) {
    std::cerr << keyboard.Error() << "\n";
    return 1;
  }
  const std::vector<std::string> sources = keyboard.MidiSources();
  if (sources.empty() || sources.front() != keyboard.MidiPortName()) {
    std::cerr << "another MIDI source is listed before the bench's own\n";
    return 1;
  }
  const std::string low = folder.File("low.wav"), high = folder.File("high.wav");
  if (!MakeTone(low, 1.0, kLowHertz).empty() || !MakeTone(high, 1.0, kHighHertz).empty()) {
    std::cerr << "sox could not make the clips\n";
    return 1;
  }
  const std::string set = folder.File("bench.wql");
  WriteSet(set, {{"low", low}, {"pad", low}, {"high", high}});
  StoredSettings settings(folder.File("config"));
  settings.PreloadSet(0, set);
  settings.SetWindow(0, {.midi = true});

  const int port = FreePort(SOCK_DGRAM);
  const int webPort = FreePort(SOCK_STREAM);
  Program app(ProgramPath(), folder, "osc.log");
  std::map<std::string, std::string> env{{"XDG_CONFIG_HOME", settings.ConfigHome()},
                                         {"QT_QPA_PLATFORM", "offscreen"}};
  JackProbe ears("bench-osc-ears-" + tag, 2, 240);
  if (port == 0 || webPort == 0 ||
      !app.Start(env, {"--osc=" + std::to_string(port), "--web=" + std::to_string(webPort)}) ||
      !WaitUntil([&] { return keyboard.MidiConnections() > 0; }, 20s) ||
      !WaitUntil([&] { return app.LogTail().find("OSC: listening") != std::string::npos; })) {
    std::cerr << "the program did not start with MIDI and OSC; its output:\n" << app.LogTail();
    folder.Keep();
    return 1;
  }
  ears.Follow("Tastivo");
  // The web remote page's connection, as the page opens it.
  const std::string log = app.LogTail();
  const auto tokenAt = log.find("?t=");
  const std::string token = tokenAt == std::string::npos
                                ? ""
                                : log.substr(tokenAt + 3, log.find('\n', tokenAt) - tokenAt - 3);
  const QString origin = QStringLiteral("http://127.0.0.1:%1").arg(webPort);
  QWebSocket page(origin);
  page.open(QUrl(
      QStringLiteral("ws://127.0.0.1:%1/ws?t=%2").arg(webPort).arg(QString::fromStdString(token))));
  const auto pump = [&](std::function<bool()> condition) {
    return WaitUntil([&] {
      QCoreApplication::processEvents();
      return condition();
    });
  };
  if (!pump([&] { return page.state() == QAbstractSocket::ConnectedState; })) {
    std::cerr << "the web remote's WebSocket did not open\n";
    return 1;
  }
  auto webKey = [&](int key, int down) {
    page.sendTextMessage(
        QStringLiteral(R"({"a":"/tastivo/0/key/%1","v":[%2]})").arg(key).arg(down));
    page.flush();
  };
  lo_address osc = lo_address_new("127.0.0.1", std::to_string(port).c_str());
  const auto shift = [&] {
    return static_cast<int64_t>(
        static_cast<int32_t>(static_cast<jack_nframes_t>(keyboard.Origin() - ears.Origin())));
  };
  auto oscKey = [&](int key, int down) {
    const std::string address = "/tastivo/0/key/" + std::to_string(key);
    return lo_send(osc, address.c_str(), "i", down) >= 0;
  };

  std::vector<double> midiFrames, oscFrames, webFrames;
  int midiMissed = 0, oscMissed = 0, webMissed = 0;
  for (int i = 0; i < 3 * (kWarmUp + kPresses); ++i) {
    const int via = i % 3;  // MIDI, OSC, WebSocket
    const bool viaOsc = via == 1;
    const bool isHigh = (i / 3) % 2 == 1;
    const int key = isHigh ? 2 : 0;
    std::optional<double> frames;
    // What the page was sent meanwhile is taken off the socket.
    QCoreApplication::processEvents();
    if (via == 2) {
      frames = OnePress(
          ears, isHigh,
          [&]() -> std::optional<uint64_t> {
            const uint64_t at = ears.FrameNow();
            webKey(key, 1);
            return at;
          },
          [&] { webKey(key, 0); });
    } else if (viaOsc) {
      frames = OnePress(
          ears, isHigh,
          [&]() -> std::optional<uint64_t> {
            const uint64_t at = ears.FrameNow();
            if (!oscKey(key, 1)) return std::nullopt;
            return at;
          },
          [&] { oscKey(key, 0); });
    } else {
      frames = OnePress(
          ears, isHigh,
          [&]() -> std::optional<uint64_t> {
            const auto sent = keyboard.SendMidi(0x90, static_cast<unsigned char>(36 + key), 100);
            if (!sent) return std::nullopt;
            return static_cast<uint64_t>(static_cast<int64_t>(*sent) + shift());
          },
          [&] { keyboard.SendMidi(0x80, static_cast<unsigned char>(36 + key), 0); });
    }
    if (i < 3 * kWarmUp) continue;
    int& missed = via == 0 ? midiMissed : via == 1 ? oscMissed : webMissed;
    std::vector<double>& found = via == 0 ? midiFrames : via == 1 ? oscFrames : webFrames;
    if (!frames)
      ++missed;
    else
      found.push_back(*frames);
  }
  const double rate = ears.SampleRate(), period = ears.Period();
  for (const auto& [name, frames] :
       {std::pair{std::string("web_press_to_sound"), webFrames},
        std::pair{std::string("osc_to_sound"), oscFrames},
        std::pair{std::string("midi_to_sound_beside_osc"), midiFrames}}) {
    if (frames.empty()) continue;
    Print(name + "_p50", Percentile(frames, 50) / rate * 1000, "ms");
    Print(name + "_p99", Percentile(frames, 99) / rate * 1000, "ms");
    Print(name + "_p50_periods", Percentile(frames, 50) / period, "periods");
  }
  Print("osc_to_sound_missed", oscMissed, "presses");
  Print("web_press_to_sound_missed", webMissed, "presses");
  Print("midi_to_sound_beside_osc_missed", midiMissed, "presses");
  int status = oscFrames.empty() || midiFrames.empty() ? 1 : 0;
  if (!oscFrames.empty() && !midiFrames.empty()) {
    Print("osc_to_sound_p50_minus_midi",
          (Percentile(oscFrames, 50) - Percentile(midiFrames, 50)) / period, "periods");
    Print("osc_to_sound_p99_minus_midi",
          (Percentile(oscFrames, 99) - Percentile(midiFrames, 99)) / period, "periods");
  }

  // Idle, without and then with a subscriber, whose state is looked at 30
  // times a second.
  const auto idleCpu = [&] {
    WaitForSilence(ears, 0.5);
    const long long before = CpuTicks(app.Pid());
    const auto wallFrom = std::chrono::steady_clock::now();
    ears.WaitForFrame(ears.RecordedUntil() + static_cast<uint64_t>(5 * rate));
    const long long after = CpuTicks(app.Pid());
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wallFrom).count();
    if (before < 0 || after < 0 || wall <= 0) return -1.0;
    return 100.0 * static_cast<double>(after - before) / static_cast<double>(sysconf(_SC_CLK_TCK)) /
           wall;
  };
  Print("cpu_idle_remote_page_connected", idleCpu(), "%");
  page.close();
  pump([&] { return page.state() == QAbstractSocket::UnconnectedState; });
  Print("cpu_idle_remote_on", idleCpu(), "%");
  lo_send(osc, "/tastivo/subscribe", "");
  Print("cpu_idle_osc_subscribed", idleCpu(), "%");
  lo_address_free(osc);
  return status;
}
