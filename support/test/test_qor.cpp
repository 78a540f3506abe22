// Kit directories, small files, parameter files, release numbers, listing.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>
#include <stdexcept>

#include "cout_capture.h"
#include "vesk_support/os.h"
#include "vesk_support/qor.h"

namespace {

// A fresh temporary directory with VESK_DIR_CONFIG/QOR/STATE below it.
class KitDirs : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/vesk_qor_XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(tmpl));
    root = tmpl;
    setenv("VESK_DIR_CONFIG", (root + "/config").c_str(), 1);
    setenv("VESK_DIR_QOR", (root + "/qor").c_str(), 1);
    setenv("VESK_DIR_STATE", (root + "/state").c_str(), 1);
  }
  void TearDown() override {
    std::string cmd = "rm -rf '" + root + "'";
    if (system(cmd.c_str()) != 0) ADD_FAILURE() << "cleanup failed";
    unsetenv("VESK_DIR_CONFIG");
    unsetenv("VESK_DIR_QOR");
    unsetenv("VESK_DIR_STATE");
  }
  void write(const std::string& path, const std::string& bytes) {
    std::ofstream f(path, std::ios::binary);
    f << bytes;
  }
  std::string root;
};

}  // namespace

TEST(Env, UnsetVariableIsEmpty) {
  unsetenv("VESK_TEST_NOPE");
  EXPECT_EQ("", qor::get_env("VESK_TEST_NOPE"));
  setenv("VESK_TEST_NOPE", "x=y", 1);
  EXPECT_EQ("x=y", qor::get_env("VESK_TEST_NOPE"));
  unsetenv("VESK_TEST_NOPE");
}

TEST_F(KitDirs, DirectoryVariablesMustBeSetAndNonEmpty) {
  CoutCapture cap;
  unsetenv("VESK_DIR_CONFIG");
  try {
    qor::get_parameters("x");
    FAIL();
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ("failed to get environment variable \"VESK_DIR_CONFIG\" - did you source qor/setup.bash?",
                 e.what());
  }
  setenv("VESK_DIR_CONFIG", "", 1);
  try {
    qor::get_parameters("x");
    FAIL();
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ("environment variable \"VESK_DIR_CONFIG\" was empty - check \"vesk_info\" in a terminal",
                 e.what());
  }
  EXPECT_NE(std::string::npos, cap.str().find("[ERROR] environment variable \"VESK_DIR_CONFIG\" was empty"));
}

TEST_F(KitDirs, GetDirCreatesTheLastComponentOnly) {
  EXPECT_EQ(root + "/state", qor::get_dir("VESK_DIR_STATE"));
  struct stat st;
  EXPECT_EQ(0, stat((root + "/state").c_str(), &st));
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(root + "/state/blob", qor::get_state_filename("blob"));
  CoutCapture cap;
  EXPECT_THROW(qor::ensure_dir_exists(root + "/a/b/c"), std::runtime_error);
  EXPECT_NE(std::string::npos, cap.str().find("[ERROR] failed create directory \"" + root + "/a/b/c\""));
}

TEST_F(KitDirs, ParameterFileLines) {
  qor::ensure_dir_exists(root + "/config");
  write(root + "/config/params", "a=1\n# note\n\nb = 2\nc\nd=x=y\na=3");
  CoutCapture cap;
  auto p = qor::get_parameters("params");
  ASSERT_EQ(4u, p.size());
  EXPECT_EQ("a", p[0].key);
  EXPECT_EQ("1", p[0].value);
  EXPECT_EQ("b ", p[1].key);
  EXPECT_EQ(" 2", p[1].value);
  EXPECT_EQ("d", p[2].key);
  EXPECT_EQ("x=y", p[2].value);
  EXPECT_EQ("a", p[3].key);  // a key written twice gives two entries
  EXPECT_EQ("3", p[3].value);
  std::string out = cap.str();
  EXPECT_NE(std::string::npos, out.find("reading \"" + root + "/config/params\"...\n"));
  EXPECT_NE(std::string::npos,
            out.find("****WARNING**** unparseable line in \"" + root + "/config/params\"\n"));
  EXPECT_EQ(out.find("unparseable"), out.rfind("unparseable"));  // exactly one warning
}

