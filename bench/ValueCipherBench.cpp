// Time of one EncryptValue plus one DecryptValue of a 300-character chat line, with the key schedule
// made once (as the program does) and with a new schedule for every call. Prints microseconds per
// call pair, the median of several runs.
#include "app/ValueCipher.h"

#include <QString>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

using namespace pelio::app;

namespace {

QString ChatPiece() {
    const QString line =
        QStringLiteral("안녕하세요, 원격지원 상담원입니다. 화면이 보이시면 확인을 눌러 주세요 (OK). ");
    QString text;
    while (text.size() < 300) text += line;
    return text.left(300);
}

// Runs `pair` for about `budget` and returns microseconds per call.
template <typename Pair>
double MicrosecondsPerCall(Pair pair, std::chrono::milliseconds budget) {
    using Clock = std::chrono::steady_clock;
    long calls = 0;
    const auto start = Clock::now();
    auto now = start;
    while (now - start < budget) {
        for (int i = 0; i < 50; ++i) pair();
        calls += 50;
        now = Clock::now();
    }
    return std::chrono::duration<double, std::micro>(now - start).count() / static_cast<double>(calls);
}

template <typename Pair>
double Median(Pair pair, int runs) {
    std::vector<double> figures;
    for (int i = 0; i < runs; ++i)
        figures.push_back(MicrosecondsPerCall(pair, std::chrono::milliseconds(400)));
    std::sort(figures.begin(), figures.end());
    return figures[figures.size() / 2];
}

}  // namespace

int main() {
    const QString text = ChatPiece();
    if (DecryptValue(EncryptValue(text)) != text) {
        std::fputs("round trip failed\n", stderr);
        return 1;
    }
    const int runs = 5;
    const double cached = Median(
        [&] {
            const QString cipher = EncryptValue(text);
            if (DecryptValue(cipher).size() != text.size()) std::abort();
        },
        runs);
    const double fresh = Median(
        [&] {
            const QString cipher = EncryptValue(text, MakeValueKeySchedule());
            if (DecryptValue(cipher, MakeValueKeySchedule()).size() != text.size()) std::abort();
        },
        runs);
    volatile std::uint32_t sink = 0;
    const double schedule = Median(
        [&] {
            std::uint32_t left = 0, right = 0;
            MakeValueKeySchedule().EncryptWords(left, right);
            sink = sink ^ left;
        },
        runs);
    std::printf("value cipher, %lld characters (%lld hex digits on the wire)\n",
                static_cast<long long>(text.size()), static_cast<long long>(EncryptValue(text).size()));
    std::printf("  EncryptValue + DecryptValue, cached schedule:   %8.1f us\n", cached);
    std::printf("  EncryptValue + DecryptValue, schedule per call: %8.1f us\n", fresh);
    std::printf("  one key schedule alone:                         %8.1f us\n", schedule);
    return 0;
}
