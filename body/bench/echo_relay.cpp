// Baseline of the latency benchmark: the plainest roscpp relay. Each push on
// "/bench_echo/in" is answered at once with a TwistStamped on
// "/bench_echo/out", from inside ros::spin().
#include <geometry_msgs/TwistStamped.h>
#include <ros/ros.h>
#include <vesk2_msg/push.h>

namespace {
ros::Publisher g_out;
geometry_msgs::TwistStamped g_reply;

void relay(const vesk2_msg::push::ConstPtr& msg) {
  g_reply.header.stamp = ros::Time::now();
  g_reply.twist.linear.x = msg->pushvec.x;
  g_reply.twist.angular.z = msg->pushvec.y;
  g_out.publish(g_reply);
}
}  // namespace

int main(int argc, char** argv) {
  ros::init(argc, argv, "bench_echo_relay");
  ros::NodeHandle nh;
  g_out = nh.advertise<geometry_msgs::TwistStamped>("/bench_echo/out", 1);
  ros::Subscriber sub = nh.subscribe("/bench_echo/in", 1, relay, ros::TransportHints().tcpNoDelay(true));
  ros::spin();
  return 0;
}
