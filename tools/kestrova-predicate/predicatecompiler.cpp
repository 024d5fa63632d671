#include "predicatecompiler.h"

#include <nimblesieve/opcodes.h>

#define ZSTD_STATIC_LINKING_ONLY // ZSTD_c_format and the magicless frame format
#include <zstd.h>

#include <algorithm>
#include <initializer_list>
#include <memory>
#include <vector>

namespace predicate {

using namespace nimblesieve;

namespace {

QByteArray bytes(std::initializer_list<uint8_t> values)
{
    QByteArray out;
    for (uint8_t value : values)
        out.append(char(value));
    return out;
}

// When a branch is taken. Comparisons leave exactly one of LT, EQ, GT; TESTI8 leaves LT
// when bits are shared and EQ when not.
enum class Cond { Always, Eq, Ne, Lt, Ge, Gt, Le, BitSet, BitClear };

Cond negated(Cond cond)
{
    switch (cond) {
    case Cond::Always: return Cond::Always; // never asked for
    case Cond::Eq: return Cond::Ne;
    case Cond::Ne: return Cond::Eq;
    case Cond::Lt: return Cond::Ge;
    case Cond::Ge: return Cond::Lt;
    case Cond::Gt: return Cond::Le;
    case Cond::Le: return Cond::Gt;
    case Cond::BitSet: return Cond::BitClear;
    case Cond::BitClear: return Cond::BitSet;
    }
    return cond;
}

struct BranchOps {
    uint8_t shortOp;
    uint8_t longOp;
};

BranchOps branchOps(Cond cond)
{
    switch (cond) {
    case Cond::Always: return {JMPS, JMP};
    case Cond::Eq: return {JEQS, JEQ};
    case Cond::Ne: return {JNES, JNE};
    case Cond::Lt: return {JLTS, JLT};
    case Cond::Ge: return {JGES, JGE};
    case Cond::Gt: return {JGTS, JGT};
    case Cond::Le: return {JLES, JLE};
    case Cond::BitSet: return {JBSS, JBS};
    case Cond::BitClear: return {JBCS, JBC};
    }
    return {JMPS, JMP};
}

// The expression lowered to what the instruction set can test directly.
struct Test {
    enum Kind { Const, Not, And, Or, Compare, Weekdays };
    Kind kind = Const;
    bool value = false;         // Const
    std::vector<Test> operands; // Not, And, Or
    uint8_t source = 0;         // Compare
    int64_t immediate = 0;      // Compare
    Cond holdsWhen = Cond::Eq;  // Compare
    uint8_t mask = 0;           // Weekdays

