// Reads a message file's storages into the Message tree of message.h.
#include <algorithm>
#include <cstring>
#include <map>

#include "engine/cfb/compound_file.h"
#include "engine/core/codepage.h"
#include "engine/core/text.h"
#include "engine/msg/detail.h"
#include "engine/msg/format.h"
#include "engine/msg/message.h"

namespace parvane::msg {

namespace {

// `where` with a recipient's or attachment's place added: the label, then the
// end of its storage's name ("#0000000A"), built in one allocation.
std::string joinWhere(const std::string& where, std::string_view label, std::u16string_view storageName) {
  const std::u16string_view number = storageName.substr(storageName.size() - 9);
  std::string out;
  out.reserve(where.size() + label.size() + number.size());
  out += where;
  out += label;
  for (char16_t c : number) out.push_back(c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?');
  return out;
}

// The number that ends a child's key (its upper-cased name, as child()
// compares names) after `prefix`, such as __RECIP_VERSION1.0_#0000000A: eight
// hex digits, upper-cased with the rest of the key.
template <std::size_t N>
bool numberedKey(std::u16string_view key, const char16_t (&prefix)[N], std::uint32_t& number) {
  constexpr std::size_t length = N - 1;
  if (key.size() != length + 8 || std::memcmp(key.data(), prefix, length * sizeof(char16_t)) != 0) return false;
  std::uint32_t v = 0;
  for (std::size_t i = length; i < key.size(); ++i) {
    const char16_t c = key[i];
    std::uint32_t d;
    if (c >= u'0' && c <= u'9') d = c - u'0';
    else if (c >= u'A' && c <= u'F') d = c - u'A' + 10u;
    else return false;
    v = (v << 4) | d;
  }
  number = v;
  return true;
}

// The prefixes of numbered children as their keys spell them.
constexpr char16_t kSubstgKey[] = u"__SUBSTG1.0_";
constexpr char16_t kRecipientKey[] = u"__RECIP_VERSION1.0_#";
constexpr char16_t kAttachmentKey[] = u"__ATTACH_VERSION1.0_#";

}  // namespace

class MessageReader {
 public:
  MessageReader(MessageFile& out, std::shared_ptr<const cfb::CompoundFile> file, const ReadOptions& options)
      : out_(out), options_(options) {
    auto ctx = std::make_shared<detail::FileContext>();
    ctx->file = std::move(file);
    ctx->codePages = options.codePages ? options.codePages : &core::platformCodePages();
    ctx_ = std::move(ctx);
  }

  void read() {
    const cfb::CompoundFile& f = *ctx_->file;
    readNameMap(f.root());
    out_.message_ = readMessage(f.root(), 0, core::StringCodePages{}, format::HeaderKind::TopLevel, "message");
  }

 private:
  const cfb::CompoundFile& file() const { return *ctx_->file; }

  [[noreturn]] void fail(const std::string& where, const std::string& what) const {
    throw ReadError(out_.name_ + ": " + where + ": " + what);
  }
  // Warnings are capped so that a file full of damage cannot make the list
  // grow without bound; the last line says how many were left out.
  void warn(const std::string& where, const std::string& what) {
    constexpr std::size_t kMaxWarnings = 200;
    if (out_.warnings_.size() < kMaxWarnings) {
      out_.warnings_.push_back(where + ": " + what);
    } else {
      ++droppedWarnings_;
    }
  }

 public:
  void finishWarnings() {
    if (droppedWarnings_) out_.warnings_.push_back(std::to_string(droppedWarnings_) + " more warnings left out");
  }

 private:
  std::size_t droppedWarnings_ = 0;

  // ---- named-property map -------------------------------------------------

