#pragma once

// The records of project analysis and their source locations.
//
// A Location names a file by its "file://" URI and a place in it by a range
// of zero-based line and character positions (characters are Unicode scalar
// values; on the first line a leading byte order mark is not counted). The
// URI is made once per analysed file and shared by every location of that
// file; Python only ever sees the range.
//
// Records are values: a copy reads the same as the original and is
// independent of it. What a record has in common with the records of the
// same file (the return statements of the functions nested in a function,
// the text of the classes nested in a class) is one immutable piece shared
// by reference count, never a copy per record: see LocationSlice and
// ClassSource. Maps are `TextMap`s: entries in insertion order, one per key
// (a later insertion of a key replaces the value in place). Their order
// carries no meaning.

#include <algorithm>
#include <bit>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <type_traits>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "support/fatal_error.h"
#include "support/keyed_hash.h"

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

// A list of values in one allocation, like std::vector but with a 32-bit
// size and capacity: 16 bytes, so that a TextMap with its index pointer
// takes no more room in a record than a vector alone (records hold many
// maps, most of them small or empty). T's move must not throw.
template <class T>
class CompactList {
 public:
  CompactList() = default;
  CompactList(const CompactList& other) {
    if (other.size_ == 0) return;
    T* data = allocate(other.size_);
    try {
      std::uninitialized_copy(other.data_, other.data_ + other.size_, data);
    } catch (...) {
      std::allocator<T>().deallocate(data, other.size_);
      throw;
    }
    data_ = data;
    size_ = capacity_ = other.size_;
  }
  CompactList(CompactList&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)),
        size_(std::exchange(other.size_, 0)),
        capacity_(std::exchange(other.capacity_, 0)) {}
  CompactList& operator=(CompactList other) noexcept {
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
    std::swap(capacity_, other.capacity_);
    return *this;
  }
  ~CompactList() {
    clear();
    if (data_ != nullptr) std::allocator<T>().deallocate(data_, capacity_);
  }

  bool empty() const { return size_ == 0; }
  std::size_t size() const { return size_; }
  const T* begin() const { return data_; }
  const T* end() const { return data_ + size_; }
  T& operator[](std::size_t i) { return data_[i]; }
  const T& operator[](std::size_t i) const { return data_[i]; }

  void reserve(std::size_t n) {
    if (n > capacity_) move_to(n);
  }
  template <class... Args>
  void emplace_back(Args&&... args) {
    if (size_ == capacity_) move_to(capacity_ == 0 ? 1 : 2 * std::size_t{capacity_});  // as std::vector grows
    std::construct_at(data_ + size_, std::forward<Args>(args)...);
    ++size_;
  }
  // Keeps the allocation, like std::vector.
  void clear() {
    std::destroy_n(data_, size_);
    size_ = 0;
  }

 private:
  static_assert(std::is_nothrow_move_constructible_v<T>);

  static T* allocate(std::size_t n) {
    tolva::check(n <= std::numeric_limits<std::uint32_t>::max(), "a compact list holds fewer than 2^32 values");
    return std::allocator<T>().allocate(n);
  }
  // Moves the values into a new allocation of `capacity` (at least size_).
  void move_to(std::size_t capacity) {
    T* data = allocate(capacity);
    if (data_ != nullptr) {
      std::uninitialized_move(data_, data_ + size_, data);
      std::destroy_n(data_, size_);
      std::allocator<T>().deallocate(data_, capacity_);
    }
    data_ = data;
    capacity_ = static_cast<std::uint32_t>(capacity);
  }

  T* data_ = nullptr;
  std::uint32_t size_ = 0;
  std::uint32_t capacity_ = 0;
};

// How a TextMap hashes and compares its keys. The keys come from the user's
// source, so the hash is the process's keyed one (support/keyed_hash.h):
// no file can choose keys that crowd the index. (Tests count the calls
// through traits of their own.)
struct TextKeyTraits {
  static std::uint64_t hash(std::string_view key) noexcept { return tolva::keyed_hash(key); }
  static bool equal(std::string_view a, std::string_view b) noexcept { return a == b; }
};

