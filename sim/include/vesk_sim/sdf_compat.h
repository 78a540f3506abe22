// The few libsdformat calls that differ between the versions the simulator builds with:
// sdformat 9 (Gazebo 11 systems) and sdformat 12.
#pragma once

#include <sdf/sdf.hh>

namespace vesk_sim {

// The model of a file whose root element holds one model (nullptr when it holds none).
inline const sdf::Model* root_model(const sdf::Root& root) {
#if SDF_MAJOR_VERSION >= 11
  return root.Model();
#else
  return root.ModelCount() > 0 ? root.ModelByIndex(0) : nullptr;
#endif
}

}  // namespace vesk_sim