  void readNameMap(const cfb::Entry& root) {
    const std::string where = format::kNameIdStorage;
    const cfb::Entry* storage = file().child(root, format::kNameIdStorage);
    if (!storage || !storage->isStorage()) return;
    auto stream = [&](const char* name) -> core::Bytes {
      const cfb::Entry* e = file().child(*storage, name);
      if (!e || !e->isStream()) return {};
      return file().readStream(*e, e->size);
    };
    const core::Bytes guids = stream(format::kGuidStream);
    const core::Bytes entries = stream(format::kEntryStream);
    const core::Bytes strings = stream(format::kStringStream);
    if (guids.size() % 16 != 0) warn(where, "GUID stream size " + std::to_string(guids.size()) + " is not a multiple of 16");
    if (entries.size() % 8 != 0) warn(where, "entry stream size " + std::to_string(entries.size()) + " is not a multiple of 8");
    const std::size_t guidCount = guids.size() / 16;

    core::ByteReader in(entries, "named-property entry stream");
    const std::size_t count = entries.size() / 8;
    for (std::size_t i = 0; i < count; ++i) {
      const auto e = format::decodeNameIdEntry(in);
      PropertyName name;
      const std::uint32_t guidIndex = e.indexAndKind >> 1;
      if (guidIndex == 1) {
        name.guid = PS_MAPI;
      } else if (guidIndex == 2) {
        name.guid = PS_PUBLIC_STRINGS;
      } else if (guidIndex >= 3 && guidIndex - 3 < guidCount) {
        std::copy_n(guids.begin() + static_cast<std::ptrdiff_t>((guidIndex - 3) * 16), 16, name.guid.bytes.begin());
      } else {
        const std::string range = guidCount == 0 ? "1 or 2" : "1 to " + std::to_string(guidCount + 2);
        fail(where, "entry " + std::to_string(i) + " GUID index: expected " + range + ", found " +
                        std::to_string(guidIndex));
      }
      if (e.indexAndKind & 1) {
        name.kind = PropertyName::Kind::String;
        const std::uint64_t offset = e.nameIdentifierOrStringOffset;
        if (offset + 4 > strings.size()) {
          fail(where, "entry " + std::to_string(i) + " string offset: " + std::to_string(offset) +
                          " is past the string stream's " + std::to_string(strings.size()) + " bytes");
        }
        const std::uint32_t len = core::loadU32(strings.data() + offset);
        if (len > strings.size() - offset - 4) {
          fail(where, "entry " + std::to_string(i) + " string length: " + std::to_string(len) + " bytes at offset " +
                          std::to_string(offset) + " pass the string stream's " + std::to_string(strings.size()) +
                          " bytes");
        }
        name.name = core::fromUtf16le(core::ByteView(strings).subspan(static_cast<std::size_t>(offset + 4), len));
      } else {
        name.kind = PropertyName::Kind::Id;
        name.id = e.nameIdentifierOrStringOffset;
      }
      const auto localId = static_cast<std::uint16_t>(0x8000 + e.propertyIndex);
      if (e.propertyIndex >= 0x7FFF) {
        fail(where, "entry " + std::to_string(i) + " property index: expected below 0x7FFF, found " +
                        std::to_string(e.propertyIndex));
      }
      if (names_.count(localId)) {
        warn(where, "entry " + std::to_string(i) + " repeats property id " + core::hex(localId, 8) + "; the first is kept");
        continue;
      }
      names_.emplace(localId, std::make_shared<const PropertyName>(name));
      out_.named_.push_back({localId, std::move(name)});
    }
  }

  // ---- property streams ----------------------------------------------------

  struct ParsedProps {
    PropertyBag bag;
    format::EmbeddedPropertyHeader header{};
    std::vector<format::PropertyEntry> entries;
  };

  // The entries of a storage's property stream. The result is the reader's
  // own buffer, reused by the next call: callers are done with it before they
  // read another object.
  const std::vector<format::PropertyEntry>& readEntries(const cfb::Entry& storage, format::HeaderKind kind,
                                                        const std::string& where, format::EmbeddedPropertyHeader* header) {
    const cfb::Entry* ps = file().child(storage, format::kPropertiesStream);
    if (!ps || !ps->isStream()) fail(where, std::string("stream ") + format::kPropertiesStream + " is missing");
    core::Bytes& raw = propertyStream_;
    file().readStreamInto(*ps, ps->size, raw);
    const std::size_t hs = format::headerSize(kind);
    if (raw.size() < hs) {
      fail(where, std::string(format::kPropertiesStream) + " size: " + std::to_string(raw.size()) +
                      " bytes, the header alone needs " + std::to_string(hs));
    }
    core::ByteReader in(raw, format::kPropertiesStream);
    if (kind != format::HeaderKind::Object && header) *header = format::decodeMessageHeader(in);
    in.seek(hs);
    if (in.remaining() % 16 != 0) {
      warn(where, std::string(format::kPropertiesStream) + " has " + std::to_string(in.remaining() % 16) +
                      " bytes after its last whole 16-byte entry; they are ignored");
    }
    auto& entries = propertyEntries_;
    entries.clear();
    entries.reserve(in.remaining() / 16);
    while (in.remaining() >= 16) entries.push_back(format::decodePropertyEntry(in));
    return entries;
  }
  core::Bytes propertyStream_;
  std::vector<format::PropertyEntry> propertyEntries_;

