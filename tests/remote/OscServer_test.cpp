#include "remote/OscServer.h"
#include "remote/OscPacket.h"
#include "remote/WebRemote.h"
#include "support/TestSupport.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkDatagram>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUdpSocket>
#include <QWebSocket>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace remote {
namespace {

using testing_support::WaitFor;

// Two windows of 36 and 3 keys; records every call as text.
class RecordingTarget : public RemoteTarget {
 public:
  std::vector<std::string> calls;
  WindowState state;
  // Runs after each call is recorded.
  std::function<void(const std::string&)> onCall;

  std::vector<WindowInfo> Windows() const override {
    return {{0, 0, "show.wql", 36}, {1, 0, "", 3}};
  }
  void Key(int window, int key, bool down) override {
    Record("key " + std::to_string(window) + " " + std::to_string(key) + (down ? " down" : " up"));
  }
  void Play(int window) override { Record("play " + std::to_string(window)); }
  void Stop(int window) override { Record("stop " + std::to_string(window)); }
  void SetLoop(int, bool) override { Record("loop"); }
  void SetSustain(int, bool) override { Record("sustain"); }
  void SetVolume(int, int) override { Record("volume"); }
  void SetRate(int, int) override { Record("rate"); }
  bool LoadSet(int, const std::string&) override {
    Record("set");
    return false;
  }
  WindowState State(int) const override { return state; }
  std::vector<KeyInfo> Keys(int) const override { return {{0, "intro"}, {2, "applause"}}; }

 private:
  void Record(std::string call) {
    calls.push_back(call);
    if (onCall) onCall(call);
  }
};

OscArgument I(int v) {
  OscArgument a;
  a.type = 'i';
  a.i = v;
  return a;
}

QByteArray Packet(const std::string& address, std::vector<OscArgument> args = {}) {
  const std::vector<char> bytes = EncodeOscMessage({address, std::move(args)});
  return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

// A press of key 4 that shows a message box: the box runs an event loop of
// its own (for up to 5 s) while `sendNext` sends a press of key 5, and
// `heardWhileShown` is set once that press is heard with the box still up.
std::function<void(const std::string&)> ShowsABoxOnKey4(std::function<void()> sendNext,
                                                        bool& heardWhileShown) {
  auto box = std::make_shared<QEventLoop*>(nullptr);
  return [box, sendNext, &heardWhileShown](const std::string& call) {
    if (call == "key 0 5 down" && *box != nullptr) {
      heardWhileShown = true;
      (*box)->quit();
    }
    if (call != "key 0 4 down") return;
    QEventLoop shown;
    *box = &shown;
    QTimer::singleShot(5000, &shown, &QEventLoop::quit);
    sendNext();
    shown.exec();
    *box = nullptr;
  };
}

class OscServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server = std::make_unique<OscServer>(target);
    server->Log = [this](const std::string& line) { logged.push_back(line); };
    QString why;
    ASSERT_TRUE(server->Start(0, {}, &why)) << why.toStdString();
    ASSERT_TRUE(client.bind(QHostAddress::LocalHost, 0));
  }

  void Send(const QByteArray& bytes, const QHostAddress& to = QHostAddress::LocalHost) {
    ASSERT_EQ(client.writeDatagram(bytes, to, server->Port()), bytes.size());
  }

  // What came back to the client, by address.
  std::vector<std::string> Replies() {
    std::vector<std::string> addresses;
    while (client.hasPendingDatagrams()) {
      const QByteArray data = client.receiveDatagram().data();
      addresses.push_back(DecodeOscPacket(data.constData(), data.size()).message.address);
    }
    return addresses;
  }

  RecordingTarget target;
  std::unique_ptr<OscServer> server;
  std::vector<std::string> logged;
  QUdpSocket client;
};

