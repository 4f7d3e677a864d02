#include "config/Registry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "base/RegionalSettings.h"
#include "support/Env.h"
#include "support/Locales.h"
#include "support/TempDir.h"

namespace duz {
namespace {

using test::TScopedEnv;
using test::TTempDir;

const std::string ProgramKey = "SOFTWARE\\Quellix\\Duzezevovivo";

class RegistryTest : public ::testing::Test {
 protected:
  TTempDir FDir;
  std::string FPath = FDir.File("registry.reg");
  TScopedEnv FEnv{"DUZEZEVOVIVO_REGISTRY", FPath};

  void WriteRegistry(const std::string& body) {
    FDir.Write("registry.reg",
               "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\" + ProgramKey + "]\n" + body);
  }
};

TEST_F(RegistryTest, MissingFileKeyOrValueReadsAsEmpty) {
  EXPECT_EQ(ReadRegistryString(ProgramKey, "config"), "");
  WriteRegistry("\"other\"=\"x\"\n");
  EXPECT_EQ(ReadRegistryString(ProgramKey, "config"), "");
  EXPECT_EQ(ReadRegistryString(ProgramKey + "\\Nothing", "other"), "");
}

TEST_F(RegistryTest, StringTypesAreReadUpToTheirFirstZero) {
  WriteRegistry(
      "\"config\"=\"/etc/duz/config.xml\"\n"
      "\"expand\"=hex(2):25,00,48,00,4f,00,4d,00,45,00,25,00,00,00\n"
      "\"zero\"=hex(1):61,00,00,00,62,00,00,00\n");
  EXPECT_EQ(ReadRegistryString(ProgramKey, "config"), "/etc/duz/config.xml");
  EXPECT_EQ(ReadRegistryString(ProgramKey, "expand"), "%HOME%");
  EXPECT_EQ(ReadRegistryString(ProgramKey, "zero"), "a");
}

TEST_F(RegistryTest, OtherTypesAreRefusedByName) {
  WriteRegistry("\"config\"=dword:00000001\n\"blob\"=hex:00\n");
  for (const std::string name : {"config", "blob"}) {
    try {
      ReadRegistryString(ProgramKey, name);
      ADD_FAILURE() << name << " was read";
    } catch (const ERegistryException& e) {
      EXPECT_EQ(e.Message(), "Invalid data type for '" + name + "'");
    }
  }
}

TEST_F(RegistryTest, WritesKeepTheRestOfTheFileAndItsMode) {
  WriteRegistry("; hand-written note\n\"keep\"=\"me\"\n");
  ::chmod(FPath.c_str(), 0600);
  RegistryWriteString(ProgramKey, "config", "/etc/x.xml");
  RegistryWriteDword(ProgramKey + "\\Other", "Number", 7);
  const std::string text = FDir.Read("registry.reg");
  EXPECT_NE(text.find("; hand-written note\n\"keep\"=\"me\"\n\"config\"=\"/etc/x.xml\"\n"), std::string::npos)
      << text;
  EXPECT_EQ(ReadRegistryString(ProgramKey, "keep"), "me");
  EXPECT_EQ(ReadRegistryString(ProgramKey, "config"), "/etc/x.xml");
  struct stat status {};
  ASSERT_EQ(::stat(FPath.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0600u);
  // Nothing is left beside the file.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(FDir.Path()), {}), 1);
}

TEST_F(RegistryTest, KeysAreCreatedFoundAndDeletedWithoutCase) {
  EXPECT_FALSE(RegistryKeyExists(ProgramKey));
  RegistryCreateKey(ProgramKey + "\\ComPorts");
  EXPECT_TRUE(RegistryKeyExists(ProgramKey));
  EXPECT_TRUE(RegistryKeyExists("software\\quellix\\duzezevovivo\\comports"));
  EXPECT_TRUE(RegistryDeleteKey("SOFTWARE\\QUELLIX"));
  EXPECT_FALSE(RegistryKeyExists(ProgramKey + "\\ComPorts"));
  EXPECT_FALSE(RegistryDeleteKey(ProgramKey));
}

TEST_F(RegistryTest, KeysCompareWithoutCaseUnderATurkishLocaleToo) {
  test::TLocales locales({"tr_TR"});
  test::TScopedCLocale turkish(locales, "tr_TR");  // no upper-case "i" there
  RegistryCreateKey(ProgramKey + "\\ComPorts");
  EXPECT_TRUE(RegistryKeyExists("SOFTWARE\\QUELLIX\\DUZEZEVOVIVO\\COMPORTS"));
}

TEST_F(RegistryTest, RegistryThatIsASymbolicLinkIsNotWrittenThrough) {
  const std::string before = "Windows Registry Editor Version 5.00\n";
  FDir.Write("elsewhere", before);
  std::filesystem::create_symlink(FDir.File("elsewhere"), FPath);
  try {
    RegistryWriteString(ProgramKey, "config", "x");
    ADD_FAILURE() << "written";
  } catch (const ERegistryException& e) {
    EXPECT_EQ(e.Code(), ELOOP);
    EXPECT_NE(e.Message().find(FPath), std::string::npos) << e.Message();
  }
  EXPECT_TRUE(std::filesystem::is_symlink(FPath));
  EXPECT_EQ(FDir.Read("elsewhere"), before);
}

TEST_F(RegistryTest, MissingFolderIsCreatedButAnUnwritablePlaceRaises) {
  TScopedEnv nested("DUZEZEVOVIVO_REGISTRY", FDir.File("etc/duz/registry.reg"));
  RegistryWriteString(ProgramKey, "config", "x");
  EXPECT_EQ(ReadRegistryString(ProgramKey, "config"), "x");

  FDir.Write("plainfile", "");
  TScopedEnv blocked("DUZEZEVOVIVO_REGISTRY", FDir.File("plainfile/registry.reg"));
  EXPECT_THROW(RegistryWriteString(ProgramKey, "config", "x"), ERegistryException);
}

TEST_F(RegistryTest, RegionalValuesOverrideTheLocale) {
  const TRegionalSettings saved = RegionalSettings();
  FDir.Write(
      "registry.reg",
      "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\" + ProgramKey +
          "\\International]\n\"DecimalSeparator\"=\",\"\n\"DateSeparator\"=\".\"\n\"TimeSeparator\"=\"-\"\n"
          "\"ShortDateFormat\"=\"dd.mm.yyyy\"\n\"LongTimeFormat\"=\"hh-nn-ss\"\n");
  LoadRegionalSettings();
  const TRegionalSettings loaded = RegionalSettings();
  SetRegionalSettings(saved);
  EXPECT_EQ(loaded.DecimalSeparator, ',');
  EXPECT_EQ(loaded.DateSeparator, '.');
  EXPECT_EQ(loaded.TimeSeparator, '-');
  EXPECT_EQ(loaded.ShortDateFormat, "dd.mm.yyyy");
  EXPECT_EQ(loaded.LongTimeFormat, "hh-nn-ss");
  // Values that are not there leave the locale's settings.
  EXPECT_EQ(loaded.LongDateFormat, TRegionalSettings::FromLocale().LongDateFormat);
}

}  // namespace
}  // namespace duz
