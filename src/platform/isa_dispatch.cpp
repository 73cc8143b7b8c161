#include "platform/isa_dispatch.h"

KernelBuild g_kernel_build = KernelBuild::kAvx;
