// Messages of a realistic mix of sizes for the benchmarks, the same for a
// given index on every run: most under 50 KB (a text body of 1 to 50 KB, one
// to five recipients, one in `attachEvery` (5) with one to three attachments
// of 10 to 300 KB),
// one in `bigEvery` with an attachment of 1 to 20 MB, one in 200 carrying an
// embedded message.
#pragma once

#include <cstdint>

#include "support/msg_writer.h"

namespace parvane::benchmix {

struct MixOptions {
  std::uint64_t bigEvery = 1000;   // 0: no big attachments
  std::uint64_t attachEvery = 5;   // 0: no small attachments
};

testsupport::MsgMessage mixMessage(std::uint64_t index, const MixOptions& options = {});

}  // namespace parvane::benchmix
