// One fixed-size block of a socket's chain of outgoing bytes.
#pragma once

#include <memory>

namespace dovrik {

class TBuffer {
 public:
  explicit TBuffer(int size);
  TBuffer(const TBuffer&) = delete;
  TBuffer& operator=(const TBuffer&) = delete;

  // 0 or less means 1514. Keeps the written bytes; a size below WritePos keeps the first
  // new_size bytes and clips both positions.
  void SetSize(int new_size);
  // Copies as many bytes as fit behind WritePos; returns how many.
  int Write(const void* src, int len);
  // The unsent bytes (nullptr and len 0 when there are none).
  void* Peek(int& len);
  // Marks up to len unsent bytes as taken; an emptied block starts again at 0. Returns the count.
  int Remove(int len);

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
