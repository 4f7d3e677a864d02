#include "config/ConfigRules.h"

#include <fmt/format.h>
#include <fmt/ranges.h>

#include <algorithm>
#include <cfloat>
#include <climits>

#include "base/Exception.h"
#include "base/Text.h"
#include "base/Variant.h"
#include "config/ConfigValues.h"
#include "net/HostAddress.h"
#include "net/HttpRequest.h"
#include "net/MailMessage.h"

namespace duz {
namespace {

using enum TValueType;

// The longest WAIT, in seconds: the largest finite 32-bit count of milliseconds.
constexpr double MaxWaitSeconds = 4294967.294;
constexpr double MaxPort = 65535;

constexpr std::string_view SaveTypes[] = {"XML", "XMLWA", "TXT", "TXTX"};
constexpr std::string_view PublisherTypes[] = {"TCPSERVER"};

constexpr TAttributeRule Wait[] = {{"wait", Real, "10", 0, MaxWaitSeconds}};
// An offset this large is no calibration; within it every corrected reading stays finite.
constexpr double MaxOffset = 1000;
constexpr TAttributeRule Kelvo[] = {{"comport", Whole, "", 1, MaxPort, {}, true},
                                    {"caption", Text, ""},
                                    {"offset", Real, "0", -MaxOffset, MaxOffset},
                                    {"validmin", Real, "", -FLT_MAX, FLT_MAX},
                                    {"validmax", Real, "", -FLT_MAX, FLT_MAX}};
// An e-mail meant for TLS is never sent in clear: an empty tls is refused, not taken as NONE.
constexpr std::string_view SmtpTls[] = {"NONE", "STARTTLS", "IMPLICIT"};
constexpr TAttributeRule Smtp[] = {
    {"address", Text, ""},
    {"port", Whole, "25", 1, MaxPort},
    {"username", Text, ""},
    {"password", Text, ""},
    {"from", Mailbox, ""},
    {.Name = "tls",
     .Type = Word,
     .Default = "NONE",
     .Words = SmtpTls,
     .AnyCaseName = true,
     .EmptyRefused = true},
    {.Name = "tlsverify", .Type = Boolean, .Default = "true", .AnyCaseName = true},
    {.Name = "cafile", .Type = Text, .Default = "", .AnyCaseName = true}};
constexpr TAttributeRule Shutdown[] = {{"type", Text, "", 0, 0, {}, true},
                                       {"value", Whole, "", 0, INT_MAX, {}, true}};
constexpr TAttributeRule Save[] = {{"interval", Whole, "1", 0, MaxMinutes},
                                   {"type", Word, "XML", 0, 0, SaveTypes},
                                   {"filename", Text, ""},
                                   {"extension", Text, ""},
                                   {"directory", Text, ""},
                                   {"rewrite", Real, "0", -DBL_MAX, DBL_MAX}};
constexpr TAttributeRule HtmlPost[] = {{"interval", Whole, "1", 0, MaxMinutes}};
constexpr TAttributeRule DataPublisher[] = {{"type", Word, "", 0, 0, PublisherTypes, true},
                                            {"port", Whole, "10001", 0, MaxPort},
                                            {"fulldirection", Boolean, "false"},
                                            {"maxclients", Whole, "64", 1, MaxClientsLimit}};
constexpr TAttributeRule Ip[] = {{"host", Text, "~"}};
constexpr TAttributeRule Condition[] = {{"hysteresis", Real, "0", 0, FLT_MAX}};
constexpr TAttributeRule Confirm = {"confirm", Whole, "1", 1, MaxConfirm};
constexpr TAttributeRule MinState[] = {{"value", Real, "-55", -FLT_MAX, FLT_MAX}, Confirm};
constexpr TAttributeRule NormalState[] = {{"value", Text, ""}, Confirm};
constexpr TAttributeRule MaxState[] = {{"value", Real, "50", -FLT_MAX, FLT_MAX}, Confirm};
constexpr TAttributeRule OffState[] = {
    {"value", Real, "100", -FLT_MAX, FLT_MAX}, {"wait", Real, "1", 0, MaxMinutes}, Confirm};
constexpr TAttributeRule StateText[] = {{"value", Text, ""}};
constexpr TAttributeRule Email[] = {
    {"message", Text, ""}, {"repeatinterval", Whole, "0", 0, MaxMinutes}, {"address", Mailboxes, ""}};
constexpr TAttributeRule NetMessage[] = {
    {"message", Text, ""}, {"repeatinterval", Whole, "0", 0, MaxMinutes}, {"address", Text, ""}};
// The order of the formats is that of TWebhookFormat.
constexpr std::string_view WebhookFormats[] = {"JSON", "NTFY", "SLACK", "GOTIFY", "TEXT"};
constexpr TAttributeRule Webhook[] = {
    {"message", Text, ""},
    {"repeatinterval", Whole, "0", 0, MaxMinutes},
    {.Name = "url", .Type = Url, .Default = "", .Required = true},
    {.Name = "format", .Type = Word, .Default = "JSON", .Words = WebhookFormats},
    {"token", Text, ""},
    {.Name = "tlsverify", .Type = Boolean, .Default = "true", .AnyCaseName = true},
    {.Name = "cafile", .Type = Text, .Default = "", .AnyCaseName = true}};
// The fail URL's default, "url" + "/fail", is made by the heartbeat.
constexpr TAttributeRule Heartbeat[] = {
    {.Name = "url", .Type = Url, .Default = "", .Required = true},
    {"interval", Whole, "5", 1, MaxMinutes},
    {"failurl", Url, ""},
    {.Name = "tlsverify", .Type = Boolean, .Default = "true", .AnyCaseName = true},
    {.Name = "cafile", .Type = Text, .Default = "", .AnyCaseName = true}};

constexpr std::string_view MqttTls[] = {"NONE", "TLS"};
// As for SMTP, a password never goes in clear for want of a word: beside one, tls must say which.
constexpr TAttributeRule Mqtt[] = {
    {"host", Text, "", 0, 0, {}, true},
    {"port", Whole, "1883", 1, MaxPort},
    {"username", Text, ""},
    {"password", Text, ""},
    {"clientid", Text, ""},
    {"topic", Text, "duzezevovivo", 0, 0, {}, false, "+#"},
    {.Name = "tls", .Type = Word, .Default = "NONE", .Words = MqttTls, .EmptyRefusedBeside = "password"},
    {"cafile", Text, ""},
    {"discovery", Boolean, "false"},
    {"certfile", Text, ""},
    {"keyfile", Text, ""}};

constexpr TAttributeRule Metrics[] = {{"port", Whole, "9488", 0, MaxPort},
                                      {"address", Ipv4, "0.0.0.0"},
                                      {"certfile", Text, ""},
                                      {"keyfile", Text, ""},
                                      {"username", Text, ""},
                                      {"passwordhash", Text, ""}};

constexpr TElementRule Elements[] = {
    {"WAIT", "", true, Wait},
    {"KELVO", "", true, Kelvo},
    {"SMTP", "", false, Smtp},
    {"SHUTDOWN", "", false, Shutdown},
    {"MQTT", "", true, Mqtt},
    {"METRICS", "", true, Metrics},
    {"HEARTBEAT", "", true, Heartbeat},
    {"IP", "METRICS", true, Ip},
    {"CONDITION", "KELVO", true, Condition},
    {"SAVE", "KELVO", true, Save},
    {"HTMLPOST", "KELVO", true, HtmlPost},
    {"DATAPUBLISHER", "KELVO", true, DataPublisher},
    {"IP", "DATAPUBLISHER", true, Ip},
    {"min", "CONDITION", false, MinState},
    {"normal", "CONDITION", false, NormalState},
    {"max", "CONDITION", false, MaxState},
    {"error", "CONDITION", false, StateText},
    {"off", "CONDITION", false, OffState},
    {"email", "CONDITION", false, Email},
    {"netmessage", "CONDITION", false, NetMessage},
    {"webhook", "CONDITION", false, Webhook},
};

// The attribute's text, or the default; raises for a required one that is missing or empty.
std::string Value(pugi::xml_node element, const TAttributeRule& rule) {
  const pugi::xml_attribute attribute = FindAttribute(element, rule);
  if (rule.Required && (!attribute || !*attribute.value()))
    throw ERangeError(fmt::format("{} is missing", rule.Name));
  return attribute ? attribute.value() : std::string(rule.Default);
}

void CheckAddress(const TAttributeRule& rule, const std::string& address) {
  if (!IsSendableAddress(address))
    throw ERangeError(
        fmt::format("{} \"{}\" is not an address the mail client sends to", rule.Name, address));
}

}  // namespace

std::span<const TElementRule> ConfigElements() { return Elements; }

const TElementRule* FindElementRule(std::string_view parent, std::string_view name) {
  for (const TElementRule& rule : Elements)
    if (rule.Parent == parent && (rule.AnyCase ? UpperCase(name) == rule.Name : name == rule.Name))
      return &rule;
  return nullptr;
}

std::string_view ElementRuleName(pugi::xml_node node, std::string_view parent) {
  if (node.type() != pugi::node_element) return "";
  const TElementRule* rule = FindElementRule(parent, node.name());
  return rule ? rule->Name : "";
}

pugi::xml_node FindRuleChild(pugi::xml_node node, std::string_view parent, std::string_view name) {
  return node.find_child([&](pugi::xml_node child) { return ElementRuleName(child, parent) == name; });
}

const TAttributeRule* FindAttributeRule(const TElementRule& element, std::string_view name) {
  for (const TAttributeRule& rule : element.Attributes)
    if (rule.AnyCaseName ? UpperCase(name) == UpperCase(rule.Name) : name == rule.Name) return &rule;
  return nullptr;
}

pugi::xml_attribute FindAttribute(pugi::xml_node element, const TAttributeRule& rule) {
  if (!rule.AnyCaseName) return element.attribute(std::string(rule.Name).c_str());
  const std::string wanted = UpperCase(rule.Name);
  for (pugi::xml_attribute attribute : element.attributes())
    if (UpperCase(attribute.name()) == wanted) return attribute;
  return {};
}

const TAttributeRule& AttributeRule(std::string_view element, std::string_view attribute) {
  for (const TElementRule& rule : Elements)
    if (rule.Name == element)
      if (const TAttributeRule* found = FindAttributeRule(rule, attribute)) return *found;
  throw Exception(fmt::format("No rule for attribute {} of {}", attribute, element));
}

double ReadNumber(pugi::xml_node element, const TAttributeRule& rule) {
  const std::string text = Value(element, rule);
  double value;
  try {
    value = rule.Type == Whole ? static_cast<double>(TVariant(text).ToInt()) : TVariant(text).ToDouble();
  } catch (const EConvertError&) {
    throw EConvertError(fmt::format("{} \"{}\" is not {}", rule.Name, text,
                                    rule.Type == Whole ? "a whole number" : "a number"));
  }
  if (!(value >= rule.Min && value <= rule.Max))
    throw ERangeError(
        fmt::format("{} {} is out of range ({:g} to {:g})", rule.Name, text, rule.Min, rule.Max));
  return value;
}

std::optional<double> ReadOptionalNumber(pugi::xml_node element, const TAttributeRule& rule) {
  if (rule.Default.empty() && !rule.Required && !FindAttribute(element, rule)) return std::nullopt;
  return ReadNumber(element, rule);
}

bool ReadBoolean(pugi::xml_node element, const TAttributeRule& rule) {
  const std::string text = Value(element, rule);
  try {
    return TVariant(text).ToBool();
  } catch (const EConvertError&) {
    throw EConvertError(fmt::format("{} \"{}\" is not true or false", rule.Name, text));
  }
}

std::string ReadText(pugi::xml_node element, const TAttributeRule& rule) {
  std::string text = Value(element, rule);
  if (!rule.Forbidden.empty() && text.find_first_of(rule.Forbidden) != std::string::npos)
    throw ERangeError(
        fmt::format("{} \"{}\" may not hold {}", rule.Name, text, fmt::join(rule.Forbidden, " or ")));
  if (rule.Type == Word) {
    const bool emptyRefused =
        rule.EmptyRefused || (!rule.EmptyRefusedBeside.empty() &&
                              *element.attribute(std::string(rule.EmptyRefusedBeside).c_str()).value());
    text = UpperCase(text.empty() && !emptyRefused ? rule.Default : text);
    if (std::find(rule.Words.begin(), rule.Words.end(), text) == rule.Words.end())
      throw ERangeError(fmt::format("{} \"{}\" is not {}{}", rule.Name, Value(element, rule),
                                    rule.Words.size() > 1 ? "one of " : "", fmt::join(rule.Words, ", ")));
  }
  if (rule.Type == Mailbox) CheckAddress(rule, text);
  if (rule.Type == Ipv4 && !IsIpv4Address(text))
    throw ERangeError(fmt::format("{} \"{}\" is not an IPv4 address", rule.Name, text));
  if (rule.Type == Url && !text.empty() && !IsHttpUrl(text))
    throw ERangeError(
        fmt::format("{} \"{}\" is not an http:// or https:// URL", rule.Name, UrlWithoutCredentials(text)));
  if (rule.Type == Mailboxes)
    for (const TMailAddress& address : ParseAddressList(text)) CheckAddress(rule, address.Address);
  return text;
}

void CheckAttribute(pugi::xml_node element, const TAttributeRule& rule) {
  if (rule.Type == Whole || rule.Type == Real)
    ReadOptionalNumber(element, rule);
  else if (rule.Type == Boolean)
    ReadBoolean(element, rule);
  else
    ReadText(element, rule);
}

}  // namespace duz
