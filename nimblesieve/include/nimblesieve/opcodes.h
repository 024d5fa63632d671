// Opcodes of the pcode instruction set. Every other byte value is a one-byte no-op.
#pragma once

#include <cstdint>

namespace nimblesieve {

enum Opcode : uint8_t {
    JMP = 1,     // op T16
    JMPS = 2,    // op D8
    JEQ = 3,
    JEQS = 4,
    JGE = 5,
    JGES = 6,
    JGT = 7,
    JGTS = 8,
    JLE = 9,
    JLES = 10,
    JLT = 11,
    JLTS = 12,
    JNE = 13,
    JNES = 14,
    CMP = 15,    // op S1 S2
    CMPI8 = 16,  // op S imm8
    CMPI16 = 17, // op S imm16
    CMPI32 = 18, // op S imm32
    CMPI64 = 19, // op S imm64 (signed)
    SETF = 20,   // op x mask8
    MOV = 21,    // op x S
    LDI8 = 22,   // op x imm8
    JBCS = 23,   // op S bit D8
    JBC = 24,    // op S bit T16
    JBSS = 25,   // op S bit D8
    JBS = 26,    // op S bit T16
    TEST = 27,   // op S1 S2
    TESTI8 = 28, // op S imm8
    XOR = 29,    // op x S1 S2
    XORI8 = 30,  // op x S imm8
};

// Source selectors (only the two low bits of a selector byte count).
enum Source : uint8_t {
    Accumulator = 0,
    DayNumber = 1,
    TimeOfDay = 2,
    WeekdayMask = 3,
};

// Flag values set by comparisons and tests.
enum Flag : uint8_t {
    FlagEQ = 1,
    FlagGT = 2,
    FlagLT = 4,
};

// Length in bytes of the instruction starting with this opcode.
constexpr int instructionLength(uint8_t op)
{
    switch (op) {
    case JMP: case JEQ: case JGE: case JGT: case JLE: case JLT: case JNE:
    case CMP: case CMPI8: case SETF: case MOV: case LDI8: case TEST: case TESTI8:
        return 3;
    case JMPS: case JEQS: case JGES: case JGTS: case JLES: case JLTS: case JNES:
        return 2;
    case CMPI16: case JBCS: case JBSS: case XOR: case XORI8:
        return 4;
    case JBC: case JBS:
        return 5;
    case CMPI32:
        return 6;
    case CMPI64:
        return 10;
    default:
        return 1;
    }
}

} // namespace nimblesieve
