// Bytes received but not yet taken. One block, reused: taking moves the start, and what is
// left is moved to the front only when room is needed at the end, so reading a reply or a
// listing line by line copies each byte a bounded number of times.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tarnex::net {

class ReceiveBuffer {
 public:
  size_t Size() const { return end_ - begin_; }
  bool Empty() const { return begin_ == end_; }
  std::string_view View() const { return {data_.data() + begin_, Size()}; }

  // At least `want` bytes of room at the end; write there, then call Added.
  char* Room(size_t want) {
    if (data_.size() - end_ < want) {
      if (begin_ > 0) {
        std::copy(data_.begin() + static_cast<std::ptrdiff_t>(begin_),
                  data_.begin() + static_cast<std::ptrdiff_t>(end_), data_.begin());
        end_ -= begin_;
        begin_ = 0;
      }
      if (data_.size() - end_ < want) data_.resize(end_ + want);
    }
    return data_.data() + end_;
  }
  size_t RoomSize() const { return data_.size() - end_; }
  void Added(size_t count) { end_ += count; }

  std::string Take(size_t count) {
    std::string taken(data_.data() + begin_, count);
    Consume(count);
    return taken;
  }
  void Consume(size_t count) {
    begin_ += count;
    if (begin_ == end_) begin_ = end_ = 0;
  }
  void Clear() { begin_ = end_ = 0; }

 private:
  std::vector<char> data_;
  size_t begin_ = 0;
  size_t end_ = 0;
};

}  // namespace tarnex::net
