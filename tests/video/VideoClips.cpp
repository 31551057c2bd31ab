#include "VideoClips.h"

#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <stdexcept>

namespace video_clips {

namespace {

QString Make(const QString& name, const QString& pipeline) {
  const QString path = QDir(testing_support::TestDataDir()).filePath(name);
  if (QFileInfo(path).size() > 0) return path;
  // A file of its own per process: tests running side by side may make the
  // same clip at once.
  const QString partial = path + QString(".part%1").arg(QCoreApplication::applicationPid());
  QProcess process;
  process.start("gst-launch-1.0",
                QStringList{"-q"} + QProcess::splitCommand(pipeline.arg(partial)));
  if (!process.waitForFinished(30000) || process.exitCode() != 0 || QFileInfo(partial).size() == 0)
    throw std::runtime_error("could not make test clip " + name.toStdString() + ": " +
                             process.readAllStandardError().toStdString());
  QFile::remove(path);
  QFile::rename(partial, path);
  return path;
}

}  // namespace

QString Red4x3() {
  return Make("video-red-4x3.avi",
              "videotestsrc pattern=solid-color foreground-color=0xffff0000 num-buffers=100 ! "
              "video/x-raw,width=320,height=240,framerate=25/1 ! jpegenc ! avimux ! "
              "filesink location=%1");
}

QString RedThenGreen() {
  const QString part =
      "videotestsrc pattern=solid-color foreground-color=%1 num-buffers=25 ! "
      "video/x-raw,width=160,height=120,framerate=25/1 ! c. ";
  return Make("video-red-then-green.avi",
              "concat name=c ! videoconvert ! jpegenc ! avimux ! filesink location=%1 " +
                  part.arg("0xffff0000") + part.arg("0xff00ff00"));
}

QString RedThenGreenWithTone() {
  const QString part =
      "videotestsrc pattern=solid-color foreground-color=%1 num-buffers=25 ! "
      "video/x-raw,width=160,height=120,framerate=25/1 ! c. ";
  return Make("video-red-then-green-tone.avi",
              "concat name=c ! videoconvert ! jpegenc ! avimux name=m ! filesink location=%1 " +
                  part.arg("0xffff0000") + part.arg("0xff00ff00") +
                  "audiotestsrc num-buffers=20 samplesperbuffer=4410 ! "
                  "audio/x-raw,rate=44100,channels=1 ! m.");
}

QString Green() {
  return Make("video-green.avi",
              "videotestsrc pattern=solid-color foreground-color=0xff00ff00 num-buffers=25 ! "
              "video/x-raw,width=160,height=120,framerate=25/1 ! jpegenc ! avimux ! "
              "filesink location=%1");
}

QString Tone() {
  return Make("video-tone.wav",
              "audiotestsrc num-buffers=10 samplesperbuffer=4410 ! "
              "audio/x-raw,rate=44100,channels=1 ! wavenc ! filesink location=%1");
}

}  // namespace video_clips
