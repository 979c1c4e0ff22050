#include <gtest/gtest.h>

#include "platform/message_queue.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  dovrik::platform::SetMainThread();  // Synchronize calls land on the thread running the tests
  return RUN_ALL_TESTS();
}
