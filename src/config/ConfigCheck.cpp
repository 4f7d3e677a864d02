#include "config/ConfigCheck.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>

#include "base/Exception.h"
#include "base/Text.h"
#include "config/ComDevicePath.h"
#include "config/ConfigFile.h"
#include "config/ConfigRules.h"
#include "config/ConfigValues.h"
#include "config/XmlHelpers.h"
#include "net/AllowList.h"
#include "net/BasicAuth.h"
#include "net/MailMessage.h"
#include "net/TlsKeyPair.h"
#include "status/ConditionState.h"

namespace duz {
namespace {

// Names this close to a known one are offered as what may have been meant.
constexpr size_t MaxSuggestionDistance = 2;
// The flags of ExitWindowsEx that the shutdown turns into a power-off or a reboot.
constexpr int64_t ShutdownBits = 1 | 2 | 8;

size_t EditDistance(std::string_view a, std::string_view b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

// "; did you mean "X"?" for the nearest candidate within reach (ignoring case), else "".
template <typename TNames>
std::string Suggestion(std::string_view name, const TNames& candidates) {
  std::string_view best;
  size_t bestDistance = MaxSuggestionDistance + 1;
  for (std::string_view candidate : candidates) {
    const size_t distance = EditDistance(UpperCase(name), UpperCase(candidate));
    if (distance < bestDistance) best = candidate, bestDistance = distance;
  }
  return best.empty() ? "" : fmt::format("; did you mean \"{}\"?", best);
}

bool IsSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

// Offset of the attribute's name in the element's start tag, which the parser does not keep; the
// element's own offset when it cannot be found.
size_t AttributeOffset(std::string_view text, pugi::xml_node element, std::string_view name) {
  const size_t elementOffset = static_cast<size_t>(std::max<ptrdiff_t>(element.offset_debug(), 0));
  size_t at = elementOffset + std::strlen(element.name());
  auto skipSpace = [&] {
    while (at < text.size() && IsSpace(text[at])) ++at;
  };
  for (;;) {
    skipSpace();
    const size_t start = at;
    while (at < text.size() && !IsSpace(text[at]) && text[at] != '=' && text[at] != '>' && text[at] != '/')
      ++at;
    const std::string_view attribute = text.substr(start, at - start);
    skipSpace();
    if (attribute.empty() || at >= text.size() || text[at] != '=') return elementOffset;
    ++at;
    skipSpace();
    if (at >= text.size() || (text[at] != '"' && text[at] != '\'')) return elementOffset;
    const size_t close = text.find(text[at], at + 1);
    if (close == std::string_view::npos) return elementOffset;
    if (attribute == name) return start;
    at = close + 1;
  }
}

class TChecker {
 public:
  explicit TChecker(std::string_view text) : FText(text) {}

  std::vector<TConfigFinding> Check(pugi::xml_node root) {
    FRoot = root;
    CheckChildren(root, nullptr);
    std::stable_sort(FFindings.begin(), FFindings.end(),
                     [](const TConfigFinding& a, const TConfigFinding& b) { return a.Offset < b.Offset; });
    return std::move(FFindings);
  }

 private:
  void Report(size_t offset, bool error, std::string text) {
    FFindings.push_back({offset, error, std::move(text)});
  }
  // At the "<" of the element's start tag (the parser keeps the place of its name).
  void Report(pugi::xml_node element, bool error, std::string text) {
    Report(static_cast<size_t>(std::max<ptrdiff_t>(element.offset_debug() - 1, 0)), error, std::move(text));
  }
  void Report(pugi::xml_node element, std::string_view attribute, bool error, std::string text) {
    Report(AttributeOffset(FText, element, attribute), error, std::move(text));
  }

  // rule: the parent's rule; nullptr for the root, whose own name does not matter.
  void CheckChildren(pugi::xml_node parent, const TElementRule* rule) {
    const std::string_view parentName = rule ? rule->Name : "";
    for (pugi::xml_node child : parent.children()) {
      if (child.type() != pugi::node_element) continue;
      const TElementRule* childRule = FindElementRule(parentName, child.name());
      if (!childRule) {
        std::vector<std::string_view> known;
        for (const TElementRule& candidate : ConfigElements())
          if (candidate.Parent == parentName) known.push_back(candidate.Name);
        Report(child, false,
               fmt::format("unknown element \"{}\" is ignored{}", child.name(),
                           Suggestion(child.name(), known)));
        continue;
      }
      CheckAttributes(child, *childRule);
      CheckElement(child, *childRule);
      CheckChildren(child, childRule);
    }
  }

  void CheckAttributes(pugi::xml_node element, const TElementRule& rule) {
    for (pugi::xml_attribute attribute : element.attributes()) {
      if (FindAttributeRule(rule, attribute.name())) continue;
      std::vector<std::string_view> known;
      for (const TAttributeRule& candidate : rule.Attributes) known.push_back(candidate.Name);
      Report(element, attribute.name(), false,
             fmt::format("unknown attribute \"{}\" of <{}> is ignored{}", attribute.name(), element.name(),
                         Suggestion(attribute.name(), known)));
    }
    for (const TAttributeRule& attribute : rule.Attributes) CheckValue(element, attribute);
  }

  void CheckValue(pugi::xml_node element, const TAttributeRule& rule) {
    const pugi::xml_attribute attribute = FindAttribute(element, rule);
    try {
      CheckAttribute(element, rule);
    } catch (const Exception& error) {
      if (attribute)
        Report(element, attribute.name(), true, error.what());
      else
        Report(element, true, error.what());
    }
  }

  // What the table cannot say: how the values meet the system and each other.
  void CheckElement(pugi::xml_node element, const TElementRule& rule) {
    const std::string_view name = rule.Name;
    if (name == "KELVO") {
      CheckThermometer(element);
      CheckValidRange(element);
    }
    if ((name == "SMTP" || name == "MQTT" || name == "METRICS" || name == "HEARTBEAT") &&
        !FSeen.insert(std::string(name)).second)
      Report(element, false,
             fmt::format("a second {} element is ignored: the first one holds the settings", name));
    if (name == "SHUTDOWN") CheckShutdown(element);
    if (name == "MQTT" || name == "METRICS") CheckKeyFiles(element, name);
    if (name == "METRICS") CheckLogin(element);
    if (name == "min" || name == "normal" || name == "max" || name == "error" || name == "off")
      CheckMessageTemplate(element);
    if (name == "email" || name == "netmessage" || name == "webhook") CheckAction(element);
    if (name == "HTMLPOST" && GetCDataText(element).empty())
      Report(element, false,
             "<" + std::string(element.name()) + "> has no URL in a CDATA section: nothing is posted");
    if (name == "IP")
      if (const std::optional<std::string> never =
              TAllowList::NeverMatches(ReadText(element, AttributeRule("IP", "host"))))
        Report(element, false, *never);
    if (name == "DATAPUBLISHER" && element.attribute("port") &&
        std::string_view(element.attribute("port").value()) == "0")
      Report(element, "port", false, "port 0 lets the system pick a free port, which no client can know");
  }

  void CheckThermometer(pugi::xml_node element) {
    int number;
    try {
      number = static_cast<int>(ReadNumber(element, AttributeRule("KELVO", "comport")));
    } catch (const Exception&) {
      return;  // reported with the attribute
    }
    const size_t offset = AttributeOffset(FText, element, "comport");
    if (const auto other = FComPorts.find(number); other != FComPorts.end()) {
      Report(offset, false,
             fmt::format("COM{} is also the port of the thermometer on line {}: only one of them can open it",
                         number, PositionAt(FText, other->second).Line));
      return;
    }
    FComPorts[number] = offset;
    try {
      const std::string device = ComDevicePath(number);
      std::error_code ignored;
      if (!std::filesystem::exists(device, ignored))
        Report(offset, false,
               fmt::format("COM{} is {}, which does not exist: the service tries it again every second",
                           number, device));
    } catch (const Exception& error) {
      Report(offset, true, fmt::format("COM{}: {}", number, error.what()));
    }
  }

  // The two bounds against each other, once each converts on its own.
  void CheckValidRange(pugi::xml_node element) {
    try {
      for (const char* attribute : {"offset", "validmin", "validmax"})
        CheckAttribute(element, AttributeRule("KELVO", attribute));
    } catch (const Exception&) {
      return;  // reported with the attribute
    }
    try {
      ReadingCorrection(element);
    } catch (const Exception& error) {
      Report(element, "validmin", true, error.what());
    }
  }

  void CheckShutdown(pugi::xml_node element) {
    const pugi::xml_attribute type = element.attribute("type");
    if (type && UpperCase(type.value()) != "DEFAULT")
      Report(element, "type", false,
             fmt::format("type \"{}\" names a Windows version; only DEFAULT applies here", type.value()));
    try {
      const auto flags = static_cast<int64_t>(ReadNumber(element, AttributeRule("SHUTDOWN", "value")));
      if ((flags & ShutdownBits) == 0)
        Report(
            element, "value", false,
            fmt::format("value {} neither powers off (1, 8) nor reboots (2): the shutdown requests nothing",
                        flags));
    } catch (const Exception&) {
      // reported with the attribute
    }
  }

  // The files are loaded as the server or client would load them.
  void CheckKeyFiles(pugi::xml_node element, std::string_view name) {
    const std::string cert = element.attribute("certfile").value(),
                      key = element.attribute("keyfile").value();
    if (cert.empty() && key.empty()) return;
    try {
      CheckKeyPair(cert, key);
    } catch (const Exception& error) {
      Report(element, true, error.what());
    }
    if (name != "MQTT") return;
    try {
      if (ReadText(element, AttributeRule("MQTT", "tls")) != "TLS")
        Report(element, false, "certfile and keyfile are used only with tls=\"tls\"");
    } catch (const Exception&) {
      // reported with the attribute
    }
  }

  void CheckLogin(pugi::xml_node element) {
    try {
      TBasicAuth::Create(element.attribute("username").value(), element.attribute("passwordhash").value());
    } catch (const Exception& error) {
      Report(element, true, error.what());
    }
  }

  // The message of a state is its text content: one text or CDATA node, or nothing.
  void CheckMessageTemplate(pugi::xml_node element) {
    const pugi::xml_node content = element.first_child();
    if (!content) return;
    const bool singleText = !content.next_sibling() &&
                            (content.type() == pugi::node_pcdata || content.type() == pugi::node_cdata);
    if (!singleText)
      Report(element, false,
             fmt::format("the message of <{}> is not a single text: it is sent empty", element.name()));
  }

  void CheckAction(pugi::xml_node element) {
    const std::string message = element.attribute("message").value();
    if (!message.empty() && ParseConditionStates(message).none())
      Report(element, "message", false,
             fmt::format("message \"{}\" names no state (MIN, NORMAL, MAX, ERROR, OFF): <{}> never acts",
                         message, element.name()));
    const bool email = std::string_view(element.name()) == "email";
    if (std::string_view(element.name()) == "webhook") return;  // its url is required by the table
    const std::string address = element.attribute("address").value();
    if (email ? ParseAddressList(address).empty() : !element.attribute("address"))
      Report(element, false, fmt::format("<{}> has no address: it sends nothing", element.name()));
    if (email && !FEmailChecked) {
      FEmailChecked = true;
      const pugi::xml_node smtp = FRoot.child("SMTP");
      if (!smtp || std::string_view(smtp.attribute("address").value()).empty())
        Report(element, false,
               "no SMTP element with an address names the mail server: no e-mail can be sent");
    }
  }

  std::string_view FText;
  pugi::xml_node FRoot;
  std::vector<TConfigFinding> FFindings;
  std::set<std::string> FSeen;  // the root's elements of which only the first counts
  bool FEmailChecked = false;
  std::map<int, size_t> FComPorts;  // COM number -> offset of the first thermometer's comport
};

}  // namespace

std::vector<TConfigFinding> CheckConfiguration(const pugi::xml_document& document, std::string_view text) {
  return TChecker(text).Check(document.document_element());
}

std::string FormatFinding(const std::string& file, TTextPosition at, bool error, const std::string& text) {
  return fmt::format("{}({},{}): {}: {}", file, at.Line, at.Column, error ? "error" : "warning", text);
}

}  // namespace duz
