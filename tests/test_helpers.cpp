#include "tests/test_helpers.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <png.h>

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

std::string png_bytes(int w, int h, int channels, const std::vector<uint8_t>& px,
                      const std::vector<std::string>& texts) {
  std::string out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return "";
  }
  png_set_write_fn(
      png, &out,
      [](png_structp p, png_bytep data, size_t n) {
        ((std::string*)png_get_io_ptr(p))->append((const char*)data, n);
      },
      nullptr);
  png_set_IHDR(png, info, w, h, 8, channels == 4 ? PNG_COLOR_TYPE_RGBA : PNG_COLOR_TYPE_RGB,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  std::vector<png_text> text(texts.size());
  for (size_t i = 0; i < texts.size(); i++) {
    text[i] = {};
    text[i].compression = PNG_TEXT_COMPRESSION_NONE;
    text[i].key = (png_charp) "Comment";
    text[i].text = (png_charp)texts[i].c_str();
  }
  if (!text.empty()) png_set_text(png, info, text.data(), (int)text.size());
  png_write_info(png, info);
  for (int y = 0; y < h; y++) png_write_row(png, px.data() + (size_t)y * w * channels);
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return out;
}
