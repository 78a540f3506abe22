// Stand-in of the Gazebo 11 API (vesk_gazebo_standin): simulation time.
#ifndef GAZEBO_COMMON_TIME_HH_
#define GAZEBO_COMMON_TIME_HH_

#include <cstdint>

namespace gazebo {
namespace common {

// A time as whole seconds plus nanoseconds (0 <= nsec < 1e9 after correction).
class Time {
 public:
  Time() = default;
  Time(const int32_t _sec, const int32_t _nsec);
  Time(const double _time);  // NOLINT: implicit like Gazebo's

  double Double() const { return static_cast<double>(sec) + static_cast<double>(nsec) * 1e-9; }
  void Set(int32_t _sec, int32_t _nsec);
  void Set(double _seconds);

  Time operator+(const Time& _t) const;
  Time operator-(const Time& _t) const;
  const Time& operator+=(const Time& _t);
  const Time& operator-=(const Time& _t);
  bool operator==(const Time& _t) const { return sec == _t.sec && nsec == _t.nsec; }
  bool operator!=(const Time& _t) const { return !(*this == _t); }
  bool operator<(const Time& _t) const { return sec < _t.sec || (sec == _t.sec && nsec < _t.nsec); }
  bool operator>(const Time& _t) const { return _t < *this; }
  bool operator<=(const Time& _t) const { return !(_t < *this); }
  bool operator>=(const Time& _t) const { return !(*this < _t); }

  int32_t sec = 0;
  int32_t nsec = 0;

 private:
  void Correct();
};

}  // namespace common
}  // namespace gazebo

#endif