TEST_F(KitDirs, ParameterFileFallsBackToTheKitShare) {
  qor::ensure_dir_exists(root + "/qor");
  qor::ensure_dir_exists(root + "/qor/share");
  qor::ensure_dir_exists(root + "/qor/share/config");
  write(root + "/qor/share/config/params", "k=v\n");
  CoutCapture cap;
  auto p = qor::get_parameters("params");
  ASSERT_EQ(1u, p.size());
  EXPECT_EQ("v", p[0].value);
  EXPECT_TRUE(qor::get_parameters("absent").empty());
  EXPECT_NE(std::string::npos, cap.str().find("no \"absent\" found\n"));
}

// A configuration path of the wrong kind is said so, never taken silently for an empty
// folder or file.
TEST_F(KitDirs, WrongKindsOfConfigurationPathsAreSaidSo) {
  write(root + "/config", "a file where the folder should be");
  {
    CoutCapture cap;
    EXPECT_TRUE(qor::get_parameters("params").empty());
    EXPECT_NE(std::string::npos, cap.str().find("**** WARNING **** \n\t\"" + root +
                                                "/config\" is not a folder: nothing in it can be found\n"))
        << cap.str();
  }
  ASSERT_EQ(0, remove((root + "/config").c_str()));
  qor::ensure_dir_exists(root + "/config");
  qor::ensure_dir_exists(root + "/config/params");
  {
    CoutCapture cap;
    EXPECT_TRUE(qor::get_parameters("params").empty());
    EXPECT_NE(std::string::npos,
              cap.str().find("**** WARNING **** \n\t\"" + root +
                             "/config/params\" is a folder, not a parameter file: using the defaults\n"))
        << cap.str();
  }
  // (A file without read permission gets "cannot read"; the superuser reads it anyway.)
  if (geteuid() != 0) {
    write(root + "/config/locked", "a=1\n");
    ASSERT_EQ(0, chmod((root + "/config/locked").c_str(), 0));
    CoutCapture cap;
    EXPECT_TRUE(qor::get_parameters("locked").empty());
    EXPECT_NE(std::string::npos, cap.str().find("\tcannot read \"" + root + "/config/locked\" ("))
        << cap.str();
  }
}

TEST_F(KitDirs, HostileParameterFilesNeverCrash) {
  qor::ensure_dir_exists(root + "/config");
  std::string garbage;
  for (int i = 0; i < 20000; ++i) garbage.push_back(char((i * 7919 + 13) % 256));
  write(root + "/config/garbage", garbage);
  write(root + "/config/long", "key=" + std::string(10000, 'v') + "\nnext=1");
  CoutCapture cap;
  auto g = qor::get_parameters("garbage");
  for (const auto& kv : g) EXPECT_EQ(std::string::npos, kv.key.find('\n'));
  auto l = qor::get_parameters("long");
  // 10004 bytes come back as pieces of 4094: the first carries the key.
  ASSERT_EQ(2u, l.size());
  EXPECT_EQ("key", l[0].key);
  EXPECT_EQ(4090u, l[0].value.size());
  EXPECT_EQ("next", l[1].key);
  // An unreadable file gives nothing (a directory cannot be read as a file).
  qor::ensure_dir_exists(root + "/config/dir");
  EXPECT_TRUE(qor::read_file_as_array(root + "/config/dir").empty());
}

TEST_F(KitDirs, ReadAndWriteSmallFiles) {
  std::string path = root + "/f.txt";
  EXPECT_STREQ("", qor::read_file(path));
  EXPECT_TRUE(qor::write_file_as_array(path, {"one", "", "three"}));
  EXPECT_STREQ("one\n\nthree\n", qor::read_file(path));
  auto lines = qor::read_file_as_array(path);
  ASSERT_EQ(3u, lines.size());
  EXPECT_EQ("", lines[1]);

  EXPECT_TRUE(qor::write_file(path, std::string(5000, 'z')));
  EXPECT_EQ(4095u, std::string(qor::read_file(path)).size());

  // A line of exactly one piece followed by its newline is one line.
  EXPECT_TRUE(qor::write_file(path, std::string(4094, 'q') + "\nend\r\n"));
  lines = qor::read_file_as_array(path);
  ASSERT_EQ(2u, lines.size());
  EXPECT_EQ(4094u, lines[0].size());
  EXPECT_EQ("end", lines[1]);

  EXPECT_TRUE(qor::file_exists(path));
  qor::ensure_file_not_exists(path);
  EXPECT_FALSE(qor::file_exists(path));
  qor::ensure_file_not_exists(path);  // absent is fine

  CoutCapture cap;
  EXPECT_FALSE(qor::write_file(root + "/no/such/dir/f", "x"));
  EXPECT_NE(std::string::npos, cap.str().find("failed write \"" + root + "/no/such/dir/f\"\n"));
  // The device accepts the open but not the bytes: not reported as success.
  if (qor::file_exists("/dev/full")) {
    EXPECT_FALSE(qor::write_file("/dev/full", "x"));
    EXPECT_NE(std::string::npos, cap.str().find("failed write \"/dev/full\"\n"));
  }
}

