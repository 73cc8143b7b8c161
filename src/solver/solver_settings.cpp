#include "solver/solver_settings.h"

uint8_t g_isomorphism_by_street[4] = {1, 1, 0, 0};
