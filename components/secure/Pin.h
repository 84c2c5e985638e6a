// The pin of an agent's key: the SHA-256 of the DER SubjectPublicKeyInfo of its certificate. As text
// it is "sha256//" followed by the Base64 of the 32 bytes (44 characters, the last one "="), the form
// that libcurl's CURLOPT_PINNEDPUBLICKEY takes for one key. No OpenSSL here: parsing is plain code.
#pragma once

#include <QString>
#include <QStringView>

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace pelio::components::secure {

struct Pin {
    std::array<std::uint8_t, 32> sha256{};

    // The text form above.
    QString ToString() const;
    friend bool operator==(const Pin&, const Pin&) = default;
};

// The pin a text writes, or nothing. Only the exact form is taken: the prefix in lower case, 43
// characters of the standard Base64 alphabet (A-Z a-z 0-9 + /) whose last one leaves no bit set
// beyond the 32 bytes, and one "="; no blank, no line break, nothing before or after. Total: any
// input gives an answer, nothing is read beyond the text.
std::optional<Pin> ParsePin(std::string_view text);
std::optional<Pin> ParsePin(QStringView text);

}  // namespace pelio::components::secure
