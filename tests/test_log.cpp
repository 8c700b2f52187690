#include <gtest/gtest.h>

#include <string>

#include "core/messages.h"
#include "platform/log.h"
#include "platform/platform.h"
#include "tests/test_helpers.h"

namespace {

// Each test gets a fresh log configuration and a clock at a known time.
struct LogFixture : testing::Test {
  TempDir dir;
  void SetUp() override {
    log_reset();
    options_reset();
    headless_clock_set({3723, 450000});
  }
  void TearDown() override {
    log_reset();
    options_reset();
    headless_clock_set({0, 0});
  }
};

using Log = LogFixture;
using Options = LogFixture;

}  // namespace

TEST_F(Log, PrefixFormatsHoursMinutesSecondsHundredths) {
  struct Case {
    ClockValue t;
    const char* prefix;
  } cases[] = {
      {{3723, 450000}, "[1:02:03.45] "},
      {{0, 0}, "[0:00:00.00] "},
      {{59, 999999}, "[0:00:59.99] "},
      {{36000 + 61, 10000}, "[10:01:01.01] "},
  };
  for (const Case& c : cases) {
    char out[64];
    log_format_prefix(c.t, out, sizeof out);
    EXPECT_STREQ(out, c.prefix);
  }
}

TEST_F(Log, ConfigurationMessageNamesTheFileAndIsNotLogged) {
  ScopedEnv unset("VOLG_LOGFILE", nullptr);
  ScopedEnv flags("VOLG_LOGFILE_FLAGS", nullptr);
  std::string path = dir.file("lastlog.txt");
  write_file(path, "old content\n");
  log_printf("VOLG_LOGFILE=%s", path.c_str());
  log_printf("hello %d\n", 42);
  log_printf("\x13 dropped\n");
  log_reset();
  std::string expected = "[1:02:03.45] Logfile \"" + path +
                         "\" opened\n"
                         "[1:02:03.45] VOLG 0.31\n"
                         "[1:02:03.45] hello 42\n";
  EXPECT_EQ(read_file(path), expected);
}

TEST_F(Log, EnvironmentAppendWinsOverConfigurationMessage) {
  std::string env_path = dir.file("run.log");
  std::string ignored = dir.file("ignored.txt");
  write_file(env_path, "earlier run\n");
  ScopedEnv env("VOLG_LOGFILE", (">>" + env_path).c_str());
  ScopedEnv flags("VOLG_LOGFILE_FLAGS", nullptr);
  log_printf("VOLG_LOGFILE=%s", ignored.c_str());
  log_printf("line\n");
  log_reset();
  std::string content = read_file(env_path);
  EXPECT_EQ(content.rfind("earlier run\n", 0), 0u);
  EXPECT_NE(content.find("Logfile \"" + env_path + "\" opened\n"), std::string::npos);
  EXPECT_NE(content.find("] line\n"), std::string::npos);
  EXPECT_FALSE(file_exists(ignored));
}

TEST_F(Log, FlagsReplaceTheOpenMode) {
  std::string path = dir.file("flags.log");
  write_file(path, "kept\n");
  ScopedEnv env("VOLG_LOGFILE", (">" + path).c_str());
  ScopedEnv flags("VOLG_LOGFILE_FLAGS", "a");
  log_printf("first\n");
  log_reset();
  std::string content = read_file(path);
  EXPECT_EQ(content.rfind("kept\n", 0), 0u);
  EXPECT_NE(content.find("] first\n"), std::string::npos);
}

TEST_F(Log, UnopenableFileDisablesLoggingSilently) {
  ScopedEnv env("VOLG_LOGFILE", nullptr);
  log_printf("VOLG_LOGFILE=%s", "/nonexistent/dir/log.txt");
  log_printf("nothing happens\n");
  log_error("still fine");
  EXPECT_STREQ(log_last_error(), "still fine");
}

TEST_F(Log, PrintMessageResetsColourAfterEscape) {
  ScopedEnv env("VOLG_LOGFILE", nullptr);
  std::string path = dir.file("colour.txt");
  log_printf("VOLG_LOGFILE=%s", path.c_str());
  print_message("\x1b[31mred");
  print_message("plain\n");
  print_message("100% sure");
  log_reset();
  std::string content = read_file(path);
  EXPECT_NE(content.find("] \x1b[31mred\x1b[0m\n"), std::string::npos);
  EXPECT_NE(content.find("] plain\n["), std::string::npos);
  EXPECT_NE(content.find("] 100% sure\n"), std::string::npos);
}

TEST_F(Options, BooleanAndIntegerValues) {
  struct Case {
    const char* options;
    const char* name;
    bool is_bool;
    int default_value;
    int expected;
    bool unrecognized;
  } cases[] = {
      {"[dsnd:off]", "dsnd", true, 1, 0, false},
      {"[dsnd:no][waveout:yes]", "waveout", true, 0, 1, false},
      {"[threaded:on]", "threaded", true, 0, 1, false},
      {"[dsnd:maybe]", "dsnd", true, 1, 1, true},
      {"[threaded: yes]", "threaded", true, 0, 0, true},
      {"", "dsnd", true, 1, 1, false},
      {"[sound-rate: 44100]", "sound-rate", false, 22050, 44100, false},
      {"[sound-rate:48000][sound-channels:8]", "sound-channels", false, 16, 8, false},
      {"[sound-rate:fast]", "sound-rate", false, 22050, 22050, true},
      {"[sound-mixahead:-5]", "sound-mixahead", false, 125, -5, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options);
    std::string path = dir.file("options.txt");
    log_reset();
    options_reset();
    ScopedEnv env("VOLG_LOGFILE", path.c_str());
    ScopedEnv options("VOLG_OPTIONS", c.options);
    int value = c.is_bool ? option_bool(c.name, c.default_value) : option_int(c.name, c.default_value);
    EXPECT_EQ(value, c.expected);
    log_reset();
    std::string logged = read_file(path);
    std::string line = std::string("unrecognized setting for ") + c.name + "\n";
    EXPECT_EQ(logged.find(line) != std::string::npos, c.unrecognized) << logged;
  }
}
