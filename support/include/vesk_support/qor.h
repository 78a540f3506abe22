// The kit's directories, small text files, key/value parameter files and
// release numbers. Failures follow the os:: report-and-raise convention.
#pragma once

#include <string>
#include <vector>

namespace qor {

// The variable's value, or "" when it is not set. Never fails.
std::string get_env(const char* name);

// The value of the environment variable `name`, after making sure that the
// directory exists. Fails when the variable is unset or empty.
std::string get_dir(const char* name);
void ensure_dir_exists(const std::string& path);  // creates the last component only
bool file_exists(const std::string& path);
void ensure_file_not_exists(const std::string& path);
std::string get_state_filename(const char* name);  // $VESK_DIR_STATE/name

// First 4095 bytes of the file at most, NUL-terminated, in a process-wide
// buffer valid until the next call (one thread at a time); "" when the file
// cannot be opened or is empty.
const char* read_file(const std::string& path);
// The file's lines without their line ends; lines longer than 4094 bytes come
// back in pieces of at most 4094 bytes; an unreadable file gives no lines.
std::vector<std::string> read_file_as_array(const std::string& path);
bool write_file(const std::string& path, const std::string& text);
bool write_file_as_array(const std::string& path, const std::vector<std::string>& lines);

struct KeyValuePair {
  std::string key;
  std::string value;
};

// Reads "$VESK_DIR_CONFIG/name", else "$VESK_DIR_QOR/share/config/name":
// key=value lines in file order; empty lines and "#" lines are skipped.
std::vector<KeyValuePair> get_parameters(const std::string& name);
// Parses the lines of a parameter file (the part of get_parameters after the
// file is read); `path` names the file in warnings.
std::vector<KeyValuePair> parse_parameters(const std::vector<std::string>& lines, const std::string& path);

// C "%i" conversion (0x10 is 16, 010 is 8); 0 when nothing can be read.
int parse_int(const char* text);

// Release numbers: bit 15 unofficial, bits 9-14 year, 5-8 month, 0-4 day.
constexpr unsigned short kReleaseNull = 0;
constexpr unsigned short kReleaseInvalid = 0xBDBD;
unsigned short get_release();
std::string release_to_string(unsigned short r);
unsigned short release_from_string(const std::string& text);
std::string get_release_string();

}  // namespace qor
