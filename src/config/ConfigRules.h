#pragma once
// The configuration as the platform reads it: one table of the elements it knows (where each may
// stand and how its name compares) and of every attribute they carry (type, range, default). It is
// the one statement of these rules: -check walks a document with it, and a reader converts an
// attribute through it (ReadNumber) to get the same default, conversion and range check. The readers
// are functions of the element and of the regional decimal separator (a Real may be written with it
// or a dot); any thread.
#include <optional>
#include <pugixml.hpp>
#include <span>
#include <string>
#include <string_view>

namespace duz {

enum class TValueType {
  Text,
  Whole,      // a whole number within Min..Max
  Real,       // a number with the regional decimal separator or a dot, within Min..Max
  Boolean,    // true or false in any case, or a number (0 is false)
  Word,       // one of Words, compared without case
  Mailbox,    // one e-mail address as the mail client sends it
  Mailboxes,  // addresses separated by commas, each bare or in angle brackets after a name
  Ipv4,       // a numeric IPv4 address
  Url,        // http:// or https:// and a host; empty passes unless Required
};

struct TAttributeRule {
  std::string_view Name;
  TValueType Type;
  // The value taken when the attribute is missing (a Word: also when empty, unless EmptyRefused),
  // as its text. Empty for a number that is not Required: the attribute is optional, and missing it
  // means none (ReadOptionalNumber).
  std::string_view Default;
  double Min = 0, Max = 0;
  std::span<const std::string_view> Words = {};
  bool Required = false;            // present and not empty
  std::string_view Forbidden = {};  // characters a Text may not hold
  bool AnyCaseName = false;         // the name compared after upper-casing; otherwise exactly
  bool EmptyRefused = false;        // a Word: empty is not among Words
  // A Word: empty is not among Words either when this attribute of the element is not empty.
  std::string_view EmptyRefusedBeside = {};
};

struct TElementRule {
  std::string_view Name;
  // The rule name of the parent element; "" for the children of the root element.
  std::string_view Parent;
  // Names compared after upper-casing; otherwise exactly.
  bool AnyCase;
  std::span<const TAttributeRule> Attributes;
};

// Every element the platform reads, below the root element (whose name does not matter).
std::span<const TElementRule> ConfigElements();

// The rule of the element named name under the element of rule parent ("" for the root's children),
// or nullptr for an element the platform does not read.
const TElementRule* FindElementRule(std::string_view parent, std::string_view name);
// The rule name of node as a child of an element of rule parent, its name compared as the rule says
// (KELVO in any case, SMTP exactly); "" for a node that is no element the platform reads there.
std::string_view ElementRuleName(pugi::xml_node node, std::string_view parent);
// The first child of node whose ElementRuleName is name, or an empty node.
pugi::xml_node FindRuleChild(pugi::xml_node node, std::string_view parent, std::string_view name);
// The rule of the attribute of that element, or nullptr for one the platform does not read.
const TAttributeRule* FindAttributeRule(const TElementRule& element, std::string_view name);
// The element's attribute that rule reads (of an AnyCaseName rule the first that matches), or an
// empty attribute.
pugi::xml_attribute FindAttribute(pugi::xml_node element, const TAttributeRule& rule);
// The rule of a known attribute by rule names ("KELVO", "comport"); raises for an unknown one.
const TAttributeRule& AttributeRule(std::string_view element, std::string_view attribute);

// An attribute read by its rule: its default when missing. Each raises ERangeError for a required
// attribute that is missing or empty; each message names the attribute.
// Whole or Real: EConvertError for text that is not such a number, ERangeError for one out of range.
double ReadNumber(pugi::xml_node element, const TAttributeRule& rule);
// As ReadNumber, but nothing for a missing attribute that has no default.
std::optional<double> ReadOptionalNumber(pugi::xml_node element, const TAttributeRule& rule);
// Boolean: EConvertError for text that is not true, false or a number.
bool ReadBoolean(pugi::xml_node element, const TAttributeRule& rule);
// Text, Word, Mailbox, Mailboxes, Ipv4, Url: the text as written (a Word upper-cased). ERangeError
// for a Forbidden character, a Word not among Words, an address the mail client refuses, text that
// is not an IPv4 address or not a web URL.
std::string ReadText(pugi::xml_node element, const TAttributeRule& rule);
// The attribute read as its type is, for a check: raises what that reader raises.
void CheckAttribute(pugi::xml_node element, const TAttributeRule& rule);

}  // namespace duz
