// Stand-in of sdformat 9 (vesk_gazebo_standin): the SDF element handle. The stand-in's
// element carries a name, a text value and child elements, enough for a plug-in to read its
// parameters the way it does under Gazebo: `_sdf->HasElement("key")` and
// `_sdf->Get<T>("key")`, declared as sdformat 9 declares them. A host builds an element with
// AddElement and Set (also sdformat's names); there is no element description, so any
// child name is accepted.
#ifndef SDF_ELEMENT_HH_
#define SDF_ELEMENT_HH_

#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace sdf {

class Element;
typedef std::shared_ptr<Element> ElementPtr;

class Element : public std::enable_shared_from_this<Element> {
 public:
  Element() = default;
  const std::string& GetName() const { return name; }
  void SetName(const std::string& _name) { name = _name; }

  // True when the element has a child element of that name.
  bool HasElement(const std::string& _name) const { return Child(_name) != nullptr; }

  // The value of the child element named `_key` (the element's own value for an empty key)
  // as a T; a default T when there is no such child or its text does not read as a T. A
  // string is the whole text.
  template <typename T>
  T Get(const std::string& _key = "") const {
    const Element* e = _key.empty() ? this : Child(_key);
    T result{};
    if (e) Parse(e->value, result);
    return result;
  }

  // Appends a child element of that name and returns it.
  ElementPtr AddElement(const std::string& _name) {
    ElementPtr child = std::make_shared<Element>();
    child->name = _name;
    children.push_back(child);
    return child;
  }

  // Sets the element's own value.
  template <typename T>
  bool Set(const T& _value) {
    std::ostringstream out;
    out << _value;
    value = out.str();
    return true;
  }

 private:
  static void Parse(const std::string& text, std::string& out) { out = text; }
  template <typename T>
  static void Parse(const std::string& text, T& out) {
    std::istringstream in(text);
    T parsed{};
    if (in >> parsed) out = parsed;
  }

  const Element* Child(const std::string& _name) const {
    for (const ElementPtr& c : children) {
      if (c && c->name == _name) return c.get();
    }
    return nullptr;
  }

  std::string name;
  std::string value;
  std::vector<ElementPtr> children;
};

}  // namespace sdf

#endif
