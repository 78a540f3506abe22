// The simulator's command line and its plug-in search.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "vesk_sim/sim_options.h"

namespace vesk_sim {
namespace {

TEST(CommandLine, DefaultsComeFromThePackageAndTheEnvironmentsRobot) {
  const CommandLine c = parse_command_line({"__name:=sim", "__log:=/tmp/x.log"}, "/pkg", "rover");
  EXPECT_EQ(c.sim.world_file, "/pkg/worlds/vesk_arena.world");
  EXPECT_EQ(c.sim.model_file, "/pkg/models/vesk/model.sdf");
  ASSERT_EQ(c.sim.robots.size(), 1u);
  EXPECT_EQ(c.sim.robots[0].name, "rover");
  EXPECT_EQ(c.rtf, 1.0);
  EXPECT_EQ(c.duration, 0.0);
  EXPECT_TRUE(c.sim.load_plugins);
  EXPECT_EQ(parse_command_line({}, "/pkg", "").sim.robots[0].name, "vesk");
}

TEST(CommandLine, RobotsWithPosesAndTheOtherKeys) {
  const CommandLine c =
      parse_command_line({"robot=a@1,2", "robot=b_2@-0.5,0.25,1.5", "rtf=0", "duration=12.5", "world=/w",
                          "model=/m", "plugin=/lib/p.so", "no_plugin", "help"},
                         "/pkg", "");
  ASSERT_EQ(c.sim.robots.size(), 2u);
  EXPECT_EQ(c.sim.robots[0].name, "a");
  EXPECT_EQ(c.sim.robots[0].x, 1.0);
  EXPECT_EQ(c.sim.robots[0].y, 2.0);
  EXPECT_EQ(c.sim.robots[0].yaw, 0.0);
  EXPECT_EQ(c.sim.robots[1].name, "b_2");
  EXPECT_EQ(c.sim.robots[1].yaw, 1.5);
  EXPECT_EQ(c.rtf, 0.0);
  EXPECT_EQ(c.duration, 12.5);
  EXPECT_EQ(c.sim.world_file, "/w");
  EXPECT_EQ(c.sim.model_file, "/m");
  EXPECT_EQ(c.sim.plugin_override, "/lib/p.so");
  EXPECT_FALSE(c.sim.load_plugins);
  EXPECT_TRUE(c.help);
}

TEST(CommandLine, BadWordsFailWithoutGuessing) {
  for (const char* bad :
       {"rtf=-1", "rtf=fast", "duration=1x", "duration=-2", "robot=", "robot=9lives", "robot=a b",
        "robot=a@1", "robot=a@1,2,3,4", "robot=a@1,,2", "speed=3", "verbose"}) {
    EXPECT_THROW(parse_command_line({bad}, "/pkg", ""), std::runtime_error) << bad;
  }
  EXPECT_THROW(parse_command_line({"rtf=nan"}, "/pkg", ""), std::runtime_error);
}

TEST(PluginSearch, PathsFromTheEnvironmentInOrderThenTheBareName) {
  const std::string dir = "/tmp/vesk_sim_plugin_search_" + std::to_string(::getpid());
  ASSERT_EQ(std::system(("mkdir -p " + dir + "/a " + dir + "/b").c_str()), 0);
  std::ofstream(dir + "/b/libx.so") << "x";
  setenv("GAZEBO_PLUGIN_PATH", (dir + "/a:" + dir + "/b").c_str(), 1);
  EXPECT_EQ(find_plugin_library("libx.so"), dir + "/b/libx.so");
  EXPECT_EQ(find_plugin_library("liby.so"), "liby.so");
  EXPECT_EQ(find_plugin_library("/abs/libz.so"), "/abs/libz.so");
  std::system(("rm -rf " + dir).c_str());
}

}  // namespace
TEST(PluginElement, FramePrefixOnlyWithSeveralRobots) {
  const sdf::ElementPtr alone = plugin_element("vesk", 1);
  EXPECT_EQ("plugin", alone->GetName());
  EXPECT_FALSE(alone->HasElement("frame_prefix"));
  for (size_t count : {2u, 3u}) {
    const sdf::ElementPtr e = plugin_element("vesk2", count);
    ASSERT_TRUE(e->HasElement("frame_prefix")) << count;
    EXPECT_EQ("vesk2/", e->Get<std::string>("frame_prefix")) << count;
  }
}

}  // namespace vesk_sim