    static Test constant(bool value)
    {
        Test t;
        t.value = value;
        return t;
    }
    static Test group(Kind kind, std::vector<Test> operands)
    {
        if (operands.size() == 1)
            return std::move(operands.front());
        Test t;
        t.kind = kind;
        t.operands = std::move(operands);
        return t;
    }
    static Test compare(uint8_t source, int64_t immediate, Cond holdsWhen)
    {
        Test t;
        t.kind = Compare;
        t.source = source;
        t.immediate = immediate;
        t.holdsWhen = holdsWhen;
        return t;
    }
};

Test lowerWindow(const TimeWindow& w)
{
    std::vector<Test> parts;
    if (w.start < w.end) {
        if (w.start > 0) // every time of day is at least 0
            parts.push_back(Test::compare(TimeOfDay, w.start, Cond::Ge));
        parts.push_back(Test::compare(TimeOfDay, w.end, Cond::Lt));
        return Test::group(Test::And, std::move(parts));
    }
    parts.push_back(Test::compare(TimeOfDay, w.start, Cond::Ge));
    if (w.end > 0)
        parts.push_back(Test::compare(TimeOfDay, w.end, Cond::Lt));
    return Test::group(Test::Or, std::move(parts));
}

Test lowerDates(const DateRange& r)
{
    if (r.first == r.last)
        return Test::compare(DayNumber, r.first, Cond::Eq);
    return Test::group(Test::And, {Test::compare(DayNumber, r.first, Cond::Ge), Test::compare(DayNumber, r.last, Cond::Le)});
}

Test lower(const Expr& e)
{
    std::vector<Test> parts;
    switch (e.kind) {
    case Expr::Kind::Always:
        return Test::constant(true);
    case Expr::Kind::Never:
        return Test::constant(false);
    case Expr::Kind::Not: {
        Test t;
        t.kind = Test::Not;
        t.operands.push_back(lower(e.operands.front()));
        return t;
    }
    case Expr::Kind::And:
    case Expr::Kind::Or:
        for (const Expr& operand : e.operands)
            parts.push_back(lower(operand));
        return Test::group(e.kind == Expr::Kind::And ? Test::And : Test::Or, std::move(parts));
    case Expr::Kind::Weekday: {
        Test t;
        t.kind = Test::Weekdays;
        t.mask = e.weekdays;
        return t;
    }
    case Expr::Kind::Time:
        for (const TimeWindow& w : e.windows)
            parts.push_back(lowerWindow(w));
        return Test::group(Test::Or, std::move(parts));
    case Expr::Kind::Date:
        for (const DateRange& r : e.dates)
            parts.push_back(lowerDates(r));
        return Test::group(Test::Or, std::move(parts));
    }
    return Test::constant(false);
}

// One piece of code before layout: instruction bytes, a branch to a label, or a label.
struct Item {
    enum Type { Code, Branch, Label };
    Type type = Code;
    QByteArray bytes;         // Code
    bool setsFlags = false;   // Code
    Cond cond = Cond::Always; // Branch
    uint8_t source = 0;       // Branch on a bit
    uint8_t bit = 0;          // Branch on a bit
    int label = 0;            // Branch: its target; Label: this label
    bool isLong = false;      // Branch

    bool isBitBranch() const { return cond == Cond::BitSet || cond == Cond::BitClear; }
    int size() const
    {
        switch (type) {
        case Code: return int(bytes.size());
        case Branch: return (isBitBranch() ? 2 : 0) + (isLong ? 3 : 2);
        case Label: return 0;
        }
        return 0;
    }
};

class CodeBuilder {
public:
    int newLabel() { return m_labels++; }
    void place(int label)
    {
        Item item;
        item.type = Item::Label;
        item.label = label;
        m_items.push_back(item);
    }
    void code(QByteArray bytes, bool setsFlags)
    {
        Item item;
        item.bytes = std::move(bytes);
        item.setsFlags = setsFlags;
        m_items.push_back(std::move(item));
    }
    void branch(Cond cond, int label, uint8_t source = 0, uint8_t bit = 0)
    {
        Item item;
        item.type = Item::Branch;
        item.cond = cond;
        item.label = label;
        item.source = source;
        item.bit = bit;
        m_items.push_back(item);
    }

    // Code that branches to label when the test comes out as sense and falls through
    // otherwise.
    void jumpIf(const Test& t, bool sense, int label)
    {
        switch (t.kind) {
        case Test::Const:
            if (t.value == sense)
                branch(Cond::Always, label);
            return;
        case Test::Not:
            jumpIf(t.operands.front(), !sense, label);
            return;
        case Test::And:
        case Test::Or: {
            // An 'and' that is false (an 'or' that is true) as soon as one operand is:
            // each operand jumps straight to the label. Otherwise an operand that settles
            // the answer the other way skips the rest, and the last one decides.
            const bool shortCircuitsOnSense = (t.kind == Test::And) != sense;
            if (shortCircuitsOnSense) {
                for (const Test& operand : t.operands)
                    jumpIf(operand, sense, label);
                return;
            }
            const int skip = newLabel();
            for (size_t i = 0; i + 1 < t.operands.size(); ++i)
                jumpIf(t.operands[i], !sense, skip);
            jumpIf(t.operands.back(), sense, label);
            place(skip);
            return;
        }
        case Test::Compare:
            compare(t.source, t.immediate);
            branch(sense ? t.holdsWhen : negated(t.holdsWhen), label);
            return;
        case Test::Weekdays:
            if ((t.mask & (t.mask - 1)) == 0 && t.mask != 0) {
                uint8_t bit = 0;
                while ((t.mask >> bit) != 1)
                    ++bit;
                branch(sense ? Cond::BitSet : Cond::BitClear, label, WeekdayMask, bit);
                return;
            }
            code(bytes({TESTI8, WeekdayMask, t.mask}), true);
            branch(sense ? Cond::Ne : Cond::Eq, label);
            return;
        }
    }

