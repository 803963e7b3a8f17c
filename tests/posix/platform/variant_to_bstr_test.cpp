// VariantChangeType(dst, src, 0, VT_BSTR) against the reference table in data/: one row per
// source type and value, with the expected HRESULT and UTF-8 text.
#include <gtest/gtest.h>
#include <owners/utf_text.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "oleaut_support.h"

namespace {

struct Row {
  std::string type, value, hresult, text;
};

std::vector<Row> loadRows() {
  std::ifstream file(VELT_TEST_DATA_DIR "/variant_to_bstr.tsv");
  std::vector<Row> rows;
  std::string line;
  while (std::getline(file, line)) {
    if (line.empty() || line.starts_with("type\t")) continue;
    std::istringstream fields(line);
    Row row;
    std::getline(fields, row.type, '\t');
    std::getline(fields, row.value, '\t');
    std::getline(fields, row.hresult, '\t');
    std::getline(fields, row.text, '\t');
    rows.push_back(row);
  }
  return rows;
}

// The table writes non-ASCII characters of a string value as \uXXXX.
OleText decodeEscapes(const std::string& value) {
  OleText out;
  for (size_t i = 0; i < value.size(); ++i) {
    if (value.compare(i, 2, "\\u") == 0 && i + 6 <= value.size()) {
      out += static_cast<OLECHAR>(std::stoul(value.substr(i + 2, 4), nullptr, 16));
      i += 5;
    } else {
      out += static_cast<OLECHAR>(static_cast<unsigned char>(value[i]));
    }
  }
  return out;
}

double real(const std::string& text) {
  if (text == "1/3") return 1.0 / 3.0;
  return std::strtod(text.c_str(), nullptr);  // a trailing f of a float literal is ignored
}

struct IntegerType {
  const char* name;
  VARTYPE vt;
  size_t size;
};
constexpr IntegerType kIntegerTypes[] = {
    {"VT_I1", VT_I1, 1}, {"VT_UI1", VT_UI1, 1}, {"VT_I2", VT_I2, 2},      {"VT_UI2", VT_UI2, 2},
    {"VT_I4", VT_I4, 4}, {"VT_UI4", VT_UI4, 4}, {"VT_INT", VT_INT, 4},    {"VT_UINT", VT_UINT, 4},
    {"VT_I8", VT_I8, 8}, {"VT_UI8", VT_UI8, 8}, {"VT_ERROR", VT_ERROR, 4}};

// Fills v from the row; returns false for a type the test does not know.
bool makeVariant(const Row& row, OwnedVariant& v) {
  const std::string& t = row.type;
  const std::string& x = row.value;
  for (const IntegerType& integer : kIntegerTypes) {
    if (t != integer.name) continue;
    // Every value member starts the union; the low bytes of a little-endian integer are the
    // value cut to the member's width (negative text wraps into the unsigned range).
    const unsigned long long bits = std::stoull(x);
    v.get()->vt = integer.vt;
    std::memcpy(&v.get()->ullVal, &bits, integer.size);
    return true;
  }
  if (t == "VT_EMPTY") return true;
  if (t == "VT_NULL")
    v.get()->vt = VT_NULL;
  else if (t == "VT_R4")
    v.get()->vt = VT_R4, v.get()->fltVal = static_cast<float>(real(x));
  else if (t == "VT_R8")
    v.get()->vt = VT_R8, v.get()->dblVal = real(x);
  else if (t == "VT_DATE")
    v.get()->vt = VT_DATE, v.get()->date = real(x);
  else if (t == "VT_CY")
    v.get()->vt = VT_CY, v.get()->cyVal.int64 = std::llround(real(x) * 10000);
  else if (t == "VT_BOOL")
    v.get()->vt = VT_BOOL, v.get()->boolVal = x == "VARIANT_TRUE" ? VARIANT_TRUE : 0;
  else if (t == "VT_BSTR") {
    v.get()->vt = VT_BSTR;
    if (x != "NULL pointer") {
      const OleText text = decodeEscapes(x);
      v.get()->bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    }
  } else if (t == "VT_UNKNOWN") {
    v.get()->vt = VT_UNKNOWN;
  } else if (t == "VT_ARRAY|VT_BSTR") {
    v.get()->vt = VT_ARRAY | VT_BSTR;
    v.get()->parray = SafeArrayCreateVector(VT_BSTR, 0, 1);
  } else {
    return false;
  }
  return true;
}

}  // namespace

TEST(VariantToBstrTableTest, EveryConversionRowMatches) {
  const std::vector<Row> rows = loadRows();
  ASSERT_GE(rows.size(), 30u) << "reference table not found or truncated";
  int checked = 0;
  for (const Row& row : rows) {
    OwnedVariant source;
    if (!makeVariant(row, source)) continue;  // facts about other functions, tested beside them
    SCOPED_TRACE(row.type + " " + row.value);
    OwnedVariant result;
    const HRESULT hr = VariantChangeType(result.get(), source.get(), 0, VT_BSTR);
    EXPECT_EQ(static_cast<unsigned long>(static_cast<ULONG>(hr)),
              std::stoul(row.hresult, nullptr, 16));
    if (SUCCEEDED(hr)) {
      EXPECT_EQ(result.get()->vt, VT_BSTR);
      EXPECT_EQ(velt::utf8FromUtf16(result.get()->bstrVal), row.text);
    } else {
      EXPECT_EQ(result.get()->vt, VT_EMPTY);
    }
    ++checked;
  }
  EXPECT_GE(checked, 30);
}
