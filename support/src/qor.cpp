// Kit directories, small files, parameter files and release numbers.
#include "vesk_support/qor.h"

#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "vesk_support/os.h"

namespace qor {

namespace {
constexpr size_t kReadBufferSize = 4096;
char g_read_buffer[kReadBufferSize];
constexpr size_t kMaxLinePiece = 4094;
}  // namespace

std::string get_env(const char* name) {
  const char* v = name ? getenv(name) : nullptr;
  return v ? std::string(v) : std::string();
}

std::string get_dir(const char* name) {
  const char* v = getenv(name);
  if (!v)
    os::fail(std::string("failed to get environment variable \"") + name +
             "\" - did you source qor/setup.bash?");
  std::string value(v);
  if (value.empty())
    os::fail(std::string("environment variable \"") + name +
             "\" was empty - check \"vesk_info\" in a terminal");
  ensure_dir_exists(value);
  return value;
}

void ensure_dir_exists(const std::string& path) {
  if (mkdir(path.c_str(), 0755) == 0) return;
  if (errno == EEXIST) {
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode))
      os::warn("\"" + path + "\" is not a folder: nothing in it can be found");
    return;
  }
  os::fail("failed create directory \"" + path + "\"");
}

bool file_exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

void ensure_file_not_exists(const std::string& path) {
  if (file_exists(path)) remove(path.c_str());
}

std::string get_state_filename(const char* name) { return get_dir("VESK_DIR_STATE") + "/" + name; }

const char* read_file(const std::string& path) {
  g_read_buffer[0] = 0;
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return g_read_buffer;
  size_t n = fread(g_read_buffer, 1, kReadBufferSize - 1, f);
  g_read_buffer[n] = 0;
  fclose(f);
  return g_read_buffer;
}

std::vector<std::string> read_file_as_array(const std::string& path) {
  std::vector<std::string> lines;
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return lines;
  std::string line;
  bool pending = false;     // a line has been started but not yet ended
  bool just_split = false;  // the previous piece was cut at the length limit
  int c;
  while ((c = fgetc(f)) != EOF) {
    if (c == '\n') {
      while (!line.empty() && line.back() == '\r') line.pop_back();
      if (pending || !just_split) lines.push_back(line);
      line.clear();
      pending = false;
      just_split = false;
      continue;
    }
    just_split = false;
    line.push_back(char(c));
    pending = true;
    if (line.size() == kMaxLinePiece) {
      lines.push_back(line);
      line.clear();
      pending = false;
      just_split = true;
    }
  }
  if (pending) {
    while (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  fclose(f);
  return lines;
}

bool write_file(const std::string& path, const std::string& text) {
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) {
    std::cout << "failed write \"" << path << "\"" << std::endl;
    return false;
  }
  // A write that does not reach the disk (full device, I/O error) is a
  // failure too, reported like one that cannot open the file.
  bool ok = fwrite(text.data(), 1, text.size(), f) == text.size();
  ok = (fclose(f) == 0) && ok;
  if (!ok) std::cout << "failed write \"" << path << "\"" << std::endl;
  return ok;
}

bool write_file_as_array(const std::string& path, const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& l : lines) {
    text += l;
    text += "\n";
  }
  return write_file(path, text);
}

std::vector<KeyValuePair> parse_parameters(const std::vector<std::string>& lines, const std::string& path) {
  std::vector<KeyValuePair> pairs;
  for (const auto& line : lines) {
    if (line.empty() || line[0] == '#') continue;
    size_t eq = line.find('=');
    if (eq == std::string::npos) {
      std::cout << "****WARNING**** unparseable line in \"" << path << "\"" << std::endl;
      continue;
    }
    pairs.push_back(KeyValuePair{line.substr(0, eq), line.substr(eq + 1)});
  }
  return pairs;
}

std::vector<KeyValuePair> get_parameters(const std::string& name) {
  std::string path = get_dir("VESK_DIR_CONFIG") + "/" + name;
  if (!file_exists(path)) {
    path = get_dir("VESK_DIR_QOR") + "/share/config/" + name;
    if (!file_exists(path)) {
      std::cout << "no \"" << name << "\" found" << std::endl;
      return {};
    }
  }
  std::cout << "reading \"" << path << "\"..." << std::endl;
  // A folder, or a file this process may not read, would otherwise read as an empty file
  // and give every default without a word.
  struct stat st;
  if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    os::warn("\"" + path + "\" is a folder, not a parameter file: using the defaults");
    return {};
  }
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) {
    os::warn("cannot read \"" + path + "\" (" + std::strerror(errno) + "): using the defaults");
    return {};
  }
  fclose(f);
  return parse_parameters(read_file_as_array(path), path);
}

int parse_int(const char* text) {
  int value = 0;
  if (!text || sscanf(text, "%i", &value) != 1) return 0;
  return value;
}

unsigned short get_release() { return 11813; }

std::string release_to_string(unsigned short r) {
  if (r == kReleaseNull) return "R000000";
  if (r == kReleaseInvalid) return "R??????";
  char buf[16];
  snprintf(buf, sizeof buf, "%s%02i%02i%02i", (r & 0x8000) ? "U" : "R", (r >> 9) & 0x3F, (r >> 5) & 0x0F,
           r & 0x1F);
  return buf;
}

unsigned short release_from_string(const std::string& input) {
  std::string text = input;
  if (text.size() == 8 && text[7] == '\n') text.resize(7);
  if (text == "U000000") return 0x8000;
  if (text.size() != 7 || text[0] != 'R') return kReleaseInvalid;
  // Exactly two decimal digits per field, each within its bits (year 6, month 4, day 5):
  // anything else could not be told apart from another release once packed.
  constexpr int kFieldMax[3] = {0x3F, 0x0F, 0x1F};
  int field[3];
  for (int i = 0; i < 3; ++i) {
    const char hi = text[1 + 2 * i], lo = text[2 + 2 * i];
    if (hi < '0' || hi > '9' || lo < '0' || lo > '9') return kReleaseInvalid;
    field[i] = (hi - '0') * 10 + (lo - '0');
    if (field[i] > kFieldMax[i]) return kReleaseInvalid;
  }
  return static_cast<unsigned short>((field[0] << 9) | (field[1] << 5) | field[2]);
}

std::string get_release_string() { return release_to_string(get_release()); }

}  // namespace qor
