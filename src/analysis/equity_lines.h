#pragma once
#include <string>

// The 1326-value answer lines of the equity and EV reports.

// Largest answer line; a line that would not fit is refused ("buffer too
// small"), which 1326 numbers written with "%.9g" never come near.
constexpr size_t kValueLineBuffer = 65536;

// values: 1326 doubles in ComboIndex order. The line lists them in HandOrder,
// each "%.9g", one blank between them and "\n" after the last; a NaN is
// written as nan_text ("nan" in value lines, "0" in weight lines).
std::string FormatHandOrderLine(const double* values, const char* nan_text);

// "%.2f" of a value of a per-combination list, "nan" for a NaN whatever its
// sign bit.
std::string FormatListNumber(double value);

// "%.9g\n" of a single answer value; "nan\n" for a NaN whatever its sign bit
// (0 / 0 sets it), as every undefined value prints.
std::string FormatValueNumber(double value);
