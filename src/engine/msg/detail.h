// State shared by every object read from one message file: the compound file
// (kept open for values read on demand) and the code-page converter.
#pragma once

#include <memory>
#include <string>

#include "engine/cfb/compound_file.h"
#include "engine/core/codepage.h"

namespace parvane::msg::detail {

struct FileContext {
  std::shared_ptr<const cfb::CompoundFile> file;
  const core::CodePageConverter* codePages = nullptr;
};

}  // namespace parvane::msg::detail
