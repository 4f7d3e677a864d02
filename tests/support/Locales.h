#pragma once
// Real locales for tests, built with localedef (package locales) into a temporary directory: give
// Path() to the programs a test starts as LOCPATH, or switch this process's C library to one of
// them with TScopedCLocale.
#include <string>
#include <vector>

#include "support/TempDir.h"

namespace duz::test {

class TLocales {
 public:
  // Builds <name>.UTF-8 for every name (such as "cs_CZ"), in parallel. Raises when one fails.
  explicit TLocales(const std::vector<std::string>& names);
  const std::string& Path() const { return FPath; }

 private:
  TTempDir FDir;
  std::string FPath;
};

// The C library's locale of this process (LC_ALL) set to <name>.UTF-8 of locales for one scope.
class TScopedCLocale {
 public:
  TScopedCLocale(const TLocales& locales, const std::string& name);
  ~TScopedCLocale();

 private:
  std::string FPrevious;
};

}  // namespace duz::test
