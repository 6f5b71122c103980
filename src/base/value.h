#pragma once

// A dynamically typed value: the shape of window-server records, report extras, analytics
// properties and stored preferences. Null stands for "no value" inside lists and maps.

#include <concepts>
#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

namespace tovalo {

class Value;
using ValueList = std::vector<Value>;
using ValueMap = std::map<std::string, Value, std::less<>>;

class Value {
  public:
    using Null = std::monostate;
    using Storage =
        std::variant<Null, bool, std::int64_t, double, std::string, ValueList, ValueMap>;

    Value() = default;
    Value(bool b) : storage_(b) {}
    // Any integer type; unsigned values beyond the 64-bit signed range saturate.
    template <std::integral I>
    requires(!std::same_as<I, bool>) Value(I i) : storage_(toInt64(i)) {}
    Value(double d) : storage_(d) {}
    Value(std::string s) : storage_(std::move(s)) {}
    Value(const char* s) : storage_(std::string(s)) {}
    Value(ValueList l) : storage_(std::move(l)) {}
    Value(ValueMap m) : storage_(std::move(m)) {}
    static Value stringList(const std::vector<std::string>& strings);

    bool isNull() const { return std::holds_alternative<Null>(storage_); }
    bool isBool() const { return std::holds_alternative<bool>(storage_); }
    bool isInt() const { return std::holds_alternative<std::int64_t>(storage_); }
    bool isDouble() const { return std::holds_alternative<double>(storage_); }
    bool isNumber() const { return isInt() || isDouble(); }
    bool isString() const { return std::holds_alternative<std::string>(storage_); }
    bool isList() const { return std::holds_alternative<ValueList>(storage_); }
    bool isMap() const { return std::holds_alternative<ValueMap>(storage_); }

    // Exact-type reads: nullopt when the value holds another type.
    std::optional<bool> asBool() const;
    std::optional<std::string> asString() const;
    const ValueList* asList() const;
    const ValueMap* asMap() const;

    // Numeric reads convert between integer and floating point (integers from doubles only
    // when the double is integral and in range); Booleans and strings are not numbers.
    std::optional<std::int64_t> asInt() const;
    std::optional<double> asDouble() const;

    // A list whose every element is a string; nullopt otherwise.
    std::optional<std::vector<std::string>> asStringList() const;

    // Map lookup; nullptr when this is not a map or the key is absent.
    const Value* find(std::string_view key) const;

    const Storage& storage() const { return storage_; }

    // Compact, deterministic text form for logs and tests, e.g. {"a": 1, "b": [true, "x"]}.
    std::string debugDescription() const;

    friend bool operator==(const Value&, const Value&) = default;

  private:
    template <std::integral I>
    static std::int64_t toInt64(I i) {
        if constexpr (std::is_unsigned_v<I> && sizeof(I) >= sizeof(std::int64_t)) {
            constexpr auto kMax = static_cast<I>(std::numeric_limits<std::int64_t>::max());
            return i > kMax ? std::numeric_limits<std::int64_t>::max()
                            : static_cast<std::int64_t>(i);
        } else {
            return static_cast<std::int64_t>(i);
        }
    }

    Storage storage_;
};

}  // namespace tovalo
