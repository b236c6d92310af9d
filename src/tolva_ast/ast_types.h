#pragma once

// The records of project analysis and their source locations.
//
// A Location names a file by its "file://" URI and a place in it by a range
// of zero-based line and character positions (characters are Unicode scalar
// values; on the first line a leading byte order mark is not counted). The
// URI is made once per analysed file and shared by every location of that
// file; Python only ever sees the range.
//
// Records are plain values: copying one copies everything it owns. Maps are
// `TextMap`s: entries in insertion order, one per key (a later insertion of
// a key replaces the value in place). Their order carries no meaning.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tolva_ast {

struct Position {
  std::uint32_t line = 0;
  std::uint32_t character = 0;
  constexpr bool operator==(const Position&) const = default;
};

// `end` is exclusive, like the byte range it comes from.
struct Range {
  Position start;
  Position end;
  constexpr bool operator==(const Range&) const = default;
};

// A file's URI text, shared by all locations of one file analysis.
using SharedUri = std::shared_ptr<const std::string>;

struct Location {
  SharedUri uri;  // never null
  Range range;

  bool operator==(const Location& other) const {
    return range == other.range && (uri == other.uri || *uri == *other.uri);
  }
};

// A map from text keys to values: entries in insertion order, each key once.
template <class V>
class TextMap {
 public:
  using Entry = std::pair<std::string, V>;

  // Replaces the value of `key` in place, or appends a new entry.
  void insert_or_assign(std::string_view key, V value) {
    if (V* existing = find(key)) {
      *existing = std::move(value);
    } else {
      entries_.emplace_back(std::string(key), std::move(value));
    }
  }
  // Appends without looking for `key`; the caller knows it is absent.
  void append_new(std::string key, V value) { entries_.emplace_back(std::move(key), std::move(value)); }

  V* find(std::string_view key) {
    for (Entry& entry : entries_) {
      if (entry.first == key) return &entry.second;
    }
    return nullptr;
  }
  const V* find(std::string_view key) const { return const_cast<TextMap*>(this)->find(key); }

  bool empty() const { return entries_.empty(); }
  std::size_t size() const { return entries_.size(); }
  auto begin() const { return entries_.begin(); }
  auto end() const { return entries_.end(); }
  void reserve(std::size_t n) { entries_.reserve(n); }
  void clear() { entries_.clear(); }

  bool operator==(const TextMap& other) const {
    if (size() != other.size()) return false;
    for (const Entry& entry : entries_) {
      const V* value = other.find(entry.first);
      if (value == nullptr || !(*value == entry.second)) return false;
    }
    return true;
  }

 private:
  std::vector<Entry> entries_;
};

using LocationMap = TextMap<Location>;
using NestedLocationMap = TextMap<LocationMap>;

// One parameter of a function.
struct FunctionArgAST {
  std::string arg_name;
  Location arg_location;
  std::optional<Location> annotation;
  bool operator==(const FunctionArgAST&) const = default;
};

// One function definition; every function gets one, resolver or not.
struct ResolverAST {
  std::string module;
  std::string resolver_name;
  Location resolver_name_location;
  std::optional<Location> decorator_location;
  LocationMap kwarg_names;
  LocationMap kwargs;
  NestedLocationMap kwarg_dict_key_names;
  NestedLocationMap kwarg_dict_values;
  std::vector<std::string> args_in_order;
  TextMap<FunctionArgAST> args;
  std::optional<Location> return_annotation;
  std::optional<Location> missing_return_annotation;
  std::vector<Location> return_statements;
  std::optional<Location> body;
  std::optional<Location> return_arg;
  bool operator==(const ResolverAST&) const = default;
};

// One field of a feature class.
struct FeatureFieldAST {
  std::string field_name;
  Location field_name_location;
  std::optional<std::string> comment;
  std::optional<std::string> description;
  std::optional<std::string> owner;
  std::vector<std::string> tags;
  std::optional<Location> annotation;
  std::optional<Location> feature_call;
  LocationMap kwarg_names;
  LocationMap kwargs;
  bool operator==(const FeatureFieldAST&) const = default;
};

// One feature class.
struct FeatureClassAST {
  std::string module;
  std::string namespace_;  // `namespace`, a keyword in C++
  std::string class_name;
  std::string source;
  Location class_name_location;
  Location class_definition_location;
  Location decorator_location;
  LocationMap kwarg_names;
  LocationMap kwargs;
  TextMap<FeatureFieldAST> fields;
  std::vector<FeatureFieldAST> annotations;
  bool operator==(const FeatureClassAST&) const = default;
};

// The analysis of one file; immutable once built, shared by reference count.
struct ParsedAstFile {
  std::vector<FeatureClassAST> feature_classes;
  // One record per function definition, in walk order.
  std::vector<ResolverAST> functions;
  // The resolvers: the positions in `functions` of the records whose
  // decorator_location is present, ascending. (The records are not copied a
  // second time; `resolver(i)` reads the i-th resolver.)
  std::vector<std::uint32_t> resolvers;

  const ResolverAST& resolver(std::size_t i) const { return functions[resolvers[i]]; }
};

using SharedParsedAstFile = std::shared_ptr<const ParsedAstFile>;

}  // namespace tolva_ast
