// The configuration loader: any bytes as the configuration file, loaded by the platform with a
// factory that records what it is asked to create (no port is opened). A file that loads gives one creation
// per KELVO root child, in document order, up to a WAIT whose pause does not convert; every subservice is
// freed with the platform. The clock is set, so that WAIT pauses cost no time.
#include <stdlib.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/Clock.h"
#include "base/Exception.h"
#include "base/Text.h"
#include "config/Registry.h"
#include "config/XmlHelpers.h"
#include "core/KelvoPlatform.h"
#include "fuzz/FuzzTarget.h"

namespace duz {
namespace {

std::string Directory, ConfigPath;
int Alive = 0;  // stand-ins not yet freed

class TStandIn : public TComponent {
 public:
  explicit TStandIn(TKelvoPlatform& owner) : TComponent(&owner) { ++Alive; }
  ~TStandIn() override { --Alive; }
};

// The offsets of the KELVO elements the platform should create, as the document says.
std::vector<ptrdiff_t> Expected(const std::string& bytes, bool& loads) {
  std::vector<ptrdiff_t> offsets;
  pugi::xml_document document;
  loads = document.load_buffer(bytes.data(), bytes.size(), pugi::parse_default | pugi::parse_comments);
  for (pugi::xml_node node : document.document_element().children()) {
    if (node.type() != pugi::node_element) continue;
    const std::string name = UpperCase(node.name());
    if (name == "KELVO") offsets.push_back(node.offset_debug());
    if (name != "WAIT") continue;
    try {
      GetAttrDef(node, "wait", 10).ToDouble();
    } catch (const EConvertError&) {
      loads = false;
      break;
    }
  }
  return offsets;
}

void Run(const std::string& bytes) {
  TestClock::Set(46000.5);  // each pause moves it; kept from running past year 9999
  std::ofstream(ConfigPath, std::ios::binary | std::ios::trunc) << bytes;
  bool loads = false;
  const std::vector<ptrdiff_t> expected = Expected(bytes, loads);
  std::vector<ptrdiff_t> asked;
  auto factory = [&](TKelvoPlatform& owner, pugi::xml_node element) {
    asked.push_back(element.offset_debug());
    if (GetAttrDef(element, "comport", 0).ToInt() == 0) throw Exception("Number of ComPort is not set!");
    new TStandIn(owner);
  };
  try {
    TKelvoPlatform platform(nullptr, factory);
    FUZZ_CHECK(loads);
  } catch (const Exception&) {
    FUZZ_CHECK(!loads);
  }
  FUZZ_CHECK(Alive == 0);
  if (loads) FUZZ_CHECK(asked == expected);
  FUZZ_CHECK(asked.size() <= expected.size() && std::equal(asked.begin(), asked.end(), expected.begin()));
}

}  // namespace
}  // namespace duz

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char directory[] = "/tmp/duz-config-fuzz-XXXXXX";
  if (!mkdtemp(directory)) return 1;
  duz::Directory = directory;
  std::atexit([] { std::filesystem::remove_all(duz::Directory); });
  duz::ConfigPath = duz::Directory + "/config.xml";
  setenv("DUZEZEVOVIVO_REGISTRY", (duz::Directory + "/registry.reg").c_str(), 1);
  setenv("DUZEZEVOVIVO_EVENTLOG", "/dev/null", 1);
  duz::RegistryWriteString("SOFTWARE\\Quellix\\Duzezevovivo", "config", duz::ConfigPath);
  return 0;
}

void duz::fuzz::FuzzOneInput(FuzzedDataProvider& input) { duz::Run(input.ConsumeRemainingBytesAsString()); }
