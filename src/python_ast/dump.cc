#include "python_ast/dump.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <type_traits>
#include <vector>

#include "python_ast/nodes_fields.h"
#include "support/fatal_error.h"

namespace python_ast {

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

template <class Sink>
void append_escape(Sink& out, std::uint32_t unit) {
  const char escape[6] = {'\\', 'u', kHexDigits[(unit >> 12) & 0xF], kHexDigits[(unit >> 8) & 0xF],
                          kHexDigits[(unit >> 4) & 0xF], kHexDigits[unit & 0xF]};
  out.put(std::string_view(escape, sizeof escape));
}

// Decodes the UTF-8 sequence at text[i]: its code point and length, or
// nullopt when the bytes there are not one. Three-byte forms of surrogates
// are accepted and give the surrogate.
std::optional<std::pair<std::uint32_t, std::size_t>> decode_utf8(std::string_view text, std::size_t i) {
  auto lead = static_cast<unsigned char>(text[i]);
  std::size_t length;
  std::uint32_t code;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code = lead & 0x07;
  } else {
    return std::nullopt;
  }
  if (text.size() - i < length) return std::nullopt;
  for (std::size_t k = 1; k < length; ++k) {
    auto byte = static_cast<unsigned char>(text[i + k]);
    if ((byte & 0xC0) != 0x80) return std::nullopt;
    code = (code << 6) | (byte & 0x3F);
  }
  if (length == 3 && code < 0x800) return std::nullopt;
  if (length == 4 && (code < 0x10000 || code > 0x10FFFF)) return std::nullopt;
  return std::pair{code, length};
}

// Writes `text` as a JSON string to `out` (anything with put(char) and
// put(string_view)); see dump.h for the escapes. Runs of plain ASCII go out
// in one piece.
template <class Sink>
void write_json_string(Sink& out, std::string_view text) {
  out.put('"');
  std::size_t i = 0;
  while (i < text.size()) {
    std::size_t plain = i;
    while (plain < text.size()) {
      auto byte = static_cast<unsigned char>(text[plain]);
      if (byte < 0x20 || byte >= 0x7F || byte == '"' || byte == '\\') break;
      ++plain;
    }
    if (plain > i) {
      out.put(text.substr(i, plain - i));
      i = plain;
      continue;
    }
    auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x80) {
      if (byte == '"') {
        out.put("\\\"");
      } else if (byte == '\\') {
        out.put("\\\\");
      } else {
        append_escape(out, byte);
      }
      ++i;
      continue;
    }
    auto decoded = decode_utf8(text, i);
    if (!decoded) {
      append_escape(out, 0xFFFD);
      ++i;
      continue;
    }
    auto [code, length] = *decoded;
    if (code < 0x10000) {
      append_escape(out, code);
    } else {
      std::uint32_t offset = code - 0x10000;
      append_escape(out, 0xD800 | (offset >> 10));
      append_escape(out, 0xDC00 | (offset & 0x3FF));
    }
    i += length;
  }
  out.put('"');
}

// A sink straight into a string.
struct StringSink {
  std::string& out;
  void put(char c) { out += c; }
  void put(std::string_view text) { out += text; }
};

// A sink that gathers output in a local block and hands it to the string in
// large pieces: the dump writes many tiny pieces. The owner calls flush()
// when done.
class BufferedSink {
 public:
  explicit BufferedSink(std::string& out) : out_(out) {}
  BufferedSink(const BufferedSink&) = delete;
  BufferedSink& operator=(const BufferedSink&) = delete;

  void put(char c) {
    if (used_ == sizeof block_) flush();
    block_[used_++] = c;
  }
  void put(std::string_view text) {
    if (text.size() > sizeof block_ - used_) {
      flush();
      if (text.size() > sizeof block_) {
        out_ += text;
        return;
      }
    }
    std::memcpy(block_ + used_, text.data(), text.size());
    used_ += text.size();
  }
  void flush() {
    out_.append(block_, used_);
    used_ = 0;
  }

