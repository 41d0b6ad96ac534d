// 8-bit strings of generated message files, in the code pages real files
// keep them in, under the internet charsets real mail travels in: each
// arrives in the store as Python's codecs decode it in its right code page,
// read back by a reader we did not write.
#include <fstream>
#include <sstream>
#include <vector>

#include "import_fixture.h"

namespace parvane::importer {
namespace {

using testsupport::MsgProperty;

const std::string kTool = std::string(PARVANE_SOURCE_DIR) + "/tests/import/tools/string8_store.py";

// A language as its ANSI code page keeps it: the Python codec, a locale id
// naming that code page, and a text that needs it.
struct Language {
  std::uint32_t codePage;
  const char* codec;
  std::int32_t locale;
  const char* text;  // UTF-8
};
const Language kLanguages[] = {
    {1252, "cp1252", 0x0407, "Grüße öäü ß"},
    {1251, "cp1251", 0x0419, "Привет, мир"},
    {932, "cp932", 0x0411, "日本語の件名"},
};
struct Charset {
  std::uint32_t codePage;  // 0: none named
  const char* codec;
};
const Charset kCharsets[] = {{65001, "utf-8"}, {20127, "ascii"}, {20866, "koi8_r"}, {50220, "iso2022_jp"}, {0, ""}};

class String8Import : public ImportTest {
 protected:
  // Python's encoding of each (codec, text), as hex; "-" where it cannot.
  static std::vector<std::string> encoded(const std::vector<std::pair<std::string, std::string>>& texts,
                                          const std::string& scratch) {
    {
      std::ofstream in(scratch);
      for (const auto& [codec, text] : texts) in << codec << '\t' << text << '\n';
    }
    const auto r = Shell("/usr/bin/python3 " + Quoted(kTool) + " encode < " + Quoted(scratch));
    std::vector<std::string> out;
    std::istringstream lines(r.output);
    for (std::string line; std::getline(lines, line);) out.push_back(line);
    return out;
  }
  static core::Bytes fromHex(const std::string& hex) {
    core::Bytes out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
      out.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
  }
  static MsgProperty string8(std::uint16_t id, const std::string& hex) {
    const core::Bytes b = fromHex(hex);
    return MsgProperty::string8(id, std::string(b.begin(), b.end()));
  }
};

// {five internet charsets} × {three ANSI code pages}, and two files that
// name their code page otherwise (their own code page, or none but the
// charset): subject, body, recipient name, attachment name, and the subject
// of an embedded message that names a code page of its own.
TEST_F(String8Import, EveryStringArrivesAsItsRightCodePageDecodesIt) {
  struct Case {
    Charset charset;
    Language language;
    bool byLocale = true;       // the file names its locale...
    bool byOwnCodePage = false;  // ...or its message code page
  };
  std::vector<Case> cases;
  for (const auto& c : kCharsets)
    for (const auto& l : kLanguages) cases.push_back({c, l});
  cases.push_back({kCharsets[2], kLanguages[1], false, false});  // koi8-r mail: Cyrillic by its charset
  cases.push_back({kCharsets[0], kLanguages[2], false, true});   // UTF-8 mail, code page 932

  // Python encodes each text in its language's code page and, for the body,
  // in the mail's charset where that holds it.
  std::vector<std::pair<std::string, std::string>> texts;
  for (std::size_t k = 0; k < cases.size(); ++k) {
    const auto& c = cases[k];
    const auto& inner = kLanguages[(k + 1) % 3];
    texts.push_back({c.language.codec, c.language.text});
    texts.push_back({c.charset.codePage ? c.charset.codec : c.language.codec, c.language.text});
    texts.push_back({inner.codec, inner.text});
  }
  const auto hex = encoded(texts, path("texts.tsv"));
  ASSERT_EQ(hex.size(), texts.size());

  EngineStoreService store;
  const std::string file = path("string8.pst");
  ASSERT_TRUE(store.createStore(file, StoreFormat::Default, "Strings"));
  const auto folder = store.addFolder(store.topFolder().value(), "In", FolderKind::Mail).value();
  std::ofstream expected(path("expected.tsv"));
  for (std::size_t k = 0; k < cases.size(); ++k) {
    const auto& c = cases[k];
    const auto& inner = kLanguages[(k + 1) % 3];
    const std::string& own = hex[3 * k];
    const bool bodyInCharset = c.charset.codePage != 0 && hex[3 * k + 1] != "-";
    const std::string& body = bodyInCharset ? hex[3 * k + 1] : own;
    auto m = testsupport::simpleMessage("", "", {"someone@example.com"});
    std::erase_if(m.properties, [](const MsgProperty& p) {
      const auto id = p.tag >> 16;
      return id == 0x0037 || id == 0x0070 || id == 0x1000;
    });
    m.properties.push_back(string8(0x0037, own));
    m.properties.push_back(string8(0x1000, body));
    if (c.byLocale) m.properties.push_back(MsgProperty::i32(0x3FF1, c.language.locale));
    if (c.byOwnCodePage) m.properties.push_back(MsgProperty::i32(0x3FFD, static_cast<std::int32_t>(c.language.codePage)));
    if (c.charset.codePage) m.properties.push_back(MsgProperty::i32(0x3FDE, static_cast<std::int32_t>(c.charset.codePage)));
    std::erase_if(m.recipients[0].properties, [](const MsgProperty& p) { return p.tag >> 16 == 0x3001; });
    m.recipients[0].properties.push_back(string8(0x3001, own));
    auto embedded = std::make_shared<testsupport::MsgMessage>(testsupport::simpleMessage("", ""));
    std::erase_if(embedded->properties, [](const MsgProperty& p) { return p.tag >> 16 == 0x0037; });
    embedded->properties.push_back(string8(0x0037, hex[3 * k + 2]));
    embedded->properties.push_back(MsgProperty::i32(0x3FF1, inner.locale));
    testsupport::MsgAttachment a;
    a.properties.push_back(MsgProperty::i32(0x3705, 5));
    a.properties.push_back(string8(0x3707, own));
    a.embedded = embedded;
    m.attachments.push_back(a);
    const std::string source = path("case" + std::to_string(k) + ".msg");
    testsupport::writeMsgFile(source, m);
    ASSERT_TRUE(importInto(store, folder, source)) << source;

    // the right code pages: the language's; for the body its mail's charset
    // first, which takes the bytes where it holds the text (or, like koi8-r,
    // any byte)
    const std::string right = c.language.codec;
    const std::string bodyRight = c.charset.codePage ? std::string(c.charset.codec) + "," + right : right;
    const std::string index = std::to_string(k) + "\t";
    expected << index << "subject\t" << right << '\t' << own << '\n'
             << index << "body\t" << bodyRight << '\t' << body << '\n'
             << index << "recipient\t" << right << '\t' << own << '\n'
             << index << "attachment\t" << right << '\t' << own << '\n'
             << index << "embedded\t" << inner.codec << '\t' << hex[3 * k + 2] << '\n';
  }
  expected.close();
  ASSERT_TRUE(store.removeStore());
  store.endSession();
  const auto check = Shell("/usr/bin/python3 " + Quoted(kTool) + " check " + Quoted(file) + " < " +
                           Quoted(path("expected.tsv")));
  EXPECT_EQ(check.status, 0) << check.output;
  EXPECT_EQ(Pstcheck(file).status, 0);
}

}  // namespace
}  // namespace parvane::importer
