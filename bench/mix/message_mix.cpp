#include "message_mix.h"

#include <memory>
#include <string>

namespace parvane::benchmix {
namespace {

// A small, fast generator seeded by the message index.
struct Random {
  std::uint64_t state;
  std::uint64_t next() {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  std::uint64_t between(std::uint64_t lo, std::uint64_t hi) { return lo + next() % (hi - lo + 1); }
};

std::string text(Random& r, std::size_t bytes) {
  static const char* const words[] = {"meeting", "report", "the", "budget", "and", "quarter", "please", "review",
                                      "attached", "figures", "for", "next", "week", "thanks", "regards", "project"};
  std::string out;
  out.reserve(bytes + 16);
  while (out.size() < bytes) {
    out += words[r.next() % 16];
    out += (r.next() % 12 == 0) ? ".\r\n" : " ";
  }
  out.resize(bytes);
  return out;
}

core::Bytes data(Random& r, std::size_t bytes) {
  // compressible-looking but not constant, filled a word at a time
  core::Bytes out(bytes);
  std::uint64_t x = r.next();
  for (std::size_t i = 0; i < bytes; ++i) {
    if ((i & 7) == 0) x = x * 6364136223846793005ull + 1442695040888963407ull;
    out[i] = static_cast<std::uint8_t>(x >> (8 * (i & 7)));
  }
  return out;
}

}  // namespace

testsupport::MsgMessage mixMessage(std::uint64_t index, const MixOptions& options) {
  Random r{index * 0x2545F4914F6CDD1Dull + 1};
  const std::uint64_t roll = r.next() % 100;
  const std::size_t body = roll < 60 ? r.between(1000, 5000) : roll < 88 ? r.between(5000, 20000) : r.between(20000, 50000);
  std::vector<std::string> to;
  for (std::uint64_t k = r.between(1, 5); k > 0; --k) to.push_back("person" + std::to_string(r.next() % 5000) + "@example.com");
  std::vector<std::pair<std::string, core::Bytes>> attachments;
  if (r.next() % (options.attachEvery ? options.attachEvery : 1) == 0 && options.attachEvery)
    for (std::uint64_t k = r.between(1, 3); k > 0; --k)
      attachments.push_back({"file" + std::to_string(k) + ".pdf", data(r, r.between(10000, 300000))});
  if (options.bigEvery && index % options.bigEvery == options.bigEvery - 1)
    attachments.push_back({"large.zip", data(r, r.between(1u << 20, 20u << 20))});
  auto m = testsupport::simpleMessage("Message " + std::to_string(index) + " " + text(r, r.between(10, 60)), text(r, body), to,
                                      attachments);
  if (index % 200 == 199) {
    auto inner = std::make_shared<testsupport::MsgMessage>(
        testsupport::simpleMessage("Forwarded " + std::to_string(index), text(r, r.between(1000, 20000)), {to[0]}));
    testsupport::MsgAttachment e;
    e.properties.push_back(testsupport::MsgProperty::i32(0x3705, 5));
    e.properties.push_back(testsupport::MsgProperty::unicode(0x3001, "Forwarded"));
    e.embedded = inner;
    m.attachments.push_back(std::move(e));
  }
  return m;
}

}  // namespace parvane::benchmix
