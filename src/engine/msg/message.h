// Outlook message files (.msg): everything a message store keeps of a message.
//
// Reading:
//
//   msg::MessageFile file = msg::MessageFile::open("a.msg");   // throws msg::ReadError
//   const msg::Message& m = file.message();
//   for (const msg::Property& p : m.properties().all()) {
//     p.tag(); p.type();                  // as stored; ids >= 0x8000 are file-local:
//     if (const msg::PropertyName* n = p.name()) { n->guid; n->kind; n->id; n->name; }
//     if (p.isFixed()) p.raw();           // the 8 value bytes, little-endian
//     else if (p.isMultiValued()) for (i < p.count()) p.item(i) / p.itemText(i);
//     else if (p.inMemory()) p.bytes();   // small values are read with the message
//     else p.open()->readAt(off, buf);    // big ones stay in the file: read in chunks
//   }
//   for (const msg::Recipient& r : m.recipients()) r.properties();
//   for (const msg::Attachment& a : m.attachments()) {
//     a.properties();                     // includes the attachment data 0x37010102
//     if (const msg::Message* e = a.embedded()) ...;   // same shape, any depth
//     if (a.hasOleStorage()) a.oleImage();            // the storage as a compound file
//   }
//   file.namedProperties();               // every named property of the file
//   file.warnings();                      // what was skipped, and why
//
// Memory: metadata (tags, names, recipients, attachment lists) is read with the
// message; a value is held in memory only when it is at most
// ReadOptions::inMemoryLimit bytes. Larger values are read on demand through
// Property::open(), in pieces of the caller's choosing, so importing a message
// never needs more than its largest property at once (and not even that when
// the consumer streams).
//
// Errors: a file that is not a sound compound file or message file raises
// msg::ReadError naming the file and what is wrong. Values read on demand
// (load(), open(), text() of a large value, oleImage()) raise ReadError too,
// though every stream's sector chain is already checked when the file is read. A property that is
// declared but whose stream is missing, and similar local damage that leaves
// the rest of the message sound, is skipped and reported in warnings().
#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/core/codepage.h"
#include "engine/core/coding.h"
#include "engine/core/source.h"

#include "engine/core/property_types.h"

namespace parvane::msg {

// Property types: the ones stores use too (engine/core/property_types.h).
namespace ptype {
using namespace core::ptype;  // NOLINT(google-build-using-namespace)
}  // namespace ptype

// A few tags the reader itself interprets.
namespace tag {
inline constexpr std::uint32_t AttachDataBinary = 0x37010102;
inline constexpr std::uint32_t AttachDataObject = 0x3701000D;
inline constexpr std::uint16_t AttachMethod = 0x3705;
inline constexpr std::uint16_t MessageCodepage = 0x3FFD;
inline constexpr std::uint16_t InternetCodepage = 0x3FDE;
inline constexpr std::uint16_t MessageLocaleId = 0x3FF1;
}  // namespace tag

// A GUID as stored on disk (Data1..Data3 little-endian, then 8 bytes).
struct Guid {
  std::array<std::uint8_t, 16> bytes{};
  std::string toString() const;  // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
  auto operator<=>(const Guid&) const = default;
};
extern const Guid PS_MAPI;             // {00020328-0000-0000-C000-000000000046}
extern const Guid PS_PUBLIC_STRINGS;   // {00020329-0000-0000-C000-000000000046}

// The name of a named property, independent of the file it came from.
struct PropertyName {
  enum class Kind : std::uint8_t { Id, String };
  Guid guid;
  Kind kind = Kind::Id;
  std::uint32_t id = 0;   // Kind::Id: the long id (LID)
  std::u16string name;    // Kind::String: the name
  std::string toString() const;  // "{guid}:0x8501" or "{guid}:\"name\""
  auto operator<=>(const PropertyName&) const = default;
};

// One entry of the file's named-property map: the file-local property id
// (0x8000 + index) and the name it stands for.
struct NamedProperty {
  std::uint16_t localId = 0;
  PropertyName name;
};

namespace detail {
struct FileContext;
}

class Property {
 public:
  std::uint32_t tag() const { return tag_; }
  std::uint16_t id() const { return static_cast<std::uint16_t>(tag_ >> 16); }
  std::uint16_t type() const { return static_cast<std::uint16_t>(tag_ & 0xFFFF); }
  std::uint16_t baseType() const { return static_cast<std::uint16_t>(type() & ~ptype::MultiValued); }
  bool isMultiValued() const { return (type() & ptype::MultiValued) != 0; }
  // The resolved name of a named property (id >= 0x8000); nullptr otherwise.
  // Always set for ids >= 0x8000: properties whose name cannot be resolved are
  // not exposed at all (they are reported as warnings).
  const PropertyName* name() const { return name_.get(); }
  // PROPATTR_MANDATORY 1, PROPATTR_READABLE 2, PROPATTR_WRITABLE 4.
  std::uint32_t flags() const { return flags_; }

