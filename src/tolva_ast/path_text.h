#pragma once

// Path texts taken apart into components, as the local (POSIX) file system
// reads them. Everything here looks at the text only; nothing touches the
// disk.
//
// Components of a path: a leading "/" is the root (however many slashes);
// a "." is the current directory only as the first component of a relative
// path ("./a", "."), and is dropped anywhere else; ".." is the parent; every
// other non-empty text between separators is a name. Repeated and trailing
// separators make no components, so "a//b/./c/" has the components a, b, c.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tolva_ast::path_text {

enum class ComponentKind : std::uint8_t { root, current, parent, name };

struct Component {
  ComponentKind kind;
  std::string_view text;  // "/", ".", ".." or the name

  friend bool operator==(const Component&, const Component&) = default;
};

// Walks the components of a path from the first to the last.
class ComponentCursor {
 public:
  explicit ComponentCursor(std::string_view path);

  // The next component, or nothing at the end.
  std::optional<Component> next();

 private:
  std::string_view rest_;
  bool at_start_;
};

// The last component when it is a name; nothing when the path ends in a
// root, a current-directory or a parent component, or is empty.
std::optional<std::string_view> file_name(std::string_view path);

// The extension of a file name: the text after its last ".", unless that
// "." is the name's first character or there is none.
std::optional<std::string_view> extension_of_name(std::string_view name);

// A file name without its extension (and the "." before it); the whole name
// when it has no extension.
std::string_view stem_of_name(std::string_view name);

// When every component of `prefix`, in order, equals the leading components
// of `path`, the cursor over `path` just past them; otherwise nothing. An
// empty prefix matches every path.
std::optional<ComponentCursor> strip_prefix(std::string_view path, std::string_view prefix);

// A text that two paths share exactly when their component lists are equal
// (so "a//b.py", "a/./b.py" and "a/b.py" have one key).
std::string comparison_key(std::string_view path);

}  // namespace tolva_ast::path_text
