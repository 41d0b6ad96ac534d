// The application's resource files: the manifest byte for byte, the icon set.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::string ReadFile(const std::string& relative) {
  std::ifstream in(std::string(PARVANE_SOURCE_DIR) + "/" + relative, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The manifest, as written: the XML declaration, then the assembly with its two
// attributes, its identity, an empty description and the dependency on the
// common controls, every element with attributes writing them one per line
// indented by two spaces, nesting indented by two spaces per level, and every
// line (the last one too) ended by CR alone. That natural layout is what gives
// exactly 568 bytes.
constexpr const char* kManifest =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r"
    "<assembly\r"
    "  xmlns=\"urn:schemas-microsoft-com:asm.v1\"\r"
    "  manifestVersion=\"1.0\">\r"
    "<assemblyIdentity\r"
    "  name=\"XPStyle Control Demo\"\r"
    "  processorArchitecture=\"x86\"\r"
    "  version=\"1.0.0.0\"\r"
    "  type=\"win32\"/>\r"
    "<description></description>\r"
    "<dependency>\r"
    "  <dependentAssembly>\r"
    "    <assemblyIdentity\r"
    "      type=\"win32\"\r"
    "      name=\"Microsoft.Windows.Common-Controls\"\r"
    "      version=\"6.0.0.0\"\r"
    "      processorArchitecture=\"x86\"\r"
    "      publicKeyToken=\"6595b64144ccf1df\"\r"
    "      language=\"*\"/>\r"
    "  </dependentAssembly>\r"
    "</dependency>\r"
    "</assembly>\r";

TEST(Manifest, ExactBytes) {
  const std::string manifest = ReadFile("src/app/resources/parvane.manifest");
  EXPECT_EQ(manifest.size(), 568u);
  EXPECT_EQ(std::string(kManifest).size(), 568u);
  EXPECT_EQ(manifest, kManifest);
}

TEST(Manifest, CarriageReturnsOnlyAndAscii) {
  const std::string manifest = ReadFile("src/app/resources/parvane.manifest");
  ASSERT_FALSE(manifest.empty());
  EXPECT_EQ(manifest.find('\n'), std::string::npos);
  EXPECT_EQ(manifest.back(), '\r');
  for (char c : manifest) EXPECT_LT(static_cast<unsigned char>(c), 0x80);
}

TEST(Manifest, ElementsAndAttributesInOrder) {
  const std::string m = ReadFile("src/app/resources/parvane.manifest");
  const std::vector<std::string> order{
      "version=\"1.0\"", "encoding=\"UTF-8\"", "standalone=\"yes\"", "<assembly",
      "xmlns=\"urn:schemas-microsoft-com:asm.v1\"", "manifestVersion=\"1.0\"",
      "<assemblyIdentity", "name=\"XPStyle Control Demo\"", "processorArchitecture=\"x86\"",
      "version=\"1.0.0.0\"", "type=\"win32\"", "<description>", "<dependency>",
      "<dependentAssembly>", "<assemblyIdentity", "type=\"win32\"",
      "name=\"Microsoft.Windows.Common-Controls\"", "version=\"6.0.0.0\"",
      "processorArchitecture=\"x86\"", "publicKeyToken=\"6595b64144ccf1df\"", "language=\"*\"",
      "</dependentAssembly>", "</dependency>", "</assembly>"};
  std::size_t at = 0;
  for (const std::string& piece : order) {
    const std::size_t found = m.find(piece, at);
    ASSERT_NE(found, std::string::npos) << piece << " missing after offset " << at;
    at = found + piece.size();
  }
}

TEST(ResourceScript, NamesTheManifestAndTheIcon) {
  const std::string rc = ReadFile("src/app/resources/parvane.rc");
  EXPECT_NE(rc.find("1 RT_MANIFEST \"parvane.manifest\""), std::string::npos);
  EXPECT_NE(rc.find("ICON \"parvane.ico\""), std::string::npos);
  // RT_MANIFEST is type 24; the manifest's language is 1033, US English.
  const std::size_t language = rc.find("LANGUAGE LANG_ENGLISH, SUBLANG_ENGLISH_US");
  ASSERT_NE(language, std::string::npos);
  EXPECT_LT(language, rc.find("RT_MANIFEST \""));
}

std::uint32_t U16(const std::string& s, std::size_t at) {
  const auto byte = [&](std::size_t i) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(s.at(i)));
  };
  return byte(at) | byte(at + 1) << 8;
}
std::uint32_t U32(const std::string& s, std::size_t at) { return U16(s, at) | U16(s, at + 2) << 16; }

