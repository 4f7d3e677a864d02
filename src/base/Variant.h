#pragma once
// TVariant: a value that is empty (unassigned), null, a whole number, a real, a Boolean or a text.
// Attribute values are texts; defaults given by callers may be any kind. The conversions read text
// in the regional settings and raise EConvertError for text that does not convert.
#include <cstdint>
#include <string>
#include <variant>

namespace duz {

class TVariant {
 public:
  struct Empty {};
  struct Null {};

  TVariant() : FValue(Empty{}) {}
  TVariant(Null) : FValue(Null{}) {}
  TVariant(int value) : FValue(int64_t{value}) {}
  TVariant(int64_t value) : FValue(value) {}
  TVariant(double value) : FValue(value) {}
  TVariant(bool value) : FValue(value) {}
  TVariant(const char* value) : FValue(std::string(value)) {}
  TVariant(std::string value) : FValue(std::move(value)) {}

  bool IsEmpty() const { return std::holds_alternative<Empty>(FValue); }
  bool IsNull() const { return std::holds_alternative<Null>(FValue); }
  bool IsText() const { return std::holds_alternative<std::string>(FValue); }

  // Text: optional blanks, optional sign, decimal digits (or "$" and hex digits), optional blanks.
  // A real is rounded to the nearest whole number (halves to even). Empty converts to 0.
  int64_t ToInt() const;
  // Text: a decimal number with the regional decimal separator, optional exponent.
  double ToDouble() const;
  // Text: "true"/"false" in any case, or a number (0 is false).
  bool ToBool() const;
  // Numbers with the regional decimal separator; Booleans as "True"/"False"; empty as "".
  std::string ToString() const;

 private:
  std::variant<Empty, Null, int64_t, double, bool, std::string> FValue;
};

}  // namespace duz
