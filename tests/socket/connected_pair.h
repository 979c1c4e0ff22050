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
    // The first write notification after connecting reports "sent" with nothing sent; let it
    // pass so tests see only what their own sends cause.
    bool first_write = false;
    sock->OnDataSent = [&](TObject*, Word) { first_write = true; };
    sock->Connect();
    EXPECT_TRUE(PumpUntil([&] { return sock->State() == wsConnected && first_write; }));
    sock->OnDataSent = nullptr;
    peer = server.Accept();
  }
  TWSocket& s() { return *sock; }
};

}  // namespace dovrik::test