// A map from text keys to values: entries in insertion order, each key once.
//
// A map of up to kScanLimit entries finds a key by scanning its entries
// (most records' maps hold a handful, and then this is the cheapest way). A
// larger one keeps an index beside them: an open-addressing table of
// slot_count(size()) slots, probed linearly from the key's hash, each slot
// empty or naming one entry together with the low 32 bits of its key's
// hash; at most half of the slots are used. Inserting and finding cost O(1)
// on average at every size; growing the index reuses the stored hashes.
//
// A map takes 24 bytes in its record (a CompactList and the index
// pointer), the size of a std::vector; a map without index allocates only
// its entries.
//
// Invariant: `slots_` is null exactly when size() <= kScanLimit; otherwise
// every entry has one slot, reached from its hash's slot without passing an
// empty one.
template <class V, class Keys = TextKeyTraits>
class TextMap {
 public:
  using Entry = std::pair<std::string, V>;
  static constexpr std::size_t kScanLimit = 8;

  TextMap() = default;
  TextMap(const TextMap& other) : entries_(other.entries_), slots_(copy_of_slots(other)) {}
  TextMap(TextMap&& other) noexcept : entries_(std::move(other.entries_)), slots_(std::move(other.slots_)) {}
  TextMap& operator=(const TextMap& other) {
    if (this != &other) *this = TextMap(other);
    return *this;
  }
  TextMap& operator=(TextMap&& other) noexcept {
    if (this != &other) {
      entries_ = std::move(other.entries_);
      other.entries_.clear();
      slots_ = std::move(other.slots_);
    }
    return *this;
  }
  ~TextMap() = default;

  // Replaces the value of `key` in place (the entry keeps its position), or
  // appends a new entry.
  void insert_or_assign(std::string_view key, V value) {
    const Place place = place_of(key);
    if (place.entry != kAbsent) {
      entries_[place.entry].second = std::move(value);
    } else {
      append_at(place, std::string(key), std::move(value));
    }
  }
  // Appends an entry for `key`, which the caller knows to be absent (a
  // present one is a broken invariant: FatalError).
  void append_new(std::string key, V value) {
    const Place place = place_of(key);
    tolva::check(place.entry == kAbsent, "a key appended to a text map is new to it");
    append_at(place, std::move(key), std::move(value));
  }

  V* find(std::string_view key) {
    const Place place = place_of(key);
    return place.entry == kAbsent ? nullptr : &entries_[place.entry].second;
  }
  const V* find(std::string_view key) const { return const_cast<TextMap*>(this)->find(key); }

  bool empty() const { return entries_.empty(); }
  std::size_t size() const { return entries_.size(); }
  auto begin() const { return entries_.begin(); }
  auto end() const { return entries_.end(); }
  void reserve(std::size_t n) { entries_.reserve(n); }
  void clear() {
    entries_.clear();
    slots_.reset();
  }

  // The same keys with equal values, in whatever order.
  bool operator==(const TextMap& other) const {
    if (size() != other.size()) return false;
    for (const Entry& entry : entries_) {
      const V* value = other.find(entry.first);
      if (value == nullptr || !(*value == entry.second)) return false;
    }
    return true;
  }

 private:
  struct Slot {
    std::uint32_t entry;  // the entry's position plus one; 0 for an empty slot
    std::uint32_t hash;   // the low 32 bits of the entry's key's hash
  };
  static constexpr std::size_t kAbsent = static_cast<std::size_t>(-1);

  // Where a key is, or where it would go.
  struct Place {
    std::size_t entry = kAbsent;  // the key's entry, or kAbsent
    std::size_t slot = 0;         // indexed and absent: the empty slot that the key would take
    std::uint32_t hash = 0;       // indexed: the low 32 bits of the key's hash
  };

  // The number of slots of the index of a map of `entries` entries (more
  // than kScanLimit): the least power of two that leaves half of them free.
  static std::size_t slot_count(std::size_t entries) { return std::bit_ceil(2 * entries); }

  static std::unique_ptr<Slot[]> copy_of_slots(const TextMap& other) {
    if (other.slots_ == nullptr) return nullptr;
    const std::size_t count = slot_count(other.entries_.size());
    auto slots = std::make_unique_for_overwrite<Slot[]>(count);
    std::copy(other.slots_.get(), other.slots_.get() + count, slots.get());
    return slots;
  }

