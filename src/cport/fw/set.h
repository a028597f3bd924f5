// A small set of enumeration members: bit n stands for the member of
// ordinal n, held in an unsigned integer of the stated width.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <type_traits>

namespace cport::fw {

/// A set of members of the enumeration E, one bit per member's ordinal,
/// held in the unsigned integer Bits.
template <class E, class Bits>
class TSet {
  static_assert(std::is_enum_v<E>);
  static_assert(std::is_unsigned_v<Bits>);

 public:
  /// The empty set.
  constexpr TSet() = default;
  /// The set of `members`.
  constexpr TSet(std::initializer_list<E> members) {
    for (E m : members) Include(m);
  }
  /// The set whose bits are `bits`, and back.
  ///@{
  static constexpr TSet FromBits(Bits bits) {
    TSet s;
    s.bits_ = bits;
    return s;
  }

  constexpr Bits ToBits() const { return bits_; }
  ///@}
  /// Whether `m` is in the set.
  constexpr bool Contains(E m) const { return (bits_ & Bit(m)) != 0; }
  /// Whether the set has no member.
  constexpr bool Empty() const { return bits_ == 0; }
  /// Adds `m` to the set, or takes it out.
  ///@{
  constexpr void Include(E m) { bits_ = static_cast<Bits>(bits_ | Bit(m)); }
  constexpr void Exclude(E m) { bits_ = static_cast<Bits>(bits_ & ~Bit(m)); }
  ///@}

  /// Union, difference, intersection and equality of sets.
  ///@{
  constexpr TSet operator+(TSet o) const { return FromBits(bits_ | o.bits_); }
  constexpr TSet operator-(TSet o) const {
    return FromBits(static_cast<Bits>(bits_ & ~o.bits_));
  }
  constexpr TSet operator*(TSet o) const { return FromBits(bits_ & o.bits_); }
  constexpr bool operator==(const TSet&) const = default;
  ///@}

 private:
  static constexpr Bits Bit(E m) {
    return static_cast<Bits>(Bits{1} << static_cast<unsigned>(m));
  }
  Bits bits_ = 0;
};

}  // namespace cport::fw
