// One XML save of a file saver into a file that already holds a given number of data elements:
// the whole file is parsed, one element appended, and the file written beside and renamed.
#include <benchmark/benchmark.h>

#include <memory>
#include <mutex>

#include "base/Clock.h"
#include "base/EventLoop.h"
#include "core/IntervalItem.h"
#include "core/Kelvo.h"
#include "core/KelvoPlatform.h"
#include "support/Env.h"
#include "support/TempDir.h"

namespace duz {
namespace {

std::string FileWithDataElements(int64_t count) {
  std::string text =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<Kelvo caption=\"Hall\" date=\"00:00:00\">";
  for (int64_t i = 0; i < count; ++i)
    text += "<data time=\"" + std::to_string(i / 60 % 24 + 100).substr(1) + ":" +
            std::to_string(i % 60 + 100).substr(1) + "\" value=\"" + std::to_string(20 + i % 7) +
            ".5\"></data>";
  return text + "</Kelvo>\r\n";
}

void BM_XmlSave(benchmark::State& state) {
  test::TTempDir dir;
  dir.Write("config.xml", "<config/>");
  dir.Write(
      "registry.reg",
      "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quellix\\Duzezevovivo]\r\n"
      "\"config\"=\"" +
          dir.File("config.xml") +
          "\"\r\n\r\n"
          "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quellix\\Duzezevovivo\\ComPorts]\r\n"
          "\"COM1\"=\"" +
          dir.File("no-device") + "\"\r\n");
  test::TScopedEnv registry("DUZEZEVOVIVO_REGISTRY", dir.File("registry.reg"));
  test::TScopedEnv events("DUZEZEVOVIVO_EVENTLOG", dir.File("events.log"));
  const std::string content = FileWithDataElements(state.range(0));
  dir.Write("day.xml", content);

  TEventLoop loop;
  TestClock::Set(EncodeDate(2026, 12, 7) + EncodeTime(14, 0, 0, 0));
  auto platform = std::make_unique<TKelvoPlatform>(nullptr, CreateKelvo);
  platform->TickLock().Lock();  // the benchmark is the only tick
  pugi::xml_document config;
  config.load_string(
      ("<Kelvo comport=\"1\" caption=\"Hall\"><SAVE interval=\"0\" filename=\"day\" directory=\"" +
       dir.Path().string() + "/\"/></Kelvo>")
          .c_str());
  auto* kelvo = new TKelvo(*platform, config.document_element());
  TIntervalItem* saver = nullptr;
  for (int i = 0; i < kelvo->ComponentCount() && !saver; ++i)
    saver = dynamic_cast<TIntervalItem*>(kelvo->Component(i));
  TestClock::Advance(16);  // an interval of 0 saves at every call from now on

  for (auto _ : state) {
    saver->CheckDue(*kelvo);
    state.PauseTiming();
    dir.Write("day.xml", content);
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * content.size()));

  delete kelvo;
  platform->TickLock().Unlock();
  platform.reset();
  TestClock::Reset();
}

BENCHMARK(BM_XmlSave)->Arg(100)->Arg(1440)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace duz

BENCHMARK_MAIN();
