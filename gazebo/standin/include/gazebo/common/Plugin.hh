// Stand-in of the Gazebo 11 API (vesk_gazebo_standin): model plug-in base and registration.
#ifndef GAZEBO_COMMON_PLUGIN_HH_
#define GAZEBO_COMMON_PLUGIN_HH_

#include <gazebo/physics/PhysicsTypes.hh>
#include <gazebo/util/system.hh>
#include <sdf/sdf.hh>
#include <string>

namespace gazebo_standin {
class Access;
}

namespace gazebo {

enum PluginType { WORLD_PLUGIN, MODEL_PLUGIN, SENSOR_PLUGIN, SYSTEM_PLUGIN, VISUAL_PLUGIN, GUI_PLUGIN };

template <class T>
class PluginT {
 public:
  PluginT() = default;
  virtual ~PluginT() = default;
  std::string GetFilename() const { return filename; }
  std::string GetHandle() const { return handleName; }
  PluginType GetType() const { return type; }

 protected:
  PluginType type = WORLD_PLUGIN;
  std::string filename;
  std::string handleName;

 private:
  friend class gazebo_standin::Access;
};

class ModelPlugin : public PluginT<ModelPlugin> {
 public:
  ModelPlugin() { type = MODEL_PLUGIN; }
  virtual ~ModelPlugin() {}
  virtual void Load(physics::ModelPtr _model, sdf::ElementPtr _sdf) = 0;
  virtual void Init() {}
  virtual void Reset() {}
};

}  // namespace gazebo

// Defines the library's entry point: an unmangled, exported RegisterPlugin() that returns a
// new object of the plug-in class. One plug-in class per library.
#define GZ_REGISTER_MODEL_PLUGIN(classname)                           \
  extern "C" GZ_PLUGIN_VISIBLE gazebo::ModelPlugin* RegisterPlugin(); \
  gazebo::ModelPlugin* RegisterPlugin() { return new classname(); }

#endif
