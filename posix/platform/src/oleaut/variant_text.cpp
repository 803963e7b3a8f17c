#include "variant_text.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace velt::platform::oleaut {
namespace {

class TextBuffer {
 public:
  explicit TextBuffer(char (&storage)[kScalarTextCapacity]) : m_storage(storage) {}
  void append(const char* text) { append(text, std::strlen(text)); }
  void append(const char* text, size_t count) {
    if (count > kScalarTextCapacity - m_length) count = kScalarTextCapacity - m_length;
    std::memcpy(m_storage + m_length, text, count);
    m_length += count;
  }
  template <typename Integer>
  void appendInteger(Integer value, int minimumDigits = 1) {
    char digits[24];
    auto result = std::to_chars(digits, digits + sizeof digits, value);
    const size_t count = static_cast<size_t>(result.ptr - digits);
    for (size_t i = count; i < static_cast<size_t>(minimumDigits); ++i) append("0", 1);
    append(digits, count);
  }
  size_t length() const { return m_length; }

 private:
  char (&m_storage)[kScalarTextCapacity];
  size_t m_length = 0;
};

// Floating-point values show at most the digits the type holds (7 for R4, 15 for R8),
// switching to an exponent of at least two digits, as in 1E+20 and 1E-07.
void appendReal(TextBuffer& out, double value, int significantDigits) {
  if (std::isnan(value)) return out.append("1.#QNAN");
  if (std::isinf(value)) return out.append(value < 0 ? "-1.#INF" : "1.#INF");
  if (value == 0) return out.append("0");  // negative zero included
  char digits[48];
  auto result = std::to_chars(digits, digits + sizeof digits, value, std::chars_format::general,
                              significantDigits);
  for (char* c = digits; c != result.ptr; ++c) {
    if (*c == 'e') *c = 'E';
  }
  out.append(digits, static_cast<size_t>(result.ptr - digits));
}

// A currency value is a 64-bit integer in ten-thousandths; trailing fraction zeros are dropped.
void appendCurrency(TextBuffer& out, LONGLONG scaled) {
  const bool negative = scaled < 0;
  const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(scaled) : scaled;
  if (negative) out.append("-");
  out.appendInteger(magnitude / 10000);
  unsigned fraction = static_cast<unsigned>(magnitude % 10000);
  if (fraction == 0) return;
  int digits = 4;
  while (fraction % 10 == 0) {
    fraction /= 10;
    --digits;
  }
  out.append(".");
  out.appendInteger(fraction, digits);
}

struct CivilDate {
  long long year;
  unsigned month;
  unsigned day;
};

// Proleptic Gregorian calendar date of a day count relative to 1970-01-01.
CivilDate civilFromDays(long long days) {
  days += 719468;
  const long long era = (days >= 0 ? days : days - 146096) / 146097;
  const unsigned dayOfEra = static_cast<unsigned>(days - era * 146097);
  const unsigned yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const unsigned shiftedMonth = (5 * dayOfYear + 2) / 153;
  const unsigned day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
  const unsigned month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
  return {static_cast<long long>(yearOfEra) + era * 400 + (month <= 2), month, day};
}

// DATE counts days from 1899-12-30; its fraction is the time of day whatever the sign. The
// date is left out at day zero and the time at midnight, so 0.0 alone reads 12:00:00 AM.
HRESULT appendDate(TextBuffer& out, DATE date) {
  // Day -657434 is 0100-01-01; with its fraction counting forward, it reaches down to -657435.
  constexpr double kBeforeFirstDay = -657435.0;
  constexpr double kLastDay = 2958466.0;  // the day after 9999-12-31
  if (!(date > kBeforeFirstDay && date < kLastDay)) return E_INVALIDARG;
  long long day = static_cast<long long>(date);
  long long seconds = std::llround(std::fabs(date - static_cast<double>(day)) * 86400.0);
  if (seconds >= 86400) {
    seconds -= 86400;
    day += 1;
  }
  const bool showDate = day != 0;
  if (showDate) {
    constexpr long long kDaysFrom1899To1970 = 25569;
    const CivilDate civil = civilFromDays(day - kDaysFrom1899To1970);
    out.appendInteger(civil.month);
    out.append("/");
    out.appendInteger(civil.day);
    out.append("/");
    out.appendInteger(civil.year);
  }
  if (seconds == 0 && showDate) return S_OK;
  if (showDate) out.append(" ");
  const long long hour = seconds / 3600;
  const long long hour12 = hour % 12 == 0 ? 12 : hour % 12;
  out.appendInteger(hour12);
  out.append(":");
  out.appendInteger(seconds / 60 % 60, 2);
  out.append(":");
  out.appendInteger(seconds % 60, 2);
  out.append(hour < 12 ? " AM" : " PM");
  return S_OK;
}

}  // namespace

HRESULT scalarToText(const VARIANT& value, USHORT flags, char (&text)[kScalarTextCapacity],
                     size_t& length) {
  TextBuffer out(text);
  HRESULT hr = S_OK;
  switch (value.vt) {
    case VT_EMPTY:
      break;
    case VT_I1:
      out.appendInteger(static_cast<signed char>(value.cVal));
      break;
    case VT_UI1:
      out.appendInteger(value.bVal);
      break;
    case VT_I2:
      out.appendInteger(value.iVal);
      break;
    case VT_UI2:
      out.appendInteger(value.uiVal);
      break;
    case VT_I4:
      out.appendInteger(value.lVal);
      break;
    case VT_UI4:
      out.appendInteger(value.ulVal);
      break;
    case VT_INT:
      out.appendInteger(value.intVal);
      break;
    case VT_UINT:
      out.appendInteger(value.uintVal);
      break;
    case VT_I8:
      out.appendInteger(value.llVal);
      break;
    case VT_UI8:
      out.appendInteger(value.ullVal);
      break;
    case VT_R4:
      appendReal(out, value.fltVal, 7);
      break;
    case VT_R8:
      appendReal(out, value.dblVal, 15);
      break;
    case VT_CY:
      appendCurrency(out, value.cyVal.int64);
      break;
    case VT_DATE:
      hr = appendDate(out, value.date);
      break;
    case VT_BOOL:
      if (flags & (VARIANT_ALPHABOOL | VARIANT_LOCALBOOL)) {
        out.append(value.boolVal ? "True" : "False");
      } else {
        out.append(value.boolVal ? "-1" : "0");
      }
      break;
    default:
      return DISP_E_TYPEMISMATCH;
  }
  length = out.length();
  return hr;
}

}  // namespace velt::platform::oleaut
