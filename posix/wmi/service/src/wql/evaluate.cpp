#include "wql/evaluate.h"

#include <cmath>
#include <compare>

#include <owners/owned_variant.h>

namespace velt::wql {
namespace {

// A property's value, reached through embedded objects for a path. False when there is none.
bool read(IWbemClassObject* object, const PropertyRef& ref, OwnedVariant& value, CIMTYPE& type) {
  IWbemClassObject* at = object;
  OwnedVariant holder;  // keeps the embedded object alive while its property is read
  for (std::size_t i = 0; i < ref.path.size(); ++i) {
    OwnedVariant step;
    if (FAILED(at->Get(ref.path[i].c_str(), 0, step.get(), &type, nullptr))) return false;
    if (i + 1 == ref.path.size()) {
      value = std::move(step);
      return true;
    }
    if (step.get()->vt != VT_UNKNOWN || step.get()->punkVal == nullptr) return false;
    IWbemClassObject* inner = nullptr;
    if (FAILED(step.get()->punkVal->QueryInterface(IID_IWbemClassObject,
                                                   reinterpret_cast<void**>(&inner)))) {
      return false;
    }
    holder = OwnedVariant();
    holder.get()->vt = VT_UNKNOWN;
    holder.get()->punkVal = inner;  // the reference QueryInterface gave
    at = inner;
  }
  return false;
}

bool isNull(const VARIANT& v) { return v.vt == VT_NULL || v.vt == VT_EMPTY; }

std::optional<Number> numberOfText(const BSTR text) {
  if (text == nullptr) return std::nullopt;
  std::u16string_view digits(text, SysStringLen(text));
  bool negative = !digits.empty() && digits[0] == u'-';
  if (!digits.empty() && (digits[0] == u'-' || digits[0] == u'+')) digits.remove_prefix(1);
  if (digits.empty()) return std::nullopt;
  return readNumber(digits, negative);
}

Number whole(bool negative, std::uint64_t magnitude) {
  Number n;
  n.negative = negative && magnitude != 0;
  n.magnitude = magnitude;
  n.real = negative ? -double(magnitude) : double(magnitude);
  return n;
}

std::optional<Number> numberOf(const VARIANT& v, CIMTYPE type) {
  auto signedValue = [](long long x) {
    return whole(x < 0, x < 0 ? 0ull - static_cast<unsigned long long>(x) : x);
  };
  switch (v.vt) {
    case VT_I1:
      return signedValue(v.cVal);
    case VT_UI1:
      return whole(false, v.bVal);
    case VT_I2:
      return signedValue(v.iVal);
    case VT_UI2:
      return whole(false, v.uiVal);
    case VT_I4:
    case VT_INT:
      return signedValue(v.lVal);
    case VT_UI4:
    case VT_UINT:
      return whole(false, v.ulVal);
    case VT_I8:
      return signedValue(v.llVal);
    case VT_UI8:
      return whole(false, v.ullVal);
    case VT_R4:
    case VT_R8: {
      Number n;
      n.integral = false;
      n.real = v.vt == VT_R4 ? v.fltVal : v.dblVal;
      return n;
    }
    case VT_BSTR:
      // 64-bit integers travel as text.
      if (type == CIM_SINT64 || type == CIM_UINT64) return numberOfText(v.bstrVal);
      return std::nullopt;
    default:
      return std::nullopt;
  }
}

std::partial_ordering compareNumbers(const Number& a, const Number& b) {
  if (a.integral && b.integral) {
    if (a.negative != b.negative) {
      return a.negative ? std::partial_ordering::less : std::partial_ordering::greater;
    }
    std::partial_ordering m = a.magnitude <=> b.magnitude;
    if (!a.negative) return m;
    return m == std::partial_ordering::less      ? std::partial_ordering::greater
           : m == std::partial_ordering::greater ? std::partial_ordering::less
                                                 : m;
  }
  return a.real <=> b.real;
}

bool holds(std::partial_ordering order, CompareOp op) {
  if (order == std::partial_ordering::unordered) return false;
  switch (op) {
    case CompareOp::kEqual:
      return order == 0;
    case CompareOp::kNotEqual:
      return order != 0;
    case CompareOp::kLess:
      return order < 0;
    case CompareOp::kGreater:
      return order > 0;
    case CompareOp::kLessEqual:
      return order <= 0;
    case CompareOp::kGreaterEqual:
      return order >= 0;
  }
  return false;
}

std::partial_ordering compareText(std::u16string_view value, const std::u16string& lowered) {
  std::size_t n = std::min(value.size(), lowered.size());
  for (std::size_t i = 0; i < n; ++i) {
    char16_t a = foldCase(value[i]), b = lowered[i];
    if (a != b) return a < b ? std::partial_ordering::less : std::partial_ordering::greater;
  }
  return value.size() <=> lowered.size();
}

bool compare(const VARIANT& v, CIMTYPE type, CompareOp op, const Literal& literal) {
  if (isNull(v) || (v.vt & VT_ARRAY)) return false;
  if (v.vt == VT_BOOL) {
    bool value = v.boolVal != VARIANT_FALSE;
    std::optional<bool> other;
    if (literal.kind == Literal::Kind::kBoolean) other = literal.boolean;
    if (literal.kind == Literal::Kind::kNumber) other = literal.number->real != 0;
    if (literal.kind == Literal::Kind::kString) {
      if (literal.lowered == u"true") other = true;
      if (literal.lowered == u"false") other = false;
    }
    if (!other) return false;
    if (op == CompareOp::kEqual) return value == *other;
    if (op == CompareOp::kNotEqual) return value != *other;
    return holds(int(value) <=> int(*other), op);
  }
  if (std::optional<Number> number = numberOf(v, type)) {
    std::optional<Number> other = literal.number;
    if (literal.kind == Literal::Kind::kBoolean) other = whole(false, literal.boolean ? 1 : 0);
    return other && holds(compareNumbers(*number, *other), op);
  }
  if (v.vt == VT_BSTR) {
    std::u16string_view text(v.bstrVal ? v.bstrVal : u"", v.bstrVal ? SysStringLen(v.bstrVal) : 0);
    if (literal.kind == Literal::Kind::kString)
      return holds(compareText(text, literal.lowered), op);
    if (literal.kind == Literal::Kind::kNumber) {
      // A numeric constant against text compares as numbers when the text is one.
      std::optional<Number> value = numberOfText(v.bstrVal);
      return value && holds(compareNumbers(*value, *literal.number), op);
    }
    return false;
  }
  return false;
}

bool isa(const VARIANT& v, IWbemClassObject* self, const std::u16string& className) {
  IWbemClassObject* object = self;
  IWbemClassObject* inner = nullptr;
  if (!self) {
    if (v.vt != VT_UNKNOWN || v.punkVal == nullptr) return false;
    if (FAILED(v.punkVal->QueryInterface(IID_IWbemClassObject, reinterpret_cast<void**>(&inner)))) {
      return false;
    }
    object = inner;
  }
  OwnedVariant cls;
  bool result = false;
  if (SUCCEEDED(object->Get(u"__CLASS", 0, cls.get(), nullptr, nullptr)) &&
      cls.get()->vt == VT_BSTR && cls.get()->bstrVal) {
    std::u16string_view name(cls.get()->bstrVal, SysStringLen(cls.get()->bstrVal));
    std::u16string lowered;
    for (char16_t c : className) lowered += foldCase(c);
    result = compareText(name, lowered) == 0;
  }
  if (!result) result = object->InheritsFrom(className.c_str()) == WBEM_S_NO_ERROR;
  if (inner) inner->Release();
  return result;
}

bool isThis(const PropertyRef& ref) {
  if (ref.path.size() != 1) return false;
  std::u16string lowered;
  for (char16_t c : ref.path[0]) lowered += foldCase(c);
  return lowered == u"__this";
}

}  // namespace

bool leafHolds(const Condition& leaf, const VARIANT* value, CIMTYPE type) {
  bool null = value == nullptr || isNull(*value);
  switch (leaf.kind) {
    case Condition::Kind::kIsNull:
      return null;
    case Condition::Kind::kIsNotNull:
      return !null;
    case Condition::Kind::kCompare:
      return !null && compare(*value, type, leaf.op, leaf.value);
    case Condition::Kind::kLike: {
      if (null || value->vt != VT_BSTR) return false;
      BSTR text = value->bstrVal;
      bool like = leaf.pattern.matches(std::u16string_view(text ? text : u"", SysStringLen(text)));
      return like != leaf.negated;
    }
    case Condition::Kind::kIsa:
      return !null && isa(*value, nullptr, leaf.className);
    default:
      return false;
  }
}

bool readsSelf(const Condition& leaf) {
  return leaf.kind == Condition::Kind::kIsa && isThis(leaf.property);
}

bool matches(const Condition& c, IWbemClassObject* object) {
  return holdsWith(c, [object](const Condition& leaf) {
    if (readsSelf(leaf)) return isa(VARIANT{}, object, leaf.className);
    OwnedVariant value;
    CIMTYPE type = CIM_EMPTY;
    bool found = read(object, leaf.property, value, type);
    return leafHolds(leaf, found ? value.get() : nullptr, type);
  });
}

}  // namespace velt::wql
