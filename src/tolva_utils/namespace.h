#pragma once

// snake_case class names and "::"-joined namespaced names.

#include <optional>
#include <string>
#include <string_view>

#include "support/utf8_pieces.h"

namespace tolva_utils::namespace_ {

std::string to_snake_case(std::string_view name);

namespace detail {
// to_snake_case with the limits of the pieces in which a long text goes to
// ICU chosen by the caller, for tests.
std::string to_snake_case(std::string_view name, tolva::PieceLimits limits);
}  // namespace detail

std::string build_namespaced_name(std::optional<std::string_view> ns, std::optional<std::string_view> name);

}  // namespace tolva_utils::namespace_