  Place place_of(std::string_view key) const {
    if (slots_ == nullptr) {
      for (std::size_t i = 0; i < entries_.size(); ++i) {
        if (Keys::equal(entries_[i].first, key)) return Place{i, 0, 0};
      }
      return Place{};
    }
    const auto hash = static_cast<std::uint32_t>(Keys::hash(key));
    const std::size_t mask = slot_count(entries_.size()) - 1;
    for (std::size_t slot = hash & mask;; slot = (slot + 1) & mask) {
      const Slot& s = slots_[slot];
      if (s.entry == 0) return Place{kAbsent, slot, hash};
      if (s.hash == hash && Keys::equal(entries_[s.entry - 1].first, key)) return Place{s.entry - 1, slot, hash};
    }
  }

  // Puts `slot` into the first empty slot of its probe sequence in `slots`
  // (`mask` + 1 of them).
  static void put(Slot* slots, std::size_t mask, Slot slot) {
    std::size_t at = slot.hash & mask;
    while (slots[at].entry != 0) at = (at + 1) & mask;
    slots[at] = slot;
  }

  // Appends the entry of an absent key; `place` is place_of(key). Nothing
  // changes when an allocation fails.
  void append_at(const Place& place, std::string key, V value) {
    const std::size_t size = entries_.size() + 1;
    if (size <= kScanLimit) {
      entries_.emplace_back(std::move(key), std::move(value));
      return;
    }
    tolva::check(size < std::numeric_limits<std::uint32_t>::max(), "a text map holds fewer than 2^32 - 1 entries");
    if (slots_ != nullptr && slot_count(size) == slot_count(size - 1)) {
      entries_.emplace_back(std::move(key), std::move(value));
      slots_[place.slot] = Slot{static_cast<std::uint32_t>(size), place.hash};
      return;
    }
    // A new index, the first one or one of twice the slots, filled once the
    // entry is in.
    const std::size_t count = slot_count(size);
    std::unique_ptr<Slot[]> slots = std::make_unique<Slot[]>(count);  // all empty
    entries_.emplace_back(std::move(key), std::move(value));
    const std::size_t mask = count - 1;
    if (slots_ == nullptr) {
      for (std::size_t i = 0; i < size; ++i) {
        put(slots.get(), mask, Slot{static_cast<std::uint32_t>(i + 1), static_cast<std::uint32_t>(Keys::hash(entries_[i].first))});
      }
    } else {
      const std::size_t old_count = slot_count(size - 1);
      for (std::size_t i = 0; i < old_count; ++i) {
        if (slots_[i].entry != 0) put(slots.get(), mask, slots_[i]);
      }
      put(slots.get(), mask, Slot{static_cast<std::uint32_t>(size), place.hash});
    }
    slots_ = std::move(slots);
  }

  CompactList<Entry> entries_;
  std::unique_ptr<Slot[]> slots_;  // the index; null up to kScanLimit entries
};

using LocationMap = TextMap<Location>;
using NestedLocationMap = TextMap<LocationMap>;

// A list of locations of one file: a slice of a list of ranges that the
// records of the file share. A function's return statements, those of the
// functions nested in it included, are consecutive in the file's list, so
// each record keeps only where its own begin and end. Reads like a
// std::vector<Location> that cannot change; an element is made when read.
// 24 bytes, the size of a std::vector; an empty slice holds no reference.
class LocationSlice {
 public:
  // The list the slices of one file share.
  struct Shared {
    SharedUri uri;  // never null
    std::vector<Range> ranges;
  };

  class Iterator {
   public:
    using value_type = Location;
    using difference_type = std::ptrdiff_t;
    Iterator() = default;
    Iterator(const Shared* shared, std::size_t at) : shared_(shared), at_(at) {}
    Location operator*() const { return Location{shared_->uri, shared_->ranges[at_]}; }
    Iterator& operator++() {
      ++at_;
      return *this;
    }
    Iterator operator++(int) {
      Iterator before = *this;
      ++at_;
      return before;
    }
    bool operator==(const Iterator& other) const { return at_ == other.at_; }

   private:
    const Shared* shared_ = nullptr;
    std::size_t at_ = 0;
  };

