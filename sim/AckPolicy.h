#pragma once

#include <QByteArray>
#include <QString>
#include <array>
#include <deque>
#include <functional>

// What the radio answers to a command frame. None sends nothing at all.
enum class AckResult { Success, Fail, Busy, CommandNG, None };

// The acknowledgement byte ("0".."3") of a result; None has none.
char AckByte(AckResult result);
// "Success", "Fail", "Busy", "Command NG", "no answer".
QString AckName(AckResult result);

// The letters of the commands the console sends, in a fixed order.
inline constexpr char kCommandLetters[] = "BDEFGH";
inline constexpr int kCommandCount = 6;

// One change of the acknowledgement policy, as the `ack` command or an --ack option gives it.
struct AckRequest {
    enum class Kind { Show, Reset, Delay, Count, Always, Rate };
    Kind kind = Kind::Show;
    AckResult result = AckResult::Success;
    QByteArray letters = "BDEFGH"; // the commands it applies to
    int count = 1;                 // Count: how many commands
    double percent = 0;            // Rate: chance in percent
    int delayMs = 0;               // Delay
};

// Decides the answer to each command. Counted requests come first, in the order given, then
// the rates (one draw per command), then the standing answer of the letter (Success unless an
// `always` request changed it).
class AckPolicy {
public:
    // random() returns a uniform number in [0, 1).
    explicit AckPolicy(std::function<double()> random);

    // Throws std::runtime_error when the request cannot apply (rates over 100 %); nothing
    // changes then. Show and Delay are the caller's business and change nothing here.
    void Apply(const AckRequest &request);
    // The answer to a well-formed command with this letter (one of kCommandLetters).
    AckResult Next(char letter);
    void Reset();
    QString Describe() const;

private:
    struct Counted {
        AckResult result;
        QByteArray letters;
        int remaining;
    };
    std::function<double()> random_;
    std::deque<Counted> counted_;
    // Percent per letter for Fail, Busy, CommandNG, None.
    std::array<std::array<double, 4>, kCommandCount> rates_{};
    std::array<AckResult, kCommandCount> standing_{};
};
