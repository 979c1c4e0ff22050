// The lparam of the platform's notification messages, packed and read in one place.
//
//   bits  0..15  event bits (socket notifications; 0 for a finished host look-up)
//   bits 16..31  the error word: 0 or a Windows Sockets number
//   bits 32..47  the serial of the socket handle, in notifications the socket layer posts to
//                itself (0 in those the platform posts)
//
// Header only, pure: usable on any thread.
#pragma once

#include <cstdint>

namespace dovrik::platform {

constexpr std::intptr_t MakeNotifyParam(std::uint32_t events, std::uint32_t error,
                                        std::uint16_t serial = 0) {
  return static_cast<std::intptr_t>(std::uint64_t{events & 0xFFFF} |
                                    (std::uint64_t{error & 0xFFFF} << 16) |
                                    (std::uint64_t{serial} << 32));
}

constexpr int NotifyEvents(std::intptr_t lparam) {
  return static_cast<int>(static_cast<std::uint64_t>(lparam) & 0xFFFF);
}
constexpr std::uint16_t NotifyError(std::intptr_t lparam) {
  return static_cast<std::uint16_t>((static_cast<std::uint64_t>(lparam) >> 16) & 0xFFFF);
}
constexpr std::uint16_t NotifySerial(std::intptr_t lparam) {
  return static_cast<std::uint16_t>((static_cast<std::uint64_t>(lparam) >> 32) & 0xFFFF);
}

}  // namespace dovrik::platform
