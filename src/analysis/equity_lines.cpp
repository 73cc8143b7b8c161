#include "analysis/equity_lines.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "cards/combo_tables.h"
#include "protocol/command_error.h"

std::string FormatHandOrderLine(const double* values, const char* nan_text) {
  std::vector<char> buffer(kValueLineBuffer);
  const size_t nan_length = std::strlen(nan_text);
  size_t used = 0;
  for (HandOrder p = 0; p < kComboCount; ++p) {
    const double v = values[g_combo_by_hand_order[p]];
    char* at = buffer.data() + used;
    const size_t room = kValueLineBuffer - used;
    const char* separator = p + 1 < kComboCount ? " " : "\n";
    int written;
    if (std::isnan(v)) {
      written = nan_length + 1 < room ? std::snprintf(at, room, "%s%s", nan_text, separator) : -1;
    } else {
      written = std::snprintf(at, room, "%.9g%s", v, separator);
    }
    if (written < 0 || static_cast<size_t>(written) >= room) ThrowRefusal("buffer too small");
    used += static_cast<size_t>(written);
  }
  return std::string(buffer.data(), used);
}

std::string FormatListNumber(double value) {
  if (std::isnan(value)) return "nan";
  char text[400];  // "%.2f" of the largest double fits
  std::snprintf(text, sizeof(text), "%.2f", value);
  return text;
}

std::string FormatValueNumber(double value) {
  if (std::isnan(value)) return "nan\n";
  char text[64];
  std::snprintf(text, sizeof(text), "%.9g\n", value);
  return text;
}
