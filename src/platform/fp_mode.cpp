#include "platform/fp_mode.h"

#include <xmmintrin.h>

uint32_t ReadFpControl() { return _mm_getcsr(); }

void WriteFpControl(uint32_t mxcsr) { _mm_setcsr(mxcsr); }

void EnableFlushToZero() { _mm_setcsr(_mm_getcsr() | kMxcsrFlushToZeroBits); }

void SetDefaultFpMode() { _mm_setcsr(kMxcsrDefault); }
