#pragma once

// snake_case class names and "::"-joined namespaced names.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tolva_utils::namespace_ {

std::string to_snake_case(std::string_view name);

namespace detail {
// to_snake_case with the size of the pieces in which a long text goes to ICU
// (tolva::kIcuPieceBytes) chosen by the caller, for tests.
std::string to_snake_case(std::string_view name, std::size_t piece_bytes);
}  // namespace detail

std::string build_namespaced_name(std::optional<std::string_view> ns, std::optional<std::string_view> name);

}  // namespace tolva_utils::namespace_
