// Helpers of the kit's libFuzzer targets (built with `bash scripts/fuzz.sh`): fuzzer bytes as
// text, as command-line words and as ROS messages. Header-only; the message part needs
// roscpp's serialisation headers and is compiled only where <ros/serialization.h> is present.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace vesk_fuzz {

inline std::string as_text(const uint8_t* data, size_t size) {
  return std::string(reinterpret_cast<const char*>(data), size);
}

// The bytes split at zero bytes into words (argv-style: "a\0b" gives "a", "b").
inline std::vector<std::string> as_words(const uint8_t* data, size_t size) {
  std::vector<std::string> words(1);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      words.emplace_back();
    } else {
      words.back().push_back(static_cast<char>(data[i]));
    }
  }
  return words;
}

// The bytes split into lines at '\n'.
inline std::vector<std::string> as_lines(const uint8_t* data, size_t size) {
  std::vector<std::string> lines(1);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == '\n') {
      lines.emplace_back();
    } else {
      lines.back().push_back(static_cast<char>(data[i]));
    }
  }
  return lines;
}

}  // namespace vesk_fuzz

#if __has_include(<ros/serialization.h>)
#include <ros/serialization.h>

namespace vesk_fuzz {

// Largest single allocation a bounded decode may make [bytes].
inline size_t& allocation_limit() {
  static size_t limit = 0;
  return limit;
}

// An allocator that refuses (std::bad_alloc) any single allocation above allocation_limit().
// roscpp sizes arrays and strings from the length field before it checks that the bytes
// are there, so a decode with std::allocator would reserve whatever a 32-bit length asks for.
template <class T>
struct BoundedAllocator {
  using value_type = T;
  template <class U>
  struct rebind {
    using other = BoundedAllocator<U>;
  };
  BoundedAllocator() = default;
  template <class U>
  BoundedAllocator(const BoundedAllocator<U>&) {}
  T* allocate(size_t n) {
    if (n > allocation_limit() / sizeof(T)) throw std::bad_alloc();
    return std::allocator<T>().allocate(n);
  }
  void deallocate(T* p, size_t n) { std::allocator<T>().deallocate(p, n); }
  template <class U>
  bool operator==(const BoundedAllocator<U>&) const {
    return true;
  }
  template <class U>
  bool operator!=(const BoundedAllocator<U>&) const {
    return false;
  }
};

// Reads a message of type MsgT<std::allocator<void>> (e.g. decode<std_msgs::String_>) from the
// bytes with roscpp's serialiser, as a subscriber would receive it. False when the bytes are
// too short or a length field asks for more than the bytes can hold: no array of a valid
// message needs more than 16 bytes of memory per byte of input.
template <template <class> class MsgT>
bool decode(const uint8_t* data, size_t size, MsgT<std::allocator<void>>& out) {
  namespace ser = ros::serialization;
  allocation_limit() = 16 * size + 4096;
  try {
    MsgT<BoundedAllocator<void>> probe;
    ser::IStream probe_stream(const_cast<uint8_t*>(data), static_cast<uint32_t>(size));
    ser::deserialize(probe_stream, probe);
    ser::IStream stream(const_cast<uint8_t*>(data), static_cast<uint32_t>(size));
    ser::deserialize(stream, out);
  } catch (const std::bad_alloc&) {
    return false;
  } catch (const ros::Exception&) {
    return false;
  }
  return true;
}

}  // namespace vesk_fuzz
#endif
