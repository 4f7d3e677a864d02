// -check of the real binary: the examples, a configuration with one fault of each kind, a file that
// is not well-formed, and a registry that leads nowhere. Every finding is compared whole, with its
// place.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/Process.h"
#include "support/RegistryFile.h"
#include "support/TempDir.h"

namespace duz {
namespace {

class CheckTest : public ::testing::Test {
 protected:
  test::TRun Check(const std::vector<std::string>& arguments, const std::string& registry) const {
    std::vector<std::string> argv{test::BinPath("duzezevovivo"), "-check"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return test::RunToEnd(
        argv, {{"DUZEZEVOVIVO_REGISTRY", registry}, {"DUZEZEVOVIVO_EVENTLOG", Dir.File("events.log")}},
        Dir.Path().string(), std::chrono::seconds(20));
  }
  // The configuration written as config.xml, named by the registry file registry.reg.
  std::string Configure(const std::string& xml, const std::map<int, std::string>& comPorts = {}) const {
    Dir.Write("config.xml", xml);
    test::WriteRegistryFile(Dir.File("registry.reg"), Dir.File("config.xml"), comPorts);
    return Dir.File("config.xml");
  }

  test::TTempDir Dir;
};

TEST_F(CheckTest, ExamplesHaveNoErrors) {
  const std::string examples = std::string(DUZ_SOURCE_DIR) + "/examples/";
  const test::TRun run = Check({examples + "config.xml"}, examples + "registry.reg");
  EXPECT_EQ(run.Status, 0) << run.Out;
  EXPECT_EQ(run.Out.substr(run.Out.rfind("0 errors, ")), "0 errors, 1 warnings\n") << run.Out;
  EXPECT_NE(run.Out.find("warning: COM1 is /dev/ttyUSB0, which does not exist"), std::string::npos)
      << run.Out;
  EXPECT_FALSE(std::filesystem::exists(Dir.File("events.log"))) << "nothing is started";
}

TEST_F(CheckTest, EachFaultIsReportedAtItsPlace) {
  const std::string config = Configure(
      "<config>\n"
      "  <WAIT wait=\"soon\"/>\n"
      "  <Kelvo comport=\"70000\"/>\n"
      "  <Kelvo caption=\"no port\"/>\n"
      "  <Kelvo comport=\"2\" captoin=\"B\">\n"
      "    <CONDITON/>\n"
      "    <CONDITION>\n"
      "      <max value=\"hot\"/>\n"
      "      <email address=\"ops team@example.com\" message=\"always\"/><webhook url=\"ftp://x\" "
      "format=\"xml\"/>\n"
      "    </CONDITION>\n"
      "    <SAVE type=\"CSV\" rewrite=\"x\"/>\n"
      "    <DATAPUBLISHER type=\"TCPSERVER\" caption=\"port=1\" port=\"65536\"/>\n"
      "  </Kelvo>\n"
      "  <Kelvo comport=\"2\"/>\n"
      "  <SMTP address=\"mail\" port=\"0\" TLS=\"ssl\" TlsVerify=\"perhaps\" CAfile=\"ca.pem\"/>\n"
      "  <Shutdown type=\"DEFAULT\" value=\"1\"/>\n"
      "  <MQTT host=\"broker\" topic=\"site/#\" tsl=\"tls\" keyfile=\"k.pem\"/>\n"
      "  <Metrics address=\"localhost\" username=\"p\" passwordhash=\"secret\" "
      "certfile=\"/nonexistent/c.pem\" "
      "keyfile=\"k.pem\"><Ip host=\"10.0.0.5\"/><IP hots=\"x\"/><IP host=\"::1\"/></Metrics>\n"
      "  <Heartbeat url=\"https://checks.example.com/x\" interval=\"0\"/><HEARTBEAT url=\"https://y\"/>\n"
      "</config>\n",
      {{2, Dir.File("no-device")}});
  const test::TRun run = Check({}, Dir.File("registry.reg"));
  EXPECT_EQ(run.Status, 1);
  const std::vector<std::string> findings = {
      "(2,9): error: wait \"soon\" is not a number",
      "(3,10): error: comport 70000 is out of range (1 to 65535)",
      "(4,3): error: comport is missing",
      "(5,10): warning: COM2 is " + Dir.File("no-device") +
          ", which does not exist: the service tries it again every second",
      "(5,22): warning: unknown attribute \"captoin\" of <Kelvo> is ignored; did you mean \"caption\"?",
      "(6,5): warning: unknown element \"CONDITON\" is ignored; did you mean \"CONDITION\"?",
      "(8,12): error: value \"hot\" is not a number",
      "(9,14): error: address \"ops team@example.com\" is not an address the mail client sends to",
      "(9,45): warning: message \"always\" names no state (MIN, NORMAL, MAX, ERROR, OFF): <email> never acts",
      "(9,72): error: url \"ftp://x\" is not an http:// or https:// URL",
      "(9,86): error: format \"xml\" is not one of JSON, NTFY, SLACK, GOTIFY, TEXT",
      "(11,11): error: type \"CSV\" is not one of XML, XMLWA, TXT, TXTX",
      "(11,22): error: rewrite \"x\" is not a number",
      "(12,37): warning: unknown attribute \"caption\" of <DATAPUBLISHER> is ignored",
      "(12,54): error: port 65536 is out of range (0 to 65535)",
      "(14,10): warning: COM2 is also the port of the thermometer on line 5: only one of them can open it",
      "(15,24): error: port 0 is out of range (1 to 65535)",
      "(15,33): error: tls \"ssl\" is not one of NONE, STARTTLS, IMPLICIT",
      "(15,43): error: tlsverify \"perhaps\" is not true or false",
      "(16,3): warning: unknown element \"Shutdown\" is ignored; did you mean \"SHUTDOWN\"?",
      "(17,3): error: keyfile is given without certfile",
      "(17,3): warning: certfile and keyfile are used only with tls=\"tls\"",
      "(17,23): error: topic \"site/#\" may not hold + or #",
      "(17,38): warning: unknown attribute \"tsl\" of <MQTT> is ignored; did you mean \"tls\"?",
      "(18,3): error: certfile \"/nonexistent/c.pem\" does not load: No such file or directory",
      "(18,3): error: passwordhash is not a bcrypt hash (\"$2y$...\", as htpasswd -B writes it)",
      "(18,12): error: address \"localhost\" is not an IPv4 address",
      "(18,134): warning: an IP entry without host matches no client",
      "(18,138): warning: unknown attribute \"hots\" of <IP> is ignored; did you mean \"host\"?",
      "(18,148): warning: host \"::1\" is an IPv6 address, and the server listens on IPv4 only",
      "(19,49): error: interval 0 is out of range (1 to 525600)",
      "(19,63): warning: a second HEARTBEAT element is ignored: the first one holds the settings",
  };
  std::string expected;
  for (const std::string& finding : findings) expected += config + finding + "\n";
  EXPECT_EQ(run.Out, expected + "19 errors, 13 warnings\n");
}

TEST_F(CheckTest, FileThatIsNotWellFormedIsOneErrorAtItsPlace) {
  Configure("<config>\n  <Kelvo comport=\"1\">\n</config>\n");
  const test::TRun run = Check({"config.xml"}, Dir.File("registry.reg"));
  EXPECT_EQ(run.Status, 1);
  EXPECT_EQ(run.Out, "config.xml(3,3): error: Start-end tags mismatch\n1 errors, 0 warnings\n");
}

TEST_F(CheckTest, RegistryThatLeadsNowhereIsAnError) {
  struct TCase {
    const char* Label;
    std::string Registry;
    std::string Finding;  // after the registry file's name
  };
  const std::string registry = Dir.File("registry.reg");
  const TCase cases[] = {
      {"no registry file", "",
       "(1,1): error: the registry file does not exist: the service finds no configuration"},
      {"no config value",
       "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quellix\\Duzezevovivo]\n",
       "(1,1): error: no value \"config\" in [HKEY_LOCAL_MACHINE\\SOFTWARE\\Quellix\\Duzezevovivo]: the "
       "service "
       "finds no configuration"},
      {"no such file",
       "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quellix\\Duzezevovivo]\n"
       "\"Config\"=\"/nonexistent/config.xml\"\n",
       "(4,1): error: Config file not found! (/nonexistent/config.xml)"},
      {"not a string",
       "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quellix\\Duzezevovivo]\n"
       "\"config\"=dword:00000001\n",
       "(4,1): error: Invalid data type for 'config'"},
  };
  for (const TCase& c : cases) {
    std::filesystem::remove(registry);
    if (!c.Registry.empty()) test::WriteFile(registry, c.Registry);
    const test::TRun run = Check({}, registry);
    EXPECT_EQ(run.Status, 1) << c.Label;
    EXPECT_EQ(run.Out, registry + c.Finding + "\n1 errors, 0 warnings\n") << c.Label;
  }
}

}  // namespace
}  // namespace duz
