// Whether an object meets a query's condition, with WMI's typing: numbers compare as numbers
// (64-bit ones exactly), strings without regard to case, and a NULL property meets nothing but
// IS NULL.
#pragma once

#include <wbemcli.h>

#include "wql/query.h"

namespace velt::wql {

bool matches(const Condition& condition, IWbemClassObject* object);

// The same walk over AND, OR and NOT, with `leaf` deciding each of the other conditions, so
// that a caller that can read an object's values in place need not go through Get.
template <class Leaf>
bool holdsWith(const Condition& c, Leaf&& leaf) {
  switch (c.kind) {
    case Condition::Kind::kAnd:
      for (const Condition& child : c.children) {
        if (!holdsWith(child, leaf)) return false;
      }
      return true;
    case Condition::Kind::kOr:
      for (const Condition& child : c.children) {
        if (holdsWith(child, leaf)) return true;
      }
      return false;
    case Condition::Kind::kNot:
      return !holdsWith(c.children.front(), leaf);
    default:
      return leaf(c);
  }
}

// Whether `value`, the value of the leaf's property (null when the object has none) of CIM
// type `type`, meets the leaf. An ISA of an embedded object reads that object.
bool leafHolds(const Condition& leaf, const VARIANT* value, CIMTYPE type);

// An ISA of the object itself (__THIS), which no single property's value answers.
bool readsSelf(const Condition& leaf);

}  // namespace velt::wql
