#pragma once
// The controls' setters store a value and redraw only on a real change.

namespace controls {

// Stores value in field; true when that changed the field.
template <typename T>
bool SetIfChanged(T& field, const T& value) {
  if (field == value) return false;
  field = value;
  return true;
}

}  // namespace controls
