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

namespace tolva_utils {

// Makes on the calling thread what the utilities make once per process:
// the root locale and case-mapping state of ICU that to_snake_case loads on
// its first non-ASCII text. A thread that is the first to load it holds
// ICU's once-only lock meanwhile; a process forked then would wait for ever
// at its own first use. Call it before the utilities run on several threads
// of a process that may fork; cheap once done. The error text when ICU
// cannot provide it.
std::optional<std::string> prepare_for_threads();

}  // namespace tolva_utils
