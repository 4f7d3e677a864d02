#include "support/Locales.h"

#include <clocale>
#include <cstdlib>
#include <memory>
#include <stdexcept>

#include "support/Env.h"
#include "support/Process.h"

namespace duz::test {

TLocales::TLocales(const std::vector<std::string>& names) : FPath(FDir.Path().string()) {
  std::vector<std::unique_ptr<TChildProcess>> builds;
  for (const std::string& name : names)
    builds.push_back(std::make_unique<TChildProcess>(
        std::vector<std::string>{"localedef", "-i", name, "-f", "UTF-8", FDir.File(name + ".UTF-8")}));
  for (size_t i = 0; i < builds.size(); ++i)
    if (builds[i]->Wait(std::chrono::seconds(120)) != 0)
      throw std::runtime_error("localedef " + names[i] + " failed: " + builds[i]->Stderr());
}

TScopedCLocale::TScopedCLocale(const TLocales& locales, const std::string& name)
    : FPrevious(std::setlocale(LC_ALL, nullptr)) {
  TScopedEnv path("LOCPATH", locales.Path());  // read by setlocale, and only then
  if (!std::setlocale(LC_ALL, (name + ".UTF-8").c_str()))
    throw std::runtime_error("the locale " + name + ".UTF-8 cannot be set");
}

TScopedCLocale::~TScopedCLocale() { std::setlocale(LC_ALL, FPrevious.c_str()); }

}  // namespace duz::test
