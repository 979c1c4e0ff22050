// A TWSocket connected over loopback to a plain blocking peer.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "tests/socket/socket_test_util.h"

namespace dovrik::test {

struct ConnectedPair {
  PlainServer server;
  std::unique_ptr<TWSocket> sock = std::make_unique<TWSocket>();
  Fd peer;

  explicit ConnectedPair(bool multi_threaded = true) {
    sock->SetMultiThreaded(multi_threaded);
    sock->SetProto("tcp");
    sock->SetAddr("127.0.0.1");
    sock->SetPort(std::to_string(server.port));
    sock->Connect();
    EXPECT_TRUE(PumpUntil([&] { return sock->State() == wsConnected; }));
    peer = server.Accept();
  }
  TWSocket& s() { return *sock; }
};

}  // namespace dovrik::test
