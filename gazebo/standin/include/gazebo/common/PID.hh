// Stand-in of the Gazebo 11 API (vesk_gazebo_standin): PID controller.
#ifndef GAZEBO_COMMON_PID_HH_
#define GAZEBO_COMMON_PID_HH_

#include <gazebo/common/Time.hh>

namespace gazebo {
namespace common {

// PID on an error signal. The integral is limited to [_imin, _imax]; the command is
// limited to [_cmdMin, _cmdMax] unless _cmdMin > _cmdMax, which turns the limit off.
class PID {
 public:
  PID(double _p = 0.0, double _i = 0.0, double _d = 0.0, double _imax = 0.0, double _imin = 0.0,
      double _cmdMax = -1.0, double _cmdMin = 0.0);
  virtual ~PID() = default;

  void Init(double _p = 0.0, double _i = 0.0, double _d = 0.0, double _imax = 0.0, double _imin = 0.0,
            double _cmdMax = -1.0, double _cmdMin = 0.0);
  // Error = state - target; returns the command (which opposes the error).
  double Update(double _error, common::Time _dt);
  void Reset();

  double GetPGain() const { return pGain; }
  double GetIGain() const { return iGain; }
  double GetDGain() const { return dGain; }
  double GetIMax() const { return iMax; }
  double GetIMin() const { return iMin; }
  double GetCmdMax() const { return cmdMax; }
  double GetCmdMin() const { return cmdMin; }
  double GetCmd() const { return cmd; }

 private:
  double pErrLast = 0.0, pErr = 0.0, iErr = 0.0, dErr = 0.0;
  double pGain = 0.0, iGain = 0.0, dGain = 0.0;
  double iMax = 0.0, iMin = 0.0;
  double cmdMax = -1.0, cmdMin = 0.0;
  double cmd = 0.0;
};

}  // namespace common
}  // namespace gazebo

#endif
