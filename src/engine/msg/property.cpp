#include <cstring>
#include <stdexcept>

#include "engine/cfb/writer.h"
#include "engine/core/codepage.h"
#include "engine/core/text.h"
#include "engine/msg/detail.h"
#include "engine/msg/message.h"

namespace parvane::msg {

const Guid PS_MAPI{{0x28, 0x03, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const Guid PS_PUBLIC_STRINGS{
    {0x29, 0x03, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};



std::string Guid::toString() const {
  // {Data1-Data2-Data3-Data4[0..1]-Data4[2..7]}, the first three little-endian.
  std::string out = "{";
  core::appendHexDigits(out, core::loadU32(bytes.data()), 8);
  out += '-';
  core::appendHexDigits(out, core::loadU16(bytes.data() + 4), 4);
  out += '-';
  core::appendHexDigits(out, core::loadU16(bytes.data() + 6), 4);
  out += '-';
  out += core::hexBytes(std::span(bytes).subspan(8, 2));
  out += '-';
  out += core::hexBytes(std::span(bytes).subspan(10, 6));
  out += '}';
  return out;
}

std::string PropertyName::toString() const {
  if (kind == Kind::Id) return guid.toString() + ":" + core::hex(id, 4);
  return guid.toString() + ":\"" + core::toUtf8(name) + "\"";
}

bool Property::isFixed() const {
  return !isMultiValued() && baseType() != ptype::Guid &&
         (ptype::fixedSize(baseType()) != 0 || baseType() == ptype::Null || baseType() == ptype::Unspecified);
}

double Property::asDouble() const {
  double d;
  static_assert(sizeof d == sizeof raw_);
  std::memcpy(&d, &raw_, sizeof d);
  return d;
}

float Property::asFloat() const {
  const auto bits = static_cast<std::uint32_t>(raw_ & 0xFFFFFFFF);
  float f;
  static_assert(sizeof f == sizeof bits);
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

core::ByteView Property::bytes() const {
  if (!inMemory_) throw std::logic_error("property value is not in memory: read it with load() or open()");
  return data_;
}

namespace {

// Runs a read of the file on demand, turning the lower layers' errors into the
// one error type of this layer.
template <class F>
auto guarded(const detail::FileContext& ctx, F&& read) -> decltype(read()) {
  try {
    return read();
  } catch (const cfb::Error& e) {
    throw ReadError(e.what());
  } catch (const core::TruncatedError& e) {
    throw ReadError(ctx.file->name() + ": truncated: " + e.what());
  } catch (const core::IoError& e) {
    throw ReadError(e.what());
  }
}

// A value's stream; reads raise ReadError like the rest of this layer.
class ValueSource final : public core::ByteSource {
 public:
  ValueSource(std::shared_ptr<const detail::FileContext> ctx, std::unique_ptr<core::ByteSource> inner)
      : ctx_(std::move(ctx)), inner_(std::move(inner)) {}
  std::uint64_t size() const override { return inner_->size(); }
  void readAt(std::uint64_t offset, std::span<std::uint8_t> out) const override {
    guarded(*ctx_, [&] { inner_->readAt(offset, out); });
  }

 private:
  std::shared_ptr<const detail::FileContext> ctx_;
  std::unique_ptr<core::ByteSource> inner_;
};

}  // namespace

core::Bytes Property::load() const {
  if (inMemory_) return data_;
  if (!file_) return {};
  return guarded(*file_, [&] {
    const auto& f = *file_->file;
    return f.readStream(f.entry(streamEntry_), size_);
  });
}

std::unique_ptr<core::ByteSource> Property::open() const {
  if (inMemory_ || !file_) return std::make_unique<core::MemorySource>(data_);
  auto inner = guarded(*file_, [&] {
    const auto& f = *file_->file;
    return f.openStream(f.entry(streamEntry_));
  });
  return std::make_unique<ValueSource>(file_, std::move(inner));
}

namespace {

std::u16string decodeText(core::ByteView b, std::uint16_t baseType, std::uint16_t id,
                          const core::StringCodePages& pages, const detail::FileContext* file) {
  if (baseType == ptype::Unicode) {
    std::u16string s = core::fromUtf16le(b);
    while (!s.empty() && s.back() == u'\0') s.pop_back();
    return s;
  }
  if (baseType == ptype::String8) {
    while (!b.empty() && b.back() == 0) b = b.first(b.size() - 1);
    const auto& cp = file && file->codePages ? *file->codePages : core::platformCodePages();
    // the internet code page speaks for the bodies: PR_BODY, PR_HTML
    return core::decodeString8(b, pages, id == 0x1000 || id == 0x1013, cp);
  }
  return {};
}

}  // namespace

std::u16string Property::text() const {
  if (isMultiValued()) return {};
  if (inMemory_) return decodeText(data_, baseType(), id(), codePages_, file_.get());
  return decodeText(load(), baseType(), id(), codePages_, file_.get());
}

std::string Property::utf8() const { return core::toUtf8(text()); }

core::ByteView Property::item(std::size_t i) const {
  if (i >= items_.size()) throw std::out_of_range("multi-valued property item index");
  return items_[i];
}

std::u16string Property::itemText(std::size_t i) const {
  return decodeText(item(i), baseType(), id(), codePages_, file_.get());
}

const Property* PropertyBag::findTag(std::uint32_t t) const {
  for (const auto& p : props_) {
    if (p.tag() == t) return &p;
  }
  return nullptr;
}

const Property* PropertyBag::findId(std::uint16_t id) const {
  for (const auto& p : props_) {
    if (p.id() == id) return &p;
  }
  return nullptr;
}

const Property* PropertyBag::findNamed(const PropertyName& n) const {
  for (const auto& p : props_) {
    if (p.name() && *p.name() == n) return &p;
  }
  return nullptr;
}

std::optional<std::u16string> PropertyBag::text(std::uint16_t id) const {
  for (const auto& p : props_) {
    if (p.id() == id && (p.type() == ptype::Unicode || p.type() == ptype::String8)) return p.text();
  }
  return std::nullopt;
}

std::optional<std::int32_t> PropertyBag::int32(std::uint16_t id) const {
  for (const auto& p : props_) {
    if (p.id() == id && p.type() == ptype::Int32) return p.asInt32();
  }
  return std::nullopt;
}

std::uint32_t Attachment::method() const {
  const auto m = props_.int32(tag::AttachMethod);
  return m ? static_cast<std::uint32_t>(*m) : NoAttachment;
}

core::Bytes Attachment::oleImage() const {
  if (!oleStorage_ || !file_) return {};
  return guarded(*file_, [&] {
    try {
      return writeOleImage();
    } catch (const std::invalid_argument& e) {
      // Names a compound file cannot hold, such as an empty one.
      throw ReadError(file_->file->name() + ": OLE attachment storage cannot be copied: " + e.what());
    }
  });
}

core::Bytes Attachment::writeOleImage() const {
  const auto& f = *file_->file;
  const cfb::Entry& top = f.entry(oleStorage_);
  cfb::Writer w;
  w.setClsid(w.root(), top.clsid);
  w.setStateBits(w.root(), top.stateBits);
  // Copy the subtree; ids of the source map to ids of the image.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> todo{{top.id, w.root()}};
  while (!todo.empty()) {
    const auto [from, to] = todo.back();
    todo.pop_back();
    for (auto childId : f.entry(from).children) {
      const cfb::Entry& c = f.entry(childId);
      if (c.isStorage()) {
        const auto id = w.addStorage(to, std::u16string(c.name));
        w.setClsid(id, c.clsid);
        w.setStateBits(id, c.stateBits);
        todo.emplace_back(c.id, id);
      } else {
        w.addStream(to, std::u16string(c.name), f.readStream(c, c.size));
      }
    }
  }
  return w.finish();
}

}  // namespace parvane::msg
