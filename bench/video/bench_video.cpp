// The video window's picture: key to first picture, and smooth playback of
// H.264 and MPEG-2 clips full screen. Prints "name: value unit" lines.
//
// Key to first picture is the time from Open (with the marks and Play a key
// press makes) until the window has painted the clip's first frame: for a
// clip this player has not played before, and for the same clip again.
// Smooth playback plays each clip full screen for its 30 s and counts the
// frames painted against the frames the clip holds, and the process's CPU
// time against the wall time (100 % = one core).
//
// On an X display (DISPLAY set, as bench.sh's services provide) it runs on
// the X server; otherwise offscreen. TASTIVO_BENCH_SECONDS shortens the
// playback runs.

#include "engine/video/VideoSurface.h"
#include "platform/Application.h"
#include "platform/WindowMessages.h"
#include "player/Tplayerbase.h"
#include "tests/video/VideoOwner.h"
#include "video/Video.h"

#include <QAction>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPainter>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

namespace {

constexpr int kRuns = 15;

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return -1;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<size_t>(p * (v.size() - 1) + 0.5))];
}

// Sleeps in the event loop between checks: a loop that polls without
// waiting takes a whole core, which the CPU figure would count and the
// streaming threads would miss. What the condition waits for (a paint, a
// position) comes through the event loop; the tick only bounds the wait.
bool WaitFor(const std::function<bool()>& condition, int ms, int tickMs = 20) {
  const QDeadlineTimer deadline(ms);
  QTimer tick;
  tick.start(tickMs);
  while (!condition()) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
  }
  return true;
}

QString Make(const QString& dir, const QString& name, const QString& pipeline) {
  const QString path = QDir(dir).filePath(name);
  if (QFileInfo(path).size() > 0) return path;
  QProcess p;
  p.start("gst-launch-1.0",
          QStringList{"-q"} + QProcess::splitCommand(pipeline.arg(path + ".part")));
  if (!p.waitForFinished(600000) || p.exitCode() != 0) {
    std::fprintf(stderr, "could not make %s: %s\n", qPrintable(name),
                 p.readAllStandardError().constData());
    return {};
  }
  QFile::rename(path + ".part", path);
  return path;
}

QString Source(int width, int height, int seconds, int fps = 30) {
  return QString(
             "videotestsrc pattern=ball num-buffers=%1 ! "
             "video/x-raw,width=%2,height=%3,framerate=%4/1,format=I420 ! ")
      .arg(seconds * fps)
      .arg(width)
      .arg(height)
      .arg(fps);
}

engine::VideoSurface* Surface(TVideo1& video) {
  for (QWidget* child : video.findChildren<QWidget*>())
    if (auto* s = dynamic_cast<engine::VideoSurface*>(child)) return s;
  return nullptr;
}

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
         usage.ru_stime.tv_usec / 1e6;
}

// The CPU time of the X server this process talks to (its peer on the
// display's local socket), or -1 when it can't be read: on these 2-core
// machines its share of every frame counts as much as ours.
double XServerCpuSeconds() {
  const QByteArray display = qgetenv("DISPLAY");
  const int colon = display.lastIndexOf(':');
  if (colon < 0) return -1;
  const QByteArray number = display.mid(colon + 1).split('.').first();
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "/tmp/.X11-unix/X%s",
                number.constData());
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  ucred peer{};
  socklen_t length = sizeof peer;
  const bool known = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                     getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 && peer.pid > 0;
  close(fd);
  if (!known) return -1;
  QFile stat(QString("/proc/%1/stat").arg(peer.pid));
  if (!stat.open(QIODevice::ReadOnly)) return -1;
  const QByteArray line = stat.readAll();
  // Fields after the command's closing parenthesis: state is field 3, user
  // and system time fields 14 and 15.
  const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
  if (fields.size() < 13) return -1;
  return (fields[11].toDouble() + fields[12].toDouble()) / sysconf(_SC_CLK_TCK);
}

struct Rig {
  Owner owner;
  std::unique_ptr<TVideo1> video;
  std::unique_ptr<TPlayer> player;
  Rig() {
    video = std::make_unique<TVideo1>(nullptr, 0);
    player = std::make_unique<TPlayer>(&owner, 0);
    owner.video = video.get();
    player->HandleVideo(video->Handle());
    video->Player = player.get();
  }
};