  // What an object's own properties say of its strings' code pages, each
  // left as `inherited` (its message's) where the object says nothing.
  static core::StringCodePages codePagesOf(const std::vector<format::PropertyEntry>& entries,
                                           core::StringCodePages inherited) {
    for (const auto& e : entries) {
      const auto id = static_cast<std::uint16_t>(e.propertyTag >> 16);
      const auto type = static_cast<std::uint16_t>(e.propertyTag & 0xFFFF);
      const auto v = static_cast<std::uint32_t>(e.value & 0xFFFFFFFF);
      if (type != ptype::Int32 || v == 0) continue;
      if (id == tag::MessageCodepage) inherited.message = v;
      else if (id == tag::MessageLocaleId) inherited.locale = v;
      else if (id == tag::InternetCodepage) inherited.internet = v;
    }
    return inherited;
  }

  // Builds the properties of one object. Object-typed values (0x000D) are left
  // to the caller, which knows what the storage holds.
  // The value streams of `storage` ("__substg1.0_XXXXXXXX") by tag, found in
  // one pass over its children rather than one name search per property. The
  // index is the reader's own, reused by the next storage; valueStream() looks
  // in it. Keys are matched, so a name matches a tag as child() would match
  // the tag's name.
  void indexValueStreams(const cfb::Entry& storage) {
    valueStreams_.clear();
    for (const std::uint32_t id : storage.children) {
      std::uint32_t tag = 0;
      if (numberedKey(file().key(id), kSubstgKey, tag)) valueStreams_.push_back({tag, &file().entry(id)});
    }
    // Children come in name order, in which these names sort as their tags
    // do; the compound file allows no two children of one name, so no tag
    // is listed twice.
    if (!std::is_sorted(valueStreams_.begin(), valueStreams_.end(), tagLess))
      std::sort(valueStreams_.begin(), valueStreams_.end(), tagLess);
  }
  const cfb::Entry* valueStream(std::uint32_t tag) const {
    const auto it = std::lower_bound(valueStreams_.begin(), valueStreams_.end(), ValueStream{tag, nullptr}, tagLess);
    return it != valueStreams_.end() && it->tag == tag ? it->entry : nullptr;
  }
  struct ValueStream {
    std::uint32_t tag;
    const cfb::Entry* entry;
  };
  static bool tagLess(const ValueStream& a, const ValueStream& b) { return a.tag < b.tag; }
  std::vector<ValueStream> valueStreams_;

  PropertyBag buildProperties(const cfb::Entry& storage, const std::vector<format::PropertyEntry>& entries,
                              const core::StringCodePages& codePages, const std::string& where) {
    indexValueStreams(storage);
    PropertyBag bag;
    bag.props_.reserve(entries.size());
    for (const auto& e : entries) {
      const std::uint32_t t = e.propertyTag;
      const auto type = static_cast<std::uint16_t>(t & 0xFFFF);
      const auto id = static_cast<std::uint16_t>(t >> 16);
      // composed only for a warning
      const auto pwhere = [&] { return where + ": property " + core::hex(t, 8); };
      if (!ptype::isKnown(type)) {
        fail(where, "property " + core::hex(t, 8) + " type: " + core::hex(type, 8).substr(6) + " is not a MAPI property type");
      }
      Property p;
      p.tag_ = t;
      p.flags_ = e.flags;
      p.codePages_ = codePages;
      p.file_ = ctx_;
      if (id >= 0x8000) {
        auto it = names_.find(id);
        if (it == names_.end()) {
          warn(pwhere(), "named property " + core::hex(id, 8).substr(6) + " is not in the named-property map; skipped");
          continue;
        }
        p.name_ = it->second;
      }
      if (type == ptype::Object) {
        // An attachment's object is the caller's to read; nothing else
        // reaches the store, so the loss is said.
        if (e.propertyTag != tag::AttachDataObject) warn(pwhere(), "object property " + core::hex(e.propertyTag, 8) + " is not kept");
        continue;
      }
      if (p.isFixed()) {
        p.raw_ = e.value;
        p.size_ = ptype::fixedSize(type);
        p.inMemory_ = true;
        bag.props_.push_back(std::move(p));
        continue;
      }
      const cfb::Entry* s = valueStream(t);
      if (!s || !s->isStream()) {
        format::SubstgNameBuffer nameBuffer;
        warn(pwhere(), "declared but its stream " + std::string(format::substgName(t, nameBuffer)) +
                           " is missing; skipped");
        continue;
      }
      p.streamEntry_ = s->id;
      p.size_ = s->size;
      if (p.isMultiValued()) {
        if (!readItems(p, storage, *s, pwhere)) continue;
      } else if (s->size <= options_.inMemoryLimit) {
        p.data_ = file().readStream(*s, s->size);
        p.inMemory_ = true;
      }  // larger values are read on demand; their chains were checked when the file was opened
      bag.props_.push_back(std::move(p));
    }
    return bag;
  }