 private:
  std::string& out_;
  std::size_t used_ = 0;
  char block_[16 * 1024];
};

// The streaming JSON writer: tracks whether a comma is due before the next
// item of the open object or array.
class JsonWriter {
 public:
  explicit JsonWriter(BufferedSink& out) : out_(out) {}

  void begin_item() {
    if (!first_) out_.put(',');
    first_ = false;
  }
  void key(std::string_view name) {
    begin_item();
    out_.put('"');
    out_.put(name);
    out_.put("\":");
  }
  void open_object() {
    out_.put('{');
    first_ = true;
  }
  void close_object() {
    out_.put('}');
    first_ = false;
  }
  void open_array() {
    out_.put('[');
    first_ = true;
  }
  void close_array() {
    out_.put(']');
    first_ = false;
  }

  void null() { out_.put("null"); }
  void boolean(bool value) { out_.put(value ? "true" : "false"); }
  void number(std::uint64_t value) {
    char buffer[24];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out_.put(std::string_view(buffer, static_cast<std::size_t>(result.ptr - buffer)));
  }
  void number(double value) {
    if (std::isnan(value)) {
      out_.put("\"nan\"");
      return;
    }
    if (std::isinf(value)) {
      out_.put(value > 0 ? "\"inf\"" : "\"-inf\"");
      return;
    }
    char buffer[40];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    std::string_view digits(buffer, static_cast<std::size_t>(result.ptr - buffer));
    out_.put(digits);
    // Keep floats floats for the reader: "1" would read back as an integer.
    if (digits.find_first_of(".e") == std::string_view::npos) out_.put(".0");
  }
  void string(std::string_view text) { write_json_string(out_, text); }

 private:
  BufferedSink& out_;
  bool first_ = true;
};

// One open node of the dump; see the walk's frame.
struct Frame {
  AnyNodeRef node;
  std::uint32_t field = 0;
  std::uint32_t a = 0;
};

// Writes the fields of a frame's node from `frame.field` on, up to and
// including the key of the next child node, which it leaves in `found`.
class DumpFields {
 public:
  static constexpr bool kSourceOrder = false;

  DumpFields(Frame& frame, JsonWriter& writer) : frame_(frame), writer_(writer) {}

  std::optional<AnyNodeRef> found;

  void child(const char* name, std::optional<AnyNodeRef> node) {
    if (!take_field()) return;
    frame_.field = step_;
    writer_.key(name);
    if (node) {
      found = node;
    } else {
      writer_.null();
    }
  }

  template <class E>
  void children(const char* name, std::span<E> items) {
    if (!take_field()) return;
    if (frame_.a == 0) {
      writer_.key(name);
      writer_.open_array();
    }
    while (frame_.a < items.size()) {
      std::optional<AnyNodeRef> element = fields_detail::element_ref(items[frame_.a]);
      ++frame_.a;
      writer_.begin_item();
      if (element) {
        found = element;
        return;
      }
      writer_.null();
    }
    writer_.close_array();
    frame_.a = 0;
    frame_.field = step_;
  }

  template <class T>
  void value(const char* name, const T& value) {
    if (!take_field()) return;
    frame_.field = step_;
    writer_.key(name);
    write(value);
  }

 private:
  bool take_field() {
    std::uint32_t index = step_++;
    return !found && index == frame_.field;
  }

