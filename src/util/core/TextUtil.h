#pragma once

#include <QString>

// Text that crosses a boundary of the program: URL-encoded replies of the web service, phone numbers
// typed by the customer, counts in addresses. All functions are pure.
namespace pelio::util {

// Decodes percent-encoded text whose bytes are in code page 949.
// First, without regard to case, "%9%9" becomes a tab, "%A%A" a line feed, "%D%D" a carriage return,
// and every "%0%0" is deleted, in this order. Then every "%" followed by two hexadecimal digits is
// one byte; runs of such bytes (with an ASCII trail byte that follows a lead byte unencoded, as in
// "%8Cc") are decoded together as code page 949, so both halves of a double-byte character may be
// encoded ("%B0%A1" gives 가). Any other "%" is kept as it is; "+" is not touched.
QString UrlDecode(const QString& text);

// A field of a service reply: when it is all single-byte and holds "%", it is URL-decoded and every
// "+" in the result then becomes a blank (so an encoded plus sign becomes a blank too); otherwise it
// is returned unchanged.
QString DecodeReplyText(const QString& text);

// True when every character is one byte in code page 949 (no Hangul, no other double-byte character).
bool IsSingleByteText(const QString& text);

// Line breaks and tabs become blanks, apostrophes are deleted, two rounds of "two blanks to one", and
// blanks at both ends are removed.
QString CleanWhitespace(const QString& text);

// Keeps the decimal digits and "." of the trimmed text, in order; with allowMinus a leading "-" is
// kept in front.
QString DigitsOnly(const QString& text, bool allowMinus);

// Hyphenates a Korean phone number of 7 to 11 digits by its length ("02-1234-5678",
// "010-1234-5678"); text that is not all digits, or of another length, comes back cleaned but
// otherwise unchanged.
QString FormatPhoneNumber(const QString& text);

// The number of non-overlapping occurrences of pattern in text, without regard to case; 0 for an
// empty pattern.
int CountOccurrences(const QString& text, const QString& pattern);

}  // namespace pelio::util