  // Multi-valued values: fixed-size items packed in one stream; strings and
  // binaries as a stream of lengths plus one stream per item.
  // `where` makes the place named in warnings; it is only called for one.
  template <class Where>
  bool readItems(Property& p, const cfb::Entry& storage, const cfb::Entry& s, const Where& where) {
    const std::uint16_t base = p.baseType();
    const std::size_t width = ptype::fixedSize(base);
    core::Bytes raw = file().readStream(s, s.size);
    if (width != 0) {
      if (raw.size() % width != 0) {
        warn(where(), "size " + std::to_string(raw.size()) + " is not a multiple of the item size " + std::to_string(width) +
                        "; the partial item is dropped");
      }
      for (std::size_t off = 0; off + width <= raw.size(); off += width) {
        p.items_.emplace_back(raw.begin() + static_cast<std::ptrdiff_t>(off),
                              raw.begin() + static_cast<std::ptrdiff_t>(off + width));
      }
    } else {
      const std::size_t entry = base == ptype::Binary ? 8 : 4;
      const std::size_t count = raw.size() / entry;
      for (std::size_t i = 0; i < count; ++i) {
        const std::string itemName = format::substgItemName(p.tag_, static_cast<std::uint32_t>(i));
        const cfb::Entry* item = file().child(storage, itemName);
        if (!item || !item->isStream()) {
          warn(where(), "item stream " + itemName + " of " + std::to_string(count) + " is missing; the property is skipped");
          return false;
        }
        p.items_.push_back(file().readStream(*item, item->size));
      }
    }
    p.data_ = std::move(raw);
    p.inMemory_ = true;
    return true;
  }

  // ---- messages, recipients, attachments --------------------------------------

  std::shared_ptr<const Message> readMessage(const cfb::Entry& storage, unsigned depth,
                                             const core::StringCodePages& inherited,
                                             format::HeaderKind kind, const std::string& where) {
    auto m = std::make_shared<Message>();
    format::EmbeddedPropertyHeader header{};
    const auto& entries = readEntries(storage, kind, where, &header);
    m->depth_ = depth;
    m->codePages_ = codePagesOf(entries, inherited);
    if (m->codePages_.message != 0 && !ctx_->codePages->supports(m->codePages_.message)) {
      warn(where, "code page " + std::to_string(m->codePages_.message) +
                      " is not supported here; 8-bit strings decode by the next code page the file names");
    }
    m->nextRecipientId_ = header.nextRecipientId;
    m->nextAttachmentId_ = header.nextAttachmentId;
    m->props_ = buildProperties(storage, entries, m->codePages_, where);

    // Recipients, then attachments, each by number: one list for both.
    struct Numbered {
      bool attachment;
      std::uint32_t number;
      const cfb::Entry* entry;
    };
    std::vector<Numbered> parts;
    parts.reserve(storage.children.size());
    for (auto id : storage.children) {
      const cfb::Entry& c = file().entry(id);
      const std::u16string_view key = file().key(id);
      std::uint32_t n = 0;
      if (numberedKey(key, kRecipientKey, n)) {
        if (c.isStorage()) parts.push_back({false, n, &c});
      } else if (numberedKey(key, kAttachmentKey, n)) {
        if (c.isStorage()) parts.push_back({true, n, &c});
      }
    }
    std::sort(parts.begin(), parts.end(), [](const Numbered& a, const Numbered& b) {
      return a.attachment != b.attachment ? b.attachment : a.number < b.number;
    });
    const auto split = std::find_if(parts.begin(), parts.end(), [](const Numbered& p) { return p.attachment; });
    const std::span<const Numbered> recips(parts.begin(), split), attachs(split, parts.end());
    if (header.recipientCount != recips.size()) {
      warn(where, "header declares " + std::to_string(header.recipientCount) + " recipients, the file holds " +
                      std::to_string(recips.size()));
    }
    if (header.attachmentCount != attachs.size()) {
      warn(where, "header declares " + std::to_string(header.attachmentCount) + " attachments, the file holds " +
                      std::to_string(attachs.size()));
    }

    m->recipients_.reserve(recips.size());
    for (const Numbered& part : recips) {
      const cfb::Entry& e = *part.entry;
      const std::string rwhere = joinWhere(where, " > recipient ", e.name);
      Recipient r;
      r.number_ = part.number;
      const auto& own = readEntries(e, format::HeaderKind::Object, rwhere, nullptr);
      r.props_ = buildProperties(e, own, codePagesOf(own, m->codePages_), rwhere);
      m->recipients_.push_back(std::move(r));
    }
    m->attachments_.reserve(attachs.size());
    for (const Numbered& part : attachs) {
      m->attachments_.push_back(readAttachment(*part.entry, part.number, depth, m->codePages_, where));
    }
    return m;
  }

