// Finding the host, connecting, listening and accepting, and the notifications of a
// connection that nobody is reading from.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include "platform/clock.h"
#include "platform/errors.h"
#include "socket/async_sock.h"
#include "tests/socket/loopback_peer.h"

namespace tarnex {
namespace {

using testing::LoopbackClient;
using testing::LoopbackPeer;
using testing::Pump;
using testing::PumpUntil;
using testing::RefusingPort;

// The message of the ESockError that `action` raises, or "" when it raises none.
template <typename Action>
std::string SockErrorOf(Action action) {
  try {
    action();
  } catch (const ESockError& error) {
    return error.Message();
  }
  return "";
}

// Counts of the events a test looks at.
struct Events {
  int connect = 0, disconnect = 0, resolved = 0, failed = 0, errors = 0, data = 0;

  void Attach(TAsyncSock& sock) {
    sock.OnConnect = [this](TAsyncSock&) { ++connect; };
    sock.OnDisconnect = [this](TAsyncSock&) { ++disconnect; };
    sock.OnHostResolved = [this](TAsyncSock&) { ++resolved; };
    sock.OnConnectionFailed = [this](TAsyncSock&) { ++failed; };
    sock.OnError = [this](TAsyncSock&, uint16_t, const std::string&) { ++errors; };
    sock.OnDataAvailable = [this](TAsyncSock&) { ++data; };
  }
};

LoopbackPeer::Script WaitForClose() {
  return [](int fd) { testing::WaitForClose(fd); };
}

TEST(Connect, ADottedAddressOrANameConnects) {
  struct Case {
    const char* host;
    int resolved;  // a dotted address needs no lookup
  } cases[] = {{"127.0.0.1", 0}, {"localhost", 1}};
  for (const auto& c : cases) {
    LoopbackPeer peer(WaitForClose());
    TAsyncSock sock;
    Events events;
    events.Attach(sock);
    sock.Host = c.host;
    sock.Port = peer.port();
    sock.TimeOut = 5000;
    sock.Connect();
    EXPECT_TRUE(sock.Connected) << c.host;
    EXPECT_EQ(events.connect, 1) << c.host;
    EXPECT_EQ(events.resolved, c.resolved) << c.host;
    EXPECT_EQ(sock.LocalAddressText(), "127,0,0,1");
    EXPECT_EQ(net::AddressText(sock.RemoteAddress()), "127.0.0.1");
  }
}

TEST(Connect, AProxyIsConnectedInsteadOfTheHost) {
  LoopbackPeer peer(WaitForClose());
  TAsyncSock sock;
  sock.Host = "no-such-host.invalid";
  sock.Port = 1;
  sock.Proxy = "127.0.0.1";
  sock.ProxyPort = peer.port();
  sock.Connect();
  EXPECT_TRUE(sock.Connected);
  EXPECT_EQ(net::AddressPort(sock.RemoteAddress()), peer.port());
}

TEST(Connect, AHostThatCannotBeFoundEndsWithNullRemoteAddress) {
  for (const char* host : {"no-such-host.invalid", "", "0.0.0.0"}) {
    TAsyncSock sock;
    Events events;
    events.Attach(sock);
    sock.Host = host;
    sock.Port = 21;
    sock.TimeOut = 10000;
    EXPECT_EQ(SockErrorOf([&] { sock.Connect(); }), "Null Remote Address") << host;
    EXPECT_FALSE(sock.Connected);
    EXPECT_EQ(events.resolved, 0);
  }
}

TEST(Connect, OnInvalidHostMayMendTheHostOnce) {
  LoopbackPeer peer(WaitForClose());
  TAsyncSock sock;
  int asked = 0;
  sock.OnInvalidHost = [&](TAsyncSock& s, bool& handled) {
    ++asked;
    s.Host = "127.0.0.1";
    handled = true;
  };
  sock.Host = "no-such-host.invalid";
  sock.Port = peer.port();
  sock.Connect();
  EXPECT_TRUE(sock.Connected);
  EXPECT_EQ(asked, 1);

  TAsyncSock stubborn;
  asked = 0;
  stubborn.OnInvalidHost = [&](TAsyncSock&, bool& handled) {
    ++asked;
    handled = true;  // but the host stays unusable: only one more try
  };
  stubborn.Host = "no-such-host.invalid";
  EXPECT_EQ(SockErrorOf([&] { stubborn.Connect(); }), "Null Remote Address");
  EXPECT_EQ(asked, 1);
}

TEST(Connect, ARefusedConnectionFailsWithoutOnErrorAndTheSocketCanTryAgain) {
  RefusingPort refusing;
  TAsyncSock sock;
  Events events;
  events.Attach(sock);
  sock.Host = "127.0.0.1";
  sock.Port = refusing.port();
  sock.TimeOut = 5000;
  EXPECT_EQ(SockErrorOf([&] { sock.Connect(); }), "Connection Failed");
  EXPECT_EQ(events.failed, 1);
  EXPECT_EQ(events.errors, 0);
  EXPECT_FALSE(sock.LastEventOk);
  EXPECT_FALSE(sock.Connected);

  LoopbackPeer peer(WaitForClose());
  sock.Port = peer.port();
  sock.Connect();
  EXPECT_TRUE(sock.Connected);
}

TEST(Connect, WhileConnectedConnectRaises) {
  LoopbackPeer peer(WaitForClose());
  TAsyncSock sock;
  sock.Host = "127.0.0.1";
  sock.Port = peer.port();
  sock.Connect();
  EXPECT_EQ(SockErrorOf([&] { sock.Connect(); }), "Already connected");
  EXPECT_TRUE(sock.Connected);
}

TEST(Connect, APortOutsideTheRangeIsAnInvalidArgument) {
  TAsyncSock sock;
  Events events;
  events.Attach(sock);
  sock.Host = "127.0.0.1";
  sock.Port = 70000;
  EXPECT_EQ(SockErrorOf([&] { sock.Connect(); }), "10022:Invalid argument");
  EXPECT_EQ(events.errors, 1);
}

// A listener whose accept queue is full: the system drops further connection requests, so a
// connect to it neither succeeds nor fails.
class FullListener {
 public:
  FullListener()
      : listener_(::socket(AF_INET, SOCK_STREAM, 0)), filler_(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address = testing::Loopback(0);
    ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener_, 0);
    port_ = testing::LocalPort(listener_);
    address = testing::Loopback(port_);
    ::connect(filler_, reinterpret_cast<sockaddr*>(&address), sizeof address);
  }
  ~FullListener() {
    ::close(filler_);
    ::close(listener_);
  }
  uint16_t port() const { return port_; }

