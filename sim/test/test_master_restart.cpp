// The simulator and both nodes against ROS masters of the test's own, each a rosmaster child
// process on a free port: Ctrl-C before any master answers, and a master that is killed and
// replaced by a new one while everything runs.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vesk_support/child_process.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using vesk_test::ChildProcess;

constexpr double kStartS = 60.0;  // start-up of a program on a loaded machine
constexpr double kEndS = 30.0;    // a reaction that must come

// A loopback port that nothing listens on now (bound, read and released).
int free_port() {
  const int sock = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr = {};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (bind(sock, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
      getsockname(sock, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    close(sock);
    return -1;
  }
  close(sock);
  return ntohs(addr.sin_port);
}

// True once something accepts connections on the loopback port (bounded by kStartS).
bool listening(int port) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(kStartS);
  while (std::chrono::steady_clock::now() < end) {
    const int sock = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    const bool ok = connect(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    close(sock);
    if (ok) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

std::unique_ptr<ChildProcess> start_master(int port) {
  std::unique_ptr<ChildProcess> m(new ChildProcess(ROSMASTER_BIN, {"--core", "-p", std::to_string(port)}));
  if (!m->started() || !listening(port)) return nullptr;
  return m;
}

// A fresh folder for the kit's directories; removed at the end of the test.
class KitDirs {
 public:
  KitDirs() {
    char tmpl[] = "/tmp/vesk_master_XXXXXX";
    if (mkdtemp(tmpl)) root = tmpl;
  }
  ~KitDirs() {
    if (!root.empty()) {
      const std::string cmd = "rm -rf '" + root + "'";
      if (system(cmd.c_str()) != 0) ADD_FAILURE() << "cleanup of " << root << " failed";
    }
  }
  // The environment of a program: the master, the kit's directories (the test
  // configuration: tick clock, no cameras) and the robot name.
  std::vector<std::string> env(const std::string& uri) const {
    return {"ROS_MASTER_URI=" + uri,
            std::string("VESK_DIR_CONFIG=") + VESK_SIM_SOURCE_DIR + "/test/config_hwclock",
            "VESK_DIR_QOR=" + root,
            "VESK_DIR_STATE=" + root,
            "VESK_ROBOT_NAME=vesk",
            "ROS_LOG_DIR=" + root,
            "ROS_HOME=" + root};
  }
  std::string root;
};

TEST(Programs, CtrlCWhileNoMasterAnswersEndsTheSimulatorWithStatusZero) {
  const int port = free_port();
  ASSERT_GT(port, 0);
  KitDirs dirs;
  const std::string uri = "http://127.0.0.1:" + std::to_string(port);
  ChildProcess sim(VESK_SIM_BIN, {}, dirs.env(uri));
  ASSERT_TRUE(sim.started());
  ASSERT_NE(sim.wait_for("waiting for the ROS master...", kStartS), std::string::npos) << sim.output();
  sim.interrupt();
  EXPECT_EQ(sim.wait_exit(kEndS), 0) << sim.output();
  EXPECT_EQ(sim.output().find("[ERROR]"), std::string::npos) << sim.output();
}

// roscpp registers a program once; a new master knows nothing of it. The nodes say so and
// end with status 1 (a respawning launcher starts them again); the simulator cannot end under
// its host and says so once, then keeps running until Ctrl-C.
TEST(Programs, ANewMasterEndsTheNodesAndTheSimulatorSaysSoOnce) {
  const int port = free_port();
  ASSERT_GT(port, 0);
  KitDirs dirs;
  const std::string uri = "http://127.0.0.1:" + std::to_string(port);
  std::unique_ptr<ChildProcess> master = start_master(port);
  ASSERT_TRUE(master) << "rosmaster did not come up on port " << port;

  ChildProcess sim(VESK_SIM_BIN, {}, dirs.env(uri));
  ChildProcess kinemod(KINEMOD_BIN, {}, dirs.env(uri));
  ChildProcess voice(VOCALSYNTH_BIN, {}, dirs.env(uri));
  ASSERT_TRUE(sim.started() && kinemod.started() && voice.started());
  ASSERT_NE(sim.wait_for("simulating 1 robot(s)", kStartS), std::string::npos) << sim.output();
  ASSERT_NE(kinemod.wait_for("entering main loop...", kStartS), std::string::npos) << kinemod.output();
  ASSERT_NE(voice.wait_for("going to sleep...", kStartS), std::string::npos) << voice.output();

  // The master goes: each program notices that it does not answer.
  master.reset();  // killed
  const std::string gone = "**** WARNING **** \n\tthe ROS master at " + uri + " does not answer\n";
  EXPECT_NE(kinemod.wait_for(gone, kEndS), std::string::npos) << kinemod.output();
  EXPECT_NE(sim.wait_for(gone, kEndS), std::string::npos) << sim.output();

  // A new master on the same port.
  master = start_master(port);
  ASSERT_TRUE(master) << "rosmaster did not come up again on port " << port;
  const std::string restarted = "**** WARNING **** \n\tthe ROS master at " + uri +
                                " was restarted: it knows nothing of this program's topics";
  for (ChildProcess* node : {&kinemod, &voice}) {
    EXPECT_EQ(node->wait_exit(kEndS), 1) << node->output();
    const std::string out = node->output();
    EXPECT_NE(out.find(restarted + "; this node ends so that it can be started again\n"), std::string::npos)
        << out;
    EXPECT_NE(out.find("[ERROR] ROS master restarted\n"), std::string::npos) << out;
  }
  ASSERT_NE(sim.wait_for(restarted + "; this robot cannot be reached until the simulator is started again\n",
                         kEndS),
            std::string::npos)
      << sim.output();
  // Still running, and the warning stays single.
  std::this_thread::sleep_for(std::chrono::seconds(3));
  EXPECT_EQ(sim.count("was restarted"), 1u) << sim.output();
  sim.interrupt();
  EXPECT_EQ(sim.wait_exit(kEndS), 0) << sim.output();
}

}  // namespace
