#pragma once
// The ground of the tests of a thermometer subservice and its children: a registry file that names
// a configuration and puts COM1 on a pseudo-terminal (COM9 on a device that does not exist), the
// event log in a temporary directory, a shutdown command that records its arguments in
// shutdown.log instead of stopping the computer, an event loop on the test's thread that delivers the port's
// data, and a platform that owns the subservices, made when the test has set the clock and the
// regional settings it wants; both are restored afterwards. Header only: the test programs that use it link
// the core library.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>
#include <memory>
#include <pugixml.hpp>
#include <string>
#include <vector>

#include "base/Clock.h"
#include "base/EventLoop.h"
#include "base/RegionalSettings.h"
#include "base/ThreadAnnotations.h"
#include "core/Kelvo.h"
#include "core/KelvoPlatform.h"
#include "support/Env.h"
#include "support/Pty.h"
#include "support/RegistryFile.h"
#include "support/TempDir.h"

namespace duz::test {

class TThermometerRig {
 protected:
  TThermometerRig() {
    FDir.Write("shutdown", "#!/bin/sh\necho \"$@\" >> '" + FDir.File("shutdown.log") + "'\n");
    chmod(FDir.File("shutdown").c_str(), 0755);
    FDir.Write("config.xml", "<config/>");
    WriteRegistry(FPty.SlavePath());
  }
  ~TThermometerRig() {
    FreePlatform();
    TestClock::Reset();
    SetRegionalSettings(FOldSettings);
  }

  // COM1 on the given device instead of the pseudo-terminal.
  void WriteRegistry(const std::string& com1) {
    WriteRegistryFile(FDir.File("registry.reg"), FDir.File("config.xml"),
                      {{1, com1}, {9, FDir.File("no-such-device")}});
  }
  // ticksHeld: the platform's tick thread is kept away, and the test ticks the subservices itself.
  void CreatePlatform(bool ticksHeld) NO_THREAD_SAFETY_ANALYSIS {
    FPlatform = std::make_unique<TKelvoPlatform>(nullptr, CreateKelvo);
    if (ticksHeld) FPlatform->TickLock().Lock();
    FTicksHeld = ticksHeld;
  }
  // The platform's tick thread may tick (and a shutdown free the subservices) from now on.
  void LetPlatformTick() NO_THREAD_SAFETY_ANALYSIS {
    if (std::exchange(FTicksHeld, false)) FPlatform->TickLock().Unlock();
  }
  // The subservices and the platform gone, e.g. before a server of the test they talk to goes.
  void FreePlatform() {
    if (FPlatform) LetPlatformTick();
    FPlatform.reset();
  }
  // The root element of the text, in a document kept as long as the rig.
  pugi::xml_node Parse(const std::string& xml) {
    auto& document = FDocuments.emplace_back(std::make_unique<pugi::xml_document>());
    EXPECT_TRUE(document->load_string(xml.c_str())) << xml;
    return document->document_element();
  }

  TTempDir FDir;
  TScopedEnv FRegistry{"DUZEZEVOVIVO_REGISTRY", FDir.File("registry.reg")};
  TScopedEnv FEvents{"DUZEZEVOVIVO_EVENTLOG", FDir.File("events.log")};
  TScopedEnv FShutdown{"DUZEZEVOVIVO_SHUTDOWN_COMMAND", FDir.File("shutdown")};
  TPty FPty;
  TEventLoop FLoop;
  TRegionalSettings FOldSettings = RegionalSettings();
  std::vector<std::unique_ptr<pugi::xml_document>> FDocuments;
  std::unique_ptr<TKelvoPlatform> FPlatform;
  bool FTicksHeld = false;
};

}  // namespace duz::test
