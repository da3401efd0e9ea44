// The floating-point state the plug-in's own arithmetic runs under, whatever state the host left.
#pragma once

namespace kinetiscan {

// While it lives, SSE arithmetic rounds to nearest with no flushing of subnormals and every
// exception masked; the host's state, flags included, comes back at its end. Every entry from the
// host that does floating point holds one around that work, and only that work: the host's
// services and windows the plug-in calls meanwhile see the host's own state. Nothing off x86.
// The x87 unit needs no such care: no code of the plug-in's uses it (see pixel_math.h and
// member_properties.cpp for what kept the i686 build off it).
class NearestRounding {
 public:
  NearestRounding();
  ~NearestRounding();
  NearestRounding(const NearestRounding&) = delete;
  NearestRounding& operator=(const NearestRounding&) = delete;

  // The compiler sees the scope's ends as calls that touch no value held in a register, and may
  // move arithmetic on such values across them: scalar work passes its operands and its result
  // through here. (Work that reads and writes memory stays inside by itself.)
  template <class T>
  static T held(T value) {
    __asm__ volatile("" : "+m"(value) : : "memory");
    return value;
  }

 private:
  unsigned saved_ = 0;
};

}  // namespace kinetiscan
