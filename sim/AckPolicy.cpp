#include "AckPolicy.h"

#include <QHash>
#include <QStringList>
#include <cstring>
#include <stdexcept>

namespace {

int LetterIndex(char letter)
{
    const char *p = std::strchr(kCommandLetters, letter);
    return (p && letter) ? static_cast<int>(p - kCommandLetters) : -1;
}

int RateSlot(AckResult result)
{
    switch (result) {
    case AckResult::Fail:
        return 0;
    case AckResult::Busy:
        return 1;
    case AckResult::CommandNG:
        return 2;
    case AckResult::None:
        return 3;
    case AckResult::Success:
        break;
    }
    return -1;
}

constexpr AckResult kRateResults[] = {AckResult::Fail, AckResult::Busy, AckResult::CommandNG,
                                      AckResult::None};

QString LettersText(const QByteArray &letters)
{
    return letters == QByteArray(kCommandLetters)
               ? QStringLiteral("all commands")
               : QStringLiteral("commands %1").arg(QString::fromLatin1(letters));
}

} // namespace

char AckByte(AckResult result)
{
    switch (result) {
    case AckResult::Success:
        return '0';
    case AckResult::Fail:
        return '1';
    case AckResult::Busy:
        return '2';
    case AckResult::CommandNG:
        return '3';
    case AckResult::None:
        break;
    }
    return 0;
}

QString AckName(AckResult result)
{
    switch (result) {
    case AckResult::Success:
        return QStringLiteral("Success");
    case AckResult::Fail:
        return QStringLiteral("Fail");
    case AckResult::Busy:
        return QStringLiteral("Busy");
    case AckResult::CommandNG:
        return QStringLiteral("Command NG");
    case AckResult::None:
        break;
    }
    return QStringLiteral("no answer");
}

AckPolicy::AckPolicy(std::function<double()> random) : random_(std::move(random))
{
    Reset();
}

void AckPolicy::Reset()
{
    counted_.clear();
    for (auto &r : rates_)
        r.fill(0);
    standing_.fill(AckResult::Success);
}

void AckPolicy::Apply(const AckRequest &request)
{
    switch (request.kind) {
    case AckRequest::Kind::Show:
    case AckRequest::Kind::Delay:
        return;
    case AckRequest::Kind::Reset:
        Reset();
        return;
    case AckRequest::Kind::Count:
        if (request.count > 0)
            counted_.push_back({request.result, request.letters, request.count});
        return;
    case AckRequest::Kind::Always:
        for (char l : request.letters)
            if (LetterIndex(l) >= 0)
                standing_[LetterIndex(l)] = request.result;
        return;
    case AckRequest::Kind::Rate: {
        const int slot = RateSlot(request.result);
        if (slot < 0)
            throw std::runtime_error(
                "a rate applies to fail, busy, ng or none; Success is what is left over");
        auto next = rates_;
        for (char l : request.letters) {
            const int i = LetterIndex(l);
            if (i < 0)
                continue;
            next[i][slot] = request.percent;
            double sum = 0;
            for (double p : next[i])
                sum += p;
            if (sum > 100.0 + 1e-9)
                throw std::runtime_error(
                    QStringLiteral("the rates for command %1 would add up to %2 %, over 100 %")
                        .arg(QLatin1Char(l))
                        .arg(sum)
                        .toStdString());
        }
        rates_ = next;
        return;
    }
    }
}

AckResult AckPolicy::Next(char letter)
{
    const int index = LetterIndex(letter);
    if (index < 0)
        return AckResult::CommandNG;
    for (auto it = counted_.begin(); it != counted_.end(); ++it) {
        if (!it->letters.contains(letter))
            continue;
        const AckResult result = it->result;
        if (--it->remaining <= 0)
            counted_.erase(it);
        return result;
    }
    const auto &rates = rates_[index];
    if (rates[0] + rates[1] + rates[2] + rates[3] > 0) {
        // One draw per command, so a 20 % fail rate means one command in five, not more.
        double draw = random_() * 100.0;
        for (int slot = 0; slot < 4; ++slot) {
            if (draw < rates[slot])
                return kRateResults[slot];
            draw -= rates[slot];
        }
    }
    return standing_[index];
}

QString AckPolicy::Describe() const
{
    // Letters that share an answer are listed together: "Success (B D E H), Fail (F G)".
    auto group = [](const QList<std::pair<QString, char>> &items) {
        QStringList keys;
        QHash<QString, QStringList> letters;
        for (const auto &[key, letter] : items) {
            if (!letters.contains(key))
                keys << key;
            letters[key] << QString(QLatin1Char(letter));
        }
        QStringList parts;
        for (const QString &key : keys)
            parts << QStringLiteral("%1 (%2)").arg(key, letters.value(key).join(QLatin1Char(' ')));
        return parts.join(QStringLiteral(", "));
    };
    QStringList lines;
    QList<std::pair<QString, char>> standing;
    QList<std::pair<QString, char>> rates;
    for (int i = 0; i < kCommandCount; ++i) {
        standing.append({AckName(standing_[i]), kCommandLetters[i]});
        for (int slot = 0; slot < 4; ++slot)
            if (rates_[i][slot] > 0)
                rates.append(
                    {QStringLiteral("%1 at %2 %").arg(AckName(kRateResults[slot])).arg(rates_[i][slot]),
                     kCommandLetters[i]});
    }
    lines << QStringLiteral("  standing answer: ") + group(standing);
    for (const auto &c : counted_)
        lines << QStringLiteral("  next %1 of %2: %3")
                     .arg(c.remaining)
                     .arg(LettersText(c.letters), AckName(c.result));
    if (!rates.isEmpty())
        lines << QStringLiteral("  at random: ") + group(rates);
    return lines.join(QLatin1Char('\n'));
}
