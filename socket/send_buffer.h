// One fixed-size block of a socket's chain of outgoing bytes.
#pragma once

#include <memory>

namespace dovrik {

class TBuffer {
 public:
  explicit TBuffer(int Size);
  TBuffer(const TBuffer&) = delete;
  TBuffer& operator=(const TBuffer&) = delete;

  // 0 or less means 1514. Keeps the written bytes; a size below WritePos keeps the first
  // NewSize bytes and clips both positions.
  void SetSize(int NewSize);
  // Copies as many bytes as fit behind WritePos; returns how many.
  int Write(const void* Src, int Len);
  // The unsent bytes (nullptr and Len 0 when there are none).
  void* Peek(int& Len);
  // Marks up to Len unsent bytes as taken; an emptied block starts again at 0. Returns the count.
  int Remove(int Len);

  int Size() const { return FSize; }
  int WritePos() const { return FWritePos; }
  int ReadPos() const { return FReadPos; }
  const unsigned char* Data() const { return FData.get(); }

 private:
  std::unique_ptr<unsigned char[]> FData;
  int FSize = 0;
  int FWritePos = 0;
  int FReadPos = 0;
};

}  // namespace dovrik
