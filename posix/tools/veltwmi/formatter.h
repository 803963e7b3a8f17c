// The output formats: a table for people, a list of Name : Value blocks, JSON for scripts and
// MOF instance declarations. Each writes an object as soon as it arrives, but for a table of a
// whole result, which waits for its last row so that every column fits its widest cell.
#pragma once

#include <memory>

#include "cli_args.h"
#include "console.h"
#include "object_view.h"

namespace veltwmi {

enum class Shape {
  kOne,     // get, put, call: one object
  kMany,    // enum: a JSON array, closed by end()
  kStream,  // watch: JSON one object per line, as events come
};

class Formatter {
 public:
  virtual ~Formatter() = default;
  virtual void object(const ObjectView& view) = 0;
  // After the last object (also when there was none).
  virtual void end() {}
};

std::unique_ptr<Formatter> makeFormatter(Format format, Shape shape, Console& console);

}  // namespace veltwmi
