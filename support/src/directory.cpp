// Directory listing that hides entries starting with ".".
#include <dirent.h>
#include <sys/stat.h>

#include "vesk_support/os.h"

namespace os {

Directory::Directory(const std::string& path) : path_(path), stream_(nullptr) {}

Directory::~Directory() { close(); }

std::string Directory::getNextFile() {
  if (!stream_) {
    stream_ = opendir(path_.c_str());
    if (!stream_) {
      current_.clear();
      return std::string();
    }
  }
  for (;;) {
    dirent* e = readdir(static_cast<DIR*>(stream_));
    if (!e) {
      current_.clear();
      return std::string();
    }
    if (e->d_name[0] == '.') continue;
    current_ = e->d_name;
    return current_;
  }
}

void Directory::close() {
  if (stream_) closedir(static_cast<DIR*>(stream_));
  stream_ = nullptr;
  current_.clear();
}

bool Directory::wasDirectory() const {
  if (current_.empty()) return false;
  struct stat st;
  return stat((path_ + "/" + current_).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool Directory::wasSymLink() const {
  if (current_.empty()) return false;
  struct stat st;
  return lstat((path_ + "/" + current_).c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

}  // namespace os