    // The smallest immediate form; the 8-, 16- and 32-bit forms are unsigned.
    void compare(uint8_t source, int64_t value)
    {
        QByteArray out;
        int width = 8;
        if (value < 0 || value > int64_t(UINT32_MAX)) {
            out.append(char(CMPI64));
            width = 64;
        } else if (value > UINT16_MAX) {
            out.append(char(CMPI32));
            width = 32;
        } else if (value > UINT8_MAX) {
            out.append(char(CMPI16));
            width = 16;
        } else {
            out.append(char(CMPI8));
        }
        out.append(char(source));
        for (int shift = width - 8; shift >= 0; shift -= 8)
            out.append(char(uint64_t(value) >> shift & 0xFF));
        code(out, true);
    }

    void simplify()
    {
        // Each pass may open the way for another.
        bool changed = true;
        while (changed) {
            changed = removeJumpsToNext();
            changed = removeUnreachable() || changed;
            changed = removeUnusedCompares() || changed;
            changed = removeUnusedLabels() || changed;
        }
    }

    // Lays the items out, long branches only where the displacement exceeds 8 bits.
    QByteArray layout()
    {
        std::vector<int> labelAt(size_t(m_labels), 0);
        std::vector<int> itemAt(m_items.size(), 0);
        bool grew = true;
        while (grew) {
            int position = 0;
            for (size_t i = 0; i < m_items.size(); ++i) {
                itemAt[i] = position;
                if (m_items[i].type == Item::Label)
                    labelAt[size_t(m_items[i].label)] = position;
                position += m_items[i].size();
            }
            // Branches only grow, so this settles.
            grew = false;
            for (size_t i = 0; i < m_items.size(); ++i) {
                Item& item = m_items[i];
                if (item.type == Item::Branch && !item.isLong
                    && labelAt[size_t(item.label)] - (itemAt[i] + item.size()) > UINT8_MAX) {
                    item.isLong = true;
                    grew = true;
                }
            }
        }

        QByteArray body;
        for (const Item& item : m_items) {
            if (item.type == Item::Code) {
                body.append(item.bytes);
            } else if (item.type == Item::Branch) {
                const BranchOps ops = branchOps(item.cond);
                body.append(char(item.isLong ? ops.longOp : ops.shortOp));
                if (item.isBitBranch()) {
                    body.append(char(item.source));
                    body.append(char(item.bit));
                }
                const int target = labelAt[size_t(item.label)];
                if (item.isLong) {
                    // Absolute, counted from the first header byte.
                    const int absolute = int(kHeaderSize) + target;
                    body.append(char(absolute >> 8 & 0xFF));
                    body.append(char(absolute & 0xFF));
                } else {
                    body.append(char(target - (body.size() + 1)));
                }
            }
        }
        return body;
    }

private:
    std::vector<int> labelUses() const
    {
        std::vector<int> uses(size_t(m_labels), 0);
        for (const Item& item : m_items) {
            if (item.type == Item::Branch)
                ++uses[size_t(item.label)];
        }
        return uses;
    }

    // A branch to a label with nothing but labels in between does nothing.
    bool removeJumpsToNext()
    {
        bool changed = false;
        for (size_t i = 0; i < m_items.size(); ++i) {
            if (m_items[i].type != Item::Branch)
                continue;
            for (size_t j = i + 1; j < m_items.size() && m_items[j].type == Item::Label; ++j) {
                if (m_items[j].label == m_items[i].label) {
                    m_items.erase(m_items.begin() + long(i));
                    --i;
                    changed = true;
                    break;
                }
            }
        }
        return changed;
    }

