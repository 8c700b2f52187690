#include "tests/test_helpers.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

TempDir::TempDir() {
  char tmpl[] = "/tmp/rt_test_XXXXXX";
  char* made = mkdtemp(tmpl);
  path = made ? made : "/tmp";
}

TempDir::~TempDir() {
  if (path.rfind("/tmp/rt_test_", 0) == 0) {
    std::string cmd = "rm -rf '" + path + "'";
    if (system(cmd.c_str()) != 0) {
    }
  }
}

void write_file(const std::string& path, const std::string& content) {
  std::string dir = path.substr(0, path.rfind('/'));
  std::string cmd = "mkdir -p '" + dir + "'";
  if (system(cmd.c_str()) != 0) return;
  std::ofstream out(path, std::ios::binary);
  out << content;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

bool file_exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

ScopedEnv::ScopedEnv(const char* n, const char* value) : name(n) {
  const char* current = getenv(n);
  had = current != nullptr;
  if (had) old = current;
  if (value)
    setenv(n, value, 1);
  else
    unsetenv(n);
}

ScopedEnv::~ScopedEnv() {
  if (had)
    setenv(name.c_str(), old.c_str(), 1);
  else
    unsetenv(name.c_str());
}

CommandResult run_command(const std::string& command) {
  TempDir capture;
  std::string out = capture.file("out"), err = capture.file("err");
  std::string full = command + " >'" + out + "' 2>'" + err + "'";
  int raw = system(full.c_str());
  CommandResult r;
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  r.out = read_file(out);
  r.err = read_file(err);
  return r;
}