  LocationSlice() = default;
  // The entries [begin, end) of `shared` (never null when the slice is not
  // empty).
  LocationSlice(std::shared_ptr<const Shared> shared, std::size_t begin, std::size_t end)
      : shared_(begin == end ? nullptr : std::move(shared)),
        begin_(static_cast<std::uint32_t>(begin)),
        end_(static_cast<std::uint32_t>(end)) {
    tolva::check(begin <= end && (begin == end || (shared_ != nullptr && end <= shared_->ranges.size())),
                 "a location slice lies within its shared list");
    if (begin == end) begin_ = end_ = 0;
  }
  // A slice that is the whole of a list of its own.
  static LocationSlice whole(SharedUri uri, std::vector<Range> ranges) {
    const std::size_t size = ranges.size();
    return LocationSlice(std::make_shared<const Shared>(Shared{std::move(uri), std::move(ranges)}), 0, size);
  }

  bool empty() const { return begin_ == end_; }
  std::size_t size() const { return end_ - begin_; }
  Location operator[](std::size_t i) const { return *Iterator(shared_.get(), begin_ + i); }
  Location front() const { return (*this)[0]; }
  Location back() const { return (*this)[size() - 1]; }
  Iterator begin() const { return Iterator(shared_.get(), begin_); }
  Iterator end() const { return Iterator(shared_.get(), end_); }

  // The same locations in the same order.
  bool operator==(const LocationSlice& other) const {
    if (size() != other.size()) return false;
    for (std::size_t i = 0; i < size(); ++i) {
      if (!((*this)[i] == other[i])) return false;
    }
    return true;
  }

 private:
  std::shared_ptr<const Shared> shared_;  // null when empty
  std::uint32_t begin_ = 0;
  std::uint32_t end_ = 0;
};

// A line break as the line index counts them: "\n", "\r\n" or a lone "\r".
struct LineBreak {
  std::size_t at;      // the break's first byte, or the end of the text
  std::size_t length;  // 0 at the end of the text
};

// The first line break of `text` at or after `offset`.
LineBreak next_line_break(std::string_view text, std::size_t offset);

// The source of a feature class: whole lines of a file's text, from the
// line of its first decorator through the line break after its last
// statement, dedented when read. The text is shared by the classes of one
// file whose lines overlap (a class and the classes nested in it), so a
// record keeps only its range; text() builds the dedented source anew on
// each call, in time linear in the range.
//
// Dedenting: lines end after "\n", "\r\n" or a lone "\r" (the last one may
// have no break); a line is blank when its content (without the break)
// holds only white space. The common indentation is the leading run of
// spaces and tabs of the first non-blank line, shortened to the common
// prefix with each later non-blank line's run. A blank line becomes its
// break alone; any other line loses the common indentation.
class ClassSource {
 public:
  ClassSource() = default;
  // The bytes [from, to) of `text` (never null when the range is not empty).
  ClassSource(std::shared_ptr<const std::string> text, std::size_t from, std::size_t to)
      : text_(from == to ? nullptr : std::move(text)),
        from_(static_cast<std::uint32_t>(from)),
        to_(static_cast<std::uint32_t>(to)) {
    tolva::check(from <= to && (from == to || (text_ != nullptr && to <= text_->size())),
                 "a class source lies within its shared text");
    if (from == to) from_ = to_ = 0;
  }
  // A source that is the whole of a text of its own.
  static ClassSource whole(std::string lines) {
    const std::size_t size = lines.size();
    return ClassSource(std::make_shared<const std::string>(std::move(lines)), 0, size);
  }

  // The lines, not dedented.
  std::string_view lines() const {
    return text_ == nullptr ? std::string_view() : std::string_view(*text_).substr(from_, to_ - from_);
  }
  // The dedented source.
  std::string text() const;

  // The same dedented source.
  bool operator==(const ClassSource& other) const {
    return (text_ == other.text_ && from_ == other.from_ && to_ == other.to_) || text() == other.text();
  }

 private:
  std::shared_ptr<const std::string> text_;  // null when empty
  std::uint32_t from_ = 0;
  std::uint32_t to_ = 0;
};

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
  LocationSlice return_statements;
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
  ClassSource source;  // see ClassSource: dedented when read
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
