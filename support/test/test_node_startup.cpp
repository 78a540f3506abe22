// Start-up and exit protocol of a node, observed from outside: the probe node
// runs as a real process and we read its standard output and exit status.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

struct ProbeRun {
  int status = -1;
  std::string out;
};

const std::string kUsageHead =
    "Usage:\n    probe [options]\n\n    Without arguments, this help page is displayed.\n";
const std::string kRule = "________________________________________________________________\n\n";

// Starts the probe with `args`; `robot_env` null unsets VESK_ROBOT_NAME.
pid_t spawn(const std::vector<std::string>& args, const char* robot_env, bool loop, int* out_fd) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], 1);
    close(fds[0]);
    close(fds[1]);
    if (robot_env)
      setenv("VESK_ROBOT_NAME", robot_env, 1);
    else
      unsetenv("VESK_ROBOT_NAME");
    if (loop)
      setenv("VESK_PROBE_LOOP", "1", 1);
    else
      unsetenv("VESK_PROBE_LOOP");
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(VESK_NODE_PROBE));
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(fds[1]);
  *out_fd = fds[0];
  return pid;
}

std::string drain(int fd) {
  std::string out;
  char buf[4096];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0) out.append(buf, size_t(n));
  close(fd);
  return out;
}

ProbeRun run(const std::vector<std::string>& args, const char* robot_env = nullptr) {
  ProbeRun r;
  int fd = -1;
  pid_t pid = spawn(args, robot_env, false, &fd);
  r.out = drain(fd);
  int st = 0;
  waitpid(pid, &st, 0);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

bool contains(const std::string& s, const std::string& part) { return s.find(part) != std::string::npos; }

void expect_failure(const ProbeRun& r, const std::string& msg) {
  EXPECT_EQ(1, r.status);
  EXPECT_TRUE(contains(r.out, "[ERROR] " + msg + "\n" + msg + "\n")) << r.out;
  EXPECT_FALSE(contains(r.out, "initialising ROS node")) << r.out;
}

}  // namespace

TEST(NodeStartup, DefaultsWithoutArgumentsOrEnvironment) {
  ProbeRun r = run({});
  EXPECT_EQ(0, r.status);
  EXPECT_TRUE(contains(r.out, "initialising ROS node \"vesk_probe\"...\n")) << r.out;
  EXPECT_TRUE(contains(r.out, "log=2 robot=vesk base=/vesk/ debug_push=0")) << r.out;
  EXPECT_FALSE(contains(r.out, "Usage:"));
}

TEST(NodeStartup, RobotNameFromEnvironmentAndCommandLine) {
  ProbeRun r = run({}, "rob1");
  EXPECT_TRUE(contains(r.out, "initialising ROS node \"rob1_probe\"...")) << r.out;
  EXPECT_TRUE(contains(r.out, "base=/rob1/")) << r.out;

  r = run({"robot=rob2"}, "rob1");
  EXPECT_TRUE(contains(r.out, "initialising ROS node \"rob2_probe\"...")) << r.out;

  r = run({}, "");
  EXPECT_TRUE(contains(r.out, "robot=vesk base=/vesk/")) << r.out;

  // The value keeps everything after the first "="; ROS itself then refuses
  // the node name, which ends the node through the top-level handler.
  r = run({"robot=a=b"});
  EXPECT_TRUE(contains(r.out, "initialising ROS node \"a=b_probe\"...\n")) << r.out;
  EXPECT_TRUE(contains(r.out, "is not valid in Graph Resource Name [a=b_probe]")) << r.out;
  EXPECT_EQ(1, r.status);

  r = run({"robot=x", "robot=y"});
  EXPECT_TRUE(contains(r.out, "robot=y ")) << r.out;
}

TEST(NodeStartup, EmptyRobotNameShowsUsageAndFails) {
  for (const char* arg : {"robot=", "robot"}) {
    ProbeRun r = run({arg});
    EXPECT_EQ(0u, r.out.find(kUsageHead)) << r.out;
    EXPECT_TRUE(contains(r.out, kRule + "[ERROR] \"robot\" must be a non-zero length string\n")) << r.out;
    expect_failure(r, "\"robot\" must be a non-zero length string");
  }
}

TEST(NodeStartup, LogLevels) {
  const char* names[] = {"silent", "warn", "info", "verb", "full"};
  for (int i = 0; i < 5; ++i) {
    ProbeRun r = run({std::string("log=") + names[i]});
    EXPECT_EQ(0, r.status);
    EXPECT_TRUE(contains(r.out, "log=" + std::to_string(i) + " ")) << names[i] << r.out;
  }
  for (const char* bad : {"log=debug", "log=INFO", "log", "log="}) {
    ProbeRun r = run({bad});
    expect_failure(r, "unrecognised value for \"log\"");
  }
  ProbeRun r = run({"log=verb", "log=warn"});
  EXPECT_TRUE(contains(r.out, "log=1 ")) << r.out;
}

TEST(NodeStartup, HelpIsHandledWhereItComes) {
  ProbeRun r = run({"help"});
  EXPECT_EQ(0, r.status);
  EXPECT_EQ(0u, r.out.find(kUsageHead + "\nOptions:\n\n    log=silent,warn,info,verb,full\n")) << r.out;
  EXPECT_TRUE(contains(r.out, "default value \"vesk\".\n" + kRule)) << r.out;
  EXPECT_FALSE(contains(r.out, "initialising ROS node"));

  r = run({"help=1"});
  EXPECT_EQ(0, r.status);
  EXPECT_EQ(0u, r.out.find(kUsageHead));

  r = run({"help", "log=bad"});
  EXPECT_EQ(0, r.status);
  EXPECT_FALSE(contains(r.out, "[ERROR]"));

  r = run({"log=bad", "help"});
  expect_failure(r, "unrecognised value for \"log\"");
  EXPECT_FALSE(contains(r.out, "Usage:"));
}

TEST(NodeStartup, SpecialAndUnknownArguments) {
  ProbeRun r = run({"__name:=foo", "__log:=/tmp/x"});
  EXPECT_EQ(0, r.status);
  EXPECT_TRUE(contains(r.out, "initialising ROS node \"vesk_probe\"")) << r.out;

  r = run({"foo=1"});
  EXPECT_TRUE(contains(r.out, "argument: foo\n[ERROR] unrecognised argument\n")) << r.out;
  expect_failure(r, "unrecognised argument");

  r = run({"apply_debug_push"});
  EXPECT_TRUE(contains(r.out, "debug_push=1")) << r.out;
}

TEST(NodeStartup, CtrlCEndsTheMainLoopWithStatusZero) {
  int fd = -1;
  pid_t pid = spawn({}, nullptr, true, &fd);
  ASSERT_GT(pid, 0);
  // Wait (bounded) for the main loop to be running.
  std::string out;
  char buf[1024];
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!contains(out, "ready\n") && std::chrono::steady_clock::now() < deadline) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) break;
    out.append(buf, size_t(n));
  }
  ASSERT_TRUE(contains(out, "ready\n")) << out;
  kill(pid, SIGINT);
  out += drain(fd);
  int st = 0;
  waitpid(pid, &st, 0);
  ASSERT_TRUE(WIFEXITED(st));
  EXPECT_EQ(0, WEXITSTATUS(st));
  EXPECT_TRUE(contains(out, "stopped\n")) << out;
}

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
