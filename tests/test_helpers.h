// Shared helpers for the tests: temporary directories, files, environment.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A fresh directory under /tmp, removed with its contents on destruction.
struct TempDir {
  std::string path;
  TempDir();
  ~TempDir();
  std::string file(const std::string& name) const { return path + "/" + name; }
};

void write_file(const std::string& path, const std::string& content);
std::string read_file(const std::string& path);
bool file_exists(const std::string& path);

// Sets an environment variable for the scope and restores it after.
struct ScopedEnv {
  std::string name;
  bool had;
  std::string old;
  ScopedEnv(const char* name, const char* value);  // value nullptr unsets
  ~ScopedEnv();
};

// Runs a shell command; returns its exit status and captured stdout/stderr.
struct CommandResult {
  int status;
  std::string out;
  std::string err;
};
CommandResult run_command(const std::string& command);

// An 8-bit RGB or RGBA PNG of the given pixels (rows top to bottom), with
// each text as a "Comment" text chunk.
std::string png_bytes(int w, int h, int channels, const std::vector<uint8_t>& px,
                      const std::vector<std::string>& texts = {});
