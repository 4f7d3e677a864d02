#include "core/ValueTemplate.h"

#include <exception>
#include <vector>

#include "base/FloatFormat.h"
#include "base/FormatDateTime.h"
#include "base/Text.h"
#include "base/Variant.h"

namespace duz {
namespace {

// The format of a DATETIME piece: after the first "(" (if any), up to the first ")".
std::string DateTimeFormat(std::string_view piece) {
  if (size_t open = piece.find('('); open != std::string_view::npos) piece.remove_prefix(open + 1);
  size_t close = piece.find(')');
  return close == std::string_view::npos ? std::string() : std::string(piece.substr(0, close));
}

// One piece between two % characters. Raises when the piece cannot be converted.
std::string ExpandPiece(std::string_view piece, const TTemplateValues& values) {
  if (StartsWithNoCase(piece, "DATETIME")) {
    std::string format = DateTimeFormat(piece);
    return FormatDateTime(format.empty() ? "c" : format, values.Time);
  }
  if (piece.size() == 5 && StartsWithNoCase(piece, "VALUE"))
    return values.Connected ? FormatTemperature(values.Temperature) : "Err";
  if (piece.starts_with('#')) {
    int64_t code = TVariant(std::string(piece.substr(1))).ToInt();
    return std::string(1, static_cast<char>(code & 0xFF));
  }
  return std::string(piece);
}

}  // namespace

bool ExpandPlaceholders(std::string& text, const TTemplateValues& values) {
  std::vector<std::string_view> pieces;
  std::string_view rest = text;
  for (size_t percent; (percent = rest.find('%')) != std::string_view::npos; rest.remove_prefix(percent + 1))
    pieces.push_back(rest.substr(0, percent));
  pieces.push_back(rest);

  // The first and the last piece lie outside any pair of % and are copied; every piece between
  // two % is a candidate, also the one between the end of one placeholder and the next.
  std::string result(pieces.front());
  try {
    for (size_t i = 1; i + 1 < pieces.size(); ++i) result += ExpandPiece(pieces[i], values);
  } catch (const std::exception&) {
    return false;
  }
  if (pieces.size() > 1) result += pieces.back();
  text = std::move(result);
  return true;
}

std::string ExpandValueTemplate(std::string_view templateText, const TTemplateValues& values) {
  std::string text(templateText);
  return ExpandPlaceholders(text, values) ? text : std::string(TemplateError);
}

}  // namespace duz
