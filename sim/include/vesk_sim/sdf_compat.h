// The few libsdformat calls that differ between the versions the simulator builds with:
// sdformat 9 (Gazebo 11 systems) and sdformat 12.
#pragma once

#include <sdf/sdf.hh>
#include <string>

namespace vesk_sim {

// The model of a file whose root element holds one model (nullptr when it holds none).
inline const sdf::Model* root_model(const sdf::Root& root) {
#if SDF_MAJOR_VERSION >= 11
  return root.Model();
#else
  return root.ModelCount() > 0 ? root.ModelByIndex(0) : nullptr;
#endif
}

// Whether a parser error leaves the model usable by the simulator. sdformat 9 has no sensor
// object for sonars and wide-angle cameras ("the provided sensor type is missing or
// invalid"), yet keeps their elements, which is all the simulator reads of a sensor (Gazebo
// 11 loads those sensors from the same elements).
inline bool harmless(const sdf::Error& e) {
#if SDF_MAJOR_VERSION < 12
  return e.Message().find(
             "Attempting to load a Sensor, but the provided sensor type is missing or invalid") !=
         std::string::npos;
#else
  (void)e;
  return false;
#endif
}

}  // namespace vesk_sim
