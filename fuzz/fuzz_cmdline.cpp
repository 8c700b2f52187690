// Fuzzes the command-line parser: the input is split into arguments at NUL bytes.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "core/cmdline.h"
#include "core/config.h"
#include "core/program.h"
#include "platform/platform.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool started = false;
  if (!started) {
    platform_use_headless();
    started = true;
  }
  std::vector<std::string> args = {"rutmoto"};
  std::string current;
  for (size_t i = 0; i < size && args.size() < 64; i++) {
    if (data[i] == 0) {
      args.push_back(current);
      current.clear();
    } else {
      current.push_back((char)data[i]);
    }
  }
  args.push_back(current);
  std::vector<const char*> argv;
  for (const std::string& a : args) {
    if (a.rfind("--open-home", 0) == 0) return 0;  // would start the file browser
    argv.push_back(a.c_str());
  }
  run_options_init(run_options);
  settings_init_defaults();
  char error[1200];
  parse_command_line((int)argv.size(), argv.data(), error, sizeof error);
  return 0;
}
