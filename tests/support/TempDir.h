#pragma once
// A fresh temporary directory for one test, removed with everything in it at the end.
#include <filesystem>
#include <string>

namespace duz::test {

class TTempDir {
 public:
  TTempDir();
  ~TTempDir();
  const std::filesystem::path& Path() const { return FPath; }
  std::string File(const std::string& name) const { return (FPath / name).string(); }
  std::string Read(const std::string& name) const;
  void Write(const std::string& name, const std::string& content) const;

 private:
  std::filesystem::path FPath;
};

// Whole content of a file ("" when missing).
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);

}  // namespace duz::test
