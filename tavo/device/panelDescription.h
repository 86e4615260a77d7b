// Panel description files: a display configuration written as JSON with the field names of
// tavo::device::Config.
#pragma once

#include <string>
#include <string_view>

#include "tavo/common/export.h"
#include "tavo/device/config.h"

namespace tavo::device {

// Reads a panel description: one JSON object whose members are Config fields by name. Pairs and
// triples are arrays of 2 and 3 numbers, the sharpening coefficients arrays of at most 18 numbers
// (giving an array without its count sets the count to its length), `camera` an object with
// `width`, `height`, `fps` and `binningFactor`, `colorInversion` true or false. Missing fields keep
// their value in `base`. Throws tavo::Exception naming the field for an unknown field, a value of
// the wrong type or one out of range, and naming the line and column for malformed JSON. Pure;
// any thread.
TAVO_API Config ParsePanelDescription(std::string_view json, const Config& base);

// ParsePanelDescription of the file at `path`; a file that cannot be read throws tavo::Exception
// naming it.
TAVO_API Config LoadPanelDescription(const std::string& path, const Config& base);

}  // namespace tavo::device
