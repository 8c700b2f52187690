// Whole runs of the real program, headless.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "tests/test_helpers.h"

namespace {

const std::string program_path = std::string(RT_BINARY_DIR) + "/rutmoto";

// A game-data folder with the marker archive and, optionally, one track.
struct GameData {
  TempDir data;
  TempDir home;
  explicit GameData(bool with_track) {
    write_file(data.file("zzzz.saf"), read_file(std::string(RT_BINARY_DIR) + "/zzzz.saf"));
    if (with_track) {
      write_file(data.file("fixture/terrain.hf"), "placeholder height field\n");
      write_file(data.file("fixture/desc"), "Fixture Track\nsecond line\n");
    }
  }
  std::string env() const {
    return "RT_HOME='" + data.path + "' XDG_DATA_HOME='" + home.path + "' VOLG_LOGFILE= ";
  }
  std::string home_file(const char* name) const { return home.path + "/Rutmoto/" + name; }
};

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Every line appears in the log, in this order.
template <size_t N>
void expect_in_order(const std::string& log, const char* const (&lines)[N]) {
  size_t at = 0;
  for (const char* line : lines) {
    size_t found = log.find(line, at);
    EXPECT_NE(found, std::string::npos) << "missing or out of order: " << line << "\n" << log;
    if (found != std::string::npos) at = found;
  }
}

}  // namespace

TEST(Program, HeadlessRunWritesLogAndConfigAndExitsZero) {
  GameData game(true);
  CommandResult r = run_command(game.env() + program_path + " --headless --ticks 500 --debug --track fixture");
  EXPECT_EQ(r.status, 0) << r.err;
  std::string log = read_file(game.home_file("lastlog.txt"));
  EXPECT_TRUE(contains(log, "] Logfile \"" + game.home_file("lastlog.txt") + "\" opened\n")) << log;
  const char* expected_in_order[] = {
      "] VOLG 0.31\n",           "] Rutmoto version ",     "] fixture -> Fixture Track\n",
      "] Ran 500 ticks",         "] Freeing memory (1)\n", "] Closing input devices\n",
      "] Closing audio\n",       "] Writing config files\n", "] Freeing memory (2)\n",
      "] Freeing memory (3)\n",  "] Freeing file list\n",  "] Freeing memory (4)\n",
      "] Deleting textures\n",   "] Deleting models\n",
  };
  expect_in_order(log, expected_in_order);
  std::string config = read_file(game.home_file("config"));
  EXPECT_EQ(config.rfind("xres=640\nyres=480\n", 0), 0u) << config;
  EXPECT_TRUE(contains(config, "\nthrottle_key=(k)x\n"));
  EXPECT_TRUE(contains(config, "\ntrack=fixture\n")) << config;
}

TEST(Program, CommandLineErrorsExitOne) {
  GameData game(true);
  CommandResult r = run_command(game.env() + program_path + " --headless --lod-bias x");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Bad arg for --lod-bias\n");
  r = run_command(game.env() + program_path + " --headless a.rtdemo b.rtdemo");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Too many files!\n");
  EXPECT_FALSE(file_exists(game.home_file("config")));  // ended before any writing
}

TEST(Program, NoTracksFound) {
  GameData game(false);
  CommandResult r = run_command(game.env() + program_path + " --headless --ticks 10");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "No tracks found\n");
}

TEST(Program, MissingGameDataShowsTheMessageAndExitsZero) {
  GameData game(true);
  unlink(game.data.file("zzzz.saf").c_str());
  CommandResult r = run_command(game.env() + program_path + " --headless --ticks 10");
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(contains(r.err, "Problem starting Rutmoto")) << r.err;
  EXPECT_TRUE(contains(r.err, "Can't find game data")) << r.err;
}

TEST(Program, InputScriptCloseKeyEndsTheRun) {
  GameData game(true);
  write_file(game.data.file("script.txt"),
             "# quit after two seconds of the headless clock\n"
             "2.0 press close\n");
  CommandResult r = run_command(game.env() + program_path + " --headless --input-script '" +
                                game.data.file("script.txt") + "'");
  EXPECT_EQ(r.status, 0) << r.err;
  std::string log = read_file(game.home_file("lastlog.txt"));
  // One tick a frame in headless mode: the Close key arrives on tick 256.
  EXPECT_TRUE(contains(log, "] Ran 256 ticks")) << log;
  EXPECT_TRUE(contains(log, "] Writing config files\n"));
}