    // Nothing after an unconditional branch runs until a label something branches to.
    bool removeUnreachable()
    {
        const std::vector<int> uses = labelUses();
        bool changed = false;
        for (size_t i = 0; i < m_items.size(); ++i) {
            if (m_items[i].type != Item::Branch || m_items[i].cond != Cond::Always)
                continue;
            size_t end = i + 1;
            while (end < m_items.size() && !(m_items[end].type == Item::Label && uses[size_t(m_items[end].label)] > 0))
                ++end;
            // The last byte marks the end of the program and stays.
            if (end == m_items.size())
                --end;
            if (end > i + 1) {
                m_items.erase(m_items.begin() + long(i + 1), m_items.begin() + long(end));
                changed = true;
            }
        }
        return changed;
    }

    // Flags are only read by the conditional branch right after their comparison; code
    // coming first (another comparison, or the final load) makes them dead.
    bool removeUnusedCompares()
    {
        bool changed = false;
        for (size_t i = 0; i < m_items.size(); ++i) {
            if (m_items[i].type != Item::Code || !m_items[i].setsFlags)
                continue;
            size_t next = i + 1;
            while (next < m_items.size() && m_items[next].type == Item::Label)
                ++next;
            if (next < m_items.size() && m_items[next].type == Item::Code) {
                m_items.erase(m_items.begin() + long(i));
                --i;
                changed = true;
            }
        }
        return changed;
    }

    bool removeUnusedLabels()
    {
        const std::vector<int> uses = labelUses();
        const size_t before = m_items.size();
        m_items.erase(std::remove_if(m_items.begin(), m_items.end(),
                                     [&](const Item& item) {
                                         return item.type == Item::Label && uses[size_t(item.label)] == 0;
                                     }),
                      m_items.end());
        return m_items.size() != before;
    }

    std::vector<Item> m_items;
    int m_labels = 0;
};

} // namespace

std::optional<QByteArray> PredicateCompiler::compile(const Expr& expr)
{
    m_error.clear();
    CodeBuilder builder;
    const int end = builder.newLabel();
    builder.jumpIf(lower(expr), false, end);
    builder.code(bytes({LDI8, Accumulator, 1}), false);
    builder.place(end);
    // The VM stops before the last byte, so a branch here ends the run with A still 0.
    builder.code(QByteArray(1, '\0'), false);
    builder.simplify();
    const QByteArray body = builder.layout();
    if (body.size() > kMaxBodySize) {
        m_error = QStringLiteral("the expression needs %1 bytes of code; a program may have at most %2")
                      .arg(body.size())
                      .arg(kMaxBodySize);
        return std::nullopt;
    }
    return body;
}

QByteArray PredicateCompiler::container(const QByteArray& body)
{
    struct CCtxDeleter {
        void operator()(ZSTD_CCtx* ctx) const { ZSTD_freeCCtx(ctx); }
    };
    std::unique_ptr<ZSTD_CCtx, CCtxDeleter> ctx(ZSTD_createCCtx());
    QByteArray frame(int(ZSTD_compressBound(size_t(body.size()))), Qt::Uninitialized);
    size_t written = ctx ? ZSTD_CCtx_setParameter(ctx.get(), ZSTD_c_format, ZSTD_f_zstd1_magicless) : 1;
    if (ctx && !ZSTD_isError(written))
        written = ZSTD_CCtx_setParameter(ctx.get(), ZSTD_c_compressionLevel, 19);
    if (ctx && !ZSTD_isError(written))
        written = ZSTD_compress2(ctx.get(), frame.data(), size_t(frame.size()), body.constData(), size_t(body.size()));
    // Compressing into a buffer of the bound only fails without memory.
    if (!ctx || ZSTD_isError(written))
        qFatal("zstd compression failed");
    frame.resize(int(written));
    return QByteArray(reinterpret_cast<const char*>(kHeader), int(kHeaderSize)) + frame;
}

QString PredicateCompiler::definition(const QByteArray& container, const QString& label)
{
    QString text = QString::fromLatin1(container.toBase64());
    if (!label.isEmpty())
        text += QStringLiteral(" #") + label;
    return text;
}

} // namespace predicate
