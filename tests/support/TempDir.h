// A private temporary directory, removed with everything in it on destruction.
#pragma once

#include <string>

namespace tessiva::test {

class TTempDir {
 public:
  // Creates /tmp/<APrefix>XXXXXX (or under $TMPDIR), mode 0700.
  explicit TTempDir(const std::string& APrefix = "tessiva-test-");
  ~TTempDir();
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;

  const std::string& Path() const { return FPath; }
  // Path() + "/" + AName.
  std::string File(const std::string& AName) const;
  // Writes AContent to File(AName) and returns that path.
  std::string WriteFile(const std::string& AName, const std::string& AContent) const;

 private:
  std::string FPath;
};

// The whole content of a file; throws std::runtime_error when it cannot be read.
std::string ReadWholeFile(const std::string& APath);

}  // namespace tessiva::test
