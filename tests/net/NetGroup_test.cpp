#include "net/NetGroup.h"
#include "net/NetMessage.h"
#include "support/TestSupport.h"

#include <QSignalSpy>
#include <QUdpSocket>

#include <gtest/gtest.h>

#include <map>
#include <memory>

namespace net {
namespace {

using testing_support::WaitFor;

constexpr char kToken[] = "0123456789abcdef0123456789abcdef";

// A host and machines joined to it on loopback, each with a group clock of
// its own that the test sets.
class NetGroupTest : public ::testing::Test {
 protected:
  NetGroup& Machine(const QString& name, const QString& token = kToken) {
    NetGroupSettings settings{QStringLiteral("show"), name, token, std::chrono::milliseconds(50),
                              std::chrono::seconds(1)};
    machines_[name] = std::make_unique<NetGroup>(settings, [this, name] { return clock_[name]; });
    return *machines_[name];
  }
  NetGroup& Host() {
    NetGroup& host = Machine(QStringLiteral("A"));
    EXPECT_TRUE(host.Host(QHostAddress::LocalHost, 0, 5637));
    return host;
  }
  NetGroup& Joined(const QString& name) {
    NetGroup& member = Machine(name);
    QSignalSpy welcomed(&member, &NetGroup::Welcomed);
    EXPECT_TRUE(member.Join(QHostAddress::LocalHost, machines_[QStringLiteral("A")]->Port()));
    EXPECT_TRUE(WaitFor([&] { return welcomed.count() == 1; }));
    EXPECT_EQ(welcomed.at(0).at(0).value<quint16>(), 5637);
    return member;
  }

  std::map<QString, std::uint64_t> clock_;
  std::map<QString, std::unique_ptr<NetGroup>> machines_;
};

TEST_F(NetGroupTest, AMemberJoinsWithTheTokenAndItsPressReachesEveryMachine) {
  NetGroup& a = Host();
  QSignalSpy joined(&a, &NetGroup::MemberJoined);
  NetGroup& b = Joined(QStringLiteral("B"));
  NetGroup& c = Joined(QStringLiteral("C"));
  EXPECT_EQ(joined.count(), 2);
  QSignalSpy onA(&a, &NetGroup::RemotePress), onC(&c, &NetGroup::RemotePress);
  b.Press(7, 5'000'000);
  ASSERT_TRUE(WaitFor([&] { return onA.count() == 1 && onC.count() == 1; }));
  for (QSignalSpy* spy : {&onA, &onC}) {
    EXPECT_EQ(spy->at(0).at(0).toInt(), 7);
    EXPECT_EQ(spy->at(0).at(1).value<std::uint64_t>(), 5'000'000u);
    EXPECT_EQ(spy->at(0).at(2).value<std::uint64_t>(), 0u);
    EXPECT_EQ(spy->at(0).at(3).toString(), QStringLiteral("B"));
  }
  // The echoes of the machines' messages measure the delay a press must allow for.
  EXPECT_TRUE(WaitFor([&] { return b.FarthestOneWayNs() > 0 && a.FarthestOneWayNs() > 0; }));
}

TEST_F(NetGroupTest, AMachineThatLeavesIsNamedOnEveryOther) {
  NetGroup& a = Host();
  NetGroup& b = Joined(QStringLiteral("B"));
  NetGroup& c = Joined(QStringLiteral("C"));
  QSignalSpy leftA(&a, &NetGroup::MemberLeft), leftB(&b, &NetGroup::MemberLeft);
  c.Leave();
  ASSERT_TRUE(WaitFor([&] { return leftA.count() == 1 && leftB.count() == 1; }));
  EXPECT_EQ(leftA.at(0).at(0).toString(), QStringLiteral("C"));
  EXPECT_EQ(leftB.at(0).at(0).toString(), QStringLiteral("C"));
  EXPECT_EQ(a.Peers(), QStringList{QStringLiteral("B")});
}

TEST_F(NetGroupTest, AMemberLostMidShowIsNamedAndTheOthersGoOn) {
  NetGroup& a = Host();
  Joined(QStringLiteral("B"));
  NetGroup& c = Joined(QStringLiteral("C"));
  QSignalSpy lostA(&a, &NetGroup::MemberLost), lostC(&c, &NetGroup::MemberLost);
  machines_.erase(QStringLiteral("B"));  // gone without a word, as a machine that crashed
  ASSERT_TRUE(WaitFor([&] { return lostA.count() == 1 && lostC.count() == 1; }));
  EXPECT_EQ(lostA.at(0).at(0).toString(), QStringLiteral("B"));
  EXPECT_EQ(lostC.at(0).at(0).toString(), QStringLiteral("B"));
  QSignalSpy onC(&c, &NetGroup::RemotePress);
  a.Press(3, 1'000'000);
  ASSERT_TRUE(WaitFor([&] { return onC.count() == 1; }));
  EXPECT_TRUE(c.Connected());
}

TEST_F(NetGroupTest, APressDueBeforeItArrivesPlaysAtOnceAndSaysHowLate) {
  NetGroup& a = Host();
  NetGroup& b = Joined(QStringLiteral("B"));
  b.SetLocalLead(2'000'000);
  clock_[QStringLiteral("B")] = 1'000'000'000;
  QSignalSpy onB(&b, &NetGroup::RemotePress);
  a.Press(1, 990'000'000);
  ASSERT_TRUE(WaitFor([&] { return onB.count() == 1; }));
  EXPECT_EQ(onB.at(0).at(2).value<std::uint64_t>(), 12'000'000u);
}

TEST_F(NetGroupTest, AWrongTokenIsRefusedWhetherJoiningOrPressing) {
  NetGroup& a = Host();
  NetGroup& b = Joined(QStringLiteral("B"));
  QSignalSpy joined(&a, &NetGroup::MemberJoined);
  NetGroup& intruder = Machine(QStringLiteral("X"), QStringLiteral("fedcba9876543210fedcba98"));
  QSignalSpy refused(&intruder, &NetGroup::Refused);
  ASSERT_TRUE(intruder.Join(QHostAddress::LocalHost, a.Port()));
  ASSERT_TRUE(WaitFor([&] { return refused.count() == 1; }));
  EXPECT_EQ(refused.at(0).at(0).toString(), QStringLiteral("wrong pairing token"));
  EXPECT_EQ(joined.count(), 0);

  // A press sent straight to a member with a wrong token is not played.
  QSignalSpy rejected(&b, &NetGroup::Rejected), onB(&b, &NetGroup::RemotePress);
  NetMessage forged;
  forged.kind = MessageKind::kPress;
  forged.group = "show";
  forged.token = "fedcba9876543210fedcba98";
  forged.key = 1;
  const std::vector<char> bytes = EncodeMessage(forged);
  QUdpSocket socket;
  socket.writeDatagram(bytes.data(), static_cast<qint64>(bytes.size()), QHostAddress::LocalHost,
                       b.Port());
  ASSERT_TRUE(WaitFor([&] { return rejected.count() == 1; }));
  EXPECT_EQ(rejected.at(0).at(1).toString(), QStringLiteral("wrong pairing token"));
  EXPECT_EQ(onB.count(), 0);
}

}  // namespace
}  // namespace net
