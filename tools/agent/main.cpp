// pelio-agent: the agent's side of a support session, for tests and the demo. For now it encrypts
// and decrypts single values as the session messages carry them:
//   pelio-agent encrypt TEXT     prints the hexadecimal cipher text of TEXT
//   pelio-agent decrypt HEXTEXT  prints the plain text of HEXTEXT
// Arguments are read as UTF-8 and the result is printed as UTF-8 followed by a line break.
#include "app/ValueCipher.h"

#include <QByteArray>
#include <QString>

#include <cstdio>
#include <cstring>

namespace {

int Usage() {
    std::fputs(
        "usage: pelio-agent encrypt TEXT\n"
        "       pelio-agent decrypt HEXTEXT\n",
        stderr);
    return 2;
}

int Print(const QString& text) {
    QByteArray out = text.toUtf8();
    out += '\n';
    const bool ok = std::fwrite(out.constData(), 1, static_cast<std::size_t>(out.size()), stdout) ==
                        static_cast<std::size_t>(out.size()) &&
                    std::fflush(stdout) == 0;
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) return Usage();
    const QString value = QString::fromUtf8(argv[2]);
    if (std::strcmp(argv[1], "encrypt") == 0) return Print(pelio::app::EncryptValue(value));
    if (std::strcmp(argv[1], "decrypt") == 0) return Print(pelio::app::DecryptValue(value));
    return Usage();
}
