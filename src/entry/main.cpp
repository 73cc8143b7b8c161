// Process entry. Compiled for baseline x86-64: nothing here may need AVX, since
// the processor check runs from here.
#include "entry/startup.h"
#include "platform/cpu_features.h"
#include "platform/fp_mode.h"

int main(int argc, char** argv) {
  InitCpuFeatures();
  // Only the command thread computes with flush-to-zero and denormals-are-zero.
  EnableFlushToZero();
  return EngineMain(argc, argv);
}
