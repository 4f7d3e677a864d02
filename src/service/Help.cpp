#include "service/Help.h"

#include <fmt/format.h>

#include "config/Registry.h"
#include "service/Deredoru.h"

namespace duz {

std::string HelpText() {
  return fmt::format(
      R"(Usage: duzezevovivo [-debug | -install [-silent] | -uninstall [-silent] | -check [FILE] | -testmail |
                    -testalert | -help | -version]

Watches Kelvo thermometers on serial ports and acts on their readings. Without a switch it is the
systemd service {0} ("{1}"): systemd starts it, and a start by hand fails.

Switches (also with "/" instead of "-", in any case):
  -debug          run in the foreground without systemd and show every log line: in a window
                  when a display is available, otherwise on stdout; Ctrl+C ends it, SIGHUP
                  reloads the configuration (as systemctl reload {0} does for the service)
  -install        write the unit {0}.service, register the service and enable it
  -uninstall      disable and remove the unit and the registration
  -silent         with -install or -uninstall: no line on success
  -check [FILE]   check the registry file and the configuration it names (or FILE) without
                  starting anything; one line per finding, exit status 1 when there are errors
  -testmail       send one test e-mail to every address of the email actions through the SMTP
                  server of the configuration, without opening a serial port or starting the
                  platform; exit status 1 when one was not accepted
  -testalert      the same for every alarm channel: an e-mail to every address, a post to every
                  webhook, a net message to every netmessage address, one heartbeat ping; one
                  line per channel, exit status 1 when one failed
  -help, -h, /?   this text
  -version        the version

Environment:
  DUZEZEVOVIVO_REGISTRY          the registry file (default /etc/duzezevovivo/registry.reg)
  DUZEZEVOVIVO_EVENTLOG          append event-log entries to this file instead of the journal
  DUZEZEVOVIVO_SHUTDOWN_COMMAND  run this program with the shutdown flags instead of
                                 systemctl poweroff or reboot
  DUZEZEVOVIVO_NETMESSAGE_COMMAND
                                 run this program with the address and the message of a
                                 netmessage action instead of "net send" (wall, a script);
                                 a webhook action needs no program
  DUZEZEVOVIVO_UNIT_DIR          where -install writes the unit (default /etc/systemd/system);
                                 when set, systemctl is not called

Alarm channels besides e-mail (see the manual page):
  <webhook url="https://ntfy.example.com/server-room" format="ntfy" message="max,error,off"/>
  <webhook url="https://chat.example.com/hooks/abc123" format="slack"/>
  <webhook url="https://alarms.example.com/kelvo" token="secret"/>   (JSON)
      children of CONDITION beside email; format json (default), ntfy, slack, gotify or text
  <HEARTBEAT url="https://checks.example.com/ping/your-uuid" interval="5"/>
      a ping every interval minutes while every thermometer is connected, failurl
      (default url/fail) while one is lost; an outside checker alarms when they stop

Files:
  {2}
      the registry; value "config" of HKEY_LOCAL_MACHINE\SOFTWARE\Quellix\Duzezevovivo names the
      XML configuration, for example /etc/duzezevovivo/config.xml
  yyyy-mm-dd hh_nn_ss_zzz.txt
      log files, in the working directory (/var/lib/duzezevovivo for the service)
  the systemd journal
      life cycle and errors: journalctl -t {0}; state: systemctl status {0})",
      ServiceName, ServiceDisplayName, RegistryPath());
}

std::string VersionText() { return std::string("duzezevovivo ") + DUZ_VERSION; }

std::string StartedByHandHint() {
  return fmt::format(
      "duzezevovivo runs as the systemd service {}; to watch in this terminal run it with -debug, "
      "to install the service run it with -install (see -help)",
      ServiceName);
}

}  // namespace duz
