// Stand-in of sdformat 9 (vesk_gazebo_standin): umbrella header.
#ifndef SDF_SDF_HH_
#define SDF_SDF_HH_
#include <sdf/Element.hh>
#endif
