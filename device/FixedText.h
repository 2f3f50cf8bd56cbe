#pragma once
// Fixed-width text fields as the reader sends them: blank padded and not
// necessarily zero terminated. Every reader of such a field takes at most its
// width and stops early at a zero byte; these helpers are the one place that
// does so.

#include <cstddef>
#include <string>
#include <string_view>

// The text of a field of the given width: up to the width, stopping at a zero byte.
std::string_view FieldText(const char* field, std::size_t width);

template <std::size_t N>
std::string_view FieldText(const char (&field)[N]) {
    return FieldText(field, N);
}

// Bounded copy into a field: the text (already cut to the source's length)
// is copied up to its first zero byte, the rest of the field is zero filled.
template <std::size_t N>
void CopyField(char (&field)[N], std::string_view text) {
    std::size_t i = 0;
    for (; i < N && i < text.size() && text[i] != '\0'; ++i) {
        field[i] = text[i];
    }
    for (; i < N; ++i) {
        field[i] = '\0';
    }
}

// Integer text: leading white space skipped, an optional sign, then digits up
// to the first non-digit; no digits give 0. Saturates instead of overflowing.
int ParseInt(std::string_view text);

// Decimal number text: leading white space skipped, an optional sign, digits
// with an optional point and an optional exponent; the first character that
// does not fit ends the number, nothing readable gives 0.0. Independent of
// the C locale, so a program whose locale uses a decimal comma reads the same.
double ParseDecimal(std::string_view text);

// Number of non-blank characters after the leftmost point, or -1 without a point.
int DecimalsAfterPoint(std::string_view text);

// The number with exactly that many decimals (printf "%.*f" in the "C" locale).
std::string DecimalText(double value, int decimals);