TEST_F(OscServerTest, AnswersBadPacketsWithNothingAndGoesOn) {
  const QByteArray bad[] = {
      QByteArray("garbage"),
      QByteArray(2000, '/'),
      QByteArray("/tastivo/0/play\0", 16),  // no type tags and no padding rules kept
      QByteArray("#bundle\0\0\0\0\0\0\0\0\1", 16),
      Packet("/tastivo/0/key/36", {I(1)}),
      Packet("/tastivo/7/play"),
      Packet("/tastivo/0/key/1", {I(5)}),
      Packet("/tastivo/0/volume", {I(1), I(2)}),
      Packet("/nowhere"),
      Packet("/tastivo/windows", {I(1)}),
  };
  for (const QByteArray& packet : bad) Send(packet);
  Send(Packet("/tastivo/windows"));
  ASSERT_TRUE(WaitFor([&] { return client.hasPendingDatagrams(); }));
  // The windows' list is three messages; nothing else comes back.
  ASSERT_TRUE(WaitFor([&] { return server->Handled() == 1; }));
  std::vector<std::string> replies;
  ASSERT_TRUE(WaitFor([&] {
    for (auto& r : Replies()) replies.push_back(r);
    return replies.size() >= 3;
  }));
  EXPECT_EQ(replies,
            (std::vector<std::string>{"/tastivo/windows", "/tastivo/window", "/tastivo/window"}));
  EXPECT_TRUE(target.calls.empty());
  EXPECT_GE(server->Rejections().Total(), std::size(bad) - 1);
  EXPECT_LT(logged.size(), std::size(bad) / 2) << "refusals are logged once a second at most";
}

TEST_F(OscServerTest, ListensOnTheLoopbackAddressOnlyUntilOthersAreAllowed) {
  // Another address of this machine: nobody listens there, so the press
  // never arrives, and the one sent after it does.
  Send(Packet("/tastivo/0/key/4", {I(1)}), QHostAddress(QStringLiteral("127.0.0.2")));
  Send(Packet("/tastivo/0/key/5", {I(1)}));
  ASSERT_TRUE(WaitFor([&] { return !target.calls.empty(); }));
  EXPECT_EQ(target.calls, std::vector<std::string>{"key 0 5 down"});
}

TEST_F(OscServerTest, LetsGoOfTheKeysItHoldsWhenItStops) {
  Send(Packet("/tastivo/0/key/4", {I(1)}));
  Send(Packet("/tastivo/1/key/2", {I(1)}));
  Send(Packet("/tastivo/1/key/2", {I(0)}));
  ASSERT_TRUE(WaitFor([&] { return target.calls.size() == 3; }));
  server->Stop();
  EXPECT_EQ(target.calls.back(), "key 0 4 up");
  EXPECT_EQ(target.calls.size(), 4u);
}

// A press that shows a message box (a clip that can't be played) runs the
// box's event loop inside it: the presses sent meanwhile still reach the
// windows, as MIDI notes do, instead of waiting for the box to be closed.
TEST_F(OscServerTest, HearsPressesWhileAPressShowsAMessageBox) {
  bool heardWhileShown = false;
  target.onCall =
      ShowsABoxOnKey4([&] { Send(Packet("/tastivo/0/key/5", {I(1)})); }, heardWhileShown);
  Send(Packet("/tastivo/0/key/4", {I(1)}));
  ASSERT_TRUE(WaitFor([&] { return target.calls.size() == 2; }, std::chrono::seconds(10)));
  EXPECT_TRUE(heardWhileShown) << "the press waited for the box to be closed";
}

TEST_F(OscServerTest, PushesTheStateToSubscribersWhenItChanges) {
  Send(Packet("/tastivo/subscribe"));
  std::vector<std::string> pushed;
  ASSERT_TRUE(WaitFor([&] {
    for (auto& r : Replies()) pushed.push_back(r);
    return pushed.size() >= 2;
  }));
  EXPECT_EQ(pushed, (std::vector<std::string>{"/tastivo/0/state", "/tastivo/1/state"}));
  target.state.key = 3;
  target.state.playing = true;
  pushed.clear();
  ASSERT_TRUE(WaitFor([&] {
    for (auto& r : Replies()) pushed.push_back(r);
    return pushed.size() >= 2;
  }));
  EXPECT_EQ(pushed, (std::vector<std::string>{"/tastivo/0/state", "/tastivo/1/state"}));
}

class WebRemoteTest : public ::testing::Test {
 protected:
  static constexpr const char* kToken = "0123456789abcdef0123456789abcdef";

  void SetUp() override {
    web = std::make_unique<WebRemote>(target);
    QString why;
    ASSERT_TRUE(web->Start(0, false, kToken, &why)) << why.toStdString();
    base = QStringLiteral("http://127.0.0.1:%1").arg(web->Port());
  }

  // The status of a GET of path, and its body.
  std::pair<int, QByteArray> Get(const QString& path) {
    QNetworkReply* reply = network.get(QNetworkRequest(QUrl(base + path)));
    EXPECT_TRUE(WaitFor([&] { return reply->isFinished(); }));
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QByteArray body = reply->readAll();
    reply->deleteLater();
    return {status, body};
  }

