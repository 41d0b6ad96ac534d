// libFuzzer target: reads a message file from memory and touches every value
// the reader exposes. A bad file must end in msg::ReadError; anything else
// (a crash, a sanitizer report, another exception, a hang) is a finding.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "engine/core/source.h"
#include "engine/msg/message.h"

using namespace parvane;

namespace {

void touch(const msg::PropertyBag& bag) {
  for (const auto& p : bag.all()) {
    if (p.isMultiValued()) {
      for (std::size_t i = 0; i < p.count(); ++i) (void)p.itemText(i);
    } else if (!p.isFixed()) {
      (void)p.load();
      (void)p.text();
      auto s = p.open();
      std::uint8_t buf[64];
      if (s->size() > 0) {
        const std::size_t n = s->size() < sizeof buf ? static_cast<std::size_t>(s->size()) : sizeof buf;
        s->readAt(s->size() - n, std::span<std::uint8_t>(buf, n));
      }
    }
    if (p.name()) (void)p.name()->toString();
  }
}

void touch(const msg::Message& m) {
  touch(m.properties());
  for (const auto& r : m.recipients()) touch(r.properties());
  for (const auto& a : m.attachments()) {
    touch(a.properties());
    if (a.hasOleStorage()) (void)a.oleImage();
    if (a.embedded()) touch(*a.embedded());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto source = std::make_shared<core::ViewSource>(core::ByteView(data, size));
  try {
    msg::ReadOptions options;
    options.inMemoryLimit = 1024;  // exercise values read on demand as well
    const auto file = msg::MessageFile::read(source, "fuzz-input", options);
    touch(file.message());
  } catch (const msg::ReadError&) {
  }
  return 0;
}
