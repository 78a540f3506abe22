// Stand-in of sdformat 9 (vesk_gazebo_standin): the SDF element handle. The stand-in's
// element carries only a name; plug-ins receive it and may ignore it.
#ifndef SDF_ELEMENT_HH_
#define SDF_ELEMENT_HH_

#include <memory>
#include <string>

namespace sdf {

class Element;
typedef std::shared_ptr<Element> ElementPtr;

class Element : public std::enable_shared_from_this<Element> {
 public:
  Element() = default;
  const std::string& GetName() const { return name; }
  void SetName(const std::string& _name) { name = _name; }

 private:
  std::string name;
};

}  // namespace sdf

#endif
