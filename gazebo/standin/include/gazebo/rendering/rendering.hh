// Stand-in of the Gazebo 11 API (vesk_gazebo_standin): rendering umbrella header (subset).
#ifndef GAZEBO_RENDERING_RENDERING_HH_
#define GAZEBO_RENDERING_RENDERING_HH_

#include <gazebo/rendering/Camera.hh>
#include <gazebo/rendering/RenderTypes.hh>
#include <gazebo/rendering/WideAngleCamera.hh>

#endif
