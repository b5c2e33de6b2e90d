// For the tests: a strict reader of one JSON object of strings, numbers and literals, as
// a JSON parser would accept it (escapes, no raw control characters, valid UTF-8).
#ifndef QK_QKLOG_JSON_CHECK_H
#define QK_QKLOG_JSON_CHECK_H

#include <map>
#include <string>

namespace qklog_test {

class JsonObject {
 public:
  // False when the text is not exactly one such object; the values are kept as their JSON
  // text (strings decoded).
  bool parse(const std::string& text) {
    text_ = text;
    at_ = 0;
    values_.clear();
    if (!take('{')) return false;
    if (take('}')) return at_ == text_.size();
    do {
      std::string key, value;
      if (!string(&key) || !take(':') || !scalar(&value) || values_.count(key)) return false;
      values_[key] = value;
    } while (take(','));
    return take('}') && at_ == text_.size();
  }
  const std::map<std::string, std::string>& values() const { return values_; }
  std::string operator[](const std::string& key) const {
    auto it = values_.find(key);
    return it == values_.end() ? std::string("<none>") : it->second;
  }

 private:
  bool take(char c) {
    if (at_ < text_.size() && text_[at_] == c) return ++at_, true;
    return false;
  }
  static bool hex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
  bool string(std::string* out) {
    if (!take('"')) return false;
    while (at_ < text_.size()) {
      const unsigned char c = static_cast<unsigned char>(text_[at_++]);
      if (c == '"') return true;
      if (c < 32) return false;
      if (c == '\\') {
        if (at_ >= text_.size()) return false;
        const char e = text_[at_++];
        if (e == 'u') {
          for (int i = 0; i < 4; ++i)
            if (at_ >= text_.size() || !hex(text_[at_++])) return false;
          *out += "\\u" + text_.substr(at_ - 4, 4);
        } else if (std::string("\"\\/bfnrt").find(e) != std::string::npos) {
          *out += e == 'n' ? '\n' : e == 't' ? '\t' : e == 'r' ? '\r' : e == 'b' ? '\b' : e == 'f' ? '\f' : e;
        } else {
          return false;
        }
      } else if (c >= 0x80) {
        const int n = c >= 0xF0 && c <= 0xF4 ? 3 : c >= 0xE0 ? 2 : c >= 0xC2 && c <= 0xDF ? 1 : -1;
        if (n < 0 || at_ + static_cast<std::size_t>(n) > text_.size()) return false;
        *out += static_cast<char>(c);
        for (int i = 0; i < n; ++i) {
          if ((static_cast<unsigned char>(text_[at_]) & 0xC0) != 0x80) return false;
          *out += text_[at_++];
        }
      } else {
        *out += static_cast<char>(c);
      }
    }
    return false;
  }
  bool scalar(std::string* out) {
    if (at_ < text_.size() && text_[at_] == '"') return string(out);
    const std::size_t from = at_;
    take('-');
    if (take('0')) {
    } else if (at_ < text_.size() && text_[at_] >= '1' && text_[at_] <= '9') {
      while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') ++at_;
    } else {
      return false;
    }
    if (take('.')) {
      const std::size_t digits = at_;
      while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') ++at_;
      if (at_ == digits) return false;
    }
    *out = "#" + text_.substr(from, at_ - from);  // numbers are told from strings by '#'
    return true;
  }

  std::string text_;
  std::size_t at_ = 0;
  std::map<std::string, std::string> values_;
};

}  // namespace qklog_test

#endif