  // Single values of fixed size (Int16 ... Time except Guid): the 8 value bytes
  // of the property stream, little-endian, unused high bytes as stored.
  bool isFixed() const;
  std::uint64_t raw() const { return raw_; }
  std::int16_t asInt16() const { return static_cast<std::int16_t>(raw_ & 0xFFFF); }
  std::int32_t asInt32() const { return static_cast<std::int32_t>(raw_ & 0xFFFFFFFF); }
  std::int64_t asInt64() const { return static_cast<std::int64_t>(raw_); }
  bool asBool() const { return (raw_ & 0xFFFF) != 0; }
  double asDouble() const;  // Float64 and FloatingTime
  float asFloat() const;    // Float32

  // Values kept in a stream (strings, binaries, GUIDs, ServerId, Restriction,
  // RuleAction, and multi-valued properties): the stream's byte count. String
  // streams usually hold no terminator, but some writers add one or pad with
  // NULs; text() drops trailing NULs, bytes()/load()/open() keep what is stored.
  std::uint64_t size() const { return size_; }
  bool inMemory() const { return inMemory_; }
  // The value bytes when inMemory(); raises std::logic_error otherwise.
  core::ByteView bytes() const;
  // The whole value, from memory or read from the file now.
  core::Bytes load() const;
  // The value as a byte source of size() bytes, for reading in chunks. Works
  // for in-memory and in-file values alike; it keeps the file open.
  std::unique_ptr<core::ByteSource> open() const;

  // String8 and Unicode values as UTF-16 without terminator(s). String8 is
  // decoded by the code pages its object names (core::decodeString8()); the
  // stored bytes stay available through bytes().
  std::u16string text() const;
  std::string utf8() const;
  const core::StringCodePages& codePages() const { return codePages_; }

  // Multi-valued properties: the number of values and each value's bytes as
  // stored (a fixed-size item is its element; strings as in their item stream,
  // usually with a terminator). For them bytes() is the stream of lengths or,
  // for fixed-size items, all items packed.
  std::size_t count() const { return items_.size(); }
  core::ByteView item(std::size_t i) const;
  std::u16string itemText(std::size_t i) const;  // MV String8 / MV Unicode

 private:
  friend class MessageReader;
  std::uint32_t tag_ = 0;
  std::uint32_t flags_ = 0;
  std::uint64_t raw_ = 0;
  std::uint64_t size_ = 0;
  bool inMemory_ = false;
  core::StringCodePages codePages_;
  std::uint32_t streamEntry_ = 0;  // directory entry of the value's stream
  std::shared_ptr<const PropertyName> name_;
  core::Bytes data_;
  std::vector<core::Bytes> items_;
  std::shared_ptr<const detail::FileContext> file_;
};

class PropertyBag {
 public:
  const std::vector<Property>& all() const { return props_; }
  std::size_t size() const { return props_.size(); }
  bool empty() const { return props_.empty(); }
  // The first property with this tag / id (any type) / name, or nullptr.
  const Property* findTag(std::uint32_t tag) const;
  const Property* findId(std::uint16_t id) const;
  const Property* findNamed(const PropertyName& name) const;
  // A string property (String8 or Unicode) by id, decoded.
  std::optional<std::u16string> text(std::uint16_t id) const;
  std::optional<std::int32_t> int32(std::uint16_t id) const;

