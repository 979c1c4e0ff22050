#include "socket/send_buffer.h"

#include <algorithm>
#include <cstring>

namespace dovrik {

TBuffer::TBuffer(int size) {
  SetSize(size);
}

void TBuffer::SetSize(int new_size) {
  if (new_size <= 0) new_size = 1514;
  if (new_size == FSize) return;
  auto fresh = std::make_unique_for_overwrite<unsigned char[]>(static_cast<std::size_t>(new_size));
  if (FReadPos != FWritePos) {
    // Shrinking below the written bytes keeps what fits rather than writing past the end.
    FWritePos = std::min(FWritePos, new_size);
    FReadPos = std::min(FReadPos, FWritePos);
    std::memcpy(fresh.get(), FData.get(), static_cast<std::size_t>(FWritePos));
  }
  FData = std::move(fresh);
  FSize = new_size;
}

int TBuffer::Write(const void* src, int len) {
  int room = FSize - FWritePos;
  if (room <= 0 || len <= 0) return 0;
  int n = std::min(room, len);
  std::memcpy(FData.get() + FWritePos, src, static_cast<std::size_t>(n));
  FWritePos += n;
  return n;
}

void* TBuffer::Peek(int& len) {
  if (FWritePos - FReadPos <= 0) {
    len = 0;
    return nullptr;
  }
  len = FWritePos - FReadPos;
  return FData.get() + FReadPos;
}

int TBuffer::Remove(int len) {
  int unsent = FWritePos - FReadPos;
  if (unsent <= 0 || len <= 0) return 0;
  int n = std::min(len, unsent);
  FReadPos += n;
  if (FReadPos == FWritePos) FReadPos = FWritePos = 0;
  return n;
}

}  // namespace dovrik
