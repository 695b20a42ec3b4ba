// Names as UTF-8 for the exports: valid UTF-8 unchanged, anything else read as Windows-1252;
// then the escapes of JSON and XML.

#include "export/name_text.h"

#include <gtest/gtest.h>

namespace ostrel {
namespace {

TEST(NameText, Utf8OrWindows1252) {
  struct Case {
    std::string bytes, utf8;
  };
  const Case cases[] = {
      {"T1", "T1"},
      {"", ""},
      {"caf\xC3\xA9", "caf\xC3\xA9"},            // valid UTF-8 passes
      {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},  // 4-byte form, U+1F600
      {"\xEF\xBF\xBF", "\xEF\xBF\xBF"},          // U+FFFF is valid UTF-8
      {"caf\xE9", "caf\xC3\xA9"},                // 0xE9 is e acute
      {"\x80", "\xE2\x82\xAC"},                  // euro sign
      {"\x9F\xFF", "\xC5\xB8\xC3\xBF"},          // Y diaeresis, y diaeresis
      {"\x81\x8D\x8F\x90\x9D", "\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D"},  // undefined bytes
      {"\xC3\xA9\xFF", "\xC3\x83\xC2\xA9\xC3\xBF"},      // one bad byte: the whole name
      {"\xC0\xAF", "\xC3\x80\xC2\xAF"},                  // overlong '/'
      {"\xE0\x80\xAF", "\xC3\xA0\xE2\x82\xAC\xC2\xAF"},  // overlong 3-byte form
      {"\xED\xA0\x80", "\xC3\xAD\xC2\xA0\xE2\x82\xAC"},  // surrogate U+D800
      {"\xF4\x90\x80\x80", "\xC3\xB4\xC2\x90\xE2\x82\xAC\xE2\x82\xAC"},  // past U+10FFFF
      {"\xF5\x80\x80\x80", "\xC3\xB5\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC"},
      {"\xE2\x82", "\xC3\xA2\xE2\x80\x9A"},  // cut short
      {"\xC3\x41", "\xC3\x83\x41"},          // lead byte without continuation
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.bytes));
    EXPECT_EQ(NameAsUtf8(c.bytes), c.utf8);
    EXPECT_TRUE(IsUtf8(c.utf8));
    EXPECT_EQ(IsUtf8(c.bytes), c.bytes == c.utf8);
  }
}

TEST(NameText, JsonAndXmlEscapes) {
  struct Case {
    std::string bytes, json, xml;
  };
  const Case cases[] = {
      {"a\"b\\c", R"("a\"b\\c")", "a&quot;b\\c"},
      {"<&>'", R"("<&>'")", "&lt;&amp;&gt;&apos;"},
      {"\t\n\r", R"("\u0009\u000a\u000d")", "&#9;&#10;&#13;"},
      {std::string("\x01\x1f\x7f", 3) + '\0',
       R"("\u0001\u001f)"
       "\x7f"
       R"(\u0000")",
       "\xEF\xBF\xBD\xEF\xBF\xBD\x7f\xEF\xBF\xBD"},
      {"\xEF\xBF\xBE\xEF\xBF\xBF\xEF\xBF\xBD", "\"\xEF\xBF\xBE\xEF\xBF\xBF\xEF\xBF\xBD\"",
       "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"\xFF\x22", "\"\xC3\xBF\\\"\"", "\xC3\xBF&quot;"},  // converted before escaping
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.bytes));
    EXPECT_EQ(JsonString(c.bytes), c.json);
    EXPECT_EQ(XmlText(c.bytes), c.xml);
  }
}

}  // namespace
}  // namespace ostrel
