#include "compress/coder.h"

#include <cstdio>
#include <memory>

#include "compress/fse_stream_coder.h"
#include "compress/packer.h"
#include "compress/range_coder.h"
#include "protocol/fail.h"

std::unique_ptr<StreamEncoder> CreateEncoder(int32_t id, const uint64_t* model_counts,
                                             uint64_t* gathered_counts, StreamCallbackFn function,
                                             void* context, CoderStats* stats) {
  if (!stats) Fail();
  const StreamCallback callback{function, context};
  uint8_t id_byte = static_cast<uint8_t>(id);
  callback(0, &id_byte, 1);
  switch (id) {
    case CODER_RANGE:
      return std::make_unique<RangeCoderEncoder>(callback, model_counts, gathered_counts, stats);
    case CODER_PACKER:
      return std::make_unique<BitPackEncoder>(callback, stats);
    case CODER_FSE_STREAMS:
      return std::make_unique<FseStreamEncoder>(callback, stats);
    default:
      return nullptr;
  }
}

std::unique_ptr<StreamDecoder> CreateDecoder(StreamCallbackFn function, void* context,
                                             StreamViewFn view) {
  const StreamCallback callback{function, context, view};
  uint8_t id = 0;
  callback(0, &id, 1);
  switch (id) {
    case CODER_RANGE:
      return std::make_unique<RangeCoderDecoder>(callback);
    case CODER_PACKER:
      return std::make_unique<BitPackDecoder>(callback);
    case CODER_FSE_STREAMS:
      return std::make_unique<FseStreamDecoder>(callback);
    default:
      return nullptr;
  }
}

void ExitOnDamagedStream() {
  std::printf("fse error\n");
  ExitImmediately(1);
}
