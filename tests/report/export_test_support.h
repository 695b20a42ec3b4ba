#pragma once

// Helpers for the export tests: a scratch folder with the bundled example, running ostrel-cli,
// reading the report back, and small readers for JSON and XML that reject malformed text.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "app/file_io.h"

namespace ostrel::testing_support {

namespace fs = std::filesystem;

// A fresh folder named after the running test and process, holding the bundled example.
inline fs::path ExampleFolder() {
  const fs::path dir = fs::temp_directory_path() /
                       ("ostrel_export_" + std::to_string(::getpid()) + "_" +
                        std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  fs::copy(fs::path(OSTREL_EXAMPLES_DIR) / "AAAc.zv", dir / "AAAc.zv");
  fs::copy(fs::path(OSTREL_EXAMPLES_DIR) / "AAAc.tmv", dir / "AAAc.tmv");
  return dir;
}

// Runs a shell command in `dir`; returns its exit status and fills `output` with stdout+stderr.
inline int RunIn(const fs::path& dir, const std::string& command, std::string& output) {
  const std::string log = (dir / "command.log").string();
  const std::string cmd = "cd '" + dir.string() + "' && " + command + " >'" + log + "' 2>&1";
  const int raw = std::system(cmd.c_str());
  output = fs::exists(log) ? ReadWholeFile(log) : std::string();
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

inline float ParseFloat(const std::string& text) {
  float value = 0;
  const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  EXPECT_TRUE(ec == std::errc() && ptr == text.data() + text.size()) << "not a number: " << text;
  return value;
}

// One wire block of the report: its name and the six value fields as printed.
struct ReportWire {
  std::string name;
  std::vector<std::string> fields;  // length, resistance, DC, AC, self, mutual
};

inline std::vector<ReportWire> ReportWires(const std::string& report) {
  std::vector<ReportWire> wires;
  std::size_t pos = 0;
  while (pos < report.size()) {
    std::size_t end = report.find("\r\n", pos);
    if (end == std::string::npos) end = report.size();
    const std::string line = report.substr(pos, end - pos);
    pos = end + 2;
    if (line.rfind("Pad: ", 0) == 0) {
      wires.push_back({line.substr(5), {}});
    } else if (!wires.empty() && line.size() > 35 && line.rfind("  ", 0) == 0) {
      std::string field = line.substr(23, 12);
      field.erase(0, field.find_first_not_of(' '));
      wires.back().fields.push_back(field);
    }
  }
  return wires;
}

// A JSON value; numbers keep their text so that a single can be read from it exactly.
struct Json {
  enum Type { kNull, kBool, kNumber, kString, kArray, kObject } type = kNull;
  std::string text;  // number text or string value
  std::vector<Json> items;
  std::map<std::string, Json> members;

  const Json& operator[](const std::string& key) const {
    const auto it = members.find(key);
    if (it == members.end()) throw std::runtime_error("no member " + key);
    return it->second;
  }
  float Float() const { return ParseFloat(text); }
};

// Strict reader for the JSON the exports write (no exotic forms needed); throws on bad text.
class JsonReader {
 public:
  static Json Parse(const std::string& text) {
    JsonReader r(text);
    Json v = r.Value();
    r.Blanks();
    if (r.pos_ != text.size()) r.Fail("text after the value");
    return v;
  }

 private:
  explicit JsonReader(const std::string& text) : s_(text) {}
  [[noreturn]] void Fail(const std::string& why) {
    throw std::runtime_error("JSON: " + why + " at " + std::to_string(pos_));
  }
  void Blanks() {
    while (pos_ < s_.size() &&
           (s_[pos_] == ' ' || s_[pos_] == '\n' || s_[pos_] == '\r' || s_[pos_] == '\t')) {
      ++pos_;
    }
  }
  char Peek() {
    Blanks();
    if (pos_ >= s_.size()) Fail("unexpected end");
    return s_[pos_];
  }
  void Expect(char c) {
    if (Peek() != c) Fail(std::string("expected ") + c);
    ++pos_;
  }
  std::string String() {
    Expect('"');
    std::string out;
    while (true) {
      if (pos_ >= s_.size()) Fail("open string");
      const char c = s_[pos_++];
      if (c == '"') return out;
      if (static_cast<unsigned char>(c) < 0x20) Fail("raw control character");
      if (c != '\\') {
        out += c;
        continue;
      }
      const char e = s_[pos_++];
      const std::string simple = "\"\\/bfnrt", meaning = "\"\\/\b\f\n\r\t";
      if (const auto k = simple.find(e); k != std::string::npos) {
        out += meaning[k];
      } else if (e == 'u' && pos_ + 4 <= s_.size()) {
        const int code = std::stoi(s_.substr(pos_, 4), nullptr, 16);
        if (code >= 0x80) Fail("only ASCII escapes expected");
        out += static_cast<char>(code);
        pos_ += 4;
      } else {
        Fail("bad escape");
      }
    }
  }
  Json Value() {
    Json v;
    const char c = Peek();
    if (c == '{') {
      v.type = Json::kObject;
      ++pos_;
      if (Peek() == '}') return ++pos_, v;
      do {
        const std::string key = String();
        Expect(':');
        v.members[key] = Value();
      } while (Peek() == ',' && ++pos_);
      Expect('}');
    } else if (c == '[') {
      v.type = Json::kArray;
      ++pos_;
      if (Peek() == ']') return ++pos_, v;
      do {
        v.items.push_back(Value());
      } while (Peek() == ',' && ++pos_);
      Expect(']');
    } else if (c == '"') {
      v.type = Json::kString;
      v.text = String();
    } else {
      const std::size_t start = pos_;
      while (pos_ < s_.size() &&
             std::string("+-.eE0123456789").find(s_[pos_]) != std::string::npos) {
        ++pos_;
      }
      v.type = Json::kNumber;
      v.text = s_.substr(start, pos_ - start);
      // JSON grammar: -?(0|[1-9]digits)(.digits)?([eE][+-]?digits)?
      std::size_t i = v.text[0] == '-' ? 1 : 0;
      if (v.text.size() <= i || (v.text[i] == '0' && v.text.size() > i + 1 &&
                                 std::isdigit(static_cast<unsigned char>(v.text[i + 1])))) {
        Fail("bad number " + v.text);
      }
      v.Float();
    }
    return v;
  }
  const std::string& s_;
  std::size_t pos_ = 0;
};

// An XML element as the checker saw it.
struct XmlElement {
  std::string name;
  std::map<std::string, std::string> attributes;  // entities resolved
  std::string text;                               // character data directly inside it
};

// Checks that `text` is well-formed XML of the kind the SVG export writes (declaration,
// elements, attributes in double quotes, character data with the five named entities) and
// returns its elements in document order. Throws with the reason on the first fault.
inline std::vector<XmlElement> ReadXml(const std::string& text) {
  std::vector<XmlElement> elements;
  std::vector<std::size_t> open;
  std::size_t pos = 0;
  auto fail = [&](const std::string& why) {
    throw std::runtime_error("XML: " + why + " at " + std::to_string(pos));
  };
  auto decode = [&](const std::string& raw) {
    std::string out;
    for (std::size_t i = 0; i < raw.size(); ++i) {
      if (raw[i] == '<') fail("'<' in character data");
      if (raw[i] != '&') {
        out += raw[i];
        continue;
      }
      const std::size_t semi = raw.find(';', i);
      if (semi == std::string::npos) fail("open entity");
      const std::string name = raw.substr(i + 1, semi - i - 1);
      const std::map<std::string, char> known = {
          {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
      if (!known.count(name)) fail("unknown entity " + name);
      out += known.at(name);
      i = semi;
    }
    return out;
  };
  auto is_name = [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == ':';
  };
  if (text.rfind("<?xml ", 0) == 0) pos = text.find("?>") + 2;
  bool root_closed = false;
  while (pos < text.size()) {
    const std::size_t lt = text.find('<', pos);
    const std::string data =
        text.substr(pos, lt == std::string::npos ? std::string::npos : lt - pos);
    const std::string decoded = decode(data);
    if (open.empty()) {
      if (decoded.find_first_not_of(" \n\r\t") != std::string::npos) fail("text outside the root");
    } else {
      elements[open.back()].text += decoded;
    }
    if (lt == std::string::npos) break;
    pos = lt + 1;
    if (text[pos] == '/') {
      const std::size_t gt = text.find('>', pos);
      const std::string name = text.substr(pos + 1, gt - pos - 1);
      if (open.empty() || elements[open.back()].name != name) fail("mismatched </" + name + ">");
      open.pop_back();
      if (open.empty()) root_closed = true;
      pos = gt + 1;
      continue;
    }
    if (root_closed) fail("second root element");
    XmlElement e;
    while (pos < text.size() && is_name(text[pos])) e.name += text[pos++];
    if (e.name.empty()) fail("element without a name");
    while (true) {
      const std::size_t before = pos;
      while (pos < text.size() && std::isspace(static_cast<unsigned char>(text[pos]))) ++pos;
      if (text.compare(pos, 2, "/>") == 0 || text[pos] == '>') break;
      if (pos == before) fail("attributes must be separated by blanks");
      std::string attr;
      while (pos < text.size() && is_name(text[pos])) attr += text[pos++];
      if (attr.empty() || text.compare(pos, 2, "=\"") != 0) fail("bad attribute in " + e.name);
      const std::size_t close = text.find('"', pos + 2);
      if (close == std::string::npos) fail("open attribute value");
      if (!e.attributes.emplace(attr, decode(text.substr(pos + 2, close - pos - 2))).second) {
        fail("repeated attribute " + attr);
      }
      pos = close + 1;
    }
    const bool empty = text[pos] == '/';
    pos += empty ? 2 : 1;
    elements.push_back(std::move(e));
    if (!empty) open.push_back(elements.size() - 1);
  }
  if (!open.empty()) fail("unclosed <" + elements[open.back()].name + ">");
  if (!root_closed && elements.empty()) fail("no root element");
  return elements;
}

}  // namespace ostrel::testing_support