  RecordingTarget target;
  std::unique_ptr<WebRemote> web;
  QString base;
  QNetworkAccessManager network;
};

TEST_F(WebRemoteTest, AnswersARequestWithoutTheRightTokenWith401AndNothingElse) {
  for (const QString& path : {QStringLiteral("/"), QStringLiteral("/?t=0123"),
                              QStringLiteral("/?t=0123456789abcdef0123456789abcdeX"),
                              QStringLiteral("/etc/passwd"), QStringLiteral("/ws")}) {
    const auto [status, body] = Get(path);
    EXPECT_EQ(status, 401) << path.toStdString();
    EXPECT_TRUE(body.isEmpty()) << path.toStdString();
  }
  const auto [status, body] = Get(QStringLiteral("/?t=") + kToken);
  EXPECT_EQ(status, 200);
  EXPECT_TRUE(body.contains("<title>Tastivo remote</title>"));
}

TEST_F(WebRemoteTest, TakesKeysOnlyOverAWebSocketFromThePagesOwnOrigin) {
  const QUrl url(QStringLiteral("ws://127.0.0.1:%1/ws?t=%2").arg(web->Port()).arg(kToken));
  QStringList received;
  auto open = [&](const QString& origin) {
    auto socket = std::make_unique<QWebSocket>(origin);
    QObject::connect(socket.get(), &QWebSocket::textMessageReceived,
                     [&](const QString& text) { received << text; });
    socket->open(url);
    WaitFor([&] {
      const bool accepted =
          socket->state() == QAbstractSocket::ConnectedState && web->Clients() > 0;
      return accepted || socket->state() == QAbstractSocket::UnconnectedState;
    });
    return socket;
  };
  // Another site's page in the phone's browser.
  std::unique_ptr<QWebSocket> stranger = open(QStringLiteral("http://evil.example"));
  stranger->sendTextMessage(QStringLiteral(R"({"a":"/tastivo/0/key/2","v":[1]})"));
  EXPECT_TRUE(WaitFor([&] { return stranger->state() == QAbstractSocket::UnconnectedState; }));
  EXPECT_EQ(web->Clients(), 0);

  std::unique_ptr<QWebSocket> page = open(base);
  ASSERT_EQ(web->Clients(), 1);
  ASSERT_TRUE(WaitFor([&] { return received.join(u' ').contains(u"applause"); }))
      << "the page is told the keys and their labels: " << received.join(u'|').toStdString()
      << " state " << page->state();
  page->sendTextMessage(QStringLiteral(R"({"a":"/tastivo/0/key/2","v":[1]})"));
  page->sendTextMessage(QStringLiteral(R"({"a":"/tastivo/0/key/99","v":[1]})"));
  page->sendTextMessage(QStringLiteral("not json"));
  ASSERT_TRUE(WaitFor([&] { return !target.calls.empty(); }));
  // Wi-Fi drops while the key is held: the program lets go of it.
  page->abort();
  ASSERT_TRUE(WaitFor([&] { return target.calls.size() == 2; }));
  EXPECT_EQ(target.calls, (std::vector<std::string>{"key 0 2 down", "key 0 2 up"}));
}

// As for OSC: the presses sent while a press shows a message box reach the
// windows, instead of waiting for the box to be closed.
TEST_F(WebRemoteTest, HearsPressesWhileAPressShowsAMessageBox) {
  const QUrl url(QStringLiteral("ws://127.0.0.1:%1/ws?t=%2").arg(web->Port()).arg(kToken));
  QWebSocket page(base);
  page.open(url);
  ASSERT_TRUE(WaitFor(
      [&] { return page.state() == QAbstractSocket::ConnectedState && web->Clients() > 0; }));
  bool heardWhileShown = false;
  target.onCall = ShowsABoxOnKey4(
      [&] { page.sendTextMessage(QStringLiteral(R"({"a":"/tastivo/0/key/5","v":[1]})")); },
      heardWhileShown);
  page.sendTextMessage(QStringLiteral(R"({"a":"/tastivo/0/key/4","v":[1]})"));
  ASSERT_TRUE(WaitFor([&] { return target.calls.size() == 2; }));
  EXPECT_TRUE(heardWhileShown) << "the press waited for the box to be closed";
}

}  // namespace
}  // namespace remote
