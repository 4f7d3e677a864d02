#include "log/ThreadUtils.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <thread>

namespace duz {
namespace {

TEST(SetThreadNameTest, NameIsCutToWhatTheKernelKeeps) {
  struct TCase {
    const char* Label;
    std::string Name, Expected;
  };
  for (const TCase& c :
       {TCase{"short", "Logger", "Logger"}, TCase{"exactly 15", "ABCDEFGHIJKLMNO", "ABCDEFGHIJKLMNO"},
        TCase{"too long", "ABCDEFGHIJKLMNOPQRS", "ABCDEFGHIJKLMNO"}}) {
    char name[16] = {};
    std::thread([&] {
      SetThreadName(c.Name);
      pthread_getname_np(pthread_self(), name, sizeof name);
    }).join();
    EXPECT_EQ(std::string(name), c.Expected) << c.Label;
  }
}

}  // namespace
}  // namespace duz
