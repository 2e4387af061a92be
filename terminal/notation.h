#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <array>

// The ASCII mnemonics of the character codes 0 to 31, "NUL" to "US".
const QStringList &controlMnemonics();

// The window's table of mnemonics, indexed by character code.
using ControlNameTable = std::array<QString, 32>;

// The mnemonic of a code 0..31 from the table; any other code, negative ones too, is "[??]".
QString controlName(const ControlNameTable &names, qint16 code);

// One character in the bracketed notation: "[" mnemonic "]" below 32, "[" upper-case hex "]"
// above 127, the character itself from 32 to 127. Latin-1 bytes.
QByteArray renderedCode(const ControlNameTable &names, qint16 code);

// What the local echo adds to the screen for a typed code, with the notation on or off.
QByteArray echoText(const ControlNameTable &names, qint16 code, bool notation);

// Raw display: every LF directly followed by CR becomes CR LF, scanning from the start and going
// on behind each replaced pair. Nothing else changes.
void convertLineEnds(QByteArray &text);

// The notation of all 256 byte values, built once from a table of mnemonics, so that rendering
// received bytes costs a table lookup per byte.
class NotationTable
{
public:
    NotationTable() = default;
    explicit NotationTable(const ControlNameTable &names);

    // Whether the table was built from exactly these mnemonics.
    bool isFor(const ControlNameTable &names) const { return m_built && m_names == names; }

    // Appends the rendered text of the bytes to out.
    void appendRendered(QByteArrayView bytes, QByteArray &out) const;
    QByteArray rendered(QByteArrayView bytes) const;

private:
    // Each byte's text in a slot of its own; SlotSize covers every text the built-in
    // mnemonics give, longer ones are read from m_long.
    static constexpr int SlotSize = 8;

    ControlNameTable m_names;
    bool m_built = false;
    std::array<std::array<char, SlotSize>, 256> m_slots{};
    std::array<int, 256> m_lengths{};
    std::array<QByteArray, 256> m_long;
    qsizetype m_longest = 0;
};
