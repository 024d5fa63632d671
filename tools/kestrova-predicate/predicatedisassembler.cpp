#include "predicatedisassembler.h"

#include "predicateexpr.h"

#include <nimblesieve/opcodes.h>

#include <QByteArray>
#include <QStringList>

namespace predicate {

using namespace nimblesieve;

namespace {

const char* mnemonic(uint8_t op)
{
    static const char* const names[] = {
        nullptr, "JMP",  "JMPS",  "JEQ",  "JEQS",  "JGE",  "JGES",   "JGT", "JGTS",  "JLE",   "JLES",
        "JLT",   "JLTS", "JNE",   "JNES", "CMP",   "CMPI8", "CMPI16", "CMPI32", "CMPI64", "SETF", "MOV",
        "LDI8",  "JBCS", "JBC",   "JBSS", "JBS",   "TEST", "TESTI8", "XOR", "XORI8",
    };
    return op > 0 && op < sizeof(names) / sizeof(names[0]) ? names[op] : "NOP";
}

QString hexByte(uint8_t value)
{
    return QStringLiteral("0x%1").arg(value, 2, 16, QLatin1Char('0'));
}

QString sourceName(uint8_t selector)
{
    static const char* const names[] = {"A", "day", "time", "weekday"};
    QString text = QString::fromLatin1(names[selector & 3]);
    if (selector > 3)
        text += QLatin1Char('[') + hexByte(selector) + QLatin1Char(']');
    return text;
}

// The destination byte is ignored: everything that writes, writes A.
QString destination(uint8_t x)
{
    return x == 0 ? QStringLiteral("A") : QStringLiteral("A[") + hexByte(x) + QLatin1Char(']');
}

QString flagsText(uint8_t mask)
{
    QStringList names;
    if (mask & FlagLT)
        names << QStringLiteral("LT");
    if (mask & FlagEQ)
        names << QStringLiteral("EQ");
    if (mask & FlagGT)
        names << QStringLiteral("GT");
    if (mask & ~(FlagLT | FlagEQ | FlagGT))
        names << hexByte(mask & ~(FlagLT | FlagEQ | FlagGT));
    return names.isEmpty() ? QStringLiteral("0") : names.join(QLatin1Char('|'));
}

// What an immediate means for the input it is compared with.
QString valueNote(uint8_t selector, int64_t value)
{
    switch (selector & 3) {
    case DayNumber: {
        const QDate date = dateOfDay(value);
        return date.isValid() && date.year() >= 1 && date.year() <= 9999 ? dateText(value) : QString();
    }
    case TimeOfDay:
        return value >= 0 && value <= kMillisecondsPerDay ? timeText(uint32_t(value)) : QString();
    case WeekdayMask:
        return value > 0 && value < 0x80 ? weekdaySetText(uint8_t(value)) : QString();
    default:
        return QString();
    }
}

uint32_t be(const std::vector<uint8_t>& code, size_t at, int bytes)
{
    uint32_t value = 0;
    for (int i = 0; i < bytes; ++i)
        value = value << 8 | code[at + size_t(i)];
    return value;
}

} // namespace

bool PredicateDisassembler::load(const QString& definition, Vm* vm, QString* error)
{
    const QStringList pieces = definition.split(QStringLiteral(" #"), Qt::KeepEmptyParts);
    if (definition.isEmpty()) {
        *error = QStringLiteral("empty definition; the viewer treats it as always true");
        return false;
    }
    if (pieces.size() > 2) {
        *error = QStringLiteral("more than one ' #' in the definition; the viewer treats it as always true");
        return false;
    }
    const QByteArray pcode = QByteArray::fromBase64(pieces.at(0).toUtf8());
    if (pcode.isEmpty()) {
        *error = QStringLiteral("no base64 program text; the viewer treats it as always true");
        return false;
    }
    const Status status = vm->load(reinterpret_cast<const uint8_t*>(pcode.constData()), size_t(pcode.size()));
    if (!status.ok()) {
        *error = QString::fromStdString(status.error().message()) + QStringLiteral("; the viewer treats it as always false");
        return false;
    }
    return true;
}

std::vector<Instruction> PredicateDisassembler::decode(const std::vector<uint8_t>& code)
{
    std::vector<Instruction> out;
    if (code.size() < kHeaderSize + kPadding)
        return out;
    const size_t bodyEnd = code.size() - kPadding;
    for (size_t pos = kHeaderSize; pos < bodyEnd;) {
        Instruction in;
        in.offset = int(pos);
        in.opcode = code[pos];
        in.length = instructionLength(in.opcode);
        in.mnemonic = QString::fromLatin1(mnemonic(in.opcode));
        // The run stops once fewer than 34 bytes remain, that is at the last body byte.
        in.executed = code.size() - pos >= kPadding + 2;
        const size_t next = pos + size_t(in.length);
        auto byte = [&](int i) { return code[pos + size_t(i)]; };
        QStringList operands;
        QStringList notes;

        switch (in.opcode) {
        case JMP: case JEQ: case JGE: case JGT: case JLE: case JLT: case JNE:
        case JMPS: case JEQS: case JGES: case JGTS: case JLES: case JLTS: case JNES:
        case JBC: case JBS: case JBCS: case JBSS: {
            in.isBranch = true;
            in.isLong = in.length == 3 || in.length == 5;
            if (in.opcode == JBC || in.opcode == JBS || in.opcode == JBCS || in.opcode == JBSS) {
                operands << sourceName(byte(1)) << QString::number(byte(2));
                if ((byte(1) & 3) == WeekdayMask && (byte(2) & 63) < 7)
                    notes << weekdayName(byte(2) & 63);
            }
            in.target = in.isLong ? int(be(code, next - 2, 2)) : int(next) + code[next - 1];
            operands << QString::number(in.target);
            if (in.isLong && size_t(in.target) < next)
                notes << QStringLiteral("backward: faults when taken");
            else if (size_t(in.target) > code.size())
                notes << QStringLiteral("beyond the code: faults when taken");
            break;
        }
        case CMP:
        case TEST:
            operands << sourceName(byte(1)) << sourceName(byte(2));
            break;
        case CMPI8:
        case CMPI16:
        case CMPI32:
        case CMPI64: {
            const int64_t value = in.opcode == CMPI64 ? int64_t(uint64_t(be(code, pos + 2, 4)) << 32 | be(code, pos + 6, 4))
                                                      : int64_t(be(code, pos + 2, in.length - 2));
            operands << sourceName(byte(1)) << QString::number(value);
            notes << valueNote(byte(1), value);
            break;
        }
        case TESTI8:
            operands << sourceName(byte(1)) << hexByte(byte(2));
            if ((byte(1) & 3) == WeekdayMask)
                notes << valueNote(byte(1), byte(2));
            break;
        case SETF:
            operands << destination(byte(1)) << flagsText(byte(2));
            break;
        case MOV:
            operands << destination(byte(1)) << sourceName(byte(2));
            break;
        case LDI8:
            operands << destination(byte(1)) << QString::number(byte(2));
            break;
        case XOR:
            operands << destination(byte(1)) << sourceName(byte(2)) << sourceName(byte(3));
            break;
        case XORI8:
            operands << destination(byte(1)) << sourceName(byte(2)) << QString::number(byte(3));
            break;
        default:
            operands << hexByte(in.opcode);
            break;
        }
        if (!in.executed)
            notes << QStringLiteral("never executed");
        notes.removeAll(QString());
        in.operands = operands.join(QLatin1String(", "));
        in.note = notes.join(QLatin1String("; "));
        out.push_back(in);
        pos = next;
    }
    return out;
}

QString PredicateDisassembler::line(const Instruction& instruction)
{
    QString text = QStringLiteral("%1  %2 %3")
                       .arg(instruction.offset, 5)
                       .arg(instruction.mnemonic, -6)
                       .arg(instruction.operands);
    if (!instruction.note.isEmpty())
        text = text.leftJustified(36) + QStringLiteral(" ; ") + instruction.note;
    while (text.endsWith(QLatin1Char(' ')))
        text.chop(1);
    return text;
}

QString PredicateDisassembler::listing(const std::vector<uint8_t>& code)
{
    QString text;
    for (const Instruction& instruction : decode(code))
        text += line(instruction) + QLatin1Char('\n');
    return text;
}

} // namespace predicate