 private:
  friend class MessageReader;
  std::vector<Property> props_;
};

class Recipient {
 public:
  // The number in the storage name __recip_version1.0_#XXXXXXXX.
  std::uint32_t number() const { return number_; }
  const PropertyBag& properties() const { return props_; }

 private:
  friend class MessageReader;
  std::uint32_t number_ = 0;
  PropertyBag props_;
};

class Message;

class Attachment {
 public:
  enum Method : std::uint32_t {
    NoAttachment = 0, ByValue = 1, ByReference = 2, ByReferenceResolve = 3,
    ByReferenceOnly = 4, EmbeddedMessage = 5, Ole = 6,
  };
  // The number in the storage name __attach_version1.0_#XXXXXXXX.
  std::uint32_t number() const { return number_; }
  const PropertyBag& properties() const { return props_; }
  // PidTagAttachMethod, NoAttachment when absent.
  std::uint32_t method() const;
  // The attachment's data (0x37010102), or nullptr; read large data through open().
  const Property* data() const { return props_.findTag(tag::AttachDataBinary); }
  // The embedded message (0x3701000D storage holding a message), or nullptr.
  const Message* embedded() const { return embedded_.get(); }
  // An OLE attachment's 0x3701000D storage that is not a message: a store keeps
  // it as an object. oleImage() is that storage written as a compound file of
  // its own (the root takes the storage's CLSID and streams).
  bool hasOleStorage() const { return oleStorage_ != 0; }
  core::Bytes oleImage() const;

 private:
  core::Bytes writeOleImage() const;
  friend class MessageReader;
  std::uint32_t number_ = 0;
  PropertyBag props_;
  std::shared_ptr<const Message> embedded_;
  std::uint32_t oleStorage_ = 0;  // directory entry, 0 when none
  std::shared_ptr<const detail::FileContext> file_;
};

class Message {
 public:
  const PropertyBag& properties() const { return props_; }
  const std::vector<Recipient>& recipients() const { return recipients_; }
  const std::vector<Attachment>& attachments() const { return attachments_; }
  // What the message says of its String8 values' code pages (its
  // recipients and attachments may say otherwise).
  const core::StringCodePages& codePages() const { return codePages_; }
  // 0 for the top-level message, 1 for a message embedded in it, ...
  unsigned depth() const { return depth_; }
  // Header of the property stream (top level and embedded messages).
  std::uint32_t nextRecipientId() const { return nextRecipientId_; }
  std::uint32_t nextAttachmentId() const { return nextAttachmentId_; }

 private:
  friend class MessageReader;
  PropertyBag props_;
  std::vector<Recipient> recipients_;
  std::vector<Attachment> attachments_;
  core::StringCodePages codePages_;
  unsigned depth_ = 0;
  std::uint32_t nextRecipientId_ = 0;
  std::uint32_t nextAttachmentId_ = 0;
};

struct ReadOptions {
  // Values up to this size are read with the message; larger ones stay in the file.
  std::uint64_t inMemoryLimit = 64 * 1024;
  // Deepest embedded message accepted (the top-level message is depth 0).
  unsigned maxDepth = 32;
  // Converter for String8 values; nullptr means the platform's.
  const core::CodePageConverter* codePages = nullptr;
};

// Raised when a file cannot be read as a message; what() names the file.
class ReadError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class MessageFile {
 public:
  static MessageFile open(const std::filesystem::path& path, const ReadOptions& options = {});
  static MessageFile read(std::shared_ptr<const core::ByteSource> source, std::string name,
                          const ReadOptions& options = {});

  const Message& message() const { return *message_; }
  // The file's named-property map, in file order (covers embedded messages too).
  const std::vector<NamedProperty>& namedProperties() const { return named_; }
  // Local damage that was skipped, one line each, naming where it was found.
  const std::vector<std::string>& warnings() const { return warnings_; }
  const std::string& name() const { return name_; }
  // The size of the file it was read from: what the message holds in memory
  // is about that at most (values past the in-memory limit stay in the file).
  std::uint64_t fileSize() const { return fileSize_; }

 private:
  friend class MessageReader;
  std::string name_;
  std::uint64_t fileSize_ = 0;
  std::shared_ptr<const Message> message_;
  std::vector<NamedProperty> named_;
  std::vector<std::string> warnings_;
};

}  // namespace parvane::msg
