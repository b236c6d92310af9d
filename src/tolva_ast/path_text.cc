#include "tolva_ast/path_text.h"

namespace tolva_ast::path_text {

namespace {

std::string_view drop_leading_separators(std::string_view text) {
  const std::size_t first = text.find_first_not_of('/');
  return first == std::string_view::npos ? std::string_view{} : text.substr(first);
}

}  // namespace

ComponentCursor::ComponentCursor(std::string_view path) : rest_(path), at_start_(true) {}

std::optional<Component> ComponentCursor::next() {
  if (at_start_) {
    at_start_ = false;
    if (!rest_.empty() && rest_.front() == '/') {
      rest_ = drop_leading_separators(rest_);
      return Component{ComponentKind::root, "/"};
    }
    if (rest_ == "." || rest_.starts_with("./")) {
      rest_.remove_prefix(1);
      return Component{ComponentKind::current, "."};
    }
  }
  while (true) {
    rest_ = drop_leading_separators(rest_);
    if (rest_.empty()) return std::nullopt;
    const std::size_t end = rest_.find('/');
    const std::string_view segment = rest_.substr(0, end);
    rest_.remove_prefix(segment.size());
    if (segment == ".") continue;
    if (segment == "..") return Component{ComponentKind::parent, segment};
    return Component{ComponentKind::name, segment};
  }
}

std::optional<std::string_view> file_name(std::string_view path) {
  // From the back: trailing separators and "." segments make no component.
  // When nothing else is left, the last component is the root or a leading
  // "." (or there is none), neither of which is a name.
  while (true) {
    const std::size_t last = path.find_last_not_of('/');
    if (last == std::string_view::npos) return std::nullopt;
    path = path.substr(0, last + 1);
    const std::size_t slash = path.rfind('/');
    const std::string_view segment = slash == std::string_view::npos ? path : path.substr(slash + 1);
    if (segment == "..") return std::nullopt;
    if (segment != ".") return segment;
    if (slash == std::string_view::npos) return std::nullopt;
    path = path.substr(0, slash);
  }
}

std::optional<std::string_view> extension_of_name(std::string_view name) {
  const std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return std::nullopt;
  return name.substr(dot + 1);
}

std::string_view stem_of_name(std::string_view name) {
  const std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return name;
  return name.substr(0, dot);
}

std::optional<ComponentCursor> strip_prefix(std::string_view path, std::string_view prefix) {
  ComponentCursor in_path(path);
  ComponentCursor in_prefix(prefix);
  while (true) {
    const std::optional<Component> wanted = in_prefix.next();
    if (!wanted) return in_path;
    const std::optional<Component> found = in_path.next();
    if (!found || *found != *wanted) return std::nullopt;
  }
}

std::string comparison_key(std::string_view path) {
  // Components cannot hold "/", so joining them with it loses nothing: the
  // root becomes a leading "/", and a leading "." stays as the text ".".
  std::string key;
  key.reserve(path.size());
  ComponentCursor cursor(path);
  bool first = true;
  while (const std::optional<Component> component = cursor.next()) {
    if (component->kind == ComponentKind::root) {
      key.push_back('/');
      continue;  // the next component follows the root without a separator
    }
    if (!first) key.push_back('/');
    key.append(component->text);
    first = false;
  }
  return key;
}

}  // namespace tolva_ast::path_text