// Open, marks and Play as a key press does; then until a frame is painted.
double KeyToPicture(Rig& rig, const QString& clip) {
  const auto start = std::chrono::steady_clock::now();
  rig.player->Open(clip);
  rig.player->SetRelativePositions(10000, 0, 10000, 0);
  rig.player->Play();
  engine::VideoSurface* surface = Surface(*rig.video);
  if (surface == nullptr) return -1;
  if (!WaitFor([&] { return surface->PaintedFrames() > 0; }, 5000)) return -1;
  // Play returns once the clip runs; the picture may have been painted
  // before that.
  return std::chrono::duration<double, std::milli>(surface->LastPaintTime() - start).count();
}

void BenchFirstPicture(const QString& clip, const QString& dir) {
  Rig rig;
  // Warm the plugins once, as the program has by its first key.
  KeyToPicture(rig, clip);
  rig.player->Stop();
  std::vector<double> fresh, again;
  for (int i = 0; i < kRuns; ++i) {
    const QString copy = QDir(dir).filePath(QString("fresh-%1.mp4").arg(i));
    QFile::remove(copy);
    QFile::copy(clip, copy);
    fresh.push_back(KeyToPicture(rig, copy));
    rig.player->Stop();
    again.push_back(KeyToPicture(rig, copy));
    rig.player->Stop();
  }
  std::printf("key_to_first_picture_new_clip_p50: %.2f ms\n", Percentile(fresh, 0.5));
  std::printf("key_to_first_picture_new_clip_p90: %.2f ms\n", Percentile(fresh, 0.9));
  std::printf("key_to_first_picture_same_clip_p50: %.2f ms\n", Percentile(again, 0.5));
  std::printf("key_to_first_picture_same_clip_p90: %.2f ms\n", Percentile(again, 0.9));
}

void BenchPlayback(const QString& name, const QString& clip, int seconds, int fps = 30) {
  if (clip.isEmpty()) return;
  Rig rig;
  rig.video->AFull->setChecked(true);
  rig.player->Open(clip);
  WaitFor([&] { return rig.video->isFullScreen(); }, 2000);
  // Without a window manager nobody sizes a full-screen window; do it.
  const QRect monitor = rig.video->MonitorGeometry();
  if (rig.video->geometry() != monitor) rig.video->setGeometry(monitor);
  rig.player->SetRelativePositions(10000, 0, 10000, 0);
  engine::VideoSurface* surface = Surface(*rig.video);
  const std::uint64_t painted0 = surface ? surface->PaintedFrames() : 0;
  const std::uint64_t skipped0 = surface ? surface->SkippedFrames() : 0;
  const std::uint64_t delivered0 = surface ? surface->DeliveredFrames() : 0;
  const std::uint64_t scaled0 = surface ? surface->ScaledPaints() : 0;
  const double cpu0 = CpuSeconds();
  const double xCpu0 = XServerCpuSeconds();
  QElapsedTimer wall;
  wall.start();
  rig.player->Play();
  WaitFor([&] { return rig.player->GetPosition() >= std::int64_t{seconds} * 10000000 - 1000000; },
          seconds * 1000 + 5000, 100);
  const double played = rig.player->GetPosition() / 1e7;
  const double cpu = (CpuSeconds() - cpu0) / (wall.nsecsElapsed() / 1e9) * 100;
  const double xCpu = (XServerCpuSeconds() - xCpu0) / (wall.nsecsElapsed() / 1e9) * 100;
  const double shown = surface ? double(surface->PaintedFrames() - painted0) : 0;
  const double expected = played * fps;
  const double dropped = std::max(0.0, expected - shown);
  std::printf("%s_surface: %dx%d\n", qPrintable(name), surface ? surface->width() : 0,
              surface ? surface->height() : 0);
  std::printf("%s_frames_shown: %.0f frames\n", qPrintable(name), shown);
  std::printf("%s_frames_decoded: %.0f frames\n", qPrintable(name),
              surface ? double(surface->DeliveredFrames() - delivered0) : 0);
  std::printf("%s_frames_replaced_before_painting: %.0f frames\n", qPrintable(name),
              surface ? double(surface->SkippedFrames() - skipped0) : 0);
  std::printf("%s_frames_scaled_on_window_thread: %.0f frames\n", qPrintable(name),
              surface ? double(surface->ScaledPaints() - scaled0) : 0);
  std::printf("%s_frames_expected: %.0f frames\n", qPrintable(name), expected);
  std::printf("%s_frames_dropped: %.2f %%\n", qPrintable(name),
              expected > 0 ? dropped * 100 / expected : 100);
  std::printf("%s_cpu: %.1f %% of one core\n", qPrintable(name), cpu);
  if (xCpu0 >= 0) std::printf("%s_x_server_cpu: %.1f %% of one core\n", qPrintable(name), xCpu);
  std::fflush(stdout);
  rig.player->Stop();
}