 private:
  int listener_, filler_;
  uint16_t port_ = 0;
};

TEST(Connect, AConnectionThatDoesNotComeTimesOutOrIsCanceled) {
  FullListener full;
  {
    TAsyncSock sock;
    Events events;
    events.Attach(sock);
    sock.Host = "127.0.0.1";
    sock.Port = full.port();
    sock.TimeOut = 200;
    int64_t start = platform::MonotonicMs();
    EXPECT_EQ(SockErrorOf([&] { sock.Connect(); }), "Connection Timed out");
    EXPECT_GE(platform::MonotonicMs() - start, 150);
    EXPECT_LT(platform::MonotonicMs() - start, 2000);
    EXPECT_TRUE(sock.TimedOut);
    EXPECT_EQ(events.failed, 1);
  }
  {
    TAsyncSock sock;
    sock.Host = "127.0.0.1";
    sock.Port = full.port();
    platform::TimerId cancel =
        platform::MessageLoop::Current().StartTimer(50, [&] { sock.Cancel(); });
    EXPECT_EQ(SockErrorOf([&] { sock.Connect(); }), "Connection Canceled");
    platform::MessageLoop::Current().StopTimer(cancel);
    EXPECT_FALSE(sock.TimedOut);
  }
}

// Resolves every name to 127.0.0.1, but only once the test lets it (or after 5 s): the lookup
// is still running whenever the test needs it to be, however slow the machine.
class HeldLookups {
 public:
  net::Resolver Resolver() {
    return [state = state_](const std::string&) {
      std::unique_lock lock(state->mutex);
      state->released.wait_for(lock, std::chrono::seconds(5), [&] { return state->open; });
      ++state->finished;
      return net::LookupResult{0, {*net::ParseNumericAddress("127.0.0.1")}};
    };
  }
  void Release() {
    std::lock_guard lock(state_->mutex);
    state_->open = true;
    state_->released.notify_all();
  }
  int Finished() const {
    std::lock_guard lock(state_->mutex);
    return state_->finished;
  }