  void write(bool value) { writer_.boolean(value); }
  void write(std::uint32_t value) { writer_.number(std::uint64_t{value}); }
  void write(std::string_view text) { writer_.string(text); }
  void write(fields_detail::BytesValue bytes) {
    writer_.open_array();
    for (char byte : bytes.bytes) {
      writer_.begin_item();
      writer_.number(std::uint64_t{static_cast<unsigned char>(byte)});
    }
    writer_.close_array();
  }
  template <class E>
    requires std::is_enum_v<E>
  void write(E value) {
    writer_.string(enum_name(value));
  }
  void write(std::span<const ComparisonOperator> ops) {
    writer_.open_array();
    for (ComparisonOperator op : ops) {
      writer_.begin_item();
      writer_.string(enum_name(op));
    }
    writer_.close_array();
  }
  void write(const std::optional<DebugText>& debug_text) {
    if (!debug_text) {
      writer_.null();
      return;
    }
    writer_.open_object();
    writer_.key("leading");
    writer_.string(debug_text->leading);
    writer_.key("trailing");
    writer_.string(debug_text->trailing);
    writer_.close_object();
  }
  void write(const NumberLiteralValue& number) {
    writer_.open_object();
    writer_.key("kind");
    switch (number.kind()) {
      case NumberLiteralValue::Kind::Int: {
        writer_.string("Int");
        writer_.key("value");
        Int value = *number.as_int();
        if (value.is_small()) {
          writer_.number(*value.as_u64());
        } else {
          writer_.string(value.big_text());
        }
        break;
      }
      case NumberLiteralValue::Kind::Float:
        writer_.string("Float");
        writer_.key("value");
        writer_.number(*number.as_float());
        break;
      case NumberLiteralValue::Kind::Complex: {
        ComplexValue complex = *number.as_complex();
        writer_.string("Complex");
        writer_.key("real");
        writer_.number(complex.real);
        writer_.key("imag");
        writer_.number(complex.imag);
        break;
      }
    }
    writer_.close_object();
  }
  template <class Flags>
  void write_flags(const Flags& flags) {
    writer_.open_object();
    writer_.key("prefix");
    writer_.string(prefix_text(flags.prefix()));
    writer_.key("quotes");
    writer_.string(flags.quote_str());
    writer_.key("unclosed");
    writer_.boolean(flags.is_unclosed());
    if constexpr (requires { flags.is_invalid(); }) {
      writer_.key("invalid");
      writer_.boolean(flags.is_invalid());
    }
    writer_.close_object();
  }
  void write(StringLiteralFlags flags) { write_flags(flags); }
  void write(BytesLiteralFlags flags) { write_flags(flags); }
  void write(FStringFlags flags) { write_flags(flags); }
  void write(TStringFlags flags) { write_flags(flags); }

  Frame& frame_;
  JsonWriter& writer_;
  std::uint32_t step_ = 0;
};

[[noreturn]] void range_outside_source(AnyNodeRef node, std::size_t source_size) {
  std::string message = "range ";
  message += node.range().debug();
  message += " of ";
  message += node.type_name();
  message += " lies outside the source text of ";
  message += std::to_string(source_size);
  message += " bytes";
  tolva::fatal(message);
}

}  // namespace

void append_json_string(std::string& out, std::string_view text) {
  StringSink sink{out};
  write_json_string(sink, text);
}

std::string dump_json(AnyNodeRef root, std::string_view source) {
  std::string out;
  BufferedSink sink(out);
  JsonWriter writer(sink);
  std::vector<Frame> stack;

  auto open = [&](AnyNodeRef node) {
    writer.open_object();
    writer.key("type");
    writer.string(node.type_name());
    if (node.type() != NodeType::DictItem) {
      text_size::TextRange range = node.range();
      if (range.end().raw > source.size()) range_outside_source(node, source.size());
      writer.key("range");
      writer.open_array();
      writer.begin_item();
      writer.number(std::uint64_t{range.start().raw});
      writer.begin_item();
      writer.number(std::uint64_t{range.end().raw});
      writer.close_array();
    }
    stack.push_back(Frame{node});
  };

  open(root);
  while (!stack.empty()) {
    std::optional<AnyNodeRef> child;
    {
      DumpFields dump(stack.back(), writer);
      fields_detail::visit_fields(stack.back().node, dump);
      child = dump.found;
    }
    if (child) {
      open(*child);
      continue;
    }
    writer.close_object();
    stack.pop_back();
  }
  sink.flush();
  return out;
}

}  // namespace python_ast