  Attachment readAttachment(const cfb::Entry& storage, std::uint32_t number, unsigned depth,
                            const core::StringCodePages& inherited,
                            const std::string& parentWhere) {
    const std::string where = joinWhere(parentWhere, " > attachment ", storage.name);
    Attachment a;
    a.number_ = number;
    a.file_ = ctx_;
    const auto& entries = readEntries(storage, format::HeaderKind::Object, where, nullptr);
    const core::StringCodePages codePages = codePagesOf(entries, inherited);
    a.props_ = buildProperties(storage, entries, codePages, where);

    // buildProperties() has just indexed this storage's value streams.
    const cfb::Entry* object = valueStream(tag::AttachDataObject);
    const std::uint32_t method = a.method();
    if (!object || !object->isStorage()) {
      if (method == Attachment::EmbeddedMessage || method == Attachment::Ole)
        warn(where, "attach method " + std::to_string(method) + " names an object storage the file does not hold");
      return a;
    }
    const bool hasProps = file().child(*object, format::kPropertiesStream) != nullptr;
    if (method == Attachment::EmbeddedMessage || (hasProps && method != Attachment::Ole)) {
      if (depth + 1 > options_.maxDepth) {
        fail(where, "embedded messages nest deeper than " + std::to_string(options_.maxDepth) + " levels");
      }
      a.embedded_ = readMessage(*object, depth + 1, codePages, format::HeaderKind::Embedded, where + " > embedded message");
    } else {
      a.oleStorage_ = object->id;
    }
    return a;
  }

  MessageFile& out_;
  const ReadOptions& options_;
  std::shared_ptr<const detail::FileContext> ctx_;
  std::map<std::uint16_t, std::shared_ptr<const PropertyName>> names_;
};

MessageFile MessageFile::read(std::shared_ptr<const core::ByteSource> source, std::string name,
                              const ReadOptions& options) {
  MessageFile out;
  out.name_ = name;
  out.fileSize_ = source ? source->size() : 0;
  try {
    auto file = cfb::CompoundFile::open(std::move(source), std::move(name));
    MessageReader reader(out, std::move(file), options);
    reader.read();
    reader.finishWarnings();
  } catch (const ReadError&) {
    throw;
  } catch (const cfb::Error& e) {
    throw ReadError(e.what());
  } catch (const core::TruncatedError& e) {
    throw ReadError(out.name_ + ": truncated: " + e.what());
  } catch (const core::IoError& e) {
    throw ReadError(e.what());
  } catch (const std::bad_alloc&) {
    throw ReadError(out.name_ + ": out of memory while reading");
  }
  return out;
}

MessageFile MessageFile::open(const std::filesystem::path& path, const ReadOptions& options) {
  std::shared_ptr<const core::ByteSource> source;
  try {
    source = std::make_shared<core::FileSource>(path);
  } catch (const core::IoError& e) {
    throw ReadError(e.what());
  }
  const std::u8string name = path.u8string();  // UTF-8 on every platform
  return read(std::move(source), std::string(name.begin(), name.end()), options);
}

}  // namespace parvane::msg
