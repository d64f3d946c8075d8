// `mVerhoeff`: decimal check digits by the published Verhoeff scheme (the
// dihedral group D5), which catches every single-digit error and every swap
// of adjacent digits.
//
// Stateless (the tables are constants); every function may be called from
// any thread.
#ifndef QUORVEL_VERHOEFF_H_
#define QUORVEL_VERHOEFF_H_

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

namespace quorvel::mVerhoeff {

// The multiplication table of D5, the position permutations (row r is row 1
// applied r times) and the inverses.
inline constexpr std::array<std::array<uint8_t, 10>, 10> kD = {{
    {0, 1, 2, 3, 4, 5, 6, 7, 8, 9},
    {1, 2, 3, 4, 0, 6, 7, 8, 9, 5},
    {2, 3, 4, 0, 1, 7, 8, 9, 5, 6},
    {3, 4, 0, 1, 2, 8, 9, 5, 6, 7},
    {4, 0, 1, 2, 3, 9, 5, 6, 7, 8},
    {5, 9, 8, 7, 6, 0, 4, 3, 2, 1},
    {6, 5, 9, 8, 7, 1, 0, 4, 3, 2},
    {7, 6, 5, 9, 8, 2, 1, 0, 4, 3},
    {8, 7, 6, 5, 9, 3, 2, 1, 0, 4},
    {9, 8, 7, 6, 5, 4, 3, 2, 1, 0},
}};
inline constexpr std::array<std::array<uint8_t, 10>, 8> kP = {{
    {0, 1, 2, 3, 4, 5, 6, 7, 8, 9},
    {1, 5, 7, 6, 2, 8, 3, 0, 9, 4},
    {5, 8, 0, 3, 7, 9, 6, 1, 4, 2},
    {8, 9, 1, 6, 0, 4, 3, 5, 2, 7},
    {9, 4, 5, 3, 1, 2, 6, 8, 7, 0},
    {4, 2, 8, 6, 5, 7, 3, 9, 0, 1},
    {2, 7, 9, 3, 8, 0, 6, 4, 1, 5},
    {7, 0, 4, 6, 9, 1, 3, 2, 5, 8},
}};
inline constexpr std::array<uint8_t, 10> kInv = {0, 4, 3, 2, 1, 5, 6, 7, 8, 9};

// Returns one value per character, rightmost first: the character's code
// minus that of "0" (0 to 9 for digits, anything else for other
// characters). Raises 6 for text longer than 32,767 characters.
std::vector<int16_t> Digits(std::u16string_view text);

// Returns true when `text` is numeric (as a String converted to a number
// reads it) and its last digit is the correct check digit of the digits
// before it. Raises 9 for numeric text holding anything but digits (a sign,
// a separator, an exponent, blanks) and 6 past 32,767 characters.
bool Validate(std::u16string_view text);

// Returns the check digit, 0 to 9, to append to `text`. Raises 9 for the
// empty text and any character but 0 to 9, 6 past 32,767 characters.
int16_t Generate(std::u16string_view text);

}  // namespace quorvel::mVerhoeff

#endif  // QUORVEL_VERHOEFF_H_
