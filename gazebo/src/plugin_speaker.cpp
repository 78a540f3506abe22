// gazebo::VESK_ModelPlugin: the robot's speaker.
#include <sstream>

#include "vesk_gazebo/model_plugin.h"

namespace gazebo {

void VESK_ModelPlugin::CollectAudio() {
  // The interface keeps only the newest stream message that has not been taken: a message
  // that arrives before the previous one was taken replaces it. So audio is taken at every
  // world update (one physics step), not once per tick, and a client streaming at the
  // speaker's pace loses nothing.
  const VESK_STREAM_PACKET* packet = state.interf->receive();
  if (!packet) return;
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

void VESK_ModelPlugin::TickSpeaker(uint16_t stream[2]) {
  // The audio of the tick that just ended plays, then what arrived since queues behind what
  // is left, so the report tells a streaming client how much waits after this tick.
  speaker.Play();
  CollectAudio();
  speaker.Report(stream);
}

}  // namespace gazebo
