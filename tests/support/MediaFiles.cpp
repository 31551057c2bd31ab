#include "support/MediaFiles.h"

#include "support/TestSupport.h"

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <cmath>
#include <stdexcept>
#include <vector>

namespace media_files {

namespace {

QString Make(const QString& name, const QString& pipeline) {
  return testing_support::CachedFile(name, pipeline, [&](const QString& partial) {
    QProcess process;
    QStringList args{"-q"};
    args += QProcess::splitCommand(QString(pipeline).arg(partial));
    process.start("gst-launch-1.0", args);
    if (!process.waitForFinished(30000) || process.exitCode() != 0)
      throw std::runtime_error("could not make test clip " + name.toStdString() + ": " +
                               process.readAllStandardError().toStdString());
  });
}

// A copy of a generated clip under another name.
QString Renamed(const QString& source, const QString& name) {
  return testing_support::CachedFile(name, source, [&](const QString& partial) {
    if (!QFile::copy(source, partial))
      throw std::runtime_error("could not make test clip " + name.toStdString());
  });
}

const char* kTone =
    "audiotestsrc num-buffers=20 samplesperbuffer=4410 freq=440 ! "
    "audio/x-raw,rate=44100,channels=2 ! ";

}  // namespace

QString Sine(double hertz, double seconds, int channels) {
  return Make(QString("sine-%1hz-%2ch-%3s.wav").arg(hertz).arg(channels).arg(seconds),
              QString("audiotestsrc wave=sine freq=%1 volume=0.5 samplesperbuffer=4800 "
                      "num-buffers=%2 ! audio/x-raw,format=F32LE,rate=48000,channels=%3 ! "
                      "wavenc ! filesink location=%4")
                  .arg(hertz)
                  .arg(int(seconds * 10))
                  .arg(channels)
                  .arg("%1"));
}

QString StartMarker() {
  const QString generator = QString("float ramp marker, %1 frames of 48 kHz").arg(kMarkerFrames);
  return testing_support::CachedFile("start-marker.wav", generator, [](const QString& partial) {
    const int frames = 2 * kMarkerFrames;
    std::vector<float> samples;
    for (int i = 0; i < frames; ++i) {
      samples.push_back(0.8f);
      samples.push_back(i < kMarkerFrames ? 0.8f * float(kMarkerFrames - i) / kMarkerFrames : 0.f);
    }
    QFile file(partial);
    if (!file.open(QIODevice::WriteOnly))
      throw std::runtime_error("could not write " + partial.toStdString());
    QDataStream out(&file);
    out.setByteOrder(QDataStream::LittleEndian);
    const quint32 bytes = quint32(samples.size() * sizeof(float));
    out.writeRawData("RIFF", 4);
    out << quint32(36 + bytes);
    out.writeRawData("WAVEfmt ", 8);
    // 32-bit float (format 3), stereo, 48 kHz.
    out << quint32(16) << quint16(3) << quint16(2) << quint32(48000) << quint32(48000 * 8)
        << quint16(8) << quint16(32);
    out.writeRawData("data", 4);
    out << bytes;
    out.writeRawData(reinterpret_cast<const char*>(samples.data()), int(bytes));
  });
}

QString SineBurst() {
  return testing_support::CachedFile(
      "sine-burst.wav", "1 kHz burst 1.0-1.5 s in 4 s at 48 kHz", [](const QString& partial) {
        constexpr int kRate = 48000;
        std::vector<float> samples(4 * kRate, 0.f);
        for (int i = kRate; i < kRate * 3 / 2; ++i)
          samples[i] = 0.8f * float(std::sin(2 * M_PI * 1000.0 * i / kRate));
        QFile file(partial);
        if (!file.open(QIODevice::WriteOnly))
          throw std::runtime_error("could not write " + partial.toStdString());
        QDataStream out(&file);
        out.setByteOrder(QDataStream::LittleEndian);
        const quint32 bytes = quint32(samples.size() * sizeof(float));
        out.writeRawData("RIFF", 4);
        out << quint32(36 + bytes);
        out.writeRawData("WAVEfmt ", 8);
        out << quint32(16) << quint16(3) << quint16(1) << quint32(kRate) << quint32(kRate * 4)
            << quint16(4) << quint16(32);
        out.writeRawData("data", 4);
        out << bytes;
        out.writeRawData(reinterpret_cast<const char*>(samples.data()), int(bytes));
      });
}

QString ToneWav() {
  return Make("tone.wav", QString(kTone) + "wavenc ! filesink location=%1");
}

QString LongToneWav() {
  return Make("tone-long.wav",
              "audiotestsrc num-buffers=100 samplesperbuffer=4410 freq=440 ! "
              "audio/x-raw,rate=44100,channels=2 ! wavenc ! filesink location=%1");
}

QString SilentWav() {
  return Make("silence.wav",
              "audiotestsrc wave=silence num-buffers=20 samplesperbuffer=4410 ! "
              "audio/x-raw,rate=44100,channels=2 ! wavenc ! filesink location=%1");
}

QString ToneWavHalfRate() {
  return Make("tone-half-rate.wav",
              "audiotestsrc num-buffers=20 samplesperbuffer=4410 freq=440 ! "
              "audio/x-raw,rate=22050,channels=2 ! wavenc ! filesink location=%1");
}

QString ToneOgg() {
  return Make("tone.ogg",
              QString(kTone) + "audioconvert ! vorbisenc ! oggmux ! filesink location=%1");
}

QString ToneAiff() {
  return Make("tone.aiff", QString(kTone) + "aiffmux ! filesink location=%1");
}

QString ChainedOgg() {
  const QString second = Make("tone-880.ogg",
                              "audiotestsrc num-buffers=20 samplesperbuffer=4410 freq=880 ! "
                              "audio/x-raw,rate=44100,channels=2 ! audioconvert ! vorbisenc ! "
                              "oggmux ! filesink location=%1");
  const QString first = ToneOgg();
  return testing_support::CachedFile("chained.ogg", first + "+" + second,
                                     [&](const QString& partial) {
                                       QFile out(partial);
                                       if (!out.open(QIODevice::WriteOnly)) return;
                                       for (const QString& part : {first, second}) {
                                         QFile in(part);
                                         if (in.open(QIODevice::ReadOnly)) out.write(in.readAll());
                                       }
                                     });
}

QString ToneMp3() {
  return Make("tone.mp3", QString(kTone) + "lamemp3enc ! xingmux ! filesink location=%1");
}

QString ToneRawMp3() {
  // Without the seek table the parser can only estimate the length from the
  // bit rate of frames it has read, which it has not at preroll.
  return Make("tone-raw.mp3", QString(kTone) + "lamemp3enc ! filesink location=%1");
}

QString ToneVbrMp3() {
  return Make("tone-vbr.mp3",
              QString(kTone) + "lamemp3enc target=quality quality=4 ! filesink location=%1");
}

QString ToneAdts() {
  return Make("tone.aac",
              QString(kTone) + "voaacenc ! audio/mpeg,stream-format=adts ! filesink location=%1");
}

QString RedAvi() {
  return Make("red.avi",
              "videotestsrc pattern=solid-color foreground-color=0xffff0000 num-buffers=25 ! "
              "video/x-raw,width=160,height=120,framerate=25/1 ! jpegenc ! avimux name=m ! "
              "filesink location=%1 audiotestsrc num-buffers=10 samplesperbuffer=4410 ! "
              "audio/x-raw,rate=44100,channels=1,format=S16LE ! m.");
}

QString RedSilentAvi() {
  return Make("red-silent.avi",
              "videotestsrc pattern=solid-color foreground-color=0xffff0000 num-buffers=25 ! "
              "video/x-raw,width=160,height=120,framerate=25/1 ! jpegenc ! avimux ! "
              "filesink location=%1");
}

QString ShortMidi() {
  // One track, 96 ticks a quarter at 120 bpm: a middle C held for 192 ticks.
  const unsigned char track[] = {0x00, 0x90, 0x3C, 0x64, 0x81, 0x40, 0x80,
                                 0x3C, 0x40, 0x00, 0xFF, 0x2F, 0x00};
  QByteArray bytes("MThd\0\0\0\x06\0\0\0\x01\0\x60", 14);
  bytes += QByteArray("MTrk\0\0\0", 7) + char(sizeof track);
  bytes += QByteArray(reinterpret_cast<const char*>(track), sizeof track);
  return testing_support::CachedFile("note.mid", QString::fromLatin1(bytes.toHex()),
                                     [&](const QString& partial) {
                                       QFile file(partial);
                                       if (file.open(QIODevice::WriteOnly)) file.write(bytes);
                                     });
}

QString Corrupt() {
  // A damaged header followed by text: no decoder can make sense of it.
  QByteArray junk("RIFF\xff\xff\xff\x7fWAVEfmt ", 16);
  for (int i = 0; i < 2000; ++i) junk += "this is not a clip\n";
  return testing_support::CachedFile("corrupt.mp3", QString::fromLatin1(junk.toHex()),
                                     [&](const QString& partial) {
                                       QFile file(partial);
                                       if (file.open(QIODevice::WriteOnly)) file.write(junk);
                                     });
}

QString GreenMpg() {
  return Make("green.mpg",
              "videotestsrc pattern=solid-color foreground-color=0xff00ff00 num-buffers=25 ! "
              "video/x-raw,width=160,height=128,framerate=25/1,format=I420 ! mpeg2enc format=0 ! "
              "mpegpsmux name=m ! filesink location=%1 audiotestsrc num-buffers=10 "
              "samplesperbuffer=4410 ! audio/x-raw,rate=44100,channels=2 ! avenc_mp2 ! "
              "mpegaudioparse ! m.");
}

QString FfmpegMpg() {
  return Make("ffmpeg.mpg",
              "videotestsrc num-buffers=100 ! "
              "video/x-raw,width=160,height=128,framerate=25/1,format=I420 ! mpeg2enc format=0 ! "
              "avmux_mpeg name=m ! filesink location=%1 audiotestsrc "
              "num-buffers=40 samplesperbuffer=4410 ! audio/x-raw,rate=44100,channels=2 ! "
              "avenc_mp2 ! m.");
}

QString GreenDat() {
  return Renamed(GreenMpg(), "green.dat");
}

QString BlueDivx() {
  return Make("blue.divx",
              "videotestsrc pattern=solid-color foreground-color=0xff0000ff num-buffers=25 ! "
              "video/x-raw,width=160,height=120,framerate=25/1 ! avenc_mpeg4 ! avimux name=m ! "
              "filesink location=%1 audiotestsrc num-buffers=10 samplesperbuffer=4410 ! "
              "audio/x-raw,rate=44100,channels=1,format=S16LE ! m.");
}

QString BlueDvx() {
  return Renamed(BlueDivx(), "blue.dvx");
}

QString ToneRiff() {
  return Renamed(ToneWav(), "tone.riff");
}

QString ShortKar() {
  return Renamed(ShortMidi(), "note.kar");
}

}  // namespace media_files
