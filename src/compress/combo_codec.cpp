#include "compress/combo_codec.h"

#include "protocol/fail.h"

namespace {

void CheckCount(int32_t count) {
  if (count < 0 || count > kMaxComboArray) Fail();
}

template <typename T>
void Rebuild(T* out, const T* reference, const uint32_t* coded, int32_t count, uint32_t flag) {
  if (count <= 0) return;
  if (reference && flag) {
    // The running distance to the reference takes each delta.
    T offset = 0;
    for (int32_t i = 0; i < count; ++i) {
      offset = static_cast<T>(offset + Unzigzag(coded[i]));
      out[i] = static_cast<T>(reference[i] + offset);
    }
    return;
  }
  T value = reference ? reference[0] : 0;
  for (int32_t i = 0; i < count; ++i) {
    value = static_cast<T>(value + Unzigzag(coded[i]));
    out[i] = value;
  }
}

template <typename T>
void Decode(StreamDecoder* decoder, T* out, const T* reference, int32_t count) {
  CheckCount(count);
  if (!decoder) throw CodedStreamError("unknown coder id");
  if (decoder->AppliesReference()) {
    if constexpr (sizeof(T) == 4)
      decoder->Decode(out, reference, count);
    else
      decoder->Decode16(out, reference, count);
    return;
  }
  // A decoder that leaves the rebuild to the codec hands back the signed
  // deltas; zigzag them again so the one rebuild rule applies.
  uint32_t deltas[kMaxComboArray];
  const uint32_t flag = decoder->Decode(deltas, nullptr, count);
  for (int32_t i = 0; i < count; ++i) deltas[i] = Zigzag(deltas[i]);
  Rebuild(out, reference, deltas, count, flag);
}

}  // namespace

void EncodeComboArray(StreamEncoder* encoder, const uint32_t* values, const uint32_t* reference,
                      int32_t count) {
  CheckCount(count);
  if (!encoder) Fail();
  uint32_t reference_form[kMaxComboArray];
  uint32_t plain[kMaxComboArray];
  if (Kernels<ComboCodecKernels>().ComputeComboDeltas(reference_form, plain, values, reference,
                                                      count))
    encoder->Encode(reference_form, count, 1);
  else
    encoder->Encode(plain, count, 0);
}

void EncodeComboArray16(StreamEncoder* encoder, const uint16_t* values,
                        const uint16_t* reference, int32_t count) {
  CheckCount(count);
  if (!encoder) Fail();
  uint32_t reference_form[kMaxComboArray];
  uint32_t plain[kMaxComboArray];
  if (Kernels<ComboCodecKernels>().ComputeComboDeltas16(reference_form, plain, values, reference,
                                                        count))
    encoder->Encode(reference_form, count, 1);
  else
    encoder->Encode(plain, count, 0);
}

void DecodeComboArray(StreamDecoder* decoder, uint32_t* out, const uint32_t* reference,
                      int32_t count) {
  Decode(decoder, out, reference, count);
}

void DecodeComboArray16(StreamDecoder* decoder, uint16_t* out, const uint16_t* reference,
                        int32_t count) {
  Decode(decoder, out, reference, count);
}

void RebuildComboValues(uint32_t* out, const uint32_t* reference, const uint32_t* coded,
                        int32_t count, uint32_t flag) {
  Rebuild(out, reference, coded, count, flag);
}

void RebuildComboValues(uint16_t* out, const uint16_t* reference, const uint32_t* coded,
                        int32_t count, uint32_t flag) {
  Rebuild(out, reference, coded, count, flag);
}
