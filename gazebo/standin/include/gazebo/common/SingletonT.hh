// Stand-in of the Gazebo 11 API (vesk_gazebo_standin): singleton base (global namespace).
#ifndef GAZEBO_COMMON_SINGLETONT_HH_
#define GAZEBO_COMMON_SINGLETONT_HH_

template <class T>
class SingletonT {
 public:
  static T* Instance() { return &GetInstance(); }

 protected:
  SingletonT() = default;
  virtual ~SingletonT() = default;

 private:
  static T& GetInstance() {
    static T t;
    return t;
  }
};

#endif