double ThreadCpuMs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// What one frame costs the window thread, in CPU time (robust against a busy
// machine): painting a decoded 1080p frame scaled to a 1280 x 1024 window
// against copying a frame decoded at the window's size, as the renderer now
// asks for; and what scaling the converted frame with Qt cost per frame
// before the renderer scaled the YUV picture instead.
void BenchPaintCost() {
  QImage frame(1920, 1080, QImage::Format_RGB32);
  frame.fill(Qt::red);
  QImage target(1280, 1024, QImage::Format_RGB32);
  std::vector<double> scaled, copied, scaling;
  for (int i = 0; i < 40; ++i) {
    double t = ThreadCpuMs();
    {
      QPainter painter(&target);
      painter.drawImage(target.rect(), frame, frame.rect());
    }
    scaled.push_back(ThreadCpuMs() - t);
    t = ThreadCpuMs();
    const QImage ready = frame.scaled(target.size(), Qt::IgnoreAspectRatio, Qt::FastTransformation);
    scaling.push_back(ThreadCpuMs() - t);
    t = ThreadCpuMs();
    {
      QPainter painter(&target);
      painter.drawImage(0, 0, ready);
    }
    copied.push_back(ThreadCpuMs() - t);
  }
  const double before = Percentile(scaled, 0.5), after = Percentile(copied, 0.5);
  std::printf("window_thread_paint_1080p_scaled_in_paint_p50: %.2f ms cpu\n", before);
  std::printf("window_thread_paint_1080p_at_window_size_p50: %.2f ms cpu (ratio %.2f)\n", after,
              after / before);
  std::printf("qt_scale_1080p_to_window_p50: %.2f ms cpu\n", Percentile(scaling, 0.5));
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsSet("DISPLAY")) qputenv("QT_QPA_PLATFORM", "xcb");
  QTemporaryDir config;
  qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
  if (!qEnvironmentVariableIsSet("TASTIVO_AUDIO_SINK")) qputenv("TASTIVO_AUDIO_SINK", "fakesink");
  platform::Application app(argc, argv);
  std::printf("video_platform: %s\n", qPrintable(QGuiApplication::platformName()));
  const int seconds = qEnvironmentVariableIntValue("TASTIVO_BENCH_SECONDS") > 0
                          ? qEnvironmentVariableIntValue("TASTIVO_BENCH_SECONDS")
                          : 30;
  // Generated clips are kept between runs: 30 s of 1080p take a while.
  const QString cache = QDir(QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation))
                            .filePath("tastivo-bench-video");
  QDir().mkpath(cache);
  BenchPaintCost();
  QTemporaryDir work;
  const QString h264 =
      "x264enc speed-preset=ultrafast tune=zerolatency key-int-max=30 ! "
      "h264parse ! mp4mux ! filesink location=%1";
  // Debian 12's avenc_mpeg2video refuses every input here, and mpeg2enc
  // encodes MPEG-2 only up to main level: standard definition. Matroska
  // starts the clip at 0, so frames expected follow from the position; a
  // program stream starts its first frame 0.72 s in.
  const QString mpeg2 = "mpeg2enc format=3 ! matroskamux ! filesink location=%1";
  const QString short720 = Make(cache, "h264-720p-2s.mp4", Source(1280, 720, 2) + h264);
  if (!short720.isEmpty()) BenchFirstPicture(short720, work.path());
  BenchPlayback(
      "playback_h264_720p30",
      Make(cache, QString("h264-720p-%1s.mp4").arg(seconds), Source(1280, 720, seconds) + h264),
      seconds);
  BenchPlayback(
      "playback_h264_1080p30",
      Make(cache, QString("h264-1080p-%1s.mp4").arg(seconds), Source(1920, 1080, seconds) + h264),
      seconds);
  BenchPlayback("playback_mpeg2_576p25",
                Make(cache, QString("mpeg2-576p-%1s.mkv").arg(seconds),
                     Source(720, 576, seconds, 25) + mpeg2),
                seconds, 25);
  return 0;
}
