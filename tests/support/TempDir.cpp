#include "TempDir.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace tessiva::test {

TTempDir::TTempDir(const std::string& APrefix) {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/" + APrefix + "XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (!::mkdtemp(buffer.data())) throw std::runtime_error("mkdtemp failed for " + pattern);
  FPath = buffer.data();
}

TTempDir::~TTempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(FPath, ignored);
}

std::string TTempDir::File(const std::string& AName) const { return FPath + "/" + AName; }

std::string TTempDir::WriteFile(const std::string& AName, const std::string& AContent) const {
  const std::string path = File(AName);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << AContent;
  if (!out) throw std::runtime_error("could not write " + path);
  return path;
}

std::string ReadWholeFile(const std::string& APath) {
  std::ifstream in(APath, std::ios::binary);
  if (!in) throw std::runtime_error("could not read " + APath);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

}  // namespace tessiva::test