TEST(Program, BadInputScriptIsRefused) {
  GameData game(true);
  write_file(game.data.file("script.txt"), "1.0 press nosuchkey\n");
  CommandResult r = run_command(game.env() + program_path + " --headless --input-script '" +
                                game.data.file("script.txt") + "'");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(contains(r.err, "line 1")) << r.err;
}

TEST(Program, SigtermShutsDownNormally) {
  GameData game(true);
  std::string log_path = game.home_file("lastlog.txt");
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    setenv("RT_HOME", game.data.path.c_str(), 1);
    setenv("XDG_DATA_HOME", game.home.path.c_str(), 1);
    unsetenv("VOLG_LOGFILE");
    execl(program_path.c_str(), "rutmoto", "--headless", (char*)nullptr);
    _exit(127);
  }
  // Wait until the main loop runs (the log names the version), then stop it.
  for (int i = 0; i < 200 && !contains(read_file(log_path), "Rutmoto version"); i++) usleep(20000);
  usleep(100000);
  kill(pid, SIGTERM);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_TRUE(contains(read_file(log_path), "] Writing config files\n"));
  EXPECT_TRUE(file_exists(game.home_file("config")));
}

TEST(Program, OpenHomeRunsTheFileBrowserOnTheHomeDirectory) {
  GameData game(true);
  TempDir bin;
  std::string record = bin.file("opened.txt");
  write_file(bin.file("xdg-open"), "#!/bin/sh\necho \"$1\" > '" + record + "'\n");
  chmod(bin.file("xdg-open").c_str(), 0755);
  CommandResult r =
      run_command("PATH='" + bin.path + ":/usr/bin:/bin' " + game.env() + program_path + " --open-home");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read_file(record), game.home.path + "/Rutmoto\n");
  EXPECT_FALSE(file_exists(game.home_file("lastlog.txt")));  // ran before the game-data check
}

#include "tests/track_fixture.h"

TEST(Program, TrackOnTheCommandLineLoadsWithItsMessages) {
  GameData game(false);
  FixtureTrack t;
  write_fixture_track(game.data.path, "full", t);
  CommandResult r =
      run_command(game.env() + program_path + " --headless --ticks 20 --debug --track full");
  EXPECT_EQ(r.status, 0) << r.err;
  std::string log = read_file(game.home_file("lastlog.txt"));
  const char* expected_in_order[] = {
      "] Scanning\n",          "] Loading '@full/'\n",  "] Loading terrain\n",
      "] Loading shading\n",   "] Loading shadows\n",  "] Loading tileinfo\n",
      "] Loading tilemap\n",   "] Loading flaggers\n", "] Loading billboards\n",
      "] Loading statues\n",   "] Loading map\n",      "] Ran 20 ticks",
      "] Deallocating track\n", "] Finished deallocating track\n",
  };
  expect_in_order(log, expected_in_order);
  EXPECT_FALSE(contains(log, "could not be loaded"));
}

TEST(Program, BrokenTrackGivesItsMessageAndNoSession) {
  struct Case {
    const char* name;
    void (*spoil)(const std::string& dir);
    const char* message;
  } cases[] = {
      {"notiles", [](const std::string& dir) { unlink((dir + "tileinfo").c_str()); },
       "texturelist'\n"},
      {"badhf", [](const std::string& dir) { write_file(dir + "terrain.hf", "10 x\n"); },
       "] Bad height field parameters\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    GameData game(false);
    FixtureTrack t;
    write_fixture_track(game.data.path, c.name, t);
    c.spoil(game.data.path + "/" + c.name + "/");
    CommandResult r = run_command(game.env() + program_path + " --headless --ticks 30 --track " +
                                  c.name);
    EXPECT_EQ(r.status, 0) << r.err;
    std::string log = read_file(game.home_file("lastlog.txt"));
    EXPECT_TRUE(contains(log, c.message)) << log;
    EXPECT_TRUE(contains(log, std::string("Track '") + c.name + "' could not be loaded")) << log;
    EXPECT_TRUE(contains(log, "] Ran 30 ticks")) << log;  // the program kept running
  }
}

TEST(Program, CheckedAllocationsFindNoLeaksOrBadFrees) {
  GameData game(false);
  FixtureTrack t;
  write_fixture_track(game.data.path, "full", t);
  CommandResult r = run_command("RT_CHECK_ALLOC=1 " + game.env() + program_path +
                                " --headless --ticks 50 --track full");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "") << "leaked blocks or bad frees reported";
}
