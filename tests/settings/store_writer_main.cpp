// A writer process for the store's crash and concurrency tests.
//   settings_store_writer PREFIX COUNT PAYLOAD_BYTES
// Prints "R" when started, waits for one byte on stdin, then writes COUNT string values
// "PREFIX<i>" under the key "Load" (COUNT 0: without end) and prints "+" after each write.
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "settings/registry.h"
#include "tests/settings/store_writer_payload.h"

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  const std::string prefix = argv[1];
  const long count = std::strtol(argv[2], nullptr, 10);
  const std::size_t payload = std::strtoul(argv[3], nullptr, 10);
  if (::write(1, "R", 1) != 1) return 3;
  char gate;
  if (::read(0, &gate, 1) != 1) return 4;
  for (long i = 0; count == 0 || i < count; ++i) {
    const std::string name = prefix + std::to_string(i);
    dovrik::WriteRegString("Load", name, dovrik::testing::WriterPayload(name, payload));
    if (::write(1, "+", 1) != 1) return 5;
  }
  return 0;
}
