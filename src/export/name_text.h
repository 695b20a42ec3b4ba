#pragma once

#include <string>
#include <string_view>

// Names in exports. Package and settings files are read byte for byte, and the names in them
// (pads, stitches, files, the material) are bytes of no declared encoding: most are ASCII, many
// come from Windows-1252 tools, some are UTF-8. The report passes them through unchanged; an
// export whose format is text of a known encoding (JSON, XML/SVG, CSV) writes each name as
// UTF-8 by one rule:
//
//   - a name that is valid UTF-8 (shortest forms only, no surrogates, nothing past U+10FFFF)
//     is written unchanged;
//   - any other name is read as Windows-1252, one character per byte, and written as UTF-8.
//     The five bytes Windows-1252 leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) are read as
//     the C1 control of the same number (U+0081, ...), so every byte has a character and two
//     different names stay different.
//
// On top of that rule JsonString escapes what JSON cannot hold raw, and XmlText what XML 1.0
// cannot hold at all. Formats that must be ASCII (SPICE node names) keep their own sanitising
// and do not use these.
namespace ostrel {

// True when `bytes` is valid UTF-8 (shortest forms only, no surrogates, at most U+10FFFF).
bool IsUtf8(std::string_view bytes);

// `bytes` as UTF-8 by the rule above: unchanged when valid UTF-8, else read as Windows-1252.
std::string NameAsUtf8(std::string_view bytes);

// A JSON string literal, quotes included, of NameAsUtf8(bytes): '"' and '\' are escaped with a
// backslash, control characters below U+0020 as \u00XX. The result is valid UTF-8 JSON.
std::string JsonString(std::string_view bytes);

// NameAsUtf8(bytes) as XML 1.0 character data, fit for element content and for attribute
// values in double or single quotes: & < > " ' become entity references; tab, line feed and
// carriage return become character references (&#9; &#10; &#13;) so an attribute value keeps
// them; the characters XML 1.0 forbids (the other controls below U+0020, U+FFFE and U+FFFF)
// become U+FFFD, the replacement character.
std::string XmlText(std::string_view bytes);

}  // namespace ostrel