TEST(Release, StringsBothWays) {
  EXPECT_EQ(11813, qor::get_release());
  EXPECT_EQ("R230105", qor::release_to_string(11813));
  EXPECT_EQ("R230105", qor::get_release_string());
  EXPECT_EQ("R000000", qor::release_to_string(0));
  EXPECT_EQ("R??????", qor::release_to_string(0xBDBD));
  EXPECT_EQ("U230105", qor::release_to_string(11813 | 0x8000));
  EXPECT_EQ(11813, qor::release_from_string("R230105"));
  EXPECT_EQ(11813, qor::release_from_string("R230105\n"));
  EXPECT_EQ(0xBDBD, qor::release_from_string("R2301"));
  EXPECT_EQ(0x8000, qor::release_from_string("U000000"));
  EXPECT_EQ(0xBDBD, qor::release_from_string("U230105"));
  EXPECT_EQ(0xBDBD, qor::release_from_string("R23xx05"));
  EXPECT_EQ(0xBDBD, qor::release_from_string(""));
  EXPECT_EQ(0xBDBD, qor::release_from_string(std::string(100000, 'R')));
  // Read exactly or refused: no negative fields, no field beyond its bits, no blanks or signs.
  for (const char* bad : {"R23-213", "R-10101", "R991399", "R641231", "R231601", "R230132", "R 1 1 1",
                          "R+1+1+1", "R23 105", "R2301 5", "R0x0101"})
    EXPECT_EQ(0xBDBD, qor::release_from_string(bad)) << bad;
  EXPECT_EQ(0x7FFF, qor::release_from_string("R631531"));
  for (unsigned r = 1; r < 0x8000; r += 37) {
    if (r == 0xBDBD || (r & 0x1F) > 31) continue;
    unsigned y = r >> 9, m = (r >> 5) & 0xF, d = r & 0x1F;
    if (y > 99) continue;
    EXPECT_EQ(r, qor::release_from_string(qor::release_to_string((unsigned short)r))) << y << m << d;
  }
}

TEST(ParseInt, CConversionRules) {
  EXPECT_EQ(0, qor::parse_int("abc"));
  EXPECT_EQ(-7, qor::parse_int("-7"));
  EXPECT_EQ(16, qor::parse_int("0x10"));
  EXPECT_EQ(8, qor::parse_int("010"));
  EXPECT_EQ(2, qor::parse_int(" 2"));
  EXPECT_EQ(0, qor::parse_int(""));
  EXPECT_EQ(0, qor::parse_int(nullptr));
}

TEST_F(KitDirs, DirectoryListingHidesDotEntries) {
  std::string d = root + "/list";
  qor::ensure_dir_exists(d);
  write(d + "/.hidden", "");
  write(d + "/a", "");
  qor::ensure_dir_exists(d + "/sub");
  ASSERT_EQ(0, symlink("a", (d + "/link").c_str()));
  os::Directory dir(d);
  EXPECT_FALSE(dir.wasDirectory());
  std::set<std::string> names;
  bool sub_is_dir = false, link_is_link = false, a_is_plain = false;
  for (std::string n = dir.getNextFile(); !n.empty(); n = dir.getNextFile()) {
    names.insert(n);
    if (n == "sub") sub_is_dir = dir.wasDirectory();
    if (n == "link") link_is_link = dir.wasSymLink();
    if (n == "a") a_is_plain = !dir.wasDirectory() && !dir.wasSymLink();
  }
  EXPECT_EQ((std::set<std::string>{"a", "sub", "link"}), names);
  EXPECT_TRUE(sub_is_dir);
  EXPECT_TRUE(link_is_link);
  EXPECT_TRUE(a_is_plain);
  EXPECT_FALSE(dir.wasDirectory());  // no current entry after the end
  os::Directory missing(root + "/nope");
  EXPECT_EQ("", missing.getNextFile());
}
