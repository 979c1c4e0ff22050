#include "socket/send_buffer.h"

#include <algorithm>
#include <cstring>

namespace dovrik {

TBuffer::TBuffer(int Size) {
  SetSize(Size);
}

void TBuffer::SetSize(int NewSize) {
  if (NewSize <= 0) NewSize = 1514;
  if (NewSize == FSize) return;
  auto fresh = std::make_unique_for_overwrite<unsigned char[]>(static_cast<std::size_t>(NewSize));
  if (FReadPos != FWritePos) {
    // Shrinking below the written bytes keeps what fits rather than writing past the end.
    FWritePos = std::min(FWritePos, NewSize);
    FReadPos = std::min(FReadPos, FWritePos);
    std::memcpy(fresh.get(), FData.get(), static_cast<std::size_t>(FWritePos));
  }
  FData = std::move(fresh);
  FSize = NewSize;
}

int TBuffer::Write(const void* Src, int Len) {
  int room = FSize - FWritePos;
  if (room <= 0 || Len <= 0) return 0;
  int n = std::min(room, Len);
  std::memcpy(FData.get() + FWritePos, Src, static_cast<std::size_t>(n));
  FWritePos += n;
  return n;
}

void* TBuffer::Peek(int& Len) {
  if (FWritePos - FReadPos <= 0) {
    Len = 0;
    return nullptr;
  }
  Len = FWritePos - FReadPos;
  return FData.get() + FReadPos;
}

int TBuffer::Remove(int Len) {
  int unsent = FWritePos - FReadPos;
  if (unsent <= 0 || Len <= 0) return 0;
  int n = std::min(Len, unsent);
  FReadPos += n;
  if (FReadPos == FWritePos) FReadPos = FWritePos = 0;
  return n;
}

}  // namespace dovrik