 private:
  struct State {
    mutable std::mutex mutex;
    std::condition_variable released;
    bool open = false;
    int finished = 0;
  };
  std::shared_ptr<State> state_ = std::make_shared<State>();
};

TEST(Connect, ALookupThatTakesTooLongIsAbandoned) {
  HeldLookups lookups;
  {
    TAsyncSock sock;
    sock.Resolver = lookups.Resolver();
    sock.Host = "slow.example";
    sock.TimeOut = 50;
    int64_t start = platform::MonotonicMs();
    EXPECT_EQ(SockErrorOf([&] { sock.Connect(); }), "Host Lookup Timed Out");
    EXPECT_LT(platform::MonotonicMs() - start, 4000);  // the wait ends at once, not with the lookup
  }
  {
    TAsyncSock sock;
    sock.Resolver = lookups.Resolver();
    sock.Host = "slow.example";
    platform::TimerId cancel =
        platform::MessageLoop::Current().StartTimer(20, [&] { sock.Cancel(); });
    EXPECT_EQ(SockErrorOf([&] { sock.Connect(); }), "Host Lookup Canceled");
    platform::MessageLoop::Current().StopTimer(cancel);
  }
  {
    // Destroyed with its lookup still running: the late result must find nothing to touch.
    auto sock = std::make_unique<TAsyncSock>();
    sock->Resolver = lookups.Resolver();
    sock->Host = "slow.example";
    sock->TimeOut = 30;
    EXPECT_THROW(sock->Connect(), ESockError);
    sock.reset();
  }
  EXPECT_EQ(lookups.Finished(), 0);
  lookups.Release();  // the abandoned lookups finish now, with nobody left to hear of them
  EXPECT_TRUE(PumpUntil([&] { return lookups.Finished() == 3; }, 5000));
  Pump(20);
}

TEST(Connect, ALookupThatFailsIsNotPassedOnAsItself) {
  TAsyncSock sock;
  sock.Resolver = [](const std::string&) { return net::LookupResult{11001, {}}; };
  sock.Host = "nowhere.example";
  EXPECT_EQ(SockErrorOf([&] { sock.ResolveHost(); }), "Host Lookup Failed");
  EXPECT_EQ(SockErrorOf([&] { sock.Connect(); }), "Null Remote Address");
}

TEST(CheckConnection, OnConnectionRequiredHasOneChanceToConnect) {
  TAsyncSock sock;
  try {
    sock.CheckConnection();
    ADD_FAILURE();
  } catch (const ESockError&) {
    ADD_FAILURE() << "a plain Exception is expected";
  } catch (const Exception& error) {
    EXPECT_EQ(error.Message(), "Not Connected");
  }

  LoopbackPeer peer(WaitForClose());
  int asked = 0;
  sock.OnConnectionRequired = [&](TAsyncSock& s, bool& handled) {
    ++asked;
    s.Host = "127.0.0.1";
    s.Port = peer.port();
    s.Connect();
    handled = true;
  };
  EXPECT_NO_THROW(sock.CheckConnection());
  EXPECT_EQ(asked, 1);
}

TEST(Listen, AcceptsAConnectionAndUsesItInPlaceOfTheListener) {
  for (bool use_lookup_message : {true, false}) {
    TAsyncSock sock;
    sock.Port = 0;
    sock.Listen(use_lookup_message);
    std::string port_text = sock.LocalPortText();
    unsigned high = 0, low = 0;
    ASSERT_EQ(std::sscanf(port_text.c_str(), ",%u,%u", &high, &low), 2) << port_text;
    uint16_t port = static_cast<uint16_t>(high * 256 + low);
    EXPECT_EQ(port, testing::LocalPort(sock.Socket()));
    int listener = sock.Socket();

    LoopbackClient client(port, [](int fd) {
      testing::SendAll(fd, "150 data\r\n");
      testing::WaitForClose(fd);
    });
    int accepted = sock.Accept();
    EXPECT_GE(accepted, 0);
    EXPECT_EQ(net::AddressText(sock.RemoteAddress()), "127.0.0.1");
    EXPECT_EQ(sock.EventSignalled, use_lookup_message);
    EXPECT_TRUE(sock.Connected);
    sock.UseAcceptedSocket();
    EXPECT_EQ(sock.Socket(), accepted);
    EXPECT_EQ(::fcntl(listener, F_GETFD), -1);  // the listener is closed
    EXPECT_EQ(sock.ReadLn(), "150 data\r\n");
    sock.Disconnect();
  }
}

TEST(Listen, AcceptEndsWhenCanceled) {
  TAsyncSock sock;
  sock.Listen(true);
  platform::TimerId cancel =
      platform::MessageLoop::Current().StartTimer(30, [&] { sock.Cancel(); });
  EXPECT_EQ(SockErrorOf([&] { sock.Accept(); }), "Accepting Canceled");
  platform::MessageLoop::Current().StopTimer(cancel);
}

TEST(Listen, APortInUseIsReported) {
  LoopbackPeer busy([](int) {});
  TAsyncSock sock;
  Events events;
  events.Attach(sock);
  sock.Port = busy.port();
  EXPECT_EQ(SockErrorOf([&] { sock.Listen(true); }), "10048:Address already in use");
  EXPECT_EQ(events.errors, 1);
  // Let the peer's accept wait end.
  LoopbackClient client(busy.port(), [](int) {});
}

TEST(Notifications, APeerThatClosesIsNoticedWhileNothingWaits) {
  struct Case {
    const char* name;
    bool reset;
  } cases[] = {{"orderly close", false}, {"reset", true}};
  for (const auto& c : cases) {
    std::atomic<bool> close_now{false};
    LoopbackPeer peer([&](int fd) {
      while (!close_now) std::this_thread::sleep_for(std::chrono::milliseconds(2));
      if (c.reset)
        testing::ResetConnection(fd);
      else
        ::close(fd);
    });
    peer.MarkClosed();
    TAsyncSock sock;
    Events events;
    events.Attach(sock);
    sock.Host = "127.0.0.1";
    sock.Port = peer.port();
    sock.Connect();
    close_now = true;
    EXPECT_TRUE(PumpUntil([&] { return !sock.Connected; })) << c.name;
    EXPECT_EQ(events.disconnect, 1) << c.name;
    EXPECT_GE(sock.Socket(), 0);  // a fresh socket, ready to connect again
    Pump(30);
    EXPECT_EQ(events.disconnect, 1) << c.name;
  }
}

TEST(Notifications, ACloseWithDataWaitingWaitsForTheReader) {
  LoopbackPeer peer([](int fd) { testing::SendAll(fd, "421 Bye\r\n"); });
  TAsyncSock sock;
  Events events;
  events.Attach(sock);
  sock.Host = "127.0.0.1";
  sock.Port = peer.port();
  sock.Connect();
  peer.Join();
  int64_t cpu_before = testing::ThreadCpuMicros();
  Pump(200);
  // Told once about the data, and not again while nobody reads it: no busy loop.
  EXPECT_EQ(events.data, 1);
  EXPECT_LT(testing::ThreadCpuMicros() - cpu_before, 100'000);
  EXPECT_TRUE(sock.Connected);
  EXPECT_EQ(events.disconnect, 0);

  EXPECT_EQ(sock.ReadLn(), "421 Bye\r\n");
  EXPECT_TRUE(PumpUntil([&] { return !sock.Connected; }));
  EXPECT_EQ(events.disconnect, 1);
}

TEST(Notifications, AFailingHandlerIsSetAsideButNotSilently) {
  LoopbackPeer peer([](int fd) { testing::SendAll(fd, "data\r\n"); });
  TAsyncSock sock;
  std::vector<std::string> set_aside;
  sock.OnDataAvailable = [](TAsyncSock&) { throw Exception("the handler broke"); };
  sock.OnSwallowedError = [&](TAsyncSock&, const std::string& text) { set_aside.push_back(text); };
  sock.Host = "127.0.0.1";
  sock.Port = peer.port();
  sock.Connect();
  EXPECT_TRUE(PumpUntil([&] { return !set_aside.empty(); }));
  EXPECT_EQ(set_aside.front(), "Socket notification: the handler broke");
  EXPECT_EQ(sock.ReadLn(), "data\r\n");  // the socket goes on
}

TEST(Destruction, NeverThrowsAndClosesTheSocket) {
  std::atomic<bool> closed{false};
  LoopbackPeer peer([&](int fd) { closed = testing::WaitForClose(fd); });
  int disconnects = 0;
  {
    TAsyncSock sock;
    sock.OnDisconnect = [&](TAsyncSock&) { ++disconnects; };
    sock.OnStatus = [](TAsyncSock&, const std::string&) {
      throw Exception("status display broke");
    };
    sock.ReportLevel = 8;
    sock.Host = "127.0.0.1";
    sock.Port = peer.port();
    sock.Connect();
  }
  peer.Join();
  EXPECT_TRUE(closed);
  EXPECT_EQ(disconnects, 0);  // nobody is told of a close during destruction
}

TEST(Construction, NoSocketToBeHadIsReported) {
  platform::MessageLoop::Current();  // the thread's loop exists before the limit drops
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
  rlimit none = saved;
  none.rlim_cur = 0;  // no descriptor can be opened now
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &none), 0);
  std::string message;
  try {
    TAsyncSock sock;
  } catch (const ESockError& error) {
    message = error.Message();
  }
  setrlimit(RLIMIT_NOFILE, &saved);
  EXPECT_EQ(message, "Initializaton of windows sockets failed");
}

}  // namespace
}  // namespace tarnex