TEST(Icon, NineImagesInTheirOrder) {
  const std::string ico = ReadFile("src/app/resources/parvane.ico");
  ASSERT_GE(ico.size(), 6u);
  EXPECT_EQ(U16(ico, 0), 0u);
  EXPECT_EQ(U16(ico, 2), 1u);
  ASSERT_EQ(U16(ico, 4), 9u);
  struct Want { std::uint32_t size, bits; };
  const std::array<Want, 9> want{{{48, 8}, {32, 8}, {24, 8}, {16, 8},
                                  {256, 32}, {48, 32}, {32, 32}, {24, 32}, {16, 32}}};
  std::size_t expectedOffset = 6 + 16 * 9;
  for (std::size_t i = 0; i < want.size(); ++i) {
    const std::size_t e = 6 + 16 * i;
    const std::uint32_t size = static_cast<unsigned char>(ico[e]);
    EXPECT_EQ(size == 0 ? 256u : size, want[i].size) << "entry " << i;
    EXPECT_EQ(static_cast<unsigned char>(ico[e + 1]), static_cast<unsigned char>(ico[e]));
    EXPECT_EQ(U16(ico, e + 4), 1u);
    EXPECT_EQ(U16(ico, e + 6), want[i].bits) << "entry " << i;
    const std::uint32_t bytes = U32(ico, e + 8), offset = U32(ico, e + 12);
    EXPECT_EQ(offset, expectedOffset) << "entry " << i;
    ASSERT_LE(std::size_t{offset} + bytes, ico.size());
    expectedOffset = offset + bytes;
    if (want[i].size == 256) {
      EXPECT_EQ(ico.substr(offset, 8), std::string("\x89PNG\r\n\x1a\n", 8));
    } else {
      const std::uint32_t s = want[i].size, bits = want[i].bits;
      EXPECT_EQ(U32(ico, offset), 40u);
      EXPECT_EQ(U32(ico, offset + 4), s);
      EXPECT_EQ(U32(ico, offset + 8), 2 * s);
      EXPECT_EQ(U16(ico, offset + 14), bits);
      const std::uint32_t colourRow = (s * bits + 31) / 32 * 4, maskRow = (s + 31) / 32 * 4;
      const std::uint32_t palette = bits == 8 ? 256 * 4 : 0;
      EXPECT_EQ(bytes, 40 + palette + (colourRow + maskRow) * s) << "entry " << i;
    }
  }
  EXPECT_EQ(expectedOffset, ico.size());
}

TEST(Icon, PngSetHasEverySize) {
  for (int size : {16, 24, 32, 48, 256}) {
    const std::string png = ReadFile("src/app/resources/icons/parvane-" + std::to_string(size) + ".png");
    ASSERT_GE(png.size(), 24u) << size;
    EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
    // IHDR: width and height, big-endian
    const auto be = [&](std::size_t at) {
      return static_cast<std::uint32_t>(static_cast<unsigned char>(png[at])) << 24 |
             static_cast<std::uint32_t>(static_cast<unsigned char>(png[at + 1])) << 16 |
             static_cast<std::uint32_t>(static_cast<unsigned char>(png[at + 2])) << 8 |
             static_cast<unsigned char>(png[at + 3]);
    };
    EXPECT_EQ(be(16), static_cast<std::uint32_t>(size));
    EXPECT_EQ(be(20), static_cast<std::uint32_t>(size));
  }
}

}  // namespace
