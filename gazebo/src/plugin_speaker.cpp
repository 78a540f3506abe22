// gazebo::VESK_ModelPlugin: the robot's speaker in the tick.
#include <sstream>

#include "vesk_gazebo/model_plugin.h"

namespace gazebo {

void VESK_ModelPlugin::TickSpeaker(uint16_t stream[2]) {
  // The audio of the tick that just ended plays first; what arrived meanwhile queues behind
  // it, so the report tells a streaming client what is left after this tick.
  speaker.Play();
  if (const VESK_STREAM_PACKET* packet = state.interf->receive()) {
    const uint64_t dropped = speaker.dropped();
    speaker.Queue(*packet);
    if (speaker.dropped() > dropped && !speaker_overflow_reported && verbosity > 0) {
      std::ostringstream msg;
      msg << "speaker buffer full (" << vesk_gazebo::Speaker::kCapacity
          << " samples): audio from control/stream dropped (reported once; a client paces itself"
          << " by sensors/stream, second value minus first = samples still to play)";
      os::warn(msg.str());
      speaker_overflow_reported = true;
    }
  }
  speaker.Report(stream);
}

}  // namespace gazebo
