#pragma once

// snake_case class names and "::"-joined namespaced names.

#include <optional>
#include <string>
#include <string_view>

namespace tolva_utils::namespace_ {

std::string to_snake_case(std::string_view name);
std::string build_namespaced_name(std::optional<std::string_view> ns, std::optional<std::string_view> name);

}  // namespace tolva_utils::namespace_
