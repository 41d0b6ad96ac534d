// msgdump FILE...: prints what the engine reads from Outlook message files:
// properties, recipients, attachments (with embedded messages), the named
// properties and the warnings. Exit status 1 when a file cannot be read.
#include <cstdio>
#include <iostream>
#include <string>

#include "engine/core/codepage.h"
#include "engine/msg/message.h"

using namespace parvane;

namespace {

std::string hex(std::uint64_t v, int width) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%0*llX", width, static_cast<unsigned long long>(v));
  return buf;
}

std::string preview(core::ByteView b, std::size_t max = 32) {
  std::string out;
  for (std::size_t i = 0; i < b.size() && i < max; ++i) out += hex(b[i], 2);
  if (b.size() > max) out += "...";
  return out;
}

std::string shown(std::u16string_view s, std::size_t max = 120) {
  std::string u = core::toUtf8(s.substr(0, max));
  std::string out = "\"";
  for (char c : u) {
    if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else if (c == '\t') out += "\\t";
    else out += c;
  }
  out += "\"";
  if (s.size() > max) out += "...";
  return out;
}

// What an object says of its 8-bit strings' code pages, in the order tried.
std::string codePagesText(const core::StringCodePages& pages) {
  const core::CodePageOrder order = core::codePageOrder(pages, false);
  std::string out = "code pages";
  for (std::size_t i = 0; i < order.count; ++i) out += " " + std::to_string(order.pages[i]);
  return out;
}

std::string value(const msg::Property& p) {
  const auto base = p.baseType();
  if (p.isMultiValued()) {
    std::string out = "[" + std::to_string(p.count()) + "]";
    for (std::size_t i = 0; i < p.count() && i < 8; ++i) {
      out += " ";
      out += (base == msg::ptype::Unicode || base == msg::ptype::String8) ? shown(p.itemText(i), 60)
                                                                            : preview(p.item(i), 16);
    }
    return out;
  }
  if (p.isFixed()) {
    switch (base) {
      case msg::ptype::Int16: return std::to_string(p.asInt16());
      case msg::ptype::Int32: return std::to_string(p.asInt32()) + " (0x" + hex(static_cast<std::uint32_t>(p.asInt32()), 8) + ")";
      case msg::ptype::Boolean: return p.asBool() ? "true" : "false";
      case msg::ptype::Float64: case msg::ptype::FloatingTime: return std::to_string(p.asDouble());
      case msg::ptype::Float32: return std::to_string(p.asFloat());
      case msg::ptype::Int64: case msg::ptype::Currency: return std::to_string(p.asInt64());
      default: return "0x" + hex(p.raw(), 16);
    }
  }
  if (base == msg::ptype::Unicode || base == msg::ptype::String8) {
    std::string out = shown(p.text());
    if (base == msg::ptype::String8) out += " (" + codePagesText(p.codePages()) + ")";
    return out;
  }
  std::string out = std::to_string(p.size()) + " bytes";
  if (p.inMemory()) out += " " + preview(p.bytes());
  else out += " (read on demand)";
  return out;
}

void dumpProperties(const msg::PropertyBag& bag, const std::string& indent) {
  for (const auto& p : bag.all()) {
    std::cout << indent << hex(p.tag(), 8);
    if (p.name()) std::cout << " " << p.name()->toString();
    std::cout << " = " << value(p) << "\n";
  }
}

void dumpMessage(const msg::Message& m, const std::string& indent) {
  std::cout << indent << "properties (" << m.properties().size() << ", " << codePagesText(m.codePages()) << "):\n";
  dumpProperties(m.properties(), indent + "  ");
  for (const auto& r : m.recipients()) {
    std::cout << indent << "recipient #" << hex(r.number(), 8) << ":\n";
    dumpProperties(r.properties(), indent + "  ");
  }
  for (const auto& a : m.attachments()) {
    std::cout << indent << "attachment #" << hex(a.number(), 8) << " (method " << a.method() << "):\n";
    dumpProperties(a.properties(), indent + "  ");
    if (a.hasOleStorage()) std::cout << indent << "  OLE storage, " << a.oleImage().size() << " bytes as a compound file\n";
    if (const auto* e = a.embedded()) {
      std::cout << indent << "  embedded message:\n";
      dumpMessage(*e, indent + "    ");
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: msgdump FILE...\n";
    return 2;
  }
  int status = 0;
  for (int i = 1; i < argc; ++i) {
    try {
      const auto file = msg::MessageFile::open(argv[i]);
      std::cout << "file " << argv[i] << "\n";
      dumpMessage(file.message(), "  ");
      std::cout << "  named properties (" << file.namedProperties().size() << "):\n";
      for (const auto& n : file.namedProperties()) {
        std::cout << "    " << hex(n.localId, 4) << " " << n.name.toString() << "\n";
      }
      for (const auto& w : file.warnings()) std::cout << "  warning: " << w << "\n";
    } catch (const std::exception& e) {
      std::cerr << "error: " << e.what() << "\n";
      status = 1;
    }
  }
  return status;
}
