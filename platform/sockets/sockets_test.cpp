// The sockets concept's promises on the loopback, the same on every build: a connection
// carries bytes both ways, the peer's close is seen, failures carry their Windows Sockets
// codes, and bounded waits end with WSAETIMEDOUT.
#include "platform/sockets/sockets.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using platform::kNoSocket;
using platform::Socket;

const int kRefused = 10061;     // WSAECONNREFUSED
const int kTimedOut = 10060;    // WSAETIMEDOUT
const int kAddressInUse = 10048;  // WSAEADDRINUSE

uint32_t loopback() { return platform::address_from_text("127.0.0.1"); }

class Sockets : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(platform::start_sockets()); }
  void TearDown() override {
    for (Socket s : opened_) platform::close_socket(s);
  }

  Socket open() {
    Socket s = platform::open_tcp_socket();
    EXPECT_NE(kNoSocket, s) << platform::last_socket_error();
    opened_.push_back(s);
    return s;
  }

  // A listening socket on the loopback at a port the system chose; its port in port_.
  Socket listener(int backlog = 4) {
    Socket s = open();
    EXPECT_EQ(0, platform::bind_socket(s, loopback(), 0)) << platform::last_socket_error();
    EXPECT_EQ(0, platform::listen_socket(s, backlog)) << platform::last_socket_error();
    EXPECT_TRUE(platform::socket_port(s, port_));
    EXPECT_NE(0, port_);
    return s;
  }

  // The server's side of a connection from client to a new listener, or kNoSocket.
  Socket connect_and_accept(Socket client) {
    Socket server = listener();
    if (platform::connect_socket(client, loopback(), port_) != 0) {
      ADD_FAILURE() << "connect: " << platform::last_socket_error();
      return kNoSocket;
    }
    Socket accepted = platform::accept_socket(server);
    if (accepted != kNoSocket) opened_.push_back(accepted);
    return accepted;
  }

  // A port where nothing listens: bound for a moment and let go.
  uint16_t unused_port() {
    Socket s = platform::open_tcp_socket();
    uint16_t port = 0;
    EXPECT_EQ(0, platform::bind_socket(s, loopback(), 0));
    EXPECT_TRUE(platform::socket_port(s, port));
    platform::close_socket(s);
    return port;
  }

  std::string receive_all(Socket s) {
    std::string text;
    char buf[64];
    int n;
    while ((n = platform::receive_bytes(s, buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
    EXPECT_EQ(0, n) << "the peer's close ends the stream";
    return text;
  }

  uint16_t port_ = 0;
  std::vector<Socket> opened_;
};

TEST_F(Sockets, AConnectionCarriesBytesBothWaysAndSeesThePeersClose) {
  Socket client = open();
  Socket accepted = connect_and_accept(client);
  ASSERT_NE(kNoSocket, accepted);
  EXPECT_FALSE(platform::connected_to_itself(client));

  const std::string request("ask\0with a zero", 15);
  ASSERT_EQ(15, platform::send_bytes(client, request.data(), 15));
  char buf[15];
  int got = 0;
  while (got < 15) {
    const int n = platform::receive_bytes(accepted, buf + got, 15 - got);
    ASSERT_GT(n, 0);
    got += n;
  }
  EXPECT_EQ(request, std::string(buf, 15));

  ASSERT_EQ(6, platform::send_bytes(accepted, "answer", 6));
  platform::close_socket(accepted);
  opened_.pop_back();
  EXPECT_EQ("answer", receive_all(client));
}

TEST_F(Sockets, ConnectingWhereNothingListensIsRefused) {
  const uint16_t port = unused_port();
  Socket plain = open();
  EXPECT_EQ(-1, platform::connect_socket(plain, loopback(), port));
  EXPECT_EQ(kRefused, platform::last_socket_error());
  // A bounded connect is refused just the same, not timed out.
  Socket bounded = open();
  EXPECT_EQ(-1, platform::connect_socket_within(bounded, loopback(), port, 5000));
  EXPECT_EQ(kRefused, platform::last_socket_error());
}

TEST_F(Sockets, ABoundedConnectToAListenerSucceeds) {
  listener();
  Socket client = open();
  EXPECT_EQ(0, platform::connect_socket_within(client, loopback(), port_, 5000)) << platform::last_socket_error();
}

// A listener that accepts nobody: once its queue is full, the system drops further
// connection requests, and a bounded connect gives up.
TEST_F(Sockets, ABoundedConnectGivesUpWhenNobodyAnswers) {
  listener(1);
  int result = 0, error = 0;
  for (int i = 0; i < 16 && result == 0; ++i) {
    result = platform::connect_socket_within(open(), loopback(), port_, 300);
    error = platform::last_socket_error();
  }
  EXPECT_EQ(-1, result);
  EXPECT_EQ(kTimedOut, error);
}

TEST_F(Sockets, AReceiveWithATimeOutEndsWithTimedOut) {
  Socket client = open();
  ASSERT_NE(kNoSocket, connect_and_accept(client));
  ASSERT_TRUE(platform::set_socket_timeouts(client, 100));
  char buf[4];
  EXPECT_EQ(-1, platform::receive_bytes(client, buf, sizeof buf));
  EXPECT_EQ(kTimedOut, platform::last_socket_error());
}

// A peer that reads nothing: once the buffers between them are full, a send waits, and
// the time-out ends it.
TEST_F(Sockets, ASendThatCannotGoOnEndsWithTimedOut) {
  Socket client = open();
  ASSERT_NE(kNoSocket, connect_and_accept(client));
  ASSERT_TRUE(platform::set_socket_timeouts(client, 200));
  const std::string chunk(64 * 1024, 'b');
  long long sent = 0;
  int n = 0;
  while (sent < (256LL << 20) && (n = platform::send_bytes(client, chunk.data(), static_cast<int>(chunk.size()))) > 0)
    sent += n;
  EXPECT_EQ(-1, n) << sent << " bytes went without a reader";
  EXPECT_EQ(kTimedOut, platform::last_socket_error());
}

TEST_F(Sockets, ABoundPortIsInUseUntilItsSocketGoes) {
  listener();
  Socket second = open();
  EXPECT_EQ(-1, platform::bind_socket(second, loopback(), port_));
  EXPECT_EQ(kAddressInUse, platform::last_socket_error());
}

// A client bound to the port it connects to, on its own address, with nothing listening,
// is connected to itself.
TEST_F(Sockets, AClientConnectedToItselfIsRecognised) {
  const uint16_t port = unused_port();
  Socket s = open();
  ASSERT_EQ(0, platform::bind_socket(s, loopback(), port));
  if (platform::connect_socket(s, loopback(), port) != 0)
    GTEST_SKIP() << "this system refuses a connection to itself (" << platform::last_socket_error() << ")";
  EXPECT_TRUE(platform::connected_to_itself(s));
}

// After a reset the client's port is free at once: no time-wait holds it.
TEST_F(Sockets, AnAbortedClientsPortIsFreeAtOnce) {
  Socket client = platform::open_tcp_socket();
  ASSERT_EQ(0, platform::bind_socket(client, loopback(), 0));
  uint16_t client_port = 0;
  ASSERT_TRUE(platform::socket_port(client, client_port));
  Socket accepted = connect_and_accept(client);
  ASSERT_NE(kNoSocket, accepted);
  ASSERT_EQ(2, platform::send_bytes(client, "hi", 2));
  platform::abort_socket(client);
  Socket again = open();
  EXPECT_EQ(0, platform::bind_socket(again, loopback(), client_port)) << platform::last_socket_error();
  // The peer learns of the reset: its reads end.
  char buf[4];
  int n;
  while ((n = platform::receive_bytes(accepted, buf, sizeof buf)) > 0) {
  }
  EXPECT_LE(n, 0);
}

TEST(SocketAddresses, TextAndNetworkOrder) {
  const uint32_t a = platform::address_from_text("10.1.2.3");
  unsigned char bytes[4];
  std::memcpy(bytes, &a, 4);
  EXPECT_EQ(10, bytes[0]);
  EXPECT_EQ(3, bytes[3]);
  EXPECT_EQ("10.1.2.3", platform::address_text(a));
  EXPECT_EQ(0xFFFFFFFFu, platform::address_from_text("not an address"));
  EXPECT_EQ(0xFFFFFFFFu, platform::address_from_text("1.2.3.4.5"));
}

TEST(SocketNames, HostAndServices) {
  ASSERT_TRUE(platform::start_sockets());
  std::string name;
  ASSERT_TRUE(platform::host_name(name));
  EXPECT_FALSE(name.empty());
  uint32_t address = 0;
  ASSERT_TRUE(platform::host_address("127.0.0.1", address));
  EXPECT_EQ(loopback(), address);
  uint16_t port = 0;
  EXPECT_FALSE(platform::service_port("qk-no-such-service", "tcp", port));
  EXPECT_NE(nullptr, platform::services_file());
}

}  // namespace
